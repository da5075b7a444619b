#include "basis/TextRule.h"

#include "src/settings/SettingsBytes.h"

namespace {

// Enough of a text to tell; a binary file shows itself long before its end.
constexpr std::uint64_t Sample = 65536;
// Fewer bytes than this say too little: a short text may be mostly line ends.
constexpr std::uint64_t FewestJudged = 16;

// Line ends and tabs are a text's own control bytes; a Ctrl-Z never gets this far.
constexpr bool IsForeignControl(unsigned char c) { return c < 0x20 && c != '\t' && c != '\n' && c != '\r'; }

}  // namespace

void TextJudge::look(std::string_view bytes) {
    if (ended_) return;
    const std::string_view read = BytesRead(bytes);
    ended_ = read.size() < bytes.size();
    for (const char c : read) {
        const auto u = static_cast<unsigned char>(c);
        if (firstCount_ < 2) first_[firstCount_++] = u;
        if (looked_ == Sample) break;
        ++looked_;
        controls_ += IsForeignControl(u) ? 1 : 0;
    }
}

TextVerdict TextJudge::verdict() const {
    const bool littleEndian = first_[0] == 0xFF && first_[1] == 0xFE;
    const bool bigEndian = first_[0] == 0xFE && first_[1] == 0xFF;
    if (firstCount_ == 2 && (littleEndian || bigEndian)) return TextVerdict::Utf16;
    return looked_ >= FewestJudged && controls_ * 10 > looked_ ? TextVerdict::Binary : TextVerdict::Text;
}

TextVerdict JudgeText(std::string_view bytes) {
    TextJudge judge;
    judge.look(bytes);
    return judge.verdict();
}
