// Number reading for settings values, independent of the process locale: "." is always
// the decimal separator, whatever locale the host has set in the shared C runtime.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// Where a scan stopped, and what it read.
template <class T>
struct Scanned {
    T value;
    std::size_t end;  // index just past the characters read
};

// As ISO C atof: skips leading white space, converts the longest prefix that forms a
// decimal, hexadecimal, infinity or NaN constant, ignores the rest; 0 when there is none.
// Overflow gives infinity, underflow a value towards zero.
double ConvertFloatPrefix(std::string_view text);


// White space as the "C" locale's isspace knows it.
constexpr bool IsCSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// As one "%d" directive of ISO C sscanf at position `from`. A number beyond the range of a
// 32-bit integer gives its value modulo 2^32, so that its low bits are still its own.
// Inline: a colour value takes four of them.
inline std::optional<Scanned<std::int32_t>> ScanIntField(std::string_view text, std::size_t from) {
    std::size_t p = from;
    while (p < text.size() && IsCSpace(text[p])) ++p;
    bool negative = false;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
    const std::size_t digits = p;
    std::uint32_t magnitude = 0;  // wraps: only the value modulo 2^32 is kept
    for (; p < text.size() && text[p] >= '0' && text[p] <= '9'; ++p) magnitude = magnitude * 10u + std::uint32_t(text[p] - '0');
    if (p == digits) return std::nullopt;
    const std::uint32_t value = negative ? 0u - magnitude : magnitude;
    return Scanned<std::int32_t>{static_cast<std::int32_t>(value), p};
}

// ScanFloatField for every form; see there.
std::optional<Scanned<float>> ScanGeneralFloatField(std::string_view text, std::size_t from);

// As one "%f" directive of ISO C sscanf at position `from`: skips white space, then reads
// the longest prefix of a floating constant. Empty when that prefix is not a whole
// constant ("1e", "0x", "-", "infin"), which is a matching failure. Rounds directly to float.
inline std::optional<Scanned<float>> ScanFloatField(std::string_view text, std::size_t from) {
    // Most colour values end in a plain decimal such as "1.0": at most 7 digits with at
    // most one point, and nothing after them that could continue a constant. Both the
    // digits and the power of ten are exact floats, so one division rounds as the general
    // conversion would; that is done inline, the rest out of line.
    constexpr float PowersOfTen[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f};
    constexpr auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t p = from;
    while (p < text.size() && IsCSpace(text[p])) ++p;
    const bool negative = p < text.size() && text[p] == '-';
    if (p < text.size() && (text[p] == '-' || text[p] == '+')) ++p;
    std::uint32_t mantissa = 0;
    int digits = 0;
    int scale = -1;  // digits after the point, once there is one
    for (; p < text.size() && digits <= 7; ++p) {
        const char c = text[p];
        if (isDigit(c)) {
            mantissa = mantissa * 10 + std::uint32_t(c - '0');
            digits += 1;
            scale += scale >= 0 ? 1 : 0;
        } else if (c == '.' && scale < 0) {
            scale = 0;
        } else {
            break;
        }
    }
    const bool continues = p < text.size() && (text[p] == '.' || text[p] == 'e' || text[p] == 'E' ||
                                               text[p] == 'x' || text[p] == 'X' || isDigit(text[p]));
    if (digits == 0 || digits > 7 || continues) return ScanGeneralFloatField(text, from);
    const float magnitude = static_cast<float>(mantissa) / PowersOfTen[scale > 0 ? scale : 0];
    return Scanned<float>{negative ? -magnitude : magnitude, p};
}
