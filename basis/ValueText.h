// Values as a player writes them for one setting, and as the settings writer puts them into
// the settings file: every text written here reads back to exactly the value meant, through
// the conversion the plug-in applies to that kind of setting.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "src/settings/PickupSettings.h"

// The shortest decimal text that the conversion of `kind` reads back to exactly `value`'s
// bits: for SettingKind::Float atof narrowed to float, for SettingKind::Color the "%f" of the
// colour scan. An optional "-", digits with at most one ".", and an optional exponent such as
// "e-7" or "e38"; never hexadecimal, "inf" or "nan". Negative zero gives "-0", infinity an
// overflowing decimal ("1e39", "-1e39"). NaN has no such text: it gives an empty string.
std::string ShortestDecimal(float value, SettingKind kind);

// The one text of a value of a setting of `kind`, as every tool shows it: ShortestDecimal's;
// for NaN, which no decimal gives, "nan" or "-nan", which the conversion of either kind reads
// back to the plug-in's NaN of that sign.
std::string NumberText(float value, SettingKind kind);

// The float's bits as "0x3FC00000".
std::string BitsText(float value);

// NumberText with the bits after it: "1.5 (0x3FC00000)".
std::string NumberAndBitsText(float value, SettingKind kind);

// A player's value, or what is wrong with it in plain words, with what to write instead.
template <class T>
struct ValueParse {
    std::optional<T> value;
    std::string problem;  // empty exactly when `value` holds
};

// A whole decimal number and nothing else: an optional sign, digits with at most one "." (at
// least one digit), an optional exponent (e or E, an optional sign, digits). Refused as well
// when the conversion of `kind` gives no ordinary float of it: infinity, or 0 or a denormal
// float from a number that is not 0.
ValueParse<float> ParseFloatValue(std::string_view text, SettingKind kind);

// A colour entry: four channels, whole numbers 0 to 255, and a number as ParseFloatValue takes
// it for SettingKind::Color, the five separated by spaces or tabs with none before or after;
// or "#RRGGBB", six hexadecimal digits for channels 0, 1 and 2, which keeps channel 3 and the
// number of `current`.
ValueParse<PickupColorEntry> ParseColorValue(std::string_view text, const PickupColorEntry& current);

// "c0 c1 c2 c3 number", the number as NumberText writes it for SettingKind::Color.
std::string ColorValueText(const PickupColorEntry& entry);

// The text of setting `setting`'s value (its index in PickupSettings) among `values`, as the
// settings file holds it: NumberText for a float, ColorValueText for a colour entry. The
// plug-in reads back every bit of any value it can take: an infinity from "1e39", a denormal
// from its shortest decimal, and its only two NaNs, the positive and the negative quiet NaN,
// from "nan" and "-nan".
std::string SettingValueText(std::size_t setting, const PickupValues& values);

// Whether setting `setting` has the same value in `a` and `b`, bit for bit: a NaN is the same
// NaN, and 0 is not -0.
bool SameSettingValue(std::size_t setting, const PickupValues& a, const PickupValues& b);
