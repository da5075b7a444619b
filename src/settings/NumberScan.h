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
// Overflow gives infinity, underflow a value towards zero. Also where the constant ends (0
// when there is none).
Scanned<double> ScanFloatPrefix(std::string_view text);
inline double ConvertFloatPrefix(std::string_view text) { return ScanFloatPrefix(text).value; }

// White space as the "C" locale's isspace knows it.
constexpr bool IsCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// A letter in lower case as the "C" locale's tolower gives it: ASCII letters only.
constexpr char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

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
    for (; p < text.size() && text[p] >= '0' && text[p] <= '9'; ++p) {
        magnitude = magnitude * 10u + std::uint32_t(text[p] - '0');
    }
    if (p == digits) return std::nullopt;
    const std::uint32_t value = negative ? 0u - magnitude : magnitude;
    return Scanned<std::int32_t>{static_cast<std::int32_t>(value), p};
}

// As one "%f" directive of ISO C sscanf at position `from`: skips white space, then reads
// the longest prefix of a floating constant. Empty when that prefix is not a whole
// constant ("1e", "0x", "-", "infin"), which is a matching failure. Rounds directly to float.
std::optional<Scanned<float>> ScanFloatField(std::string_view text, std::size_t from);
