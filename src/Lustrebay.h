// The plug-in object: one instance, constructed when the host loads the library.
#pragma once

#include "src/settings/LocateSettingsFile.h"

class Lustrebay {
public:
    // Settles where the settings file lies and attaches the settings listener to the host
    // event, which hooks the running build's call site. Nothing escapes into the loader:
    // should start-up fail (memory exhausted), the plug-in stays inactive.
    Lustrebay();

    char settingsPath[SettingsPathSize] = {};
};
