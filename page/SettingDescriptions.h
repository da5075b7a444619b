// What each setting is, in the words of the release's settings file, and the group the
// settings page shows it in.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

// The comment line(s) just above the setting's line in the release's settings file, joined
// into one text; `setting` is an index in PickupSettings.
std::string_view SettingDescription(std::size_t setting);

// The groups, in the order the page shows them.
inline constexpr std::array<std::string_view, 5> SettingGroups{"Pickups", "Weapon circles", "Text", "Effects",
                                                               "Colour entries"};

// The group of the setting at `setting` in PickupSettings.
std::string_view SettingGroup(std::size_t setting);
