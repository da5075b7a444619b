// The checker's portable parts on real text and real files: the printed floats, the
// verdicts and their summary, key hints, the game's build from an executable file, and the
// settings file search and first-run copy.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "checker/ExecutableBuild.h"
#include "checker/FloatText.h"
#include "checker/GameFolder.h"
#include "checker/SettingsCheck.h"
#include "src/settings/NumberScan.h"
#include "tests/support/TempFolder.h"

namespace {

std::uint32_t ReadBack(const std::string& text) {
    return std::bit_cast<std::uint32_t>(static_cast<float>(ConvertFloatPrefix(text)));
}

TEST(RoundTripText, EveryPrintedFloatReadsBackToItsBitsThroughThePluginsConversion) {
    std::vector<std::uint32_t> patterns = {0x00000000, 0x80000000, 0x00000001, 0x80000001, 0x007FFFFF, 0x00800000,
                                           0x7F7FFFFF, 0xFF7FFFFF, 0x7F800000, 0xFF800000, 0x7FC00000, 0xFFC00000,
                                           0x3B4851EC, 0x3F428F5C, 0x3F99999A};
    // A spread over the whole range, every exponent and many mantissas.
    for (std::uint64_t bits = 0; bits < (std::uint64_t{1} << 32); bits += 4093) patterns.push_back(std::uint32_t(bits));
    std::size_t checked = 0;
    for (const std::uint32_t bits : patterns) {
        const float value = std::bit_cast<float>(bits);
        // The plug-in's conversion makes only the two plain NaNs.
        if (std::isnan(value) && (bits & 0x7FFFFFFF) != 0x7FC00000) continue;
        const std::string text = RoundTripText(value);
        ASSERT_EQ(bits, ReadBack(text)) << text;
        ++checked;
    }
    EXPECT_GT(checked, 1000000u);
    EXPECT_EQ("1.5", RoundTripText(1.5f));
    EXPECT_EQ("0.0030566407", RoundTripText(std::bit_cast<float>(0x3B4851ECu)));
    EXPECT_EQ("-inf", RoundTripText(-INFINITY));
    EXPECT_EQ("0x3FC00000", BitsText(1.5f));
}

// The kinds of a check's notes, per shown piece: "line:kind,kind".
std::vector<std::string> Kinds(const SettingsCheck& check) {
    std::vector<std::string> kinds;
    for (const PieceVerdict& piece : check.pieces) {
        std::string entry = std::to_string(piece.line) + (piece.piece > 1 ? "." + std::to_string(piece.piece) : "") + ":";
        for (const Note& note : piece.notes) entry += std::string(FindingLabel(note.kind)) + ",";
        kinds.push_back(entry);
    }
    for (const Note& note : check.fileNotes) kinds.push_back("file:" + std::string(FindingLabel(note.kind)));
    return kinds;
}

TEST(CheckSettings, GivesEachPieceTheVerdictOfWhatThePluginMakesOfIt) {
    struct Case {
        std::string text;
        std::vector<std::string> kinds;
    };
    const Case cases[] = {
        {"\tPickupSize = 1.5 \t\r\n# c\n; c\n\n[S]\n", {"1:sets,", "2:comment,", "3:comment,", "4:blank,", "5:ignored,"}},
        {"PickupSize = 1,5\n", {"1:sets,decimal comma,"}},
        {"PickupSize=1.5 ; bigger\n", {"1:sets,text after the number,"}},
        {"PickupSize =\nTextAlpha = x\n", {"1:sets,not a number,", "2:sets,not a number,"}},
        {"pickupsize = 2\n=5\na=b=c\n", {"1:unknown key,", "2:unknown key,", "3:unknown key,"}},
        {"PickupSize = 2\nPickupSize = 3\n", {"1:replaced,", "2:sets,"}},
        {"PickupColor_5 = 255 0 0\n", {"1:sets,stops early,"}},
        {"PickupColor_5 = 300 0 0 0 1\n", {"1:sets,channel out of 0-255,"}},
        {"PickupColor_5 = 1 2 3 4 1,5\n", {"1:sets,decimal comma,"}},
        {"\xEF\xBB\xBFPickupSize = 2\n", {"1:unknown key,byte-order mark,"}},
        {"PickupSize = 2\x1A\nTextAlpha = 1\n", {"1:sets,", "file:after Ctrl-Z"}},
        {"PickupSize = 2\n\x1A", {"1:sets,"}},  // a Ctrl-Z that hides nothing
        {std::string("PickupSize = 2\0x\n", 17), {"1:sets,NUL byte,"}},
        {"PickupSize 2\n", {"1:ignored,missing \"=\","}},
        {std::string(255, ' ') + "PickupSize=4\n", {"1:blank,line over 255 bytes,", "1.2:sets,"}},
    };
    for (const Case& c : cases) {
        const SettingsCheck check = CheckSettingsText(c.text);
        EXPECT_EQ(c.kinds, Kinds(check)) << c.text;
    }
}

TEST(CheckSettings, TheFinalTableSaysWhereEachValueCameFrom) {
    const SettingsCheck check = CheckSettingsText("PickupSize = 3\nPickupColor_5 = 255 0 0 255 2.0\nPickupSize = 4\n");
    ASSERT_EQ(59u, check.finals.size());
    EXPECT_EQ("PickupSize", check.finals[6].key);
    EXPECT_EQ(4.0f, check.finals[6].value);
    EXPECT_EQ(3u, check.finals[6].line);
    EXPECT_EQ(0u, check.finals[7].line);  // TurnSpeed: its default
    EXPECT_EQ(0x3B4851ECu, std::bit_cast<std::uint32_t>(check.finals[7].value));
    const FinalSetting& color = check.finals[15 + 5];
    EXPECT_EQ("PickupColor_5", color.key);
    EXPECT_EQ((std::array<std::uint8_t, 4>{255, 0, 0, 255}), color.channels);
    EXPECT_EQ(2.0f, color.value);
    EXPECT_EQ(2u, color.line);
}

TEST(CheckSettings, SummarisesAKindThatRepeatsOnAHugeFileAndCountsEveryWarning) {
    std::string text;
    for (int i = 0; i < 50000; ++i) text += "PickupSize = " + std::to_string(i) + "\n";
    for (int i = 0; i < 30; ++i) text += "# note\n";
    const SettingsCheck check = CheckSettingsText(text);
    EXPECT_EQ(49999u, check.warnings);  // every line but the last is replaced
    std::size_t replaced = 0;
    for (const PieceVerdict& piece : check.pieces) replaced += piece.notes.front().kind == Finding::Replaced ? 1 : 0;
    EXPECT_EQ(ShownWhenSummarised, replaced);
    EXPECT_EQ(49999u - ShownWhenSummarised, check.pieces[ShownWhenSummarised - 1].summarisedMore);
    EXPECT_EQ(49999u, check.pieces[ShownWhenSummarised - 1].summarisedLastLine);
    EXPECT_EQ(ShownWhenSummarised + 1 + 30, check.pieces.size());  // the setter and the comments in full
    EXPECT_EQ(50000u, check.finals[6].line);
}

TEST(KeyHint, NamesTheNearestKnownKeyAndWhyItDiffers) {
    const std::pair<const char*, const char*> cases[] = {
        {"pickupsize", "Keys are case-sensitive: write PickupSize"},
        {"PickupColor_05", "Colour numbers have no leading zeros: write PickupColor_5"},
        {"pickupcolor_5", "Keys are case-sensitive: write PickupColor_5"},
        {"PickupColor_44", "The colour entries are PickupColor_0 to PickupColor_43"},
        {"TurnSped", "Did you mean TurnSpeed?"},
        {"WeaponCirclesScaleX", "Did you mean WeaponCircles_ScaleX?"},
        {"Volume", "No known key is close to it; the keys are listed in the final table"},
    };
    for (const auto& [key, hint] : cases) EXPECT_EQ(hint, KeyHint(key)) << key;
}

// A 32-bit executable with one section mapping [rva, rva + raw) from the file, plus `extra`
// zero-filled bytes the file does not hold.
std::string Executable(std::uint32_t sectionRva, const std::string& raw, std::uint32_t extra = 0, std::uint16_t magic = 0x10B) {
    std::string file(0x200, '\0');
    auto put16 = [&](std::size_t at, std::uint16_t v) { file[at] = char(v); file[at + 1] = char(v >> 8); };
    auto put32 = [&](std::size_t at, std::uint32_t v) { put16(at, std::uint16_t(v)); put16(at + 2, std::uint16_t(v >> 16)); };
    put16(0, 0x5A4D);
    put32(0x3C, 0x40);
    put32(0x40, 0x00004550);
    put16(0x44, 0x14C);  // i386
    put16(0x46, 1);      // one section
    put16(0x54, 0xE0);   // optional header size
    put16(0x58, magic);
    const std::size_t section = 0x58 + 0xE0;
    std::memcpy(&file[section], ".text", 5);
    put32(section + 8, std::uint32_t(raw.size()) + extra);
    put32(section + 12, sectionRva);
    put32(section + 16, std::uint32_t(raw.size()));
    put32(section + 20, 0x200);
    return file + raw;
}

TEST(ProbeExecutable, TellsTheBuildFromTheSignatureWhereTheFileMapsEachProbe) {
    const std::string signature("\x55\x89\xE5\x53", 4);
    const std::string other("\x55\x89\xE5\x52", 4);
    auto at = [](std::uint32_t offset, const std::string& bytes) { return std::string(offset, '\xCC') + bytes + "\xCC\xCC"; };
    struct Case {
        std::string bytes;
        bool readable;
        HostVersion version;
    };
    const Case cases[] = {
        {Executable(0x266000, at(0x1BF0, signature)), true, 100},
        {Executable(0x266000, at(0x1BF0, other) + std::string(0x4A, '\xCC') + signature), true, 110},
        {Executable(0x266B00, at(0xA0, signature)), true, 120},
        {Executable(0x266000, at(0x1BF0, other)), true, 0},
        {Executable(0x266000, std::string(0x10, '\xCC'), 0x10000), true, 0},  // the probe lies in zero fill
        {Executable(0x266000, at(0x1BF0, signature), 0, 0x20B), false, 0},   // 64-bit
        {Executable(0x266000, at(0x1BF0, signature)).substr(0, 0x100), false, 0},  // cut short
        {"PickupSize = 2\n", false, 0},
        {"", false, 0},
    };
    TempFolder folder;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto path = folder.write("game" + std::to_string(i) + ".exe", cases[i].bytes);
        const ExecutableBuild build = ProbeExecutable(path.string());
        EXPECT_EQ(cases[i].readable, build.readable) << i;
        EXPECT_EQ(cases[i].version, build.version) << i;
    }
}

TEST(SearchSettingsFile, FindsTheFileAsThePluginDoesWhateverTheCaseOfItsNamesAndListsTheShadowedOnes) {
    TempFolder game;
    game.write("Scripts/GLIMMERWARD.ini", "PickupSize = 5\n");
    game.write("glimmerward.ini", "PickupSize = 6\n");
    game.write("plugins/Other.ini", "");
    const SettingsSearch search = SearchSettingsFile(game.path().string());
    ASSERT_EQ(2u, search.found.size());
    EXPECT_EQ(search.found[0], search.chosen);
    std::ifstream chosen(search.chosen);
    std::string line;
    std::getline(chosen, line);
    EXPECT_EQ("PickupSize = 5", line);
    EXPECT_EQ(PathKind::File, KindOf(search.found[1]));

    const SettingsSearch none = SearchSettingsFile((game.path() / "plugins").string());
    EXPECT_TRUE(none.found.empty());
    EXPECT_EQ(JoinPath((game.path() / "plugins").string(), "Glimmerward.ini"), none.chosen);
}

TEST(FirstRunCopy, CopiesTheReleaseFileOnlyToANewFile) {
    TempFolder game;
    EXPECT_EQ("", FindReleaseSettingsFile(game.path().string()));
    game.write("plugins/Glimmerward-defaults.ini", "PickupSize = 1.2\n");
    const std::string release = FindReleaseSettingsFile(game.path().string());
    ASSERT_NE("", release);
    const std::string target = JoinPath(ParentFolder(release), "Glimmerward.ini");
    EXPECT_EQ("", CopyToNewFile(release, target));
    std::ifstream copied(target, std::ios::binary);
    EXPECT_EQ("PickupSize = 1.2\n", std::string(std::istreambuf_iterator<char>(copied), {}));

    game.write("plugins/Glimmerward.ini", "PickupSize = 7\n");  // the player's edit
    EXPECT_NE("", CopyToNewFile(release, target));
    std::ifstream kept(target, std::ios::binary);
    EXPECT_EQ("PickupSize = 7\n", std::string(std::istreambuf_iterator<char>(kept), {}));
}

}  // namespace
