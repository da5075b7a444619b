// The settings file that the release ships (Glimmerward-defaults.ini) against the plug-in's
// own table of keys and defaults, read with the plug-in's own reader: it cannot drift from
// the code without failing here.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "src/settings/PickupSettings.h"
#include "src/settings/SettingsFile.h"

namespace {

std::string ReleaseFileBytes() {
    std::ifstream in(GLIMMERWARD_RELEASE_INI, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Line {
    PieceKind kind;
    PieceEnd end;
    std::string key;
    std::string value;
};

// Every piece of the file, by line number.
std::map<std::uint64_t, std::vector<Line>> Pieces(std::string_view text) {
    std::map<std::uint64_t, std::vector<Line>> lines;
    ReadSettingsPieces(TextSource(text), [&lines](const SettingsPiece& p) {
        lines[p.line].push_back({p.kind, p.end, std::string(p.key), std::string(p.value)});
    });
    return lines;
}

TEST(ReleaseSettingsFile, HoldsEveryKeyOnceEachBelowACommentAndNothingElse) {
    const std::string text = ReleaseFileBytes();
    ASSERT_FALSE(text.empty()) << "cannot read " << GLIMMERWARD_RELEASE_INI;
    const auto lines = Pieces(text);

    std::map<std::string, int> seen;
    for (const auto& [number, pieces] : lines) {
        SCOPED_TRACE("line " + std::to_string(number));
        ASSERT_EQ(1u, pieces.size()) << "a line longer than the reader's 255 bytes";
        const Line& line = pieces.front();
        EXPECT_TRUE(line.end == PieceEnd::LineFeed) << "every line ends in a line feed";
        EXPECT_NE(PieceKind::NoEquals, line.kind) << "a line that is neither comment, blank nor entry";
        if (line.kind != PieceKind::Entry) continue;
        ++seen[line.key];
        const auto above = lines.find(number - 1);
        ASSERT_NE(lines.end(), above);
        EXPECT_EQ(PieceKind::Comment, above->second.front().kind) << line.key << " has no comment line above it";
    }
    std::map<std::string, int> expected;
    for (const PickupSetting& setting : PickupSettings) expected[std::string(setting.key)] = 1;
    EXPECT_EQ(expected, seen);
}

TEST(ReleaseSettingsFile, GivesEveryKeyItsDefaultBitForBitInPlainNotation) {
    const SettingsMap settings = ParseSettingsText(ReleaseFileBytes());
    // Plain decimals only, with nothing after the number that the plug-in would ignore.
    const std::regex plainFloat(R"(-?[0-9]+\.[0-9]+)");
    const std::regex plainColor(R"([0-9]{1,3} [0-9]{1,3} [0-9]{1,3} [0-9]{1,3} [0-9]+\.[0-9]+)");

    for (const PickupSetting& setting : FloatSettings) {
        SCOPED_TRACE(setting.key);
        const auto value = settings.lookup(setting.key);
        ASSERT_TRUE(value);
        EXPECT_TRUE(std::regex_match(std::string(*value), plainFloat)) << *value;
        const float absent = std::numeric_limits<float>::quiet_NaN();
        EXPECT_EQ(std::bit_cast<std::uint32_t>(setting.defaultValue),
                  std::bit_cast<std::uint32_t>(GetFloatSetting(settings, setting.key.data(), absent)));
    }
    for (int n = 0; n < Host::Pickup::ColorEntryCount; ++n) {
        const std::string_view key = ColorSettings[static_cast<std::size_t>(n)].key;
        SCOPED_TRACE(key);
        const auto value = settings.lookup(key);
        ASSERT_TRUE(value);
        EXPECT_TRUE(std::regex_match(std::string(*value), plainColor)) << *value;
        const PickupColorEntry scanned = ScanPickupColor(*value);
        const PickupColorEntry expected = DefaultPickupColor(n);
        EXPECT_EQ(0, std::memcmp(&expected, &scanned, sizeof expected)) << *value;
    }
}

}  // namespace
