// The checker's portable parts on real text and real files: the printed floats, the
// verdicts and their summary, key hints, the game's build from an executable file, and the
// settings file search and first-run copy.
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
#include "checker/FloatText.h"
#include "checker/GameFolder.h"
#include "checker/SettingsCheck.h"
#include "src/settings/NumberScan.h"
#include "src/settings/PickupSettings.h"
#include "tests/support/FakeExecutable.h"
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

TEST(NearSettingsFiles, FindsTheSettingsFileSavedUnderAnotherNameInThePluginsFolders) {
    const std::pair<const char*, bool> names[] = {
        {"Glimmerward.ini.txt", true}, {"Glimmerward .ini", true}, {"Glimmerward.ini.ini", true},
        {"glimmerward.txt", true},     {" Glimmerward.ini", true}, {"GLIMMERWARD.INI.TXT", true},
        {"Glimmerward.ini", false},    {"glimmerward.INI", false}, {"Glimmerward.ini.bak", false},
        {"Glimmerward-defaults.ini", false}, {"Glimmerward.dll", false}, {"Other.ini", false},
        {"Glimmerward.ini.~1234.tmp", false}, {"Glimmerward.ini.~1234.0123456789abcdef.tmp", false},
        {"Glimmerward.ini.lock", false},  // the settings writer's own
    };
    for (const auto& [name, expected] : names) EXPECT_EQ(expected, IsNearSettingsFileName(name)) << name;

    TempFolder game;
    game.write("Glimmerward.ini.txt", "PickupSize = 5\n");
    game.write("plugins/Glimmerward .ini", "PickupSize = 5\n");
    game.write("scripts/Glimmerward.ini.bak", "");
    game.write("other/Glimmerward.ini.txt", "");  // not one of the plug-in's folders
    const auto similar = NearSettingsFiles(game.path().string());
    ASSERT_EQ(2u, similar.size());
    EXPECT_NE(std::string::npos, similar[0].find("Glimmerward .ini"));
    EXPECT_NE(std::string::npos, similar[1].find("Glimmerward.ini.txt"));
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

#ifndef _WIN32
    TempFolder piped;  // a pipe under the release file's name is refused, not waited on
    const std::string pipe = (piped.path() / "Glimmerward-defaults.ini").string();
    ASSERT_EQ(0, ::mkfifo(pipe.c_str(), 0600));
    EXPECT_EQ("cannot read " + pipe, CopyToNewFile(pipe, (piped.path() / "Glimmerward.ini").string()));
    EXPECT_EQ(PathKind::Missing, KindOf((piped.path() / "Glimmerward.ini").string()));
#endif
}

#ifndef _WIN32
// The real checker program, run on real folders; natively, where its output comes through a
// pipe plainly (the Windows program is compared with this one report for report).
struct CheckerRun {
    int status;
    std::string output;
};

CheckerRun RunChecker(const std::vector<std::string>& arguments) {
    std::string command = "'" GLIMMERWARD_CHECKER "'";
    for (const std::string& argument : arguments) command += " '" + argument + "'";
    std::FILE* pipe = popen((command + " --no-wait 2>&1").c_str(), "r");
    CheckerRun run{-1, {}};
    if (!pipe) return run;
    char buffer[4096];
    while (const std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) run.output.append(buffer, got);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::size_t Lines(const std::string& text) { return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')); }

std::string ReleaseFile() {
    std::ifstream in(GLIMMERWARD_RELEASE_INI, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(CheckerProgram, TheReleaseFilesReportFitsAConsoleWindowAndFindsNothingWrong) {
    TempFolder game;
    game.write("game.exe", SupportedGame(110));
    game.write("Glimmerward.ini", ReleaseFile());
    const CheckerRun run = RunChecker({game.path().string()});
    EXPECT_EQ(0, run.status) << run.output;
    EXPECT_LE(Lines(run.output), 40u) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("game.exe: build 110 of the game, which the plug-in supports")) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("From the file: all 59 settings.")) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("Every setting has its default value.")) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("Nothing looks wrong.")) << run.output;
    EXPECT_EQ(std::string::npos, run.output.find("What the plug-in writes into the game:")) << run.output;
}

TEST(CheckerProgram, FiveKindsOfMistakeComeFirstWithTheirLinesAndStillFitAConsoleWindow) {
    TempFolder game;
    game.write("game.exe", SupportedGame(120));
    game.write("Glimmerward.ini", ReleaseFile() +
                                      "pickupsize = 2\r\n"            // case
                                      "TurnSpeed = 0,005\r\n"          // decimal comma
                                      "TextAlpha = 200 # brighter\r\n"  // a comment after the value
                                      "PickupColor_05 = 1 2 3 4 1\r\n"   // a leading zero
                                      "EfectStrength = 2\r\n");         // a typo
    const CheckerRun run = RunChecker({game.path().string()});
    EXPECT_EQ(1, run.status) << run.output;
    EXPECT_LE(Lines(run.output), 40u) << run.output;
    const std::size_t problems = run.output.find("Problems in the settings file:");
    const std::size_t differing = run.output.find("Settings that differ from their defaults:");
    ASSERT_NE(std::string::npos, problems) << run.output;
    ASSERT_NE(std::string::npos, differing) << run.output;
    EXPECT_LT(problems, differing);
    const std::size_t last = Lines(ReleaseFile());
    for (std::size_t line = last + 1; line <= last + 5; ++line) {
        const std::size_t at = run.output.find("line " + std::to_string(line) + ":", problems);
        EXPECT_LT(at, differing) << "line " << line << " is not among the problems:\n" << run.output;
    }
    for (const char* words : {"Keys are case-sensitive", "decimal comma", "starts no comment", "no leading zeros",
                              "Did you mean EffectStrength?"}) {
        EXPECT_NE(std::string::npos, run.output.find(words)) << words;
    }

    const CheckerRun all = RunChecker({game.path().string(), "--all"});
    EXPECT_EQ(1, all.status);
    EXPECT_NE(std::string::npos, all.output.find("Line by line, what the plug-in makes of the file:"));
    EXPECT_NE(std::string::npos, all.output.find("What the plug-in writes into the game:"));
}

TEST(CheckerProgram, AFolderWithoutTheGameGetsAWarningAndNoFirstRunCopy) {
    TempFolder unpacked;  // where the zip was unpacked, say
    unpacked.write("Glimmerward-defaults.ini", ReleaseFile());
    const CheckerRun none = RunChecker({unpacked.path().string()});
    EXPECT_EQ(2, none.status) << none.output;
    EXPECT_NE(std::string::npos, none.output.find("warning: there is no game here")) << none.output;
    EXPECT_NE(std::string::npos, none.output.find("beside the game's executable")) << none.output;
    EXPECT_EQ(PathKind::Missing, KindOf((unpacked.path() / "Glimmerward.ini").string()));

    TempFolder other;  // a program that is no supported build of the game
    other.write("other.exe", Executable(0x266000, std::string(0x1BF0, '\xCC') + "\x55\x89\xE5\x52"));
    other.write("Glimmerward.ini", "PickupSize = 2\n");
    const CheckerRun unsupported = RunChecker({other.path().string()});
    EXPECT_EQ(1, unsupported.status) << unsupported.output;
    EXPECT_NE(std::string::npos, unsupported.output.find("warning: no supported build of the game")) << unsupported.output;
}

TEST(CheckerProgram, ASettingsFileUnderANearNameIsPointedOut) {
    TempFolder game;
    game.write("game.exe", SupportedGame(100));
    game.write("Glimmerward.ini.txt", "PickupSize = 2\n");
    const CheckerRun run = RunChecker({game.path().string()});
    EXPECT_EQ(2, run.status) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("Glimmerward.ini.txt is probably a settings file saved under another name"))
        << run.output;
}

TEST(CheckerProgram, AnswersEveryCommandLineWithItsOwnStatus) {
    TempFolder game;
    game.write("game.exe", SupportedGame(110));
    const std::string settings = game.write("Glimmerward.ini", "PickupSize = 2\n").string();
    const std::string folder = game.path().string();
    TempFolder empty;  // no game and no settings file: no page
    const std::string pipe = (game.path() / "pipe.ini").string();
    ASSERT_EQ(0, ::mkfifo(pipe.c_str(), 0600));
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string says;
    };
    const Case cases[] = {
        {{"--help"}, 0, "usage: glimmerward-check"},
        {{"--version"}, 0, "glimmerward-check " GLIMMERWARD_VERSION},
        {{folder}, 0, "Nothing looks wrong."},
        {{settings, "--html", (game.path() / "page.html").string()}, 0, "Nothing looks wrong."},
        {{(game.path() / "missing.ini").string()}, 2, "does not exist"},
        {{"--bogus"}, 3, "unknown option --bogus"},
        {{"--html"}, 3, "--html needs the name of the page"},
        {{"--html", "--all"}, 3, "--html needs the name of the page"},
        {{folder, settings}, 3, "give one game folder or settings file"},
        {{settings, "--html", (game.path() / "no" / "such" / "page.html").string()}, 4, "cannot write the page"},
        {{folder, "--no-browser"}, 3, "--no-browser goes with --page"},
        {{empty.path().string(), "--page"}, 2, "There is no settings page here"},
        // Read, they would never end.
        {{"/dev/zero"}, 2, "/dev/zero is no file but a device or a pipe, which the checker does not read. Give the "
                           "path of the settings file itself"},
        {{pipe}, 2, pipe + " is no file but a device or a pipe, which the checker does not read"},
        {{"--set", "PickupSize=2", pipe}, 3, pipe + " is no file but a device or a pipe, from which no settings are read"},
    };
    for (const Case& c : cases) {
        const CheckerRun run = RunChecker(c.arguments);
        EXPECT_EQ(c.status, run.status) << c.arguments.front() << "\n" << run.output;
        EXPECT_NE(std::string::npos, run.output.find(c.says)) << run.output;
    }
    std::ifstream page(game.path() / "page.html");
    EXPECT_TRUE(page.good());
}

TEST(CheckerProgram, SetChangesTheFileThePluginUsesAndTwoAtOnceBothLand) {
    TempFolder game;
    game.write("game.exe", SupportedGame(110));
    game.write("Glimmerward-defaults.ini", ReleaseFile());
    const std::string folder = game.path().string();

    // No file yet: made where the first-run copy goes, from the defaults, with the change.
    const CheckerRun made = RunChecker({"--set", "PickupSize=3", folder});
    EXPECT_EQ(0, made.status) << made.output;
    const std::string path = (game.path() / "Glimmerward.ini").string();
    EXPECT_EQ(3.0f, ReadPickupSettingsFile(path.c_str()).values.floats[6]);
    EXPECT_NE(std::string::npos, made.output.find("set PickupSize = 3")) << made.output;

    // Two command lines at once: both changes land, one after the other.
    std::FILE* first = popen(("'" GLIMMERWARD_CHECKER "' --no-wait --set TurnSpeed=0.5 '" + folder + "' >/dev/null 2>&1").c_str(), "r");
    std::FILE* second = popen(("'" GLIMMERWARD_CHECKER "' --no-wait --set 'PickupColor_3=#102030' '" + folder + "' >/dev/null 2>&1").c_str(), "r");
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(0, pclose(first));
    EXPECT_EQ(0, pclose(second));
    const PickupValues values = ReadPickupSettingsFile(path.c_str()).values;
    EXPECT_EQ(3.0f, values.floats[6]);
    EXPECT_EQ(0.5f, values.floats[7]);
    EXPECT_EQ((std::array<std::uint8_t, 4>{0x10, 0x20, 0x30, 0}), values.colors[3].channels);

    // The version the report shows guards a change; an older one is refused.
    const CheckerRun report = RunChecker({folder});
    const std::size_t at = report.output.find("version of the settings file: ");
    ASSERT_NE(std::string::npos, at) << report.output;
    const std::string version = report.output.substr(at + 30, 16);
    EXPECT_EQ(5, RunChecker({"--set", "PickupSize=4", "--expect", "0000000000000000", folder}).status);
    EXPECT_EQ(3.0f, ReadPickupSettingsFile(path.c_str()).values.floats[6]);
    EXPECT_EQ(0, RunChecker({"--set", "PickupSize=4", "--expect", version, folder}).status);
    EXPECT_EQ(4.0f, ReadPickupSettingsFile(path.c_str()).values.floats[6]);

    EXPECT_EQ(3, RunChecker({"--set", "PickupSize=2,5", folder}).status);
    EXPECT_EQ(3, RunChecker({"--set", "Volume=1", folder}).status);
    EXPECT_EQ(3, RunChecker({"--set"}).status);
    TempFolder empty;  // no game, no file: none can be made
    EXPECT_EQ(2, RunChecker({"--set", "PickupSize=1", empty.path().string()}).status);
}

// A link planted where the page goes is replaced by the page; what it points at stays as it was.
TEST(CheckerProgram, ThePageTakesThePlaceOfALinkAndNeverWritesThroughIt) {
    TempFolder game;
    game.write("game.exe", SupportedGame(110));
    game.write("Glimmerward.ini", "PickupSize = 2\n");
    const auto victim = game.write("elsewhere/victim.txt", "the player's own\n");
    const auto page = game.path() / "page.html";
    std::filesystem::create_symlink(victim, page);
    ASSERT_EQ(0, RunChecker({game.path().string(), "--html", page.string()}).status);
    std::ifstream kept(victim, std::ios::binary);
    EXPECT_EQ("the player's own\n", std::string(std::istreambuf_iterator<char>(kept), {}));
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(page)));
    std::ifstream written(page, std::ios::binary);
    EXPECT_NE(std::string::npos, std::string(std::istreambuf_iterator<char>(written), {}).find("<html"));
}

TEST(CheckerProgram, ThePageLeadsWithTheSummaryAndTheSwatchesOfWhatDiffers) {
    TempFolder game;
    game.write("game.exe", SupportedGame(110));
    game.write("Glimmerward.ini", "PickupColor_5 = 255 0 0 0 1\nPickupSize = 1,5\n");
    const auto page = game.path() / "page.html";
    const auto read = [&page] {
        std::ifstream in(page, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    ASSERT_EQ(1, RunChecker({game.path().string(), "--html", page.string()}).status);
    const std::string summary = read();
    const std::size_t problems = summary.find("Problems in the settings file");
    const std::size_t swatch = summary.find("<span class=\"sw\" style=\"background:rgb(255,0,0)\">");
    ASSERT_NE(std::string::npos, problems);
    ASSERT_NE(std::string::npos, swatch);
    EXPECT_LT(problems, swatch);
    EXPECT_EQ(std::string::npos, summary.find("Line by line"));

    ASSERT_EQ(1, RunChecker({game.path().string(), "--all", "--html", page.string()}).status);
    const std::string all = read();
    EXPECT_LT(all.find("<span class=\"sw\""), all.find("Line by line"));
    EXPECT_NE(std::string::npos, all.find("What the plug-in writes into the game"));
}
#endif

}  // namespace
