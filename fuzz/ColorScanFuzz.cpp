// Feeds arbitrary bytes to the colour scan, "%d %d %d %d %f" into an entry preset to
// 0, 0, 0, 0 and 1.0, and checks it field by field against the C library: each integer
// against glibc's sscanf "%d" where glibc's value is exact (it saturates beyond 64 bits),
// else against the number's own digits modulo 2^32; the float against strtof at the same
// place, a match being a longest prefix that forms a whole constant, as ISO C reads it
// (glibc's sscanf accepts "1e" and "nan(" as numbers, so it is no judge there).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "src/settings/NumberScan.h"
#include "src/settings/PickupSettings.h"

namespace {

void Check(bool condition, const char* what, std::string_view input) {
    if (!condition) {
        std::fprintf(stderr, "broken: %s, for the value \"%.*s\"\n", what, static_cast<int>(input.size()), input.data());
        std::abort();
    }
}

bool SameFloat(float a, float b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b);
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool SameEntry(const PickupColorEntry& a, const PickupColorEntry& b) {
    return a.channels == b.channels && SameFloat(a.value, b.value);
}

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

constexpr bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// The length of the longest prefix of `s` that some floating constant of strtod's subject
// sequence begins with: what "%f" reads before it either converts or fails to match.
std::size_t LongestConstantPrefix(std::string_view s) {
    const auto at = [&](std::size_t i) { return i < s.size() ? s[i] : '\0'; };
    std::size_t p = 0;
    if (at(p) == '+' || at(p) == '-') ++p;
    const auto word = [&](std::size_t from, std::string_view lower) {
        std::size_t k = 0;
        while (k < lower.size() && AsciiLower(at(from + k)) == lower[k]) ++k;
        return k;
    };
    if (AsciiLower(at(p)) == 'i') return p + word(p, "infinity");
    if (AsciiLower(at(p)) == 'n') {
        const std::size_t k = word(p, "nan");
        if (k < 3 || at(p + 3) != '(') return p + k;
        std::size_t q = p + 4;
        while (IsDigit(at(q)) || (AsciiLower(at(q)) >= 'a' && AsciiLower(at(q)) <= 'z') || at(q) == '_') ++q;
        return at(q) == ')' ? q + 1 : q;
    }
    const bool hex = at(p) == '0' && AsciiLower(at(p + 1)) == 'x';
    const auto digit = hex ? IsHexDigit : IsDigit;
    std::size_t q = hex ? p + 2 : p;
    bool digits = false;
    for (; digit(at(q)); ++q) digits = true;
    if (at(q) == '.') {
        for (++q; digit(at(q)); ++q) digits = true;
    }
    if (!digits) return q;
    if (AsciiLower(at(q)) != (hex ? 'p' : 'e')) return q;
    std::size_t r = q + 1;
    if (at(r) == '+' || at(r) == '-') ++r;
    while (IsDigit(at(r))) ++r;
    return r;
}

// The integer whose text is `digits` (an optional sign, then decimal digits) modulo 2^32,
// and whether it lies within glibc's long, where its "%d" is exact modulo 2^32.
struct IntReference {
    std::uint32_t modulo;
    bool withinLong;
};

IntReference ReadInt(std::string_view text) {
    std::size_t p = 0;
    while (p < text.size() && IsCSpace(text[p])) ++p;
    const bool negative = p < text.size() && text[p] == '-';
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) ++p;
    while (p + 1 < text.size() && text[p] == '0') ++p;  // leading zeros weigh nothing
    const std::string_view digits = text.substr(p);
    std::uint64_t modulo = 0;
    for (const char c : digits) modulo = (modulo * 10 + std::uint64_t(c - '0')) % (std::uint64_t(1) << 32);
    const std::string_view limit = negative ? "9223372036854775808" : "9223372036854775807";
    const bool withinLong = digits.size() < limit.size() || (digits.size() == limit.size() && digits <= limit);
    const std::uint32_t value = static_cast<std::uint32_t>(modulo);
    return {negative ? 0u - value : value, withinLong};
}

// What "%d %d %d %d %f" must give for `text` (no NUL in it), from the C library.
PickupColorEntry ReferenceScan(const std::string& text) {
    PickupColorEntry entry{{0, 0, 0, 0}, 1.0f};
    const char* p = text.c_str();
    for (std::uint8_t& channel : entry.channels) {
        int value = 0;
        int used = 0;
        if (std::sscanf(p, "%d%n", &value, &used) != 1) return entry;
        const IntReference reference = ReadInt(std::string_view(p, static_cast<std::size_t>(used)));
        if (reference.withinLong) {
            Check(static_cast<std::uint32_t>(value) == reference.modulo, "glibc's %d is not the number modulo 2^32", text);
        }
        channel = static_cast<std::uint8_t>(reference.modulo);
        p += used;
    }
    while (IsCSpace(*p)) ++p;
    char* end = nullptr;
    const float value = std::strtof(p, &end);
    const auto read = static_cast<std::size_t>(end - p);
    if (read > 0 && read == LongestConstantPrefix(p)) entry.value = value;
    return entry;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const PickupColorEntry scanned = ScanPickupColor(text);

    // A value reaches the scan without NUL (it ends a line's text); the C library stops at one.
    const std::string terminated(text.substr(0, text.find('\0')));
    Check(SameEntry(scanned, ScanPickupColor(terminated)), "a NUL does not end the value", terminated);
    Check(SameEntry(ReferenceScan(terminated), scanned), "the colour scan differs from the C library", terminated);

    // Each integer field ends where glibc's "%d" ends.
    if (const auto field = ScanIntField(text, 0)) {
        int value = 0;
        int used = 0;
        Check(std::sscanf(terminated.c_str(), "%d%n", &value, &used) == 1, "an int field glibc does not read", terminated);
        Check(field->end == static_cast<std::size_t>(used), "an int field ends elsewhere than glibc's", terminated);
    }
    return 0;
}
