// The names of presets: each is the name of a file in the presets folder, so a name must be
// one that every Windows file system takes through the ANSI file calls, and one file alone.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

inline constexpr std::size_t LongestPresetName = 64;

// Why `name` cannot name a preset, in words for a player; empty when it can. A name holds
// ASCII letters, digits, spaces and "-_().", at most 64 of them, ends in neither a dot nor a
// space, and is none of Windows' device names (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to
// LPT9), in any case, judged on its part before the first dot.
std::string PresetNameProblem(std::string_view name);
