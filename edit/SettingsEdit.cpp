#include "edit/SettingsEdit.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <optional>

#include "src/settings/PickupSettings.h"
#include "src/settings/SettingsBytes.h"

namespace {

// Where the plug-in stops reading: the first Ctrl-Z, or the end.
std::size_t TextEnd(std::string_view text) { return BytesRead(text).size(); }

// One physical line of the text the plug-in reads: [begin, end) without its LF.
struct Line {
    std::size_t begin;
    std::size_t end;
    bool lineFeed;
};

std::optional<Line> LineAt(std::string_view text, std::uint64_t number) {
    const std::size_t stop = TextEnd(text);
    std::size_t begin = 0;
    for (std::uint64_t n = 1; n < number; ++n) {
        const std::size_t lf = text.find('\n', begin);
        if (lf >= stop) return std::nullopt;
        begin = lf + 1;
    }
    if (begin > stop) return std::nullopt;
    const std::size_t lf = text.find('\n', begin);
    return lf < stop ? Line{begin, lf, true} : Line{begin, stop, false};
}

// The line ending the text uses most; CR LF where it has none, or as many of each.
std::string_view LineEnding(std::string_view text) {
    const std::size_t stop = TextEnd(text);
    std::size_t crlf = 0;
    std::size_t lf = 0;
    for (std::size_t at = text.find('\n'); at < stop; at = text.find('\n', at + 1)) {
        ++(at > 0 && text[at - 1] == '\r' ? crlf : lf);
    }
    return lf > crlf ? "\n" : "\r\n";
}

// Whether a line of `length` bytes before its end is read as one piece: its LF (or the end of
// the text) lies within the 255 bytes the plug-in reads at a time, a CR LF counting as one.
// Kept a little short of the limit: a line near it gets a new line instead.
bool OnePiece(std::size_t length) { return length + 2 < PieceLimit; }

// Replaces the value in the line that sets it; false when that line must stay as it is.
bool ReplaceInLine(std::string& text, const Line& line, std::string_view valueText) {
    const std::string_view raw = std::string_view(text).substr(line.begin, line.end - line.begin);
    if (raw.find('\0') != std::string_view::npos || !OnePiece(raw.size())) return false;
    std::size_t start = 0;
    while (start < raw.size() && IsBlank(raw[start])) ++start;
    const std::size_t equals = raw.find('=', start);
    if (equals == std::string_view::npos) return false;
    std::size_t valueStart = equals + 1;
    while (valueStart < raw.size() && IsBlank(raw[valueStart])) ++valueStart;
    std::size_t valueEnd = raw.size();
    while (valueEnd > valueStart && (IsBlank(raw[valueEnd - 1]) || raw[valueEnd - 1] == '\r')) --valueEnd;
    if (!OnePiece(raw.size() - (valueEnd - valueStart) + valueText.size())) return false;
    text.replace(line.begin + valueStart, valueEnd - valueStart, valueText);
    return true;
}

// Adds "key = value" as a line of its own where the plug-in reads last.
void AppendLine(std::string& text, std::string_view key, std::string_view valueText) {
    const std::string_view ending = LineEnding(text);
    std::size_t at = TextEnd(text);
    std::string line;
    if (at > 0 && text[at - 1] != '\n') line += ending;
    line += std::string(key) + " = " + std::string(valueText) + std::string(ending);
    text.insert(at, line);
}

}  // namespace

EditResult EditSettingsText(std::string_view text, const std::vector<SettingChange>& changes) {
    return EditSettingsText(text, ReadPickupSettings(TextSource(text)), changes);
}

EditResult EditSettingsText(std::string_view text, const PickupReading& before, const std::vector<SettingChange>& changes) {
    // One edit per setting, the last asked for. A value replaced within its line and a line
    // added at the end shift no line, so every origin read before the edits still holds.
    std::array<const SettingChange*, PickupSettingCount> last{};
    for (const SettingChange& change : changes) {
        if (change.setting >= PickupSettings.size()) return {std::string(text), "no such setting"};
        last[change.setting] = &change;
    }
    PickupValues expected = before.values;
    std::string edited(text);
    for (std::size_t setting = 0; setting < last.size(); ++setting) {
        if (!last[setting]) continue;
        const SettingChange& change = *last[setting];
        TakePickupValue(expected, setting, change.valueText);
        const SettingOrigin origin = before.origins[setting];
        const auto line = origin.line != 0 && origin.piece == 1 ? LineAt(edited, origin.line) : std::nullopt;
        if (!line || !ReplaceInLine(edited, *line, change.valueText)) {
            AppendLine(edited, PickupSettings[change.setting].key, change.valueText);
        }
    }
    const PickupValues after = ReadPickupSettings(TextSource(edited)).values;
    if (std::memcmp(&after, &expected, sizeof after) != 0) {
        return {std::string(text), "the change would not read back exactly as asked, so the file is left as it is"};
    }
    return {std::move(edited), {}};
}
