// The versions of the settings file that the crash test's writer makes: in version v every one
// of the 59 settings has a value that names v, so that a file mixing two versions shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "src/settings/PickupSettings.h"

// The highest version whose number 10 * v + 1 a float still holds exactly.
inline constexpr std::uint32_t LastCrashVersion = ((1u << 24) - 1) / 10;

// The value of setting `setting` (an index into PickupSettings) in version `version`, as the
// settings writer writes it: whole numbers that end in 1 have no shorter text than their digits.
inline std::string CrashValueText(std::size_t setting, std::uint32_t version) {
    const std::string number = std::to_string(10 * version + 1);
    if (setting < FloatSettingCount) return number;
    return std::to_string(setting - FloatSettingCount) + " " + std::to_string(version & 255) + " " +
           std::to_string(version >> 8 & 255) + " 1 " + number;
}
