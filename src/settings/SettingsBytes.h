// The bytes that shape a settings text for the plug-in's reader, for every reader and writer
// of that text that must cut it as the plug-in does.
#pragma once

#include <cstddef>
#include <string_view>

// What the plug-in reads of a line at a time: one read into a 256-byte line buffer.
inline constexpr std::size_t PieceLimit = 255;

// The byte at which the C runtime's text mode ends a file: nothing after it is read.
inline constexpr char CtrlZ = '\x1A';

// The bytes a key and a value are trimmed of, and which a blank piece holds only.
constexpr bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The bytes of `text` that the plug-in reads: those before the first Ctrl-Z.
constexpr std::string_view BytesRead(std::string_view text) { return text.substr(0, text.find(CtrlZ)); }
