#include "basis/FloatText.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "src/settings/NumberScan.h"

namespace {

// The plug-in converts to double and then narrows, so a text that rounds right as a float
// may still round elsewhere through the double: every candidate is read back its way.
bool ReadsBack(std::string_view text, float value) {
    return std::bit_cast<std::uint32_t>(static_cast<float>(ConvertFloatPrefix(text))) ==
           std::bit_cast<std::uint32_t>(value);
}

}  // namespace

std::string RoundTripText(float value) {
    char text[64];
    auto written = std::to_chars(text, text + sizeof text, value);
    if (ReadsBack({text, static_cast<std::size_t>(written.ptr - text)}, value)) {
        return {text, written.ptr};
    }
    for (int precision = 6; precision <= 12; ++precision) {
        written = std::to_chars(text, text + sizeof text, value, std::chars_format::general, precision);
        if (ReadsBack({text, static_cast<std::size_t>(written.ptr - text)}, value)) return {text, written.ptr};
    }
    // Exact in any case: the hexadecimal form.
    const bool negative = std::signbit(value);
    written = std::to_chars(text, text + sizeof text, negative ? -value : value, std::chars_format::hex);
    return (negative ? "-0x" : "0x") + std::string(text, written.ptr);
}

std::string BitsText(float value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(std::bit_cast<std::uint32_t>(value)));
    return text;
}
