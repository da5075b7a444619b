#include "src/settings/NumberScan.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <charconv>
#include <limits>
#include <system_error>

// The exact decimal path below rounds once, in the precision of its type: no wider registers.
static_assert(FLT_EVAL_METHOD == 0, "float arithmetic must round to its own type (SSE, not x87)");

namespace {

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

constexpr bool IsHexDigit(char c) { return IsDigit(c) || (AsciiLower(c) >= 'a' && AsciiLower(c) <= 'f'); }

// How many characters at `at` match `word` case-insensitively, from its start.
std::size_t MatchWord(std::string_view text, std::size_t at, std::string_view word) {
    std::size_t n = 0;
    while (n < word.size() && at + n < text.size() && AsciiLower(text[at + n]) == word[n]) ++n;
    return n;
}

enum class FloatForm { None, Decimal, Hex, Infinity, NaN };

// One floating constant located in the text. strtod takes [begin, validEnd); scanf's
// input item is [begin, itemEnd), the longest prefix of any constant, which it accepts
// only when the two coincide.
struct FloatToken {
    std::size_t begin;
    std::size_t validEnd;
    std::size_t itemEnd;
    FloatForm form;
    bool negative;
    std::size_t bodyBegin;  // after the sign, and after "0x" for the hexadecimal form
};

// Scans digits of one kind; returns the end.
template <bool (*Digit)(char)>
std::size_t SkipDigits(std::string_view text, std::size_t at) {
    while (at < text.size() && Digit(text[at])) ++at;
    return at;
}

// Mantissa digits with an optional point, then an optional exponent introduced by one of
// `exponentMarks` with decimal digits. Updates the token's ends.
template <bool (*Digit)(char)>
void ScanMantissaAndExponent(std::string_view text, std::size_t at, std::string_view exponentMarks,
                             FloatToken& token) {
    std::size_t p = SkipDigits<Digit>(text, at);
    std::size_t digits = p - at;
    if (p < text.size() && text[p] == '.') {
        const std::size_t fraction = p + 1;
        p = SkipDigits<Digit>(text, fraction);
        digits += p - fraction;
    }
    token.itemEnd = p;
    if (digits == 0) return;  // "." or "0x." may still lead somewhere, but are not numbers
    token.validEnd = p;
    if (p < text.size() && (text[p] == exponentMarks[0] || text[p] == exponentMarks[1])) {
        std::size_t e = p + 1;
        if (e < text.size() && (text[e] == '+' || text[e] == '-')) ++e;
        const std::size_t exponentDigitsEnd = SkipDigits<IsDigit>(text, e);
        if (exponentDigitsEnd > e) {
            token.validEnd = token.itemEnd = exponentDigitsEnd;
        } else {
            token.itemEnd = e;  // "1e" or "1e+": a prefix only
        }
    }
}

FloatToken LocateFloat(std::string_view text, std::size_t from) {
    std::size_t p = from;
    while (p < text.size() && IsCSpace(text[p])) ++p;
    FloatToken token{p, p, p, FloatForm::None, false, p};
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
        token.negative = text[p] == '-';
        token.itemEnd = ++p;
    }
    token.bodyBegin = p;
    const bool numeral = p < text.size() && (IsDigit(text[p]) || text[p] == '.');

    if (const std::size_t inf = numeral ? 0 : MatchWord(text, p, "infinity"); inf > 0) {
        token.itemEnd = p + inf;
        if (inf >= 3) {
            token.form = FloatForm::Infinity;
            token.validEnd = p + (inf == 8 ? 8 : 3);
        }
        return token;
    }
    if (const std::size_t nan = numeral ? 0 : MatchWord(text, p, "nan"); nan > 0) {
        token.itemEnd = p + nan;
        if (nan < 3) return token;
        token.form = FloatForm::NaN;
        token.validEnd = p + 3;
        if (std::size_t q = p + 3; q < text.size() && text[q] == '(') {
            const auto sequence = [](char c) { return IsDigit(c) || c == '_' || (AsciiLower(c) >= 'a' && AsciiLower(c) <= 'z'); };
            q = static_cast<std::size_t>(std::find_if_not(text.begin() + q + 1, text.end(), sequence) - text.begin());
            if (q < text.size() && text[q] == ')') {
                token.validEnd = token.itemEnd = q + 1;
            } else {
                token.itemEnd = q;
            }
        }
        return token;
    }
    if (p + 1 < text.size() && text[p] == '0' && AsciiLower(text[p + 1]) == 'x') {
        // "0" alone is a number already; what follows "0x" decides whether it is more.
        token.form = FloatForm::Hex;
        token.validEnd = p + 1;
        token.bodyBegin = p + 2;
        const std::size_t zeroEnd = token.validEnd;
        ScanMantissaAndExponent<IsHexDigit>(text, p + 2, "pP", token);
        if (token.validEnd == zeroEnd) {
            token.form = FloatForm::Decimal;
            token.bodyBegin = p;
        }
        return token;
    }
    ScanMantissaAndExponent<IsDigit>(text, p, "eE", token);
    if (token.validEnd > token.begin) token.form = FloatForm::Decimal;
    return token;
}

// Whether a constant that the converter called out of range is too large (true) or too
// small (false). Only magnitudes far from 1 fall outside the range, so the sign of the
// power of its first significant digit decides.
bool Overflows(std::string_view body, bool hex) {
    const std::string_view mantissa = body.substr(0, body.find_first_of(hex ? "pP" : "eE"));
    const std::int64_t point = static_cast<std::int64_t>(std::min(mantissa.find('.'), mantissa.size()));
    const std::int64_t first = static_cast<std::int64_t>(mantissa.find_first_not_of("0."));
    // Digits before the point from the first significant one, or zeros after the point before it.
    std::int64_t power = (first < point ? point - first : point + 1 - first) * (hex ? 4 : 1);
    if (mantissa.size() + 1 < body.size()) {
        std::string_view exponent = body.substr(mantissa.size() + 1);
        if (exponent.front() == '+') exponent.remove_prefix(1);
        std::int64_t value = 0;  // beyond 64 bits, only the sign matters
        if (std::from_chars(exponent.data(), exponent.data() + exponent.size(), value).ec != std::errc{}) {
            value = exponent.front() == '-' ? -(std::int64_t{1} << 40) : std::int64_t{1} << 40;
        }
        power += std::clamp<std::int64_t>(value, -(std::int64_t{1} << 40), std::int64_t{1} << 40);
    }
    return power > 0;
}

// Every power of ten that a double holds exactly; a float holds those up to 10^10.
constexpr std::array<double, 23> ExactPowersOfTen{1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                  1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Digits with at most one point whose integer and power of ten are both exact in T (7 digits
// and 10^10 for float; 9 digits, which 32-bit code handles fastest, and 10^22 for double):
// one division then rounds as a full conversion would. Empty for any other body.
template <class T>
std::optional<T> ConvertShortDecimal(std::string_view body) {
    constexpr bool single = sizeof(T) == sizeof(float);
    const auto point = std::find(body.begin(), body.end(), '.');
    const std::size_t power = point == body.end() ? 0 : static_cast<std::size_t>(body.end() - point - 1);
    if (power > (single ? 10u : 22u)) return std::nullopt;
    std::int32_t mantissa = 0;
    for (const char c : body) {
        if (c == '.') continue;
        // An exponent, or more digits than T holds: the full conversion takes it.
        if (!IsDigit(c) || mantissa >= (single ? 1'000'000 : 100'000'000)) return std::nullopt;
        mantissa = mantissa * 10 + (c - '0');
    }
    return static_cast<T>(mantissa) / static_cast<T>(ExactPowersOfTen[power]);
}

template <class T>
T ConvertToken(std::string_view text, const FloatToken& token) {
    using Limits = std::numeric_limits<T>;
    if (token.form == FloatForm::None) return 0;
    T magnitude = token.form == FloatForm::Infinity ? Limits::infinity() : Limits::quiet_NaN();
    if (token.form == FloatForm::Decimal || token.form == FloatForm::Hex) {
        const bool hex = token.form == FloatForm::Hex;
        const std::string_view body = text.substr(token.bodyBegin, token.validEnd - token.bodyBegin);
        if (const auto exact = hex ? std::nullopt : ConvertShortDecimal<T>(body)) {
            return token.negative ? -*exact : *exact;
        }
        const auto result = std::from_chars(body.data(), body.data() + body.size(), magnitude,
                                            hex ? std::chars_format::hex : std::chars_format::general);
        if (result.ec == std::errc::result_out_of_range) {
            magnitude = Overflows(body, hex) ? Limits::infinity() : T(0);
        }
    }
    return token.negative ? -magnitude : magnitude;
}

}  // namespace

Scanned<double> ScanFloatPrefix(std::string_view text) {
    const FloatToken token = LocateFloat(text, 0);
    return {ConvertToken<double>(text, token), token.form == FloatForm::None ? 0 : token.validEnd};
}

std::optional<Scanned<float>> ScanFloatField(std::string_view text, std::size_t from) {
    const FloatToken token = LocateFloat(text, from);
    if (token.form == FloatForm::None || token.itemEnd != token.validEnd) return std::nullopt;
    return Scanned<float>{ConvertToken<float>(text, token), token.validEnd};
}
