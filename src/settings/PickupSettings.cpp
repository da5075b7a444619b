#include "src/settings/PickupSettings.h"

#include <algorithm>
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

// Every key the settings may hold, in the settings map's order, with the value it sets: a
// float setting's index, or FloatSettings.size() + n for colour entry n.
struct KnownKey {
    std::string_view key;
    std::size_t slot;
};
constexpr std::size_t KnownKeyCount = FloatSettings.size() + Host::Pickup::ColorEntryCount;
constexpr std::array<KnownKey, KnownKeyCount> KnownKeys = [] {
    std::array<KnownKey, KnownKeyCount> keys{};
    for (std::size_t i = 0; i < KnownKeyCount; ++i) {
        keys[i] = {i < FloatSettings.size() ? std::string_view(FloatSettings[i].key)
                                            : ColorKey[static_cast<int>(i - FloatSettings.size())],
                   i};
    }
    std::sort(keys.begin(), keys.end(), [](const KnownKey& a, const KnownKey& b) { return a.key < b.key; });
    return keys;
}();
static_assert(std::adjacent_find(KnownKeys.begin(), KnownKeys.end(), [](const KnownKey& a, const KnownKey& b) {
                  return a.key == b.key;
              }) == KnownKeys.end());

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

PickupValues PickupSettingValues(const SettingsMap& settings) {
    PickupValues values;
    for (std::size_t i = 0; i < FloatSettings.size(); ++i) values.floats[i] = FloatSettings[i].defaultValue;
    for (int n = 0; n < Host::Pickup::ColorEntryCount; ++n) {
        values.colors[static_cast<std::size_t>(n)] = DefaultPickupColor(n);
    }
    // One walk over the settings and the known keys, both in order: every step passes an
    // entry or a key, where a lookup per key would compare keys a few times over.
    auto entry = settings.begin();
    for (const KnownKey& known : KnownKeys) {
        int order = 1;
        for (; entry != settings.end(); ++entry) {
            order = std::string_view(entry->first).compare(known.key);
            if (order >= 0) break;
        }
        if (entry == settings.end()) break;
        if (order != 0) continue;
        const std::string_view value = entry->second;
        if (known.slot < FloatSettings.size()) {
            values.floats[known.slot] = static_cast<float>(ConvertFloatPrefix(value));
        } else {
            values.colors[known.slot - FloatSettings.size()] = ScanPickupColor(value);
        }
    }
    return values;
}
