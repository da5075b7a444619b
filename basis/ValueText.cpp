#include "basis/ValueText.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

#include "src/settings/NumberScan.h"

namespace {

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// What the plug-in makes of a value's text for a setting of this kind. The texts given here
// are whole decimals, which the colour scan always reads; NaN stands for a failed scan.
float ReadAsPlugin(std::string_view text, SettingKind kind) {
    if (kind == SettingKind::Float) return static_cast<float>(ConvertFloatPrefix(text));
    const auto scanned = ScanFloatField(text, 0);
    return scanned ? scanned->value : std::numeric_limits<float>::quiet_NaN();
}

bool ReadsBack(std::string_view text, SettingKind kind, float value) {
    return std::bit_cast<std::uint32_t>(ReadAsPlugin(text, kind)) == std::bit_cast<std::uint32_t>(value);
}

// to_chars's text, shortest or with `precision` significant digits in the style of "%g",
// with its exponent written without "+" and leading zeros ("1e-7" for "1e-07", "1.5e10"
// for "1.5e+10").
std::string ToCharsText(float value, std::optional<int> precision) {
    std::array<char, 64> buffer;
    char* const end = buffer.data() + buffer.size();
    const auto written = precision ? std::to_chars(buffer.data(), end, value, std::chars_format::general, *precision)
                                   : std::to_chars(buffer.data(), end, value);
    std::string text(buffer.data(), written.ptr);
    if (const std::size_t mark = text.find('e'); mark != std::string::npos) {
        std::size_t p = mark + 1;
        if (text[p] == '+') text.erase(p, 1);
        if (text[p] == '-') ++p;
        const std::size_t zeros = std::min(text.find_first_not_of('0', p), text.size() - 1) - p;
        text.erase(p, zeros);
    }
    return text;
}

// Whether a text is a whole decimal number and nothing else, and whether its mantissa has a
// digit other than 0.
struct DecimalCheck {
    bool whole;
    bool nonzero;
};

DecimalCheck CheckDecimal(std::string_view text) {
    std::size_t p = 0;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) ++p;
    std::size_t digits = 0;
    bool point = false;
    bool nonzero = false;
    for (; p < text.size(); ++p) {
        const char c = text[p];
        if (IsDigit(c)) {
            ++digits;
            nonzero = nonzero || c != '0';
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (digits == 0) return {false, nonzero};
    if (p < text.size() && (text[p] == 'e' || text[p] == 'E')) {
        ++p;
        if (p < text.size() && (text[p] == '+' || text[p] == '-')) ++p;
        const std::size_t exponentDigits = p;
        while (p < text.size() && IsDigit(text[p])) ++p;
        if (p == exponentDigits) return {false, nonzero};
    }
    return {p == text.size(), nonzero};
}

// What separates a colour's fields: blanks within the line.
constexpr std::string_view Blanks = " \t";

template <class T>
ValueParse<T> Refuse(std::string problem) {
    return {std::nullopt, std::move(problem)};
}

constexpr std::string_view NumberAdvice =
    "write a number in decimal digits, with a point for decimals and a minus sign if needed, and nothing "
    "else, such as 2.5, -0.75 or 40";

constexpr std::string_view ColorAdvice =
    "write four whole numbers from 0 to 255 (channel0 to channel3) and a number, separated by spaces, such as "
    "255 128 0 0 1.0; or # and six hexadecimal digits for channel0 to channel2, such as #FF8000";

// A channel: decimal digits only, 0 to 255.
std::optional<std::uint8_t> ParseChannel(std::string_view field) {
    if (field.empty()) return std::nullopt;
    unsigned value = 0;
    for (const char c : field) {
        if (!IsDigit(c)) return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > 255) return std::nullopt;
    }
    return static_cast<std::uint8_t>(value);
}

std::optional<std::uint8_t> HexDigit(char c) {
    if (IsDigit(c)) return static_cast<std::uint8_t>(c - '0');
    if (AsciiLower(c) >= 'a' && AsciiLower(c) <= 'f') return static_cast<std::uint8_t>(AsciiLower(c) - 'a' + 10);
    return std::nullopt;
}

ValueParse<PickupColorEntry> ParseHexColor(std::string_view text, const PickupColorEntry& current) {
    PickupColorEntry entry = current;
    if (text.size() != 7) {
        return Refuse<PickupColorEntry>("A colour starting with # needs exactly six hexadecimal digits: " +
                                        std::string(ColorAdvice) + ".");
    }
    for (std::size_t i = 0; i < 3; ++i) {
        const auto high = HexDigit(text[1 + 2 * i]);
        const auto low = HexDigit(text[2 + 2 * i]);
        if (!high || !low) {
            return Refuse<PickupColorEntry>("After # only the digits 0 to 9 and the letters A to F may follow: " +
                                            std::string(ColorAdvice) + ".");
        }
        entry.channels[i] = static_cast<std::uint8_t>(*high * 16 + *low);
    }
    return {entry, {}};
}

}  // namespace

std::string ShortestDecimal(float value, SettingKind kind) {
    if (std::isnan(value)) return {};
    // Beyond the largest float by far more than half a step: both conversions overflow.
    if (std::isinf(value)) return std::signbit(value) ? "-1e39" : "1e39";
    if (std::string text = ToCharsText(value, std::nullopt); ReadsBack(text, kind, value)) return text;
    // The float kind rounds to double first, which may carry the shortest text to the midpoint
    // between two floats and on to the other one: then the fewest digits that read back. Nine
    // always do: they lie within 5e-9 of the value, relatively, deep inside its rounding
    // interval of 3e-8.
    constexpr int MostDigits = std::numeric_limits<float>::max_digits10;
    for (int digits = 1; digits < MostDigits; ++digits) {
        if (std::string text = ToCharsText(value, digits); ReadsBack(text, kind, value)) return text;
    }
    return ToCharsText(value, MostDigits);
}

std::string NumberText(float value, SettingKind kind) {
    if (std::isnan(value)) return std::signbit(value) ? "-nan" : "nan";
    return ShortestDecimal(value, kind);
}

std::string BitsText(float value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(std::bit_cast<std::uint32_t>(value)));
    return text;
}

std::string NumberAndBitsText(float value, SettingKind kind) {
    return NumberText(value, kind) + " (" + BitsText(value) + ")";
}

ValueParse<float> ParseFloatValue(std::string_view text, SettingKind kind) {
    if (text.empty()) return Refuse<float>("The value is empty: " + std::string(NumberAdvice) + ".");
    if (IsCSpace(text.front()) || IsCSpace(text.back())) {
        return Refuse<float>("Remove the spaces before and after the number: " + std::string(NumberAdvice) + ".");
    }
    const DecimalCheck check = CheckDecimal(text);
    if (!check.whole) {
        if (std::count(text.begin(), text.end(), ',') == 1) {
            std::string withPoint(text);
            std::replace(withPoint.begin(), withPoint.end(), ',', '.');
            if (CheckDecimal(withPoint).whole) {
                return Refuse<float>("Write a point for decimals, not a comma: " + withPoint + " rather than " +
                                     std::string(text) + ".");
            }
        }
        return Refuse<float>("This is not a plain decimal number: " + std::string(NumberAdvice) + ".");
    }
    const float value = ReadAsPlugin(text, kind);
    if (std::isinf(value)) {
        return Refuse<float>("The number is too large for the game: write one from -3.4e38 to 3.4e38.");
    }
    if (check.nonzero && (value == 0 || std::fpclassify(value) == FP_SUBNORMAL)) {
        return Refuse<float>(
            "The number is too close to 0 for the game: write 0, or a number at least 1.2e-38 or at most -1.2e-38.");
    }
    return {value, {}};
}

ValueParse<PickupColorEntry> ParseColorValue(std::string_view text, const PickupColorEntry& current) {
    if (!text.empty() && text.front() == '#') return ParseHexColor(text, current);
    if (text.empty()) return Refuse<PickupColorEntry>("The value is empty: " + std::string(ColorAdvice) + ".");
    if (IsCSpace(text.front()) || IsCSpace(text.back())) {
        return Refuse<PickupColorEntry>("Remove the spaces before and after the colour: " + std::string(ColorAdvice) +
                                        ".");
    }
    std::array<std::string_view, 5> fields;
    std::size_t count = 0;
    for (std::size_t p = 0; p != std::string_view::npos;) {
        const std::size_t end = text.find_first_of(Blanks, p);
        if (count < fields.size()) fields[count] = text.substr(p, end - p);
        ++count;
        p = text.find_first_not_of(Blanks, end);
    }
    const auto refuseCommas = [] {
        return Refuse<PickupColorEntry>("Separate the colour's numbers with spaces, not commas: " +
                                        std::string(ColorAdvice) + ".");
    };
    if (count != fields.size()) {
        if (text.find(',') != std::string_view::npos) return refuseCommas();
        return Refuse<PickupColorEntry>("A colour needs five numbers, this has " + std::to_string(count) + ": " +
                                        std::string(ColorAdvice) + ".");
    }
    PickupColorEntry entry{};
    for (std::size_t i = 0; i < 4; ++i) {
        const auto channel = ParseChannel(fields[i]);
        if (!channel) {
            if (fields[i].find(',') != std::string_view::npos) return refuseCommas();
            return Refuse<PickupColorEntry>(std::string(ColorFieldNames[i]) + " is " + std::string(fields[i]) +
                                            ", but a channel is a whole number from 0 to 255: " +
                                            std::string(ColorAdvice) + ".");
        }
        entry.channels[i] = *channel;
    }
    ValueParse<float> number = ParseFloatValue(fields[4], SettingKind::Color);
    if (!number.value) return Refuse<PickupColorEntry>("The number (the fifth field) is not right. " + number.problem);
    entry.value = *number.value;
    return {entry, {}};
}

std::string ColorValueText(const PickupColorEntry& entry) {
    std::string text;
    for (const std::uint8_t channel : entry.channels) text += std::to_string(channel) + ' ';
    return text + NumberText(entry.value, SettingKind::Color);
}

std::string SettingValueText(std::size_t setting, const PickupValues& values) {
    if (setting < FloatSettingCount) return NumberText(values.floats[setting], SettingKind::Float);
    return ColorValueText(values.colors[setting - FloatSettingCount]);
}

bool SameSettingValue(std::size_t setting, const PickupValues& a, const PickupValues& b) {
    if (setting < FloatSettingCount) {
        return std::bit_cast<std::uint32_t>(a.floats[setting]) == std::bit_cast<std::uint32_t>(b.floats[setting]);
    }
    const PickupColorEntry& first = a.colors[setting - FloatSettingCount];
    const PickupColorEntry& second = b.colors[setting - FloatSettingCount];
    return first.channels == second.channels &&
           std::bit_cast<std::uint32_t>(first.value) == std::bit_cast<std::uint32_t>(second.value);
}
