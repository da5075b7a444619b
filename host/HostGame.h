// The host's fixed contract: its builds, where each is recognised and hooked, and the
// data the plug-in writes. Every address is as linked at the host's preferred base.
#pragma once

#include <array>
#include <cstdint>

using HostAddress = std::uint32_t;
using HostVersion = std::int32_t;

namespace Host {

inline constexpr HostAddress PreferredBase = 0x400000;

// Bytes 55 89 E5 53 at a build's entry point, read as one little-endian value.
inline constexpr std::uint32_t BuildSignature = 0x53E58955;

inline constexpr HostVersion UnknownVersion = 0;

struct Build {
    HostVersion version;
    HostAddress probe;     // where the signature stands in this build
    HostAddress callSite;  // the 5-byte CALL that the plug-in hooks
};

// In probing order: the first build whose signature matches wins.
inline constexpr std::array<Build, 3> Builds{{
    {100, 0x667BF0, 0x600411},
    {110, 0x667C40, 0x600431},
    {120, 0x666BA0, 0x600071},
}};

// The table row of build `version`; null for any other id.
constexpr const Build* BuildOf(HostVersion version) {
    for (const Build& build : Builds) {
        if (build.version == version) return &build;
    }
    return nullptr;
}

// Pickup appearance variables: 32-bit floats in the host's writable data.
namespace Pickup {
inline constexpr HostAddress WeaponCirclesScaleX = 0x688214;
inline constexpr HostAddress WeaponCirclesScaleY = 0x6882B8;
inline constexpr HostAddress WeaponCirclesDistance = 0x6882A4;
inline constexpr HostAddress WeaponCirclesOuterSize = 0x6882F0;
inline constexpr HostAddress WeaponCirclesAlphaPlus = 0x698AC8;
inline constexpr HostAddress WeaponCirclesAlphaMinus = 0x698AF0;
inline constexpr HostAddress Size = 0x68821C;
inline constexpr HostAddress TurnSpeed = 0x6882D0;
inline constexpr HostAddress TextDistance = 0x6882D4;
inline constexpr HostAddress TextMoveY = 0x688310;
inline constexpr HostAddress TextAlpha = 0x6882E0;
inline constexpr HostAddress EffectStrength = 0x688204;
inline constexpr HostAddress EffectDistance = 0x6882EC;
inline constexpr HostAddress Size2DFX = 0x688330;
inline constexpr HostAddress Distance2DFX = 0x688338;

// The colour table: 44 records of 8 bytes (four channel bytes, then a float).
inline constexpr HostAddress ColorTable = 0x688098;
inline constexpr int ColorEntryCount = 44;
inline constexpr std::uint32_t ColorEntrySize = 8;
inline constexpr std::uint32_t ColorTableSize = ColorEntryCount * ColorEntrySize;
}  // namespace Pickup

// The span of host data the plug-in writes, first byte to one past the last.
inline constexpr HostAddress DataBegin = Pickup::ColorTable;
inline constexpr HostAddress DataEnd = Pickup::WeaponCirclesAlphaMinus + 4;
inline constexpr std::uint32_t DataSize = DataEnd - DataBegin;

}  // namespace Host
