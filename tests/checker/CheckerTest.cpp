// The checker's verdicts on real text and real files: the verdicts and their summary, key
// hints, and the game's build from an executable file.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#endif

#include "checker/ExecutableBuild.h"
#include "checker/SettingsCheck.h"
#include "src/settings/NumberScan.h"
#include "src/settings/PickupSettings.h"
#include "tests/support/FakeExecutable.h"
#include "tests/support/TempFolder.h"

namespace {

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
        {std::string(255, ' ') + "PickupSize=4\n", {"1:blank,", "1.2:sets,line over 255 bytes,"}},
        {"PickupSize = 4" + std::string(300, ' ') + "\n", {"1:sets,", "1.2:blank,"}},  // only blanks cut
        {"\xEF\xBB\xBF# PickupSize = 3\r\nTextAlpha = 7\n", {"1:comment,byte-order mark, harmless,", "2:sets,"}},
        {"\xEF\xBB\xBF\n", {"1:blank,byte-order mark, harmless,"}},
        // Values that the plug-in writes other than the player will expect.
        {"PickupSize = 1e40\nTurnSpeed = -nan\nTextAlpha = infinity\nTextMoveY = 0x1p200\n",
         {"1:sets,infinity or NaN,", "2:sets,infinity or NaN,", "3:sets,infinity or NaN,", "4:sets,infinity or NaN,"}},
        {"PickupColor_1 = 1 2 3 4 1e40\nPickupColor_2 = 1 2 3 4 nan\n", {"1:sets,infinity or NaN,", "2:sets,infinity or NaN,"}},
        {"EffectDistance = 1e-50\nEffectStrength = 1e-40\nSize2DFX = 0.0e-50\nTextAlpha = 1.2e-38\n",
         {"1:sets,too small,", "2:sets,too small,", "3:sets,", "4:sets,"}},
        {"PickupColor_3 = 1 2 3 4 1e-45\n", {"1:sets,too small,"}},
        {"PickupSize = 0x10\nPickupColor_5 = 0xFF0000\n", {"1:sets,hexadecimal,", "2:sets,stops early,"}},
        {"PickupSize = 150%\n", {"1:sets,text after the number,"}},
    };
    for (const Case& c : cases) {
        const SettingsCheck check = CheckSettingsText(c.text);
        EXPECT_EQ(c.kinds, Kinds(check)) << c.text;
    }
}

TEST(CheckSettings, EachPieceNamesTheSettingItSetsOrSurelyMeansToSet) {
    const std::pair<std::string, std::string> cases[] = {
        {"PickupSize = 2\n", "PickupSize"},
        {"pickupsize = 2\n", "PickupSize"},
        {"PickupColor_05 = 1 2 3 4 1\n", "PickupColor_5"},
        {"\xEF\xBB\xBFTextAlpha = 1\n", "TextAlpha"},
        {"TextAlpha 5\n", "TextAlpha"},
        {"EfectStrength = 2\n", ""},  // a near spelling is only a guess
        {"PickupColor_44 = 1 2 3 4 1\n", ""},
        {"# PickupSize = 2\n", ""},
    };
    for (const auto& [text, key] : cases) {
        const SettingsCheck check = CheckSettingsText(text);
        ASSERT_EQ(1u, check.pieces.size()) << text;
        EXPECT_EQ(key, check.pieces[0].key) << text;
    }
}

// The words of one warning of a one-line text.
std::string WarningText(const std::string& text) {
    const SettingsCheck check = CheckSettingsText(text);
    for (const PieceVerdict& piece : check.pieces) {
        for (const Note& note : piece.notes) {
            if (IsWarning(note.kind)) return note.text;
        }
    }
    return {};
}

TEST(CheckSettings, SaysPlainlyWhatTheSurprisingValuesGive) {
    struct Case {
        std::string text;
        std::vector<std::string> says;
    };
    const Case cases[] = {
        {"PickupColor_6 = 255 0 0\n",
         {"reads only channel0, channel1 and channel2 (3 of the 5 fields); channel3 gets 0 and number gets 1.",
          "Write all five"}},
        // Entry 7's default is 97 194 247 0 1: channel1 and channel2 lose theirs, number keeps its own.
        {"PickupColor_7 = 255\n",
         {"channel1 gets 0 (its default is 194), channel2 gets 0 (its default is 247), channel3 gets 0 and number gets 1."}},
        {"PickupColor_5 = 255 0 0 0\n", {"number gets 1.", "(4 of the 5 fields)"}},
        {"PickupColor_5 = 0xFF0000\n", {"It stops at \"xFF0000\"", "decimal, from 0 to 255, not hexadecimal"}},
        {"PickupSize = 150%\n", {"the value is 150 itself, not a share of the default"}},
        {"PickupSize = 0x10\n", {"\"0x10\" is a hexadecimal number: the plug-in reads it as 16"}},
        {"PickupSize = 1e40\n", {"writes infinity", "The game may misbehave"}},
        {"TurnSpeed = -nan\n", {"NaN", "The game may misbehave"}},
        {"EffectDistance = 1e-50\n", {"so the plug-in writes 0."}},
    };
    for (const Case& c : cases) {
        const std::string said = WarningText(c.text);
        for (const std::string& words : c.says) EXPECT_NE(std::string::npos, said.find(words)) << c.text << said;
    }
}

TEST(CheckSettings, AFileInUtf16GetsOneVerdictOnTheWholeFile) {
    constexpr char bytes[] = "\xFF\xFEP\0i\0c\0k\0=\0\x33\0\r\0\n\0T\0=\0\x31\0\r\0\n\0";
    const std::string utf16(bytes, sizeof bytes - 1);
    const SettingsCheck check = CheckSettingsText(utf16);
    EXPECT_EQ(1u, check.warnings);
    ASSERT_EQ(1u, check.fileNotes.size());
    EXPECT_EQ(Finding::NotText, check.fileNotes.front().kind);
    EXPECT_NE(std::string::npos, check.fileNotes.front().text.find("Save it as ANSI or UTF-8"));
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
        {"pickupcolor_007", "Colour numbers have no leading zeros: write PickupColor_7"},
        {"PickupColor_44", "The colour entries are PickupColor_0 to PickupColor_43"},
        {"TurnSped", "Did you mean TurnSpeed?"},
        {"WeaponCirclesScaleX", "Did you mean WeaponCircles_ScaleX?"},
        {"Volume", "No known key is close to it; the keys are listed in the final table"},
    };
    for (const auto& [key, hint] : cases) EXPECT_EQ(hint, KeyHint(key)) << key;
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

}  // namespace
