// The value texts that the writer writes and every tool shows, against the plug-in's own
// conversions: each reads back to the very bits meant, and what the writer takes from a
// player the plug-in reads as the player meant.
#include "basis/ValueText.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "src/settings/NumberScan.h"

namespace {

std::uint32_t Bits(float value) { return std::bit_cast<std::uint32_t>(value); }
float FromBits(std::uint32_t bits) { return std::bit_cast<float>(bits); }

constexpr std::uint32_t FloatMax = 0x7F7FFFFF;
constexpr std::uint32_t FloatMin = 0x00800000;  // the smallest normal float
constexpr std::uint32_t Sign = 0x80000000;
// Its shortest text, 7.038531e-26, lies just below the midpoint to the next float; atof's
// double lands on that midpoint, and narrowing rounds it to the even neighbour 0x15AE43FE.
constexpr std::uint32_t DoubleRoundingValue = 0x15AE43FD;

// The plug-in's reading of a text for each kind, as bits; the colour scan must take the whole text.
std::uint32_t ReadBack(const std::string& text, SettingKind kind) {
    if (kind == SettingKind::Float) return Bits(static_cast<float>(ConvertFloatPrefix(text)));
    const auto scanned = ScanFloatField(text, 0);
    if (!scanned || scanned->end != text.size()) return Bits(NAN);
    return Bits(scanned->value);
}

// The written form: an optional "-", digits, an optional "." with digits, an optional "e",
// optional "-" and digits without a leading zero. Nothing else.
bool IsWrittenDecimal(std::string_view text) {
    std::size_t p = 0;
    const auto digits = [&] {
        const std::size_t from = p;
        while (p < text.size() && text[p] >= '0' && text[p] <= '9') ++p;
        return p - from;
    };
    if (p < text.size() && text[p] == '-') ++p;
    if (digits() == 0) return false;
    if (p < text.size() && text[p] == '.') {
        ++p;
        if (digits() == 0) return false;
    }
    if (p < text.size() && text[p] == 'e') {
        ++p;
        if (p < text.size() && text[p] == '-') ++p;
        if (p == text.size() || text[p] == '0' || digits() == 0) return false;
    }
    return p == text.size();
}

// std::to_chars's shortest text with the exponent written as the writer writes it.
std::string ToCharsShortest(float value) {
    std::array<char, 64> buffer;
    const auto written = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    std::string text(buffer.data(), written.ptr);
    if (const std::size_t mark = text.find('e'); mark != std::string::npos) {
        std::size_t digits = mark + 1;
        if (text[digits] == '+') text.erase(digits, 1);
        if (text[digits] == '-') ++digits;
        while (text[digits] == '0' && digits + 1 < text.size()) text.erase(digits, 1);
    }
    return text;
}

struct ShortestCase {
    float value;
    const char* floatText;
    const char* colorText;
};

const ShortestCase ShortestCases[] = {
    {2.0f, "2", "2"},
    {-22.0f, "-22", "-22"},
    {0.76f, "0.76", "0.76"},
    {1.2f, "1.2", "1.2"},
    {0.0f, "0", "0"},
    {-0.0f, "-0", "-0"},
    {0.0030566407f, "0.0030566407", "0.0030566407"},
    {0.001f, "0.001", "0.001"},  // as long as "1e-03": plain wins the tie
    {1e-4f, "1e-4", "1e-4"},     // "1e-04" is shorter than "0.0001"
    {1e-7f, "1e-7", "1e-7"},
    {1000.0f, "1000", "1000"},
    {100000.0f, "1e5", "1e5"},
    {123456.0f, "123456", "123456"},
    {16777216.0f, "16777216", "16777216"},
    {-3781731840.0f, "-3781731840", "-3781731840"},  // to_chars's closest digits of that length
    {1.5e10f, "1.5e10", "1.5e10"},
    {1e-40f, "1e-40", "1e-40"},  // a denormal
    {FromBits(1), "1e-45", "1e-45"},  // the smallest denormal
    {FLT_MIN, "1.1754944e-38", "1.1754944e-38"},
    {FLT_MAX, "3.4028235e38", "3.4028235e38"},
    {-FLT_MAX, "-3.4028235e38", "-3.4028235e38"},
    {INFINITY, "1e39", "1e39"},
    {-INFINITY, "-1e39", "-1e39"},
    {FromBits(DoubleRoundingValue), "7.0385307e-26", "7.038531e-26"},
};

TEST(ShortestDecimal, WritesTheShortestTextEachKindReadsBack) {
    for (const ShortestCase& c : ShortestCases) {
        const std::uint32_t bits = Bits(c.value);
        EXPECT_EQ(c.floatText, ShortestDecimal(c.value, SettingKind::Float)) << std::hex << bits;
        EXPECT_EQ(c.colorText, ShortestDecimal(c.value, SettingKind::Color)) << std::hex << bits;
        EXPECT_EQ(bits, ReadBack(c.floatText, SettingKind::Float)) << c.floatText;
        EXPECT_EQ(bits, ReadBack(c.colorText, SettingKind::Color)) << c.colorText;
    }
    // The colour kind's shorter text is one the float kind misreads.
    EXPECT_EQ(DoubleRoundingValue + 1, ReadBack("7.038531e-26", SettingKind::Float));
}

TEST(ShortestDecimal, GivesNothingForNaN) {
    EXPECT_EQ("", ShortestDecimal(NAN, SettingKind::Float));
    EXPECT_EQ("", ShortestDecimal(-NAN, SettingKind::Color));
}

TEST(ShortestDecimal, EveryRandomFloatReadsBackThroughEachKindAsADecimal) {
    std::mt19937 random(20240611);  // fixed: the same patterns on every run and platform
    constexpr int Count = 1'000'000;
    int checked = 0;
    while (checked < Count) {
        const std::uint32_t bits = static_cast<std::uint32_t>(random());
        const float value = FromBits(bits);
        if (std::isnan(value)) continue;
        ++checked;
        const std::string colorText = ShortestDecimal(value, SettingKind::Color);
        const std::string floatText = ShortestDecimal(value, SettingKind::Float);
        ASSERT_TRUE(IsWrittenDecimal(colorText)) << colorText;
        ASSERT_TRUE(IsWrittenDecimal(floatText)) << floatText;
        ASSERT_EQ(bits, ReadBack(colorText, SettingKind::Color)) << colorText;
        ASSERT_EQ(bits, ReadBack(floatText, SettingKind::Float)) << floatText;
        // The colour scan rounds as to_chars assumes, so its text is to_chars's own; the float
        // kind departs from that only where it misreads it.
        if (!std::isinf(value)) {
            ASSERT_EQ(ToCharsShortest(value), colorText) << std::hex << bits;
        }
        if (ReadBack(colorText, SettingKind::Float) == bits) {
            ASSERT_EQ(colorText, floatText) << std::hex << bits;
        }
    }
}

TEST(NumberText, EveryShownFloatReadsBackToItsBitsThroughEachKindsConversion) {
    std::vector<std::uint32_t> patterns = {0x00000000, 0x80000000, 0x00000001, 0x80000001, 0x007FFFFF, 0x00800000,
                                           0x7F7FFFFF, 0xFF7FFFFF, 0x7F800000, 0xFF800000, 0x7FC00000, 0xFFC00000,
                                           0x3B4851EC, 0x3F428F5C, 0x3F99999A, DoubleRoundingValue};
    // A spread over the whole range, every exponent and many mantissas.
    for (std::uint64_t bits = 0; bits < (std::uint64_t{1} << 32); bits += 4093) patterns.push_back(std::uint32_t(bits));
    std::size_t checked = 0;
    for (const std::uint32_t bits : patterns) {
        const float value = FromBits(bits);
        // The plug-in's conversions make only the two plain NaNs.
        if (std::isnan(value) && (bits & ~Sign) != 0x7FC00000) continue;
        for (const SettingKind kind : {SettingKind::Float, SettingKind::Color}) {
            const std::string text = NumberText(value, kind);
            ASSERT_EQ(bits, ReadBack(text, kind)) << text;
            // One formatter: wherever a decimal reads back, it is the writer's.
            if (!std::isnan(value)) {
                ASSERT_EQ(ShortestDecimal(value, kind), text) << std::hex << bits;
            }
        }
        ++checked;
    }
    EXPECT_GT(checked, 1000000u);
    EXPECT_EQ("1.5", NumberText(1.5f, SettingKind::Float));
    EXPECT_EQ("0.0030566407", NumberText(FromBits(0x3B4851EC), SettingKind::Color));
    EXPECT_EQ("-1e39", NumberText(-INFINITY, SettingKind::Float));
    EXPECT_EQ("nan", NumberText(FromBits(0x7FC00000), SettingKind::Float));
    EXPECT_EQ("-nan", NumberText(FromBits(0xFFC00000), SettingKind::Color));
    EXPECT_EQ("0x3FC00000", BitsText(1.5f));
    EXPECT_EQ("7.038531e-26 (0x15AE43FD)", NumberAndBitsText(FromBits(DoubleRoundingValue), SettingKind::Color));
}

struct FloatValueCase {
    const char* text;
    std::uint32_t bits;
};

const FloatValueCase AcceptedFloats[] = {
    {"2.5", 0x40200000},
    {"-0", Sign},
    {"1e-3", 0x3A83126F},
    {".5", 0x3F000000},
    {"5.", 0x40A00000},
    {"+3", 0x40400000},
    {"1E3", 0x447A0000},
    {"-2.5e+1", 0xC1C80000},
    {"0.0030566407", 0x3B4851EC},
    {"0e999", 0x00000000},
    {"-0.000e-999", Sign},
    {"3.4028235e38", FloatMax},
    {"1.1754944e-38", FloatMin},
    {"1.1754943e-38", FloatMin},  // below the smallest normal float, but rounds up to it
};

// A refused text, and how the problem begins: which of the reasons it gives.
struct RefusedCase {
    const char* text;
    std::string_view reason;
};

constexpr std::string_view Empty = "The value is empty:";
constexpr std::string_view Spaces = "Remove the spaces before and after";
constexpr std::string_view NotDecimal = "This is not a plain decimal number:";
constexpr std::string_view Comma = "Write a point for decimals, not a comma:";
constexpr std::string_view TooLarge = "The number is too large for the game:";
constexpr std::string_view TooSmall = "The number is too close to 0 for the game:";

const RefusedCase RefusedFloats[] = {
    {"", Empty},
    {" 2", Spaces},
    {"2 ", Spaces},
    {"\t2", Spaces},
    {"2,5", Comma},
    {"-,5", Comma},
    {"abc", NotDecimal},
    {"nan", NotDecimal},
    {"inf", NotDecimal},
    {"-infinity", NotDecimal},
    {"0x10", NotDecimal},
    {"1e", NotDecimal},
    {"1e+", NotDecimal},
    {"1.2.3", NotDecimal},
    {"1,2,3", NotDecimal},
    {"-", NotDecimal},
    {".", NotDecimal},
    {"e5", NotDecimal},
    {"--1", NotDecimal},
    {"+-1", NotDecimal},
    {"1.5f", NotDecimal},
    {"1e5.5", NotDecimal},
    {"2 5", NotDecimal},
    {"1e39", TooLarge},
    {"-1e39", TooLarge},
    {"3.4028236e38", TooLarge},  // past the midpoint between the largest float and 2^128
    {"1e-40", TooSmall},         // a denormal
    {"-1e-40", TooSmall},
    {"1e-46", TooSmall},  // 0
    {"1e-400", TooSmall},
};

TEST(ParseFloatValue, AcceptsWholeDecimalNumbersOfOrdinaryFloats) {
    for (const SettingKind kind : {SettingKind::Float, SettingKind::Color}) {
        for (const FloatValueCase& c : AcceptedFloats) {
            const ValueParse<float> parsed = ParseFloatValue(c.text, kind);
            ASSERT_TRUE(parsed.value.has_value()) << '"' << c.text << "\": " << parsed.problem;
            EXPECT_EQ(c.bits, Bits(*parsed.value)) << c.text;
            EXPECT_EQ("", parsed.problem) << c.text;
        }
    }
}

TEST(ParseFloatValue, ReadsTheTextThroughTheKindsConversion) {
    EXPECT_EQ(DoubleRoundingValue + 1, Bits(*ParseFloatValue("7.038531e-26", SettingKind::Float).value));
    EXPECT_EQ(DoubleRoundingValue, Bits(*ParseFloatValue("7.038531e-26", SettingKind::Color).value));
}

TEST(ParseFloatValue, RefusesWhatThePluginWouldMisreadAndSaysWhy) {
    for (const SettingKind kind : {SettingKind::Float, SettingKind::Color}) {
        for (const RefusedCase& c : RefusedFloats) {
            const ValueParse<float> parsed = ParseFloatValue(c.text, kind);
            EXPECT_FALSE(parsed.value.has_value()) << '"' << c.text << '"';
            EXPECT_TRUE(parsed.problem.starts_with(c.reason)) << '"' << c.text << "\": " << parsed.problem;
        }
    }
    EXPECT_EQ("Write a point for decimals, not a comma: 2.5 rather than 2,5.",
              ParseFloatValue("2,5", SettingKind::Float).problem);
}

struct ColorCase {
    const char* text;
    std::array<std::uint8_t, 4> channels;
    std::uint32_t valueBits;
};

// The entry before the change: the hexadecimal form keeps its channel3 and number.
constexpr PickupColorEntry Current{{1, 2, 3, 4}, 0.25f};

const ColorCase AcceptedColors[] = {
    {"255 128 0 0 1.0", {255, 128, 0, 0}, 0x3F800000},
    {"0 0 0 255 -2.5", {0, 0, 0, 255}, 0xC0200000},
    {"1\t2  3 \t4 .5", {1, 2, 3, 4}, 0x3F000000},
    {"007 0 0 0 1e-3", {7, 0, 0, 0}, 0x3A83126F},
    {"97 194 247 0 7.038531e-26", {97, 194, 247, 0}, DoubleRoundingValue},
    {"#FF8000", {255, 128, 0, 4}, 0x3E800000},
    {"#a0b1C2", {0xA0, 0xB1, 0xC2, 4}, 0x3E800000},
    {"#000000", {0, 0, 0, 4}, 0x3E800000},
};

constexpr std::string_view FieldCount = "A colour needs five numbers";
constexpr std::string_view Commas = "Separate the colour's numbers with spaces, not commas:";
constexpr std::string_view Number = "The number (the fifth field) is not right.";
constexpr std::string_view HexLength = "A colour starting with # needs exactly six hexadecimal digits:";
constexpr std::string_view HexDigits = "After # only the digits 0 to 9 and the letters A to F may follow:";

const RefusedCase RefusedColors[] = {
    {"", Empty},
    {" 1 2 3 4 1", Spaces},
    {"1 2 3 4 1 ", Spaces},
    {"255 128 0 1", FieldCount},
    {"255 128 0 0 1 1", FieldCount},
    {"FF8000", FieldCount},
    {"255,128,0,0,1", Commas},
    {"255, 128, 0, 0, 1", Commas},
    {"256 0 0 0 1", "channel0 is 256, but a channel is a whole number from 0 to 255:"},
    {"0 -1 0 0 1", "channel1 is -1,"},
    {"0 0 +1 0 1", "channel2 is +1,"},
    {"0 0 0 0x10 1", "channel3 is 0x10,"},
    {"1.0 2 3 4 1", "channel0 is 1.0,"},
    {"1 2 3 99999999999 1", "channel3 is 99999999999,"},
    {"1 2 3 4 nan", Number},
    {"1 2 3 4 1,5", "The number (the fifth field) is not right. Write a point for decimals, not a comma: 1.5"},
    {"1 2 3 4 1e39", Number},
    {"1 2 3 4 1e-40", Number},
    {"1 2 3 4 0x1p0", Number},
    {"1 2 3 4 1.0f", Number},
    {"#FFF", HexLength},
    {"#FF80000", HexLength},
    {"#FF8000 ", HexLength},
    {"#GG0000", HexDigits},
    {"# FF800", HexDigits},
};

TEST(ParseColorValue, AcceptsFiveFieldsOrHexadecimalChannels) {
    for (const ColorCase& c : AcceptedColors) {
        const ValueParse<PickupColorEntry> parsed = ParseColorValue(c.text, Current);
        ASSERT_TRUE(parsed.value.has_value()) << '"' << c.text << "\": " << parsed.problem;
        EXPECT_EQ(c.channels, parsed.value->channels) << c.text;
        EXPECT_EQ(c.valueBits, Bits(parsed.value->value)) << c.text;
        EXPECT_EQ("", parsed.problem) << c.text;
    }
}

TEST(ParseColorValue, RefusesAnythingElseAndSaysWhy) {
    for (const RefusedCase& c : RefusedColors) {
        const ValueParse<PickupColorEntry> parsed = ParseColorValue(c.text, Current);
        EXPECT_FALSE(parsed.value.has_value()) << '"' << c.text << '"';
        EXPECT_TRUE(parsed.problem.starts_with(c.reason)) << '"' << c.text << "\": " << parsed.problem;
    }
}

TEST(ColorValueText, WritesWhatTheColourScanReadsBack) {
    const PickupColorEntry entries[] = {
        {{255, 128, 0, 0}, 1.0f},
        {{97, 194, 247, 0}, FromBits(DoubleRoundingValue)},
        {{0, 0, 0, 255}, -0.0f},
        {{1, 2, 3, 4}, -std::numeric_limits<float>::quiet_NaN()},
        {{1, 2, 3, 4}, std::numeric_limits<float>::infinity()},
        {{1, 2, 3, 4}, std::numeric_limits<float>::denorm_min()},
    };
    const char* const texts[] = {"255 128 0 0 1", "97 194 247 0 7.038531e-26", "0 0 0 255 -0",
                                 "1 2 3 4 -nan", "1 2 3 4 1e39", "1 2 3 4 1e-45"};
    for (std::size_t i = 0; i < std::size(entries); ++i) {
        EXPECT_EQ(texts[i], ColorValueText(entries[i]));
        const PickupColorEntry read = ScanPickupColor(texts[i]);
        EXPECT_EQ(entries[i].channels, read.channels) << texts[i];
        EXPECT_EQ(Bits(entries[i].value), Bits(read.value)) << texts[i];
    }
}

}  // namespace
