#include "src/settings/PickupSettings.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <optional>

#include "src/settings/NumberScan.h"

namespace {

struct DefaultColorRange {
    int last;  // the range runs from the previous range's end through this entry
    std::array<std::uint8_t, 3> rgb;
};

constexpr std::array<DefaultColorRange, 17> DefaultColors{{
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

// "PickupColor_%d" for every entry, formed once at compile time.
struct ColorKeys {
    static constexpr std::string_view Prefix = "PickupColor_";
    static constexpr std::size_t Stride = Prefix.size() + 2;
    std::array<char, Stride * Host::Pickup::ColorEntryCount> text{};

    constexpr ColorKeys() {
        for (int n = 0; n < Host::Pickup::ColorEntryCount; ++n) {
            char* key = text.data() + Stride * static_cast<std::size_t>(n);
            Prefix.copy(key, Prefix.size());
            if (n >= 10) key[Prefix.size()] = static_cast<char>('0' + n / 10);
            key[Prefix.size() + (n >= 10 ? 1 : 0)] = static_cast<char>('0' + n % 10);
        }
    }
    constexpr std::string_view operator[](int n) const {
        return {text.data() + Stride * static_cast<std::size_t>(n), Prefix.size() + (n >= 10 ? 2 : 1)};
    }
};
constexpr ColorKeys ColorKey;
static_assert(ColorKey[0] == "PickupColor_0" && ColorKey[43] == "PickupColor_43");

// Byte equality in a plain loop, where the C runtime's memcmp would be a call per key.
constexpr bool SameBytes(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), std::equal_to<>());
}

// The float setting that `key` names, or FloatSettings.size() + n for "PickupColor_<n>";
// none for any other key.
std::optional<std::size_t> SlotOf(std::string_view key) {
    constexpr std::size_t prefix = ColorKeys::Prefix.size();
    if (SameBytes(key.substr(0, prefix), ColorKeys::Prefix)) {
        // The digits must be n's own: no sign, no leading zero, nothing after them.
        const std::string_view digits = key.substr(prefix);
        int n = -1;
        std::from_chars(digits.data(), digits.data() + digits.size(), n);
        if (n < 0 || n >= Host::Pickup::ColorEntryCount || !SameBytes(digits, ColorKey[n].substr(prefix))) {
            return std::nullopt;
        }
        return FloatSettings.size() + static_cast<std::size_t>(n);
    }
    static constexpr auto floatKeys = [] {
        std::array<std::string_view, FloatSettings.size()> keys;
        std::transform(FloatSettings.begin(), FloatSettings.end(), keys.begin(), [](const FloatSetting& s) { return s.key; });
        return keys;
    }();
    const auto named = std::find_if(floatKeys.begin(), floatKeys.end(), [key](std::string_view k) { return SameBytes(key, k); });
    if (named == floatKeys.end()) return std::nullopt;
    return static_cast<std::size_t>(named - floatKeys.begin());
}

// Takes the setting of each entry piece into `values` as the piece comes.
std::function<void(const SettingsPiece&)> TakeEntriesInto(PickupValues& values) {
    return [&values](const SettingsPiece& piece) {
        if (piece.kind == PieceKind::Entry) TakePickupSetting(values, piece.key, piece.value);
    };
}

}  // namespace

PickupColorEntry DefaultPickupColor(int n) {
    for (const DefaultColorRange& range : DefaultColors) {
        if (n <= range.last) return {{range.rgb[0], range.rgb[1], range.rgb[2], 0}, 1.0f};
    }
    return {{255, 255, 255, 0}, 1.0f};
}

PickupColorScan ScanPickupColorFields(std::string_view value) {
    PickupColorScan scan{{{0, 0, 0, 0}, 1.0f}, {0, 0, 0, 0}, 0, 0};
    for (std::size_t i = 0; i < scan.numbers.size(); ++i) {
        const auto number = ScanIntField(value, scan.end);
        if (!number) return scan;
        scan.numbers[i] = number->value;
        scan.entry.channels[i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(number->value));
        scan.end = number->end;
        ++scan.fields;
    }
    if (const auto number = ScanFloatField(value, scan.end)) {
        scan.entry.value = number->value;
        scan.end = number->end;
        ++scan.fields;
    }
    return scan;
}

PickupColorEntry ScanPickupColor(std::string_view value) { return ScanPickupColorFields(value).entry; }

PickupValues DefaultPickupValues() {
    PickupValues values;
    for (std::size_t i = 0; i < FloatSettings.size(); ++i) values.floats[i] = FloatSettings[i].defaultValue;
    for (int n = 0; n < Host::Pickup::ColorEntryCount; ++n) {
        values.colors[static_cast<std::size_t>(n)] = DefaultPickupColor(n);
    }
    return values;
}

void TakePickupSetting(PickupValues& values, std::string_view key, std::string_view value) {
    const auto slot = SlotOf(key);
    if (!slot) return;
    if (*slot < FloatSettings.size()) {
        values.floats[*slot] = static_cast<float>(ConvertFloatPrefix(value));
    } else {
        values.colors[*slot - FloatSettings.size()] = ScanPickupColor(value);
    }
}

PickupValues PickupSettingValues(const SettingsMap& settings) {
    PickupValues values = DefaultPickupValues();
    for (const auto& [key, value] : settings) TakePickupSetting(values, key, value);
    return values;
}

PickupValues PickupSettingValues(const SettingsSource& source) {
    PickupValues values = DefaultPickupValues();
    ReadSettingsPieces(source, TakeEntriesInto(values));
    return values;
}

PickupValues ReadPickupSettingValues(const char* path) {
    PickupValues values = DefaultPickupValues();
    ReadSettingsFilePieces(path, TakeEntriesInto(values));
    return values;
}
