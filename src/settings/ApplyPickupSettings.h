#pragma once

// Reads the settings file at `settingsPath` and writes all 15 float settings and all 44
// colour entries into the host, each from the file or from its built-in default.
void ApplyPickupSettings(const char* settingsPath);
