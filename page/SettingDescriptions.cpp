#include "page/SettingDescriptions.h"

#include <string>
#include <vector>

#include "page/EmbeddedFiles.h"
#include "src/settings/PickupSettings.h"
#include "src/settings/SettingsFile.h"

namespace {

using Descriptions = std::array<std::string, PickupSettingCount>;

// A comment's words: without its "#" or ";" and the blanks around them.
std::string_view CommentWords(std::string_view text) {
    const std::size_t start = text.find_first_not_of(" \t");
    text.remove_prefix(start == std::string_view::npos ? text.size() : start + 1);
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// Read as the plug-in reads the file, so that a key counts only where the plug-in sees it.
Descriptions Parse(std::string_view text) {
    Descriptions descriptions;
    std::string above;  // the comment lines since the last line of another kind
    ReadSettingsPieces(TextSource(text), [&](const SettingsPiece& piece) {
        if (piece.kind == PieceKind::Comment) {
            const std::string_view words = CommentWords(piece.text);
            if (!words.empty()) above += (above.empty() ? "" : " ") + std::string(words);
            return;
        }
        if (piece.kind == PieceKind::Entry) {
            if (const auto setting = FindPickupSetting(piece.key)) descriptions[*setting] = above;
        }
        above.clear();
    });
    return descriptions;
}

}  // namespace

std::string_view SettingDescription(std::size_t setting) {
    static const Descriptions descriptions = Parse(ReleaseSettingsText());
    return descriptions.at(setting);
}
