// The program's game folder on real files, the settings file search and the first-run copy,
// and the real checker program run on real folders.
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

#include "program/GameFolder.h"
#include "checker/SettingsCheck.h"
#include "src/settings/NumberScan.h"
#include "src/settings/PickupSettings.h"
#include "tests/support/FakeExecutable.h"
#include "tests/support/TempFolder.h"

namespace {

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
        {{"--set", "PickupSize", settings}, 3,
         "glimmerward-check: \"PickupSize\" is no KEY=VALUE\nglimmerward-check: nothing was changed\n"},
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
