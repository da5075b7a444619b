// The settings file: plain "key = value" lines, no sections, "#" and ";" comments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <memory_resource>
#include <optional>
#include <string>
#include <string_view>

// What a piece of a line holds.
enum class PieceKind : std::uint8_t {
    Entry,     // "key = value"
    Blank,     // nothing but blanks before its end
    Comment,   // "#" or ";" first after the blanks
    NoEquals,  // text without "=", section headers included
};

// How a piece ended.
enum class PieceEnd : std::uint8_t {
    LineFeed,   // its line's LF, the last byte of the piece
    Limit,      // 255 bytes without an LF: the rest of the line comes as further pieces
    Nul,        // a NUL ended its text; the piece still ran on, unread, to one of the others
    CtrlZ,      // a Ctrl-Z inside the piece: nothing after it is read
    EndOfText,  // the text ran out
};

// One read of a 256-byte line buffer: at most 255 bytes of a line, through its LF, as the
// C runtime's text mode presents them (CR LF as one LF, a lone CR kept, Ctrl-Z ending the
// text). The views last only as long as the call that is handed the piece.
struct SettingsPiece {
    std::uint64_t line;   // physical line from 1; the pieces of a long line share it
    std::uint32_t piece;  // from 1 within its line
    PieceKind kind;
    PieceEnd end;
    std::string_view text;   // the piece's bytes before its line end or a NUL
    std::string_view key;    // an Entry's key, its blanks trimmed; empty otherwise
    std::string_view value;  // an Entry's value, its blanks and line-end bytes trimmed
};

// Fills at most `capacity` bytes at `buffer` with a text's next raw bytes; 0 when done.
using SettingsSource = std::function<std::size_t(char* buffer, std::size_t capacity)>;

// Hands every piece of the text that `source` delivers to `onPiece`, in order. Memory stays
// that of one buffer of a few KiB, whatever the length of the text.
void ReadSettingsPieces(const SettingsSource& source,
                        const std::function<void(const SettingsPiece&)>& onPiece);

// An ordered map from key to value, both the file's bytes as they stand. Keys compare
// exactly, byte by byte as unsigned values, a prefix first; a later entry with the same key
// replaces the earlier one and reuses its value's storage. Entries live in an arena of the
// map's own, so it grows with the entries kept, never with the text read.
class SettingsMap {
public:
    SettingsMap();
    SettingsMap(SettingsMap&&) noexcept = default;  // the entries move with their arena

    void store(std::string_view key, std::string_view value);

    // The value under exactly `key`, if there is one.
    std::optional<std::string_view> lookup(std::string_view key) const;

    auto begin() const { return entries.begin(); }
    auto end() const { return entries.end(); }
    std::size_t size() const { return entries.size(); }

private:
    std::unique_ptr<std::pmr::monotonic_buffer_resource> arena;
    std::pmr::map<std::pmr::string, std::pmr::string, std::less<>> entries;
};

// The bytes of `text`, which must outlive the source, as a source.
SettingsSource TextSource(std::string_view text);

// Hands every piece of the file at `path` to `onPiece`: a file that cannot be opened or
// read, or a folder, has none. Nothing is reported.
void ReadSettingsFilePieces(const char* path, const std::function<void(const SettingsPiece&)>& onPiece);

// The entries of the file at `path`, or of a file's raw bytes held in memory.
SettingsMap ReadSettingsFile(const char* path);
SettingsMap ParseSettingsText(std::string_view fileBytes);

// The value under `key` converted as atof does ("." as decimal point whatever the
// locale), narrowed to float; `defaultValue` when the key is absent, 0 when the value is
// no number.
float GetFloatSetting(const SettingsMap& settings, const char* key, float defaultValue);
