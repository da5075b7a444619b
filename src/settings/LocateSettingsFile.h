#pragma once

#include <cstddef>

inline constexpr std::size_t SettingsPathSize = 260;  // the platform's longest path, NUL included

// Chooses the settings file beside the host executable (not this library): the first of
// "plugins\Glimmerward.ini", "scripts\Glimmerward.ini" and "Glimmerward.ini" in the
// executable's folder that exists (as a file or a folder), else the last of them. A path
// that does not fit leaves `settingsPath` empty, so that reading it finds no file.
void LocateSettingsFile(char (&settingsPath)[SettingsPathSize]);
