// The pickup appearance settings: which keys the settings file may hold, their built-in
// defaults, and where in the host each value goes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "host/HostGame.h"
#include "src/settings/SettingsFile.h"

// One record of the host's colour table, as laid out in the host's memory.
struct PickupColorEntry {
    std::array<std::uint8_t, 4> channels;
    float value;
};
static_assert(sizeof(PickupColorEntry) == Host::Pickup::ColorEntrySize);
static_assert(offsetof(PickupColorEntry, value) == 4);

struct FloatSetting {
    const char* key;
    float defaultValue;
    HostAddress address;
};

inline constexpr std::array<FloatSetting, 15> FloatSettings{{
    {"WeaponCircles_ScaleX", 2.0f, Host::Pickup::WeaponCirclesScaleX},
    {"WeaponCircles_ScaleY", -2.0f, Host::Pickup::WeaponCirclesScaleY},
    {"WeaponCircles_Distance", 40.0f, Host::Pickup::WeaponCirclesDistance},
    {"WeaponCircles_OuterSize", 0.76f, Host::Pickup::WeaponCirclesOuterSize},
    {"WeaponCircles_AlphaPlus", 22.0f, Host::Pickup::WeaponCirclesAlphaPlus},
    {"WeaponCircles_AlphaMinus", -22.0f, Host::Pickup::WeaponCirclesAlphaMinus},
    {"PickupSize", 1.2f, Host::Pickup::Size},
    {"TurnSpeed", 0.0030566407f, Host::Pickup::TurnSpeed},
    {"TextDistance", 14.0f, Host::Pickup::TextDistance},
    {"TextMoveY", 0.7f, Host::Pickup::TextMoveY},
    {"TextAlpha", 255.0f, Host::Pickup::TextAlpha},
    {"EffectStrength", 1.5f, Host::Pickup::EffectStrength},
    {"EffectDistance", 65.0f, Host::Pickup::EffectDistance},
    {"Size2DFX", -0.5f, Host::Pickup::Size2DFX},
    {"Distance2DFX", 50.0f, Host::Pickup::Distance2DFX},
}};

// Entry n's built-in colour, used when "PickupColor_<n>" is absent.
PickupColorEntry DefaultPickupColor(int n);

using PickupColorTable = std::array<PickupColorEntry, Host::Pickup::ColorEntryCount>;

// Every value the settings give: a float setting's value converted as atof does, entry n of
// the colour table from the value of "PickupColor_<n>" (n in decimal without leading
// zeros) scanned as "%d %d %d %d %f", and the built-in default wherever the key is absent.
struct PickupValues {
    std::array<float, FloatSettings.size()> floats;  // in the order of FloatSettings
    PickupColorTable colors;
};
PickupValues DefaultPickupValues();

// Sets the value that `key` governs from `value`; a key of none of the settings changes
// nothing. Taking a file's entries in order gives what its map gives: the last one wins.
void TakePickupSetting(PickupValues& values, std::string_view key, std::string_view value);

PickupValues PickupSettingValues(const SettingsMap& settings);

// The values of the text that `source` delivers, or of the file at `path`, taken piece by
// piece as it is read: what the text's map gives, with no map built. The hooked call reads so.
PickupValues PickupSettingValues(const SettingsSource& source);
PickupValues ReadPickupSettingValues(const char* path);

// Scans one colour value as "%d %d %d %d %f" into an entry preset to 0, 0, 0, 0 and 1.0.
PickupColorEntry ScanPickupColor(std::string_view value);

// The same scan, with how many of the five fields matched and where the scan stopped.
struct PickupColorScan {
    PickupColorEntry entry;
    std::array<std::int32_t, 4> numbers;  // the channels as read, before they are cut to 8 bits
    int fields;
    std::size_t end;  // just past the last field read; 0 when none was
};
PickupColorScan ScanPickupColorFields(std::string_view value);

constexpr HostAddress PickupColorAddress(int n) {
    return Host::Pickup::ColorTable + static_cast<HostAddress>(n) * Host::Pickup::ColorEntrySize;
}

// Every float setting, then every colour entry, handed to `store(address, bytes, size)`
// in that order: a value the settings lack gets its built-in default.
template <class Store>
void WritePickupSettings(const PickupValues& values, Store&& store) {
    for (std::size_t i = 0; i < FloatSettings.size(); ++i) {
        store(FloatSettings[i].address, &values.floats[i], sizeof(float));
    }
    for (int n = 0; n < Host::Pickup::ColorEntryCount; ++n) {
        store(PickupColorAddress(n), &values.colors[static_cast<std::size_t>(n)], sizeof(PickupColorEntry));
    }
}

template <class Store>
void WritePickupSettings(const SettingsMap& settings, Store&& store) {
    WritePickupSettings(PickupSettingValues(settings), store);
}
