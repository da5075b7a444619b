#include "basis/Text.h"

#include <algorithm>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#endif

#include "src/settings/NumberScan.h"

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

std::string AsciiLowered(std::string_view text) {
    std::string lowered(text);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(), AsciiLower);
    return lowered;
}

std::string HexByte(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", value & 0xFFu);
    return text;
}

std::string ChannelText(const std::array<std::uint8_t, 4>& channels) {
    std::string text;
    for (const std::uint8_t c : channels) text += (text.empty() ? "" : " ") + std::to_string(c);
    return text;
}

std::string LineAndPiece(std::uint64_t line, std::uint32_t piece) {
    std::string where = "line " + std::to_string(line);
    if (piece > 1) where += " (piece " + std::to_string(piece) + ")";
    return where;
}

std::string Utf8FromPathText(const std::string& text) {
#ifdef _WIN32
    const auto size = static_cast<int>(text.size());
    const int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    if (wide <= 0) return text;
    std::wstring utf16(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), size, utf16.data(), wide);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return text;
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, utf8.data(), bytes, nullptr, nullptr);
    return utf8;
#else
    return text;
#endif
}
