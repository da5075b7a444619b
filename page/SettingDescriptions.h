// What each setting is, in the words of the release's settings file.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

// The comment line(s) just above the setting's line in the release's settings file, joined
// into one text; `setting` is an index in PickupSettings.
std::string_view SettingDescription(std::size_t setting);
