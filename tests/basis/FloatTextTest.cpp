// The printed floats: every text that the report shows for a value reads back to its bits
// through the plug-in's own conversion.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "basis/FloatText.h"
#include "src/settings/NumberScan.h"

namespace {

std::uint32_t ReadBack(const std::string& text) {
    return std::bit_cast<std::uint32_t>(static_cast<float>(ConvertFloatPrefix(text)));
}

TEST(RoundTripText, EveryPrintedFloatReadsBackToItsBitsThroughThePluginsConversion) {
    std::vector<std::uint32_t> patterns = {0x00000000, 0x80000000, 0x00000001, 0x80000001, 0x007FFFFF, 0x00800000,
                                           0x7F7FFFFF, 0xFF7FFFFF, 0x7F800000, 0xFF800000, 0x7FC00000, 0xFFC00000,
                                           0x3B4851EC, 0x3F428F5C, 0x3F99999A};
    // A spread over the whole range, every exponent and many mantissas.
    for (std::uint64_t bits = 0; bits < (std::uint64_t{1} << 32); bits += 4093) patterns.push_back(std::uint32_t(bits));
    std::size_t checked = 0;
    for (const std::uint32_t bits : patterns) {
        const float value = std::bit_cast<float>(bits);
        // The plug-in's conversion makes only the two plain NaNs.
        if (std::isnan(value) && (bits & 0x7FFFFFFF) != 0x7FC00000) continue;
        const std::string text = RoundTripText(value);
        ASSERT_EQ(bits, ReadBack(text)) << text;
        ++checked;
    }
    EXPECT_GT(checked, 1000000u);
    EXPECT_EQ("1.5", RoundTripText(1.5f));
    EXPECT_EQ("0.0030566407", RoundTripText(std::bit_cast<float>(0x3B4851ECu)));
    EXPECT_EQ("-inf", RoundTripText(-INFINITY));
    EXPECT_EQ("0x3FC00000", BitsText(1.5f));
}


}  // namespace
