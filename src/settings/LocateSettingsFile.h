#pragma once

#include <array>
#include <cstddef>
#include <string_view>

inline constexpr std::size_t SettingsPathSize = 260;  // the platform's longest path, NUL included

inline constexpr std::string_view SettingsFileName = "Glimmerward.ini";
// The executable's sub-folders that may hold the settings file, the first found winning;
// the empty one is the executable's own folder.
inline constexpr std::array<std::string_view, 3> SettingsFolders{"plugins", "scripts", ""};

// Chooses the settings file beside the host executable (not this library): the first of
// "plugins\Glimmerward.ini", "scripts\Glimmerward.ini" and "Glimmerward.ini" in the
// executable's folder that exists (as a file or a folder), else the last of them. A path
// that does not fit leaves `settingsPath` empty, so that reading it finds no file.
void LocateSettingsFile(char (&settingsPath)[SettingsPathSize]);
