#include "src/settings/PickupSettings.h"

#include <algorithm>
#include <functional>

#include "src/settings/NumberScan.h"

namespace {

// Byte equality in a plain loop, where the C runtime's memcmp would be a call per key.
constexpr bool SameBytes(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), std::equal_to<>());
}

// Takes one entry piece: the value of the setting its key names, and where it came from.
void Take(PickupReading& reading, const SettingsPiece& piece) {
    const auto index = FindPickupSetting(piece.key);
    if (!index) return;
    reading.origins[*index] = {piece.line, piece.piece};
    TakePickupValue(reading.values, *index, piece.value);
}

std::function<void(const SettingsPiece&)> TakeEntriesInto(PickupReading& reading) {
    return [&reading](const SettingsPiece& piece) {
        if (piece.kind == PieceKind::Entry) Take(reading, piece);
    };
}

}  // namespace

std::optional<std::size_t> FindPickupSetting(std::string_view key) {
    if (SameBytes(key.substr(0, ColorKeyPrefix.size()), ColorKeyPrefix)) {
        // One or two digits, no sign and no leading zero: "PickupColor_07" is not entry 7.
        const std::string_view digits = key.substr(ColorKeyPrefix.size());
        const auto digit = [](char c) { return c >= '0' && c <= '9'; };
        if (digits.empty() || digits.size() > 2 || !digit(digits[0]) || (digits.size() == 2 && (digits[0] == '0' || !digit(digits[1])))) {
            return std::nullopt;
        }
        const int n = digits.size() == 1 ? digits[0] - '0' : (digits[0] - '0') * 10 + (digits[1] - '0');
        if (n >= Host::Pickup::ColorEntryCount) return std::nullopt;
        return FloatSettingCount + static_cast<std::size_t>(n);
    }
    const auto named = std::find_if(FloatSettings.begin(), FloatSettings.end(),
                                    [key](const PickupSetting& setting) { return SameBytes(key, setting.key); });
    if (named == FloatSettings.end()) return std::nullopt;
    return static_cast<std::size_t>(named - FloatSettings.begin());
}

void TakePickupValue(PickupValues& values, std::size_t setting, std::string_view valueText) {
    if (setting < FloatSettingCount) {
        values.floats[setting] = static_cast<float>(ConvertFloatPrefix(valueText));
    } else {
        values.colors[setting - FloatSettingCount] = ScanPickupColor(valueText);
    }
}

PickupColorEntry DefaultPickupColor(int n) {
    const PickupSetting& setting = ColorSettings[static_cast<std::size_t>(n)];
    return {setting.defaultChannels, setting.defaultValue};
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

PickupReading DefaultPickupReading() {
    PickupReading reading{};
    for (std::size_t i = 0; i < FloatSettingCount; ++i) reading.values.floats[i] = FloatSettings[i].defaultValue;
    for (int n = 0; n < Host::Pickup::ColorEntryCount; ++n) {
        reading.values.colors[static_cast<std::size_t>(n)] = DefaultPickupColor(n);
    }
    return reading;
}

PickupReading ReadPickupSettings(const SettingsSource& source) {
    PickupReading reading = DefaultPickupReading();
    ReadSettingsPieces(source, TakeEntriesInto(reading));
    return reading;
}

PickupReading ReadPickupSettingsFile(const char* path) {
    PickupReading reading = DefaultPickupReading();
    ReadSettingsFilePieces(path, TakeEntriesInto(reading));
    return reading;
}
