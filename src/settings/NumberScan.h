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

// As one "%f" directive of ISO C sscanf at position `from`: skips white space, then reads
// the longest prefix of a floating constant. Empty when that prefix is not a whole
// constant ("1e", "0x", "-", "infin"), which is a matching failure. Rounds directly to float.
std::optional<Scanned<float>> ScanFloatField(std::string_view text, std::size_t from);

// As one "%d" directive of ISO C sscanf at position `from`. A number beyond the range of a
// 32-bit integer gives its value modulo 2^32, so that its low bits are still its own.
std::optional<Scanned<std::int32_t>> ScanIntField(std::string_view text, std::size_t from);

// White space as the "C" locale's isspace knows it.
constexpr bool IsCSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
