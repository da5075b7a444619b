#include "src/settings/NumberScan.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

namespace {

constexpr double Inf = std::numeric_limits<double>::infinity();

struct AtofCase {
    const char* text;
    double expected;
};

// Bitwise comparison, so that -0 differs from 0; any NaN matches a NaN of the same sign.
void ExpectSameDouble(double expected, double actual, const std::string& text) {
    if (std::isnan(expected)) {
        EXPECT_TRUE(std::isnan(actual)) << '"' << text << '"';
        EXPECT_EQ(std::signbit(expected), std::signbit(actual)) << '"' << text << '"';
    } else {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(expected), std::bit_cast<std::uint64_t>(actual))
            << '"' << text << "\" gave " << actual << ", expected " << expected;
    }
}

const AtofCase AtofCases[] = {
    {"1.5", 1.5},
    {" \t\n\v\f\r1.5xyz", 1.5},
    {"1,5", 1.0},
    {"", 0.0},
    {"abc", 0.0},
    {"+2", 2.0},
    {"-0", -0.0},
    {"- 1", 0.0},
    {"--1", 0.0},
    {".5", 0.5},
    {"5.", 5.0},
    {".", 0.0},
    {"1.e2", 100.0},
    {"1e", 1.0},
    {"1e+", 1.0},
    {"1E-2x", 0.01},
    {"0x1p3", 8.0},
    {"0X1.8P1", 3.0},
    {"-0x.8", -0.5},
    {"0x", 0.0},
    {"0x.p1", 0.0},
    {"0xg", 0.0},
    {"0x1p", 1.0},
    {"0x1p-", 1.0},
    {"-inf", -Inf},
    {"INFINITY", Inf},
    {"infinit", Inf},
    {"in", 0.0},
    {"nan", std::numeric_limits<double>::quiet_NaN()},
    {"-NaN(chars_09)", -std::numeric_limits<double>::quiet_NaN()},
    {"nan(unclosed", std::numeric_limits<double>::quiet_NaN()},
    {"1e400", Inf},
    {"-1e400", -Inf},
    {"1e-400", 0.0},
    {"-1e-400", -0.0},
    {"0.000001e-320", 0.0},
    {"4.9e-324", 4.9e-324},
    {"0x1p-1080", 0.0},
    {"0x1p2000", Inf},
    {"1e99999999999999999999", Inf},
    {"123456789012345678901234567890", 123456789012345678901234567890.0},
    {"0.0030566407", 0.0030566407},
    // Either side of the short exact path: nine digits and 10^22, then one more of each.
    {"999999999", 999999999.0},
    {"1000000000", 1000000000.0},
    {"0.0000000000000000000001", 1e-22},
    {"0.00000000000000000000001", 1e-23},
    {"000000000000000000001.5", 1.5},
    {"-0.000", -0.0},
    {"0.1", 0.1},
    {"12345.678901", 12345.678901},
};

TEST(FloatConversion, ReadsTheLongestConstantAsAtofDoes) {
    for (const AtofCase& c : AtofCases) ExpectSameDouble(c.expected, ConvertFloatPrefix(c.text), c.text);
}

#ifndef _WIN32
// glibc's strtod in the "C" locale is a faithful ISO C reference here.
TEST(FloatConversion, AgreesWithTheCLibraryInTheCLocale) {
    for (const AtofCase& c : AtofCases) ExpectSameDouble(std::strtod(c.text, nullptr), ConvertFloatPrefix(c.text), c.text);
}
#endif

TEST(FloatConversion, NarrowsTheDoubleResultToFloatLikeAtof) {
    // Exactly halfway between two floats once rounded to double: ties to even.
    EXPECT_EQ(0x3F800002u, std::bit_cast<std::uint32_t>(static_cast<float>(ConvertFloatPrefix("1.00000017881393432617187499"))));
    EXPECT_EQ(0x3B4851ECu, std::bit_cast<std::uint32_t>(static_cast<float>(ConvertFloatPrefix("0.0030566407"))));
}

struct FloatFieldCase {
    const char* text;
    bool matches;
    float expected;
    std::size_t end;
};

TEST(FloatField, AcceptsOnlyAWholeConstantAsScanfDoes) {
    const float inf = std::numeric_limits<float>::infinity();
    const FloatFieldCase cases[] = {
        {"2.0", true, 2.0f, 3},
        {"  2.0 rest", true, 2.0f, 5},
        {"1.5,7", true, 1.5f, 3},
        {"2,5", true, 2.0f, 1},
        {"0x1p3", true, 8.0f, 5},
        {"-inf", true, -inf, 4},
        {"infinity!", true, inf, 8},
        {"0.3", true, 0.3f, 3},
        {"9999999", true, 9999999.0f, 7},
        {"16777217", true, 16777216.0f, 8},  // a tie past the short exact path: to even
        {"0.0000000001", true, 1e-10f, 12},
        {"0.00000000001", true, 1e-11f, 13},
        {"1e", false, 0, 0},
        {"100ergs", false, 0, 0},
        {"1e+", false, 0, 0},
        {"0x", false, 0, 0},
        {"0x1p", false, 0, 0},
        {"-", false, 0, 0},
        {".", false, 0, 0},
        {"infin", false, 0, 0},
        {"nan(", false, 0, 0},
        {"", false, 0, 0},
        {"   ", false, 0, 0},
        {"red", false, 0, 0},
        {"1e-50", true, 0.0f, 5},
        {"-1e50", true, -inf, 5},
    };
    for (const FloatFieldCase& c : cases) {
        const auto scanned = ScanFloatField(c.text, 0);
        ASSERT_EQ(c.matches, scanned.has_value()) << '"' << c.text << '"';
        if (!scanned) continue;
        EXPECT_EQ(std::bit_cast<std::uint32_t>(c.expected), std::bit_cast<std::uint32_t>(scanned->value)) << '"' << c.text << '"';
        EXPECT_EQ(c.end, scanned->end) << '"' << c.text << '"';
    }
}

TEST(FloatField, RoundsStraightToFloatAsStrtofDoes) {
    const auto scanned = ScanFloatField("1.00000017881393432617187499", 0);
    ASSERT_TRUE(scanned.has_value());
    EXPECT_EQ(0x3F800001u, std::bit_cast<std::uint32_t>(scanned->value));
}

TEST(FloatField, StartsWhereTheScanStands) {
    const auto scanned = ScanFloatField("9 9 9 9 0.25", 7);
    ASSERT_TRUE(scanned.has_value());
    EXPECT_EQ(0.25f, scanned->value);
    EXPECT_EQ(12u, scanned->end);
}

struct IntFieldCase {
    const char* text;
    bool matches;
    std::int32_t expected;
    std::size_t end;
};

TEST(IntField, ReadsASignedDecimalNumberAsScanfDoes) {
    const IntFieldCase cases[] = {
        {"255", true, 255, 3},
        {" \t-1", true, -1, 4},
        {"+7", true, 7, 2},
        {"12abc", true, 12, 2},
        {"007", true, 7, 3},
        {"-", false, 0, 0},
        {"+ 5", false, 0, 0},
        {"", false, 0, 0},
        {"x1", false, 0, 0},
        {"0x10", true, 0, 1},
        // Beyond 32 bits: the value modulo 2^32.
        {"4294967296", true, 0, 10},
        {"4294967553", true, 257, 10},
        {"99999999999999999999", true, 1661992959, 20},
        {"-4294967297", true, -1, 11},
    };
    for (const IntFieldCase& c : cases) {
        const auto scanned = ScanIntField(c.text, 0);
        ASSERT_EQ(c.matches, scanned.has_value()) << '"' << c.text << '"';
        if (!scanned) continue;
        EXPECT_EQ(c.expected, scanned->value) << '"' << c.text << '"';
        EXPECT_EQ(c.end, scanned->end) << '"' << c.text << '"';
    }
}

}  // namespace
