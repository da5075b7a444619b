#include "checker/SettingsCheck.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "basis/Text.h"
#include "basis/TextRule.h"
#include "basis/ValueText.h"
#include "src/settings/NumberScan.h"
#include "src/settings/PickupSettings.h"
#include "src/settings/SettingsBytes.h"

namespace {

constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";
constexpr std::size_t ShownLimit = 72;

std::string Shown(std::string_view text) {
    std::string shown;
    for (const char c : text) {
        if (shown.size() >= ShownLimit) return shown + "...";
        if (c >= 0x20 && c < 0x7F) {
            shown += c;
        } else {
            shown += "\\x" + HexByte(static_cast<unsigned char>(c));
        }
    }
    return shown;
}

std::string Quoted(std::string_view text) { return "\"" + Shown(text) + "\""; }

std::size_t Distance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (AsciiLower(a[i - 1]) == AsciiLower(b[j - 1]) ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::string_view WithoutByteOrderMark(std::string_view key) {
    return key.starts_with(Utf8Bom) ? key.substr(Utf8Bom.size()) : key;
}

// A colour entry's key as a player may write it, the prefix in any case and the number with
// leading zeros, respelled as the plug-in's own key of that number; the table then says
// whether there is such an entry. Up to nine digits: a longer run is no entry number meant.
std::optional<std::string> ColorKeyMeant(std::string_view key) {
    constexpr std::size_t LongestNumber = 9;
    if (key.size() <= ColorKeyPrefix.size() || !EqualsIgnoringCase(key.substr(0, ColorKeyPrefix.size()), ColorKeyPrefix)) {
        return std::nullopt;
    }
    std::string_view digits = key.substr(ColorKeyPrefix.size());
    if (digits.size() > LongestNumber || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    digits.remove_prefix(std::min(digits.find_first_not_of('0'), digits.size() - 1));
    return std::string(ColorKeyPrefix) + std::string(digits);
}

// Fields first to last - 1: "channel0", "channel0 and channel1", "channel0, channel1 and channel2".
std::string FieldList(int first, int last) {
    std::string text;
    for (int i = first; i < last; ++i) {
        text += std::string(i == first ? "" : i == last - 1 ? " and " : ", ") + std::string(ColorFieldNames[std::size_t(i)]);
    }
    return text;
}

std::string ValueText(const FinalSetting& setting) {
    const std::string number = NumberAndBitsText(setting.value, setting.kind());
    return setting.color ? "channels " + ChannelText(setting.channels) + ", number " + number : number;
}

// A finding on one piece, with its wording still to be formed: a huge file's summarised
// pieces cost no messages.
struct PendingNote {
    Finding kind;
    std::function<std::string()> text;
};

// The verdict on one piece: what it is first, then its warnings. The wording is formed only
// while the piece is still at hand, and only for the pieces that are shown.
class PieceAnalysis {
public:
    // `cutBefore`: the piece goes on a line that the plug-in cut at 255 bytes, and it is the
    // first piece after the cut that holds more than blanks.
    PieceAnalysis(const SettingsPiece& piece, const std::vector<FinalSetting>& finals, bool cutBefore)
        : piece_(piece), finals_(finals), cutBefore_(cutBefore) {}

    std::vector<PendingNote> run();
    // The known setting the piece sets or surely means to set; empty when none.
    std::string_view meant() const { return meant_ ? PickupSettings[*meant_].key : std::string_view(); }

private:
    void add(Finding kind, std::function<std::string()> text) { notes_.push_back({kind, std::move(text)}); }
    void entry();
    void floatValue(const FinalSetting& setting);
    void colorValue(const FinalSetting& setting);
    void afterNumber(std::string_view rest, std::string_view readAs);
    void writtenNumber(std::string_view readAs, float written, SettingKind kind);

    const SettingsPiece& piece_;
    const std::vector<FinalSetting>& finals_;
    bool cutBefore_;
    std::vector<PendingNote> notes_;
    std::optional<std::size_t> meant_;
};

std::vector<PendingNote> PieceAnalysis::run() {
    const bool firstPiece = piece_.line == 1 && piece_.piece == 1;
    const bool bom = firstPiece && piece_.text.starts_with(Utf8Bom);
    // Behind a byte-order mark, a comment or blank line reads as an entry of an unknown key or
    // as text without "=": either way nothing is lost, so it counts as what it was meant to be.
    std::string_view afterBom = piece_.text.substr(bom ? Utf8Bom.size() : 0);
    while (!afterBom.empty() && IsBlank(afterBom.front())) afterBom.remove_prefix(1);
    const bool bomHarmless = bom && (afterBom.empty() || afterBom.front() == '#' || afterBom.front() == ';');
    const PieceKind kind = bomHarmless ? (afterBom.empty() ? PieceKind::Blank : PieceKind::Comment) : piece_.kind;
    switch (kind) {
        case PieceKind::Blank: add(Finding::Blank, [] { return "blank"; }); break;
        case PieceKind::Comment: add(Finding::Comment, [] { return "comment"; }); break;
        case PieceKind::NoEquals: {
            add(Finding::Ignored, [] { return "ignored: no \"=\" in it"; });
            std::string_view word = piece_.text.substr(bom ? Utf8Bom.size() : 0);
            while (!word.empty() && IsBlank(word.front())) word.remove_prefix(1);
            const std::size_t wordEnd = std::min(word.find_first_of(" \t:"), word.size());
            const std::string_view key = word.substr(0, wordEnd);
            if (const auto setting = FindPickupSetting(key); piece_.piece == 1 && setting) {
                meant_ = setting;
                add(Finding::MissingEquals, [key] {
                    return "it starts with the key " + std::string(key) +
                           ", but without \"=\" the plug-in skips it: write key = value";
                });
            }
            break;
        }
        case PieceKind::Entry: entry(); break;
    }
    if (bomHarmless) {
        add(Finding::HarmlessByteOrderMark, [] {
            return "the file starts with a byte-order mark (EF BB BF); here it stands before a comment or a blank "
                   "line, so nothing is lost";
        });
    } else if (bom) {
        add(Finding::ByteOrderMark, [this] {
            std::string text = "the file starts with a byte-order mark (EF BB BF), which the plug-in reads as part of this line";
            if (piece_.kind == PieceKind::Entry) {
                text += ": the key is " + Quoted(piece_.key) + ", not " + Quoted(piece_.key.substr(Utf8Bom.size()));
            }
            return text + ". Save the file without a byte-order mark (as ANSI, or UTF-8 without BOM)";
        });
    }
    if (cutBefore_) {
        add(Finding::CutAt255, [this] {
            return "line " + std::to_string(piece_.line) +
                   " is longer than 255 bytes: the plug-in reads its first 255 bytes as one line, and from here on "
                   "the rest as further lines of their own. Shorten the line";
        });
    }
    if (piece_.end == PieceEnd::Nul) {
        add(Finding::NulByte, [] {
            return "a NUL byte (0x00) ends this line for the plug-in: what follows it on the line is not read. "
                   "Save the file as plain text";
        });
    }
    return notes_;
}

void PieceAnalysis::entry() {
    const auto known = FindPickupSetting(piece_.key);
    if (!known) {
        meant_ = MeantSetting(piece_.key);
        add(Finding::UnknownKey, [this] {
            if (piece_.key.starts_with(Utf8Bom) && FindPickupSetting(WithoutByteOrderMark(piece_.key))) {
                return "unknown key " + Quoted(piece_.key) + ": a byte-order mark is glued to it";
            }
            return "unknown key " + Quoted(piece_.key) + ": the plug-in looks it up nowhere. " + KeyHint(piece_.key);
        });
        return;
    }
    meant_ = known;
    const FinalSetting& setting = finals_[*known];
    if (setting.line != piece_.line || setting.piece != piece_.piece) {
        add(Finding::Replaced, [&setting] {
            return "replaced by " + LineAndPiece(setting.line, setting.piece) + ", which sets " + setting.key +
                   " again: the last one in the file wins";
        });
        return;
    }
    add(Finding::Sets, [&setting] { return "sets " + setting.key + " = " + ValueText(setting); });
    if (setting.color) {
        colorValue(setting);
    } else {
        floatValue(setting);
    }
}

void PieceAnalysis::floatValue(const FinalSetting& setting) {
    const auto number = ScanFloatPrefix(piece_.value);
    if (number.end == 0) {
        add(Finding::NotANumber, [this] {
            return (piece_.value.empty() ? std::string("the value is empty") : Quoted(piece_.value) + " is not a number") +
                   ", so the plug-in writes 0, not the default. Write a number, or delete the line to get the default";
        });
        return;
    }
    const std::string_view readAs = piece_.value.substr(0, number.end);
    afterNumber(piece_.value.substr(number.end), readAs);
    writtenNumber(readAs, setting.value, SettingKind::Float);
}

void PieceAnalysis::colorValue(const FinalSetting& setting) {
    const PickupColorScan scan = ScanPickupColorFields(piece_.value);
    if (scan.fields == 0) {
        add(Finding::NotANumber, [this] {
            return (piece_.value.empty() ? std::string("the value is empty") : Quoted(piece_.value) + " does not start with a number") +
                   ", so the plug-in writes 0 to channel0, channel1, channel2 and channel3 and 1.0 to number, not this "
                   "entry's default. Write channel0 channel1 channel2 channel3 number, or delete the line to get the default";
        });
        return;
    }
    for (int i = 0; i < std::min(scan.fields, 4); ++i) {
        const std::int32_t number = scan.numbers[static_cast<std::size_t>(i)];
        if (number < 0 || number > 255) {
            const std::uint8_t taken = setting.channels[static_cast<std::size_t>(i)];
            add(Finding::ChannelWraps, [i, number, taken] {
                return std::string(ColorFieldNames[std::size_t(i)]) + " is " + std::to_string(number) +
                       ", which the plug-in takes modulo 256: " + std::to_string(taken) + ". Write 0 to 255";
            });
        }
    }
    const std::string_view rest = piece_.value.substr(scan.end);
    if (scan.fields < 5) {
        const PickupColorEntry preset = ScanPickupColor("");
        const PickupColorEntry entryDefault = DefaultPickupColor(static_cast<int>(*meant_ - FloatSettingCount));
        add(Finding::StopsEarly, [fields = scan.fields, rest, preset, entryDefault] {
            std::string text = "the plug-in reads only " + FieldList(0, fields) + " (" + std::to_string(fields) +
                               " of the 5 fields); ";
            for (int i = fields; i < 5; ++i) {
                const bool last = i == 4;
                const std::string given = last ? NumberText(preset.value, SettingKind::Color) : std::to_string(preset.channels[std::size_t(i)]);
                const std::string usual = last ? NumberText(entryDefault.value, SettingKind::Color)
                                               : std::to_string(entryDefault.channels[std::size_t(i)]);
                text += std::string(i == fields ? "" : last ? " and " : ", ") + std::string(ColorFieldNames[std::size_t(i)]) +
                        " gets " + given +
                        (given == usual ? "" : " (its default is " + usual + ")");
            }
            std::string_view after = rest;
            while (!after.empty() && IsCSpace(after.front())) after.remove_prefix(1);
            if (after.empty()) return text + ". Write all five: channel0 channel1 channel2 channel3 number";
            if (after.front() == ',') return text + ". It stops at a comma: separate the fields with blanks, not commas";
            if (fields < 4 && (after.front() == 'x' || after.front() == 'X' || after.front() == '#')) {
                return text + ". It stops at " + Quoted(after) +
                       ": channels are whole numbers in decimal, from 0 to 255, not hexadecimal";
            }
            return text + ". It stops at " + Quoted(after) + ": " +
                   (fields < 4 ? "a channel must be a whole number" : "number must be a number");
        });
        return;
    }
    afterNumber(rest, piece_.value.substr(0, scan.end));
    std::size_t numberStart = 0;
    for (int i = 0; i < 4; ++i) numberStart = ScanIntField(piece_.value, numberStart)->end;
    std::string_view number = piece_.value.substr(numberStart, scan.end - numberStart);
    while (!number.empty() && IsCSpace(number.front())) number.remove_prefix(1);
    writtenNumber(number, setting.value, SettingKind::Color);
}

void PieceAnalysis::afterNumber(std::string_view rest, std::string_view readAs) {
    while (!rest.empty() && IsCSpace(rest.front())) rest.remove_prefix(1);
    if (rest.empty()) return;
    if (rest.size() > 1 && rest[0] == ',' && rest[1] >= '0' && rest[1] <= '9') {
        add(Finding::DecimalComma, [rest, readAs] {
            return "the decimal comma cuts the number short: the plug-in reads " + Quoted(readAs) +
                   " and ignores " + Quoted(rest) + ". The decimal point is always \".\"";
        });
        return;
    }
    if (rest.front() == '%') {
        add(Finding::TextAfterNumber, [rest, readAs] {
            return "the plug-in reads " + Quoted(readAs) + " and ignores " + Quoted(rest) + ": the value is " +
                   std::string(readAs) + " itself, not a share of the default. Write the number you want";
        });
        return;
    }
    add(Finding::TextAfterNumber, [rest, readAs] {
        std::string text = "the plug-in reads " + Quoted(readAs) + " and ignores the text after it, " + Quoted(rest);
        if (rest.front() == '#' || rest.front() == ';') {
            text += ": after the \"=\" a \"#\" or \";\" starts no comment, it is part of the value. Put comments on "
                    "lines of their own";
        }
        return text;
    });
}

// What the number `readAs` became as the plug-in writes it, where that will surprise.
void PieceAnalysis::writtenNumber(std::string_view readAs, float written, SettingKind kind) {
    std::string_view digits = readAs;
    while (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) digits.remove_prefix(1);
    const bool hexadecimal = digits.size() > 1 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X');
    if (std::isnan(written) || std::isinf(written)) {
        const bool spelled = std::none_of(readAs.begin(), readAs.end(), [](char c) { return c >= '0' && c <= '9'; });
        add(Finding::NotFinite, [readAs, written, spelled] {
            const std::string what = std::isnan(written) ? "NaN (\"not a number\")"
                                     : written > 0       ? "infinity"
                                                         : "minus infinity";
            return (spelled ? Quoted(readAs) + " is " + what + ", and the plug-in writes it as such"
                            : Quoted(readAs) + " is too large for the game's numbers (about 3.4e38 at most), so the "
                                               "plug-in writes " + what) +
                   ". The game may misbehave with it. Write an ordinary number";
        });
        return;
    }
    const std::string_view mantissa = digits.substr(0, digits.find_first_of(hexadecimal ? "pP" : "eE"));
    const bool notZero = std::any_of(mantissa.begin() + (hexadecimal ? 2 : 0), mantissa.end(), [hexadecimal](char c) {
        return (c >= '1' && c <= '9') || (hexadecimal && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
    });
    if (notZero && (written == 0 || std::fpclassify(written) == FP_SUBNORMAL)) {
        add(Finding::TooSmall, [readAs, written, kind] {
            return Quoted(readAs) + " is too small for the game's numbers (about 1.2e-38 at least), so the plug-in writes " +
                   (written == 0 ? std::string("0") : NumberText(written, kind) + ", which the game may take as 0") +
                   ". Write 0, or a larger number";
        });
    }
    if (hexadecimal) {
        add(Finding::Hexadecimal, [readAs, written, kind] {
            return Quoted(readAs) + " is a hexadecimal number: the plug-in reads it as " + NumberText(written, kind) +
                   ". Write the number in decimal if you did not mean hexadecimal";
        });
    }
}

// The kind a piece is counted under: its first warning, else what it is.
template <class Notes>
Finding SummaryKind(const Notes& notes) {
    for (const auto& note : notes) {
        if (IsWarning(note.kind)) return note.kind;
    }
    return notes.front().kind;
}

// Passes a source's bytes on while noting what the piece reader cannot say: where a Ctrl-Z
// stands and what lies after it, and whether the text is text at all, by the writer's rule.
class WatchedSource {
public:
    explicit WatchedSource(SettingsSource bytes) : source(std::move(bytes)) {}

    std::size_t operator()(char* buffer, std::size_t capacity) {
        const std::size_t size = source(buffer, capacity);
        look({buffer, size});
        return size;
    }
    // Reads what the piece reader left unread, after a Ctrl-Z.
    void drain() {
        char buffer[4096];
        while (const std::size_t size = source(buffer, sizeof buffer)) look({buffer, size});
    }

    bool sawCtrlZ = false;
    std::uint64_t ctrlZLine = 1;
    std::uint64_t bytesAfterCtrlZ = 0;
    bool textAfterCtrlZ = false;  // anything but blanks and line ends
    TextJudge judge;

    bool utf16() const { return judge.verdict() == TextVerdict::Utf16; }

private:
    void look(std::string_view bytes) {
        judge.look(bytes);
        for (const char c : bytes) {
            if (sawCtrlZ) {
                ++bytesAfterCtrlZ;
                textAfterCtrlZ = textAfterCtrlZ || !IsCSpace(c);
                continue;
            }
            if (c == CtrlZ) {
                sawCtrlZ = true;
                continue;
            }
            if (c == '\n') ++ctrlZLine;
        }
    }

    SettingsSource source;
};

// The 59 values as the plug-in reads them, in its table's order, each with its origin.
std::vector<FinalSetting> FinalsOf(const PickupReading& reading) {
    std::vector<FinalSetting> finals;
    for (std::size_t i = 0; i < PickupSettings.size(); ++i) {
        const PickupSetting& setting = PickupSettings[i];
        FinalSetting final{std::string(setting.key), setting.kind == SettingKind::Color, 0.0f, {},
                           reading.origins[i].line, reading.origins[i].piece};
        if (final.color) {
            const PickupColorEntry& entry = reading.values.colors[i - FloatSettingCount];
            final.channels = entry.channels;
            final.value = entry.value;
        } else {
            final.value = reading.values.floats[i];
        }
        finals.push_back(std::move(final));
    }
    return finals;
}

}  // namespace

std::optional<std::size_t> MeantSetting(std::string_view key) {
    const std::string_view bare = WithoutByteOrderMark(key);
    if (const auto color = ColorKeyMeant(bare)) return FindPickupSetting(*color);
    const auto same = std::find_if(FloatSettings.begin(), FloatSettings.end(),
                                   [bare](const PickupSetting& setting) { return EqualsIgnoringCase(bare, setting.key); });
    if (same == FloatSettings.end()) return std::nullopt;
    return static_cast<std::size_t>(same - FloatSettings.begin());
}

std::string KeyHint(std::string_view key) {
    const std::string_view bare = WithoutByteOrderMark(key);
    if (const auto meant = MeantSetting(key)) {
        const std::string known(PickupSettings[*meant].key);
        if (EqualsIgnoringCase(bare, known)) return "Keys are case-sensitive: write " + known;
        return "Colour numbers have no leading zeros: write " + known;
    }
    if (ColorKeyMeant(bare)) {
        return "The colour entries are " + std::string(ColorSettings.front().key) + " to " +
               std::string(ColorSettings.back().key);
    }
    std::string_view nearest;
    std::size_t best = 0;
    for (const PickupSetting& known : PickupSettings) {
        const std::size_t d = Distance(bare.substr(0, 64), known.key);
        if (nearest.empty() || d < best) nearest = known.key, best = d;
    }
    if (best <= std::max<std::size_t>(2, nearest.size() / 4)) return "Did you mean " + std::string(nearest) + "?";
    return "No known key is close to it; the keys are listed in the final table";
}

std::vector<FinalSetting> DefaultFinals() { return FinalsOf(DefaultPickupReading()); }

SettingsCheck CheckSettings(const std::function<SettingsSource()>& open) {
    SettingsCheck check;
    // First the values, read as the plug-in reads them: whether an entry is replaced by a
    // later one is known only once the whole text is read.
    check.finals = FinalsOf(ReadPickupSettings(open()));

    // Then a verdict for every piece; the kinds that repeat too often keep their first few.
    constexpr std::size_t KindCount = FindingCount;
    std::array<std::uint64_t, KindCount> counts{};
    std::array<std::uint64_t, KindCount> lastLines{};
    WatchedSource watched(open());
    std::uint64_t cutLine = 0;  // the last line cut at 255 bytes with more than blanks after the cut
    ReadSettingsPieces(std::ref(watched), [&](const SettingsPiece& piece) {
        const bool cutBefore = piece.piece > 1 && piece.kind != PieceKind::Blank && cutLine != piece.line;
        if (cutBefore) cutLine = piece.line;
        PieceAnalysis analysis(piece, check.finals, cutBefore);  // lives while its notes' wording may be formed
        std::vector<PendingNote> pending = analysis.run();
        // A file in UTF-16 gets one verdict, on the whole file: a NUL follows every character,
        // so no piece of it holds an entry that the plug-in could take.
        if (watched.utf16()) {
            pending = {{Finding::Ignored, [] { return "ignored: the file is saved as UTF-16, of which the plug-in reads nothing"; }}};
        }
        for (const PendingNote& note : pending) check.warnings += IsWarning(note.kind) ? 1 : 0;
        const auto kind = static_cast<std::size_t>(SummaryKind(pending));
        lastLines[kind] = piece.line;
        if (++counts[kind] > ShownInFull) return;
        std::vector<Note> notes;
        for (const PendingNote& note : pending) notes.push_back({note.kind, note.text()});
        const std::string_view meant = watched.utf16() ? std::string_view() : analysis.meant();
        check.pieces.push_back({piece.line, piece.piece, Shown(piece.text), std::string(meant), std::move(notes)});
    });
    watched.drain();

    std::array<std::uint64_t, KindCount> kept{};
    std::vector<PieceVerdict> pieces;
    for (PieceVerdict& verdict : check.pieces) {
        const auto kind = static_cast<std::size_t>(SummaryKind(verdict.notes));
        if (counts[kind] > ShownInFull) {
            if (++kept[kind] > ShownWhenSummarised) continue;
            if (kept[kind] == ShownWhenSummarised) {
                verdict.summarisedMore = counts[kind] - ShownWhenSummarised;
                verdict.summarisedLastLine = lastLines[kind];
            }
        }
        pieces.push_back(std::move(verdict));
    }
    check.pieces = std::move(pieces);

    if (watched.sawCtrlZ && watched.textAfterCtrlZ) {
        ++check.warnings;
        check.fileNotes.push_back({Finding::AfterCtrlZ,
                                   "line " + std::to_string(watched.ctrlZLine) +
                                       ": a Ctrl-Z byte (0x1A) ends the file for the plug-in; the " +
                                       std::to_string(watched.bytesAfterCtrlZ) +
                                       " bytes after it are never read. Remove the Ctrl-Z"});
    }
    const TextVerdict verdict = watched.judge.verdict();
    if (verdict == TextVerdict::Utf16) {
        ++check.warnings;
        check.fileNotes.push_back({Finding::NotText,
                                   "the file is saved as UTF-16 (\"Unicode\"): the plug-in reads no key from it. "
                                   "Save it as ANSI or UTF-8 without BOM"});
    } else if (verdict == TextVerdict::Binary) {
        ++check.warnings;
        check.fileNotes.push_back({Finding::NotText,
                                   std::to_string(watched.judge.controls()) + " of its first " +
                                       std::to_string(watched.judge.looked()) +
                                       " bytes are control bytes: this is no text file. Use a settings file saved as "
                                       "plain text"});
    }
    return check;
}

SettingsCheck CheckSettingsText(std::string_view text) {
    return CheckSettings([text] { return TextSource(text); });
}
