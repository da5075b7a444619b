// The settings page: shows the settings file that glimmerward-check serves, and changes it.
