// What the plug-in makes of a settings text: a verdict for every piece of it that the
// plug-in reads, and the values it then writes into the game. Portable: no file system,
// no Windows; the text comes through the same source type as the plug-in's reader.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "src/settings/PickupSettings.h"
#include "src/settings/SettingsFile.h"

enum class Finding : std::uint8_t {
    Blank,
    Comment,
    Ignored,
    Sets,
    HarmlessByteOrderMark,
    Replaced,
    UnknownKey,
    NotANumber,
    StopsEarly,
    TextAfterNumber,
    DecimalComma,
    ChannelWraps,
    CutAt255,
    NulByte,
    AfterCtrlZ,
    ByteOrderMark,
    MissingEquals,
    NotText,
    NotFinite,
    TooSmall,
    Hexadecimal,
};

// What is known of each kind of finding: the short name the report shows ("decimal comma"),
// and whether it warns or only says what a piece is.
struct FindingRow {
    Finding kind;
    std::string_view label;
    bool warning;
};

// Every kind, in the order of Finding.
inline constexpr auto Findings = std::to_array<FindingRow>({
    {Finding::Blank, "blank", false},
    {Finding::Comment, "comment", false},
    {Finding::Ignored, "ignored", false},  // no "="
    {Finding::Sets, "sets", false},
    // Before a comment or blank line, where nothing is lost.
    {Finding::HarmlessByteOrderMark, "byte-order mark, harmless", false},
    {Finding::Replaced, "replaced", true},
    {Finding::UnknownKey, "unknown key", true},
    {Finding::NotANumber, "not a number", true},
    {Finding::StopsEarly, "stops early", true},
    {Finding::TextAfterNumber, "text after the number", true},
    {Finding::DecimalComma, "decimal comma", true},
    {Finding::ChannelWraps, "channel out of 0-255", true},
    {Finding::CutAt255, "line over 255 bytes", true},
    {Finding::NulByte, "NUL byte", true},
    {Finding::AfterCtrlZ, "after Ctrl-Z", true},
    {Finding::ByteOrderMark, "byte-order mark", true},
    {Finding::MissingEquals, "missing \"=\"", true},
    {Finding::NotText, "not a text file", true},
    {Finding::NotFinite, "infinity or NaN", true},
    {Finding::TooSmall, "too small", true},      // a number other than 0 that becomes 0 or a denormal
    {Finding::Hexadecimal, "hexadecimal", true},  // read as a hexadecimal number
});
inline constexpr std::size_t FindingCount = Findings.size();

constexpr bool EveryFindingInItsRow() {
    for (std::size_t i = 0; i < Findings.size(); ++i) {
        if (static_cast<std::size_t>(Findings[i].kind) != i) return false;
    }
    return static_cast<std::size_t>(Finding::Hexadecimal) + 1 == Findings.size();
}
static_assert(EveryFindingInItsRow());

constexpr std::string_view FindingLabel(Finding kind) { return Findings[static_cast<std::size_t>(kind)].label; }
constexpr bool IsWarning(Finding kind) { return Findings[static_cast<std::size_t>(kind)].warning; }

struct Note {
    Finding kind;
    std::string text;
};

struct PieceVerdict {
    std::uint64_t line;
    std::uint32_t piece;  // from 1: a line longer than 255 bytes is read in several pieces
    std::string shown;    // the piece's text, non-printable bytes as \xNN, long ones shortened
    std::string key;      // the known setting it sets or surely means to set; empty when none
    std::vector<Note> notes;  // what the piece is first, then its warnings
    // Set on the last piece shown of a kind that repeats too often to show in full.
    std::uint64_t summarisedMore = 0;
    std::uint64_t summarisedLastLine = 0;
};

// One of the 59 values the plug-in writes, as it writes it, in the order of its table.
struct FinalSetting {
    std::string key;
    bool color;
    float value;                          // the float, or the colour entry's float
    std::array<std::uint8_t, 4> channels; // a colour entry's bytes
    std::uint64_t line;                   // where the file set it; 0 for the built-in default
    std::uint32_t piece;

    SettingKind kind() const { return color ? SettingKind::Color : SettingKind::Float; }
};

struct SettingsCheck {
    std::vector<PieceVerdict> pieces;  // in file order; repeated kinds summarised
    std::vector<Note> fileNotes;       // findings about the text as a whole
    std::vector<FinalSetting> finals;  // the 15 float settings, then the 44 colour entries
    std::uint64_t warnings = 0;        // every warning, the summarised ones included
};

// A kind that occurs more often than this is shown for its first few pieces only.
inline constexpr std::uint64_t ShownInFull = 100;
inline constexpr std::uint64_t ShownWhenSummarised = 5;

// Checks the text that `open` delivers. It is called twice, once for the values and once for
// the verdicts, and must give the same bytes each time.
SettingsCheck CheckSettings(const std::function<SettingsSource()>& open);
SettingsCheck CheckSettingsText(std::string_view text);

// What no piece set: the values the plug-in writes without a settings file.
std::vector<FinalSetting> DefaultFinals();

// The known setting that an unknown key surely means (its index in PickupSettings): the same
// key in other case, with a byte-order mark glued to it, or a colour entry's number with
// leading zeros. A near spelling is only a guess and means none.
std::optional<std::size_t> MeantSetting(std::string_view key);

// A hint for a key the plug-in does not know: the nearest known key and why it differs.
std::string KeyHint(std::string_view key);
