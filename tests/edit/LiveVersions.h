// The versions of the settings file in the live-use test: every one of the 59 values of
// version k tells k, so a reader that got values of two versions at once can tell.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "basis/ValueText.h"
#include "edit/SettingsWriter.h"
#include "src/settings/PickupSettings.h"

namespace LiveVersions {

// Versions 1 to Changes are written while the host runs; version 0 is the file it starts with.
inline constexpr int Changes = 500;

// Float setting i: k * 64 + i + 0.5, exact in a float for every k up to 2^17. No default is
// of that form with k = 0, so version 0 differs from the defaults everywhere.
inline float FloatValue(int k, std::size_t i) { return static_cast<float>(k * 64 + static_cast<int>(i)) + 0.5f; }

// Colour entry n: channels k % 256, n, k / 256 and 7 (the defaults' channel 3 is 0), and the
// number k + n / 64, exact too.
inline PickupColorEntry ColorValue(int k, int n) {
    return {{static_cast<std::uint8_t>(k % 256), static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(k / 256 % 256), 7},
            static_cast<float>(k) + static_cast<float>(n) / 64.0f};
}

// All 59 settings of version k, as the writer library takes them.
inline std::vector<SettingSet> Sets(int k) {
    std::vector<SettingSet> sets;
    for (std::size_t i = 0; i < FloatSettingCount; ++i) {
        sets.push_back({std::string(FloatSettings[i].key), ShortestDecimal(FloatValue(k, i), SettingKind::Float)});
    }
    for (std::size_t n = 0; n < ColorSettings.size(); ++n) {
        sets.push_back({std::string(ColorSettings[n].key), ColorValueText(ColorValue(k, static_cast<int>(n)))});
    }
    return sets;
}

// The version whose float setting i is exactly `bits`, if any.
inline std::optional<int> VersionOfFloat(std::size_t i, std::uint32_t bits) {
    const float value = std::bit_cast<float>(bits);
    if (!(value >= 0.5f && value < 1e7f)) return std::nullopt;
    const int k = (static_cast<int>(value) - static_cast<int>(i)) / 64;
    if (std::bit_cast<std::uint32_t>(FloatValue(k, i)) != bits) return std::nullopt;
    return k;
}

// The version whose colour entry n is exactly these 8 bytes, if any.
inline std::optional<int> VersionOfColor(int n, const std::uint8_t* bytes) {
    PickupColorEntry entry;
    std::memcpy(&entry, bytes, sizeof entry);
    if (!(entry.value >= 0.0f && entry.value < 1e7f)) return std::nullopt;
    const int k = static_cast<int>(entry.value);
    const PickupColorEntry expected = ColorValue(k, n);
    if (std::memcmp(&expected, bytes, sizeof expected) != 0) return std::nullopt;
    return k;
}

}  // namespace LiveVersions
