// What the host's pickup data must hold after a run, written out from the published
// defaults rather than derived from the plug-in's own tables.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "host/HostGame.h"

namespace PickupExpectations {

struct FloatBits {
    HostAddress address;
    std::uint32_t bits;
};

inline constexpr std::array<FloatBits, 15> DefaultFloats{{
    {0x688214, 0x40000000},  // WeaponCircles_ScaleX 2.0
    {0x6882B8, 0xC0000000},  // WeaponCircles_ScaleY -2.0
    {0x6882A4, 0x42200000},  // WeaponCircles_Distance 40.0
    {0x6882F0, 0x3F428F5C},  // WeaponCircles_OuterSize 0.76
    {0x698AC8, 0x41B00000},  // WeaponCircles_AlphaPlus 22.0
    {0x698AF0, 0xC1B00000},  // WeaponCircles_AlphaMinus -22.0
    {0x68821C, 0x3F99999A},  // PickupSize 1.2
    {0x6882D0, 0x3B4851EC},  // TurnSpeed 0.0030566407
    {0x6882D4, 0x41600000},  // TextDistance 14.0
    {0x688310, 0x3F333333},  // TextMoveY 0.7
    {0x6882E0, 0x437F0000},  // TextAlpha 255.0
    {0x688204, 0x3FC00000},  // EffectStrength 1.5
    {0x6882EC, 0x42820000},  // EffectDistance 65.0
    {0x688330, 0xBF000000},  // Size2DFX -0.5
    {0x688338, 0x42480000},  // Distance2DFX 50.0
}};

// Channel bytes of entries 0 to 43 in memory order; every default entry's float is 1.0.
inline constexpr std::string_view DefaultChannels =
    "80808000 80808000 61C2F700 61C2F700 61C2F700 61C2F700 61C2F700 61C2F700 "
    "61C2F700 61C2F700 61C2F700 61C2F700 1B598200 1B598200 1B598200 1B598200 "
    "1B598200 95C21800 95C21800 2D9B5A00 2D9B5A00 2D9B5A00 FFE34F00 FFE34F00 "
    "FFE34F00 FFE34F00 FE890000 FE890000 F983D700 F983D700 A428B200 A428B200 "
    "A428B200 A428B200 45454500 45454500 45454500 FF646400 80FF8000 6464FF00 "
    "FFFF6400 FF646400 64FF6400 FFFFFF00";

using ColorTable = std::array<std::uint8_t, Host::Pickup::ColorTableSize>;

// One entry's 8 bytes: four channel bytes given as 8 hex digits in memory order, then the float.
inline std::array<std::uint8_t, 8> Entry(std::string_view channelHex, float value) {
    std::array<std::uint8_t, 8> bytes{};
    for (std::size_t i = 0; i < 4; ++i) {
        auto nibble = [](char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
        bytes[i] = static_cast<std::uint8_t>(nibble(channelHex[2 * i]) * 16 + nibble(channelHex[2 * i + 1]));
    }
    std::memcpy(&bytes[4], &value, 4);
    return bytes;
}

inline void SetEntry(ColorTable& table, int n, std::string_view channelHex, float value) {
    const auto bytes = Entry(channelHex, value);
    std::memcpy(&table[static_cast<std::size_t>(n) * 8], bytes.data(), 8);
}

inline ColorTable DefaultColorTable() {
    ColorTable table{};
    for (int n = 0; n < Host::Pickup::ColorEntryCount; ++n) {
        SetEntry(table, n, DefaultChannels.substr(static_cast<std::size_t>(n) * 9, 8), 1.0f);
    }
    return table;
}

}  // namespace PickupExpectations
