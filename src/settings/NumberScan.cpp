#include "src/settings/NumberScan.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <system_error>

namespace {

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

constexpr char Lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

constexpr bool IsHexDigit(char c) { return IsDigit(c) || (Lower(c) >= 'a' && Lower(c) <= 'f'); }

// How many characters at `at` match `word` case-insensitively, from its start.
std::size_t MatchWord(std::string_view text, std::size_t at, std::string_view word) {
    std::size_t n = 0;
    while (n < word.size() && at + n < text.size() && Lower(text[at + n]) == word[n]) ++n;
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
    if (p < text.size() && exponentMarks.find(text[p]) != std::string_view::npos) {
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
        std::size_t q = p + 3;
        if (q < text.size() && text[q] == '(') {
            ++q;
            while (q < text.size() && (IsDigit(text[q]) || text[q] == '_' ||
                                       (Lower(text[q]) >= 'a' && Lower(text[q]) <= 'z'))) {
                ++q;
            }
            if (q < text.size() && text[q] == ')') {
                token.validEnd = token.itemEnd = q + 1;
            } else {
                token.itemEnd = q;
            }
        }
        return token;
    }
    if (p + 1 < text.size() && text[p] == '0' && Lower(text[p + 1]) == 'x') {
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
// power of the first significant digit decides.
bool Overflows(std::string_view body, bool hex) {
    const std::int64_t digitWeight = hex ? 4 : 1;  // a hex digit is four binary places
    std::int64_t power = 0;
    bool significant = false;
    bool afterPoint = false;
    std::size_t p = 0;
    for (; p < body.size(); ++p) {
        const char c = body[p];
        if (c == '.') {
            afterPoint = true;
        } else if (hex ? IsHexDigit(c) : IsDigit(c)) {
            significant = significant || c != '0';
            if (significant && !afterPoint) power += digitWeight;
            if (!significant && afterPoint) power -= digitWeight;
        } else {
            break;
        }
    }
    if (++p < body.size()) {  // past the exponent mark
        const bool negative = body[p] == '-';
        if (body[p] == '+' || body[p] == '-') ++p;
        std::int64_t exponent = 0;
        for (; p < body.size() && IsDigit(body[p]); ++p) {
            exponent = std::min<std::int64_t>(exponent * 10 + (body[p] - '0'), std::int64_t{1} << 40);
        }
        power += negative ? -exponent : exponent;
    }
    return power > 0;
}

template <class T>
T ConvertToken(std::string_view text, const FloatToken& token) {
    using Limits = std::numeric_limits<T>;
    if (token.form == FloatForm::None) return 0;
    T magnitude = token.form == FloatForm::Infinity ? Limits::infinity() : Limits::quiet_NaN();
    if (token.form == FloatForm::Decimal || token.form == FloatForm::Hex) {
        const bool hex = token.form == FloatForm::Hex;
        const std::string_view body = text.substr(token.bodyBegin, token.validEnd - token.bodyBegin);
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
