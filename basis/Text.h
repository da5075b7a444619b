// Small pieces of wording and text that the tools share.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

bool EqualsIgnoringCase(std::string_view a, std::string_view b);
std::string AsciiLowered(std::string_view text);

// One byte as two upper-case hex digits: "0A".
std::string HexByte(unsigned value);

// A colour entry's four channels as the settings file writes them: "255 0 0 255".
std::string ChannelText(const std::array<std::uint8_t, 4>& channels);

// "line 7", or "line 7 (piece 2)" for a later piece of a line over 255 bytes.
std::string LineAndPiece(std::uint64_t line, std::uint32_t piece);

// Text in the encoding of the checker's paths (on Windows the ANSI code page) as UTF-8, for
// a page; natively the paths are UTF-8 already and stay as they are.
std::string Utf8FromPathText(const std::string& text);
