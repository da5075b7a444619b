// The pickup appearance settings: one table of all 59 that the settings file may hold (key,
// kind, where in the host the value goes, built-in default), and the one way of reading
// their values from a settings text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
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

enum class SettingKind : std::uint8_t { Float, Color };

// The groups in which the settings are shown to players, in the order they are shown.
enum class SettingGroup : std::uint8_t { Pickups, WeaponCircles, Text, Effects, ColorEntries };
inline constexpr std::array<std::string_view, 5> SettingGroupNames{"Pickups", "Weapon circles", "Text", "Effects",
                                                                   "Colour entries"};
constexpr std::string_view GroupName(SettingGroup group) { return SettingGroupNames[static_cast<std::size_t>(group)]; }

struct PickupSetting {
    std::string_view key;  // followed by a NUL, so key.data() serves as a C string too
    SettingKind kind;
    SettingGroup group;
    HostAddress address;                          // a float's 4 bytes or a colour entry's 8
    float defaultValue;                           // a float's default, or a colour entry's float
    std::array<std::uint8_t, 4> defaultChannels;  // a colour entry's; zero for a float
    float step;  // what one step of a field adds: a float's, or a colour entry's float's (channels step by 1)
};

inline constexpr std::string_view ColorKeyPrefix = "PickupColor_";
inline constexpr std::size_t FloatSettingCount = 15;
inline constexpr std::size_t PickupSettingCount = FloatSettingCount + Host::Pickup::ColorEntryCount;

namespace PickupSettingRows {

struct FloatRow {
    std::string_view key;
    float defaultValue;
    float step;
    HostAddress address;
    SettingGroup group;
};

using enum SettingGroup;

// Each float's step is a power of ten near a tenth of its default's size, so that an arrow key
// moves a value by a share of it (TurnSpeed, about 0.003, must not jump by 1); alphas step by
// whole units, as the colour channels do.
inline constexpr std::array<FloatRow, FloatSettingCount> Floats{{
    {"WeaponCircles_ScaleX", 2.0f, 0.1f, Host::Pickup::WeaponCirclesScaleX, WeaponCircles},
    {"WeaponCircles_ScaleY", -2.0f, 0.1f, Host::Pickup::WeaponCirclesScaleY, WeaponCircles},
    {"WeaponCircles_Distance", 40.0f, 1.0f, Host::Pickup::WeaponCirclesDistance, WeaponCircles},
    {"WeaponCircles_OuterSize", 0.76f, 0.01f, Host::Pickup::WeaponCirclesOuterSize, WeaponCircles},
    {"WeaponCircles_AlphaPlus", 22.0f, 1.0f, Host::Pickup::WeaponCirclesAlphaPlus, WeaponCircles},
    {"WeaponCircles_AlphaMinus", -22.0f, 1.0f, Host::Pickup::WeaponCirclesAlphaMinus, WeaponCircles},
    {"PickupSize", 1.2f, 0.1f, Host::Pickup::Size, Pickups},
    {"TurnSpeed", 0.0030566407f, 0.0001f, Host::Pickup::TurnSpeed, Pickups},
    {"TextDistance", 14.0f, 1.0f, Host::Pickup::TextDistance, Text},
    {"TextMoveY", 0.7f, 0.01f, Host::Pickup::TextMoveY, Text},
    {"TextAlpha", 255.0f, 1.0f, Host::Pickup::TextAlpha, Text},
    {"EffectStrength", 1.5f, 0.1f, Host::Pickup::EffectStrength, Effects},
    {"EffectDistance", 65.0f, 1.0f, Host::Pickup::EffectDistance, Effects},
    {"Size2DFX", -0.5f, 0.01f, Host::Pickup::Size2DFX, Effects},
    {"Distance2DFX", 50.0f, 1.0f, Host::Pickup::Distance2DFX, Effects},
}};

// The colour entries' default channels 0 to 2, by runs of entries; channel 3 is 0 and the
// float 1.0 throughout, stepping by a tenth.
inline constexpr float ColorNumberStep = 0.1f;
struct ColorRun {
    int last;  // the run goes from the previous run's end through this entry
    std::array<std::uint8_t, 3> channels;
};

inline constexpr std::array<ColorRun, 17> DefaultColors{{
    {1, {128, 128, 128}},
    {11, {97, 194, 247}},
    {16, {27, 89, 130}},
    {18, {149, 194, 24}},
    {21, {45, 155, 90}},
    {25, {255, 227, 79}},
    {27, {254, 137, 0}},
    {29, {249, 131, 215}},
    {33, {164, 40, 178}},
    {36, {69, 69, 69}},
    {37, {255, 100, 100}},
    {38, {128, 255, 128}},
    {39, {100, 100, 255}},
    {40, {255, 255, 100}},
    {41, {255, 100, 100}},
    {42, {100, 255, 100}},
    {43, {255, 255, 255}},
}};
static_assert(DefaultColors.back().last == Host::Pickup::ColorEntryCount - 1);

// "PickupColor_<n>" for every entry, n in decimal, each key followed by a NUL.
struct ColorKeyText {
    static constexpr std::size_t Stride = ColorKeyPrefix.size() + 3;
    std::array<char, Stride * Host::Pickup::ColorEntryCount> text{};

    constexpr ColorKeyText() {
        for (int n = 0; n < Host::Pickup::ColorEntryCount; ++n) {
            char* key = text.data() + Stride * static_cast<std::size_t>(n);
            ColorKeyPrefix.copy(key, ColorKeyPrefix.size());
            char* digit = key + ColorKeyPrefix.size();
            if (n >= 10) *digit++ = static_cast<char>('0' + n / 10);
            *digit = static_cast<char>('0' + n % 10);
        }
    }
    constexpr std::string_view operator[](int n) const {
        return {text.data() + Stride * static_cast<std::size_t>(n), ColorKeyPrefix.size() + (n >= 10 ? 2 : 1)};
    }
};
inline constexpr ColorKeyText ColorKeys;

constexpr std::array<PickupSetting, PickupSettingCount> All() {
    std::array<PickupSetting, PickupSettingCount> all{};
    std::size_t i = 0;
    for (const FloatRow& row : Floats) {
        all[i++] = {row.key, SettingKind::Float, row.group, row.address, row.defaultValue, {}, row.step};
    }
    int n = 0;
    for (const ColorRun& run : DefaultColors) {
        for (; n <= run.last; ++n) {
            const HostAddress address =
                Host::Pickup::ColorTable + static_cast<HostAddress>(n) * Host::Pickup::ColorEntrySize;
            all[i++] = {ColorKeys[n], SettingKind::Color, SettingGroup::ColorEntries, address, 1.0f,
                        {run.channels[0], run.channels[1], run.channels[2], 0}, ColorNumberStep};
        }
    }
    return all;
}

}  // namespace PickupSettingRows

// Every setting: the 15 floats, then colour entries 0 to 43.
inline constexpr std::array<PickupSetting, PickupSettingCount> PickupSettings = PickupSettingRows::All();
inline constexpr std::span<const PickupSetting, FloatSettingCount> FloatSettings{PickupSettings.data(), FloatSettingCount};
inline constexpr std::span<const PickupSetting, Host::Pickup::ColorEntryCount> ColorSettings{
    PickupSettings.data() + FloatSettingCount, Host::Pickup::ColorEntryCount};
static_assert(ColorSettings[0].key == "PickupColor_0" && ColorSettings[43].key == "PickupColor_43");
static_assert(ColorSettings[43].address + Host::Pickup::ColorEntrySize ==
              Host::Pickup::ColorTable + Host::Pickup::ColorTableSize);

// A colour entry's five fields, in the words of the release's settings file.
inline constexpr std::array<std::string_view, 5> ColorFieldNames{"channel0", "channel1", "channel2", "channel3", "number"};

// The index in PickupSettings of the setting that `key` names, matched as the plug-in
// matches it: byte for byte, a colour entry's number in decimal with no sign, no leading
// zero and nothing after it ("PickupColor_07" names none).
std::optional<std::size_t> FindPickupSetting(std::string_view key);

// Entry n's built-in colour, used when "PickupColor_<n>" is absent.
PickupColorEntry DefaultPickupColor(int n);

using PickupColorTable = std::array<PickupColorEntry, Host::Pickup::ColorEntryCount>;

// Every value the settings give: a float setting's value converted as atof does, entry n of
// the colour table from the value of "PickupColor_<n>" scanned as "%d %d %d %d %f", and the
// built-in default wherever the key is absent.
struct PickupValues {
    std::array<float, FloatSettingCount> floats;  // in the order of FloatSettings
    PickupColorTable colors;
};

// Where a value came from: the entry that set it last, by line and by piece within that
// line (a line longer than 255 bytes is read in several pieces); line 0 for the default.
struct SettingOrigin {
    std::uint64_t line = 0;
    std::uint32_t piece = 0;
};

struct PickupReading {
    PickupValues values;
    std::array<SettingOrigin, PickupSettingCount> origins;  // in the order of PickupSettings
};

// Sets the value of setting `setting` (its index in PickupSettings) from its value text, as
// the plug-in converts it: atof narrowed to float, or the colour scan.
void TakePickupValue(PickupValues& values, std::size_t setting, std::string_view valueText);

// Reads the values from the text that `source` delivers, or from the file at `path`: each
// entry piece, in order, sets the value of the setting its key names, so the last entry of a
// key wins and other keys change nothing, exactly as a map of the text looked up key by key
// would give. A file that cannot be read gives every default.
PickupReading ReadPickupSettings(const SettingsSource& source);
PickupReading ReadPickupSettingsFile(const char* path);
PickupReading DefaultPickupReading();

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

// Every setting in the order of PickupSettings, its value's bytes handed to
// `store(address, bytes, size)`.
template <class Store>
void WritePickupSettings(const PickupValues& values, Store&& store) {
    for (std::size_t i = 0; i < FloatSettingCount; ++i) {
        store(FloatSettings[i].address, &values.floats[i], sizeof(float));
    }
    for (std::size_t n = 0; n < ColorSettings.size(); ++n) {
        store(ColorSettings[n].address, &values.colors[n], sizeof(PickupColorEntry));
    }
}
