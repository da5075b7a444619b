// The real checker program's presets on real game folders: a look saved, changed and put back;
// a look exported in one folder and imported in another; refusals that write nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "basis/ValueText.h"
#include "src/settings/PickupSettings.h"
#include "tests/support/CheckerProgram.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FakeExecutable.h"
#include "tests/support/TempFolder.h"

namespace {

namespace fs = std::filesystem;

struct CheckerRun {
    int status;
    std::string output;  // standard output and error together
};

// `input`: a file for its standard input, or none.
CheckerRun RunChecker(std::vector<std::string> arguments, const std::string& input = {}) {
    arguments.insert(arguments.begin(), CheckerProgram());
    arguments.push_back("--no-wait");
    ChildProcess checker(arguments, ChildProcess::Console::Shared, input);
    const int status = checker.finish();
    return {status, checker.output()};
}

// A game folder as a player has it: the game, and the release's settings file in use.
struct GameFolder {
    TempFolder folder;
    fs::path settings;

    explicit GameFolder(const std::string& extra) {
        folder.write("game.exe", SupportedGame(110));
        settings = folder.write("Glimmerward.ini", ReadFile(GLIMMERWARD_RELEASE_INI) + extra);
    }
    std::string path() const { return folder.path().string(); }
    PickupValues values() const { return ReadPickupSettingsFile(settings.string().c_str()).values; }
};

std::vector<std::string> Differences(const PickupValues& a, const PickupValues& b) {
    std::vector<std::string> differing;
    for (std::size_t i = 0; i < PickupSettings.size(); ++i) {
        if (!SameSettingValue(i, a, b)) differing.push_back(std::string(PickupSettings[i].key));
    }
    return differing;
}

// Values no decimal gives among them, which the share text carries exactly.
constexpr const char* Look =
    "PickupSize = 2.5\nTurnSpeed = 0,005\nTextAlpha = 1e39\nSize2DFX = -nan\nEffectStrength = 1e-45\n"
    "PickupColor_5 = 255 0 0 255 2.0\nPickupColor_43 = 1 2 3 4 nan\n";

TEST(PresetProgram, ExportedInOneGameFolderAndImportedInAnotherTheValuesAreEqual) {
    const GameFolder mine(Look);
    const GameFolder friends("PickupSize = 7\nPickupColor_9 = 1 1 1 1 1\n");
    const CheckerRun exported = RunChecker({"--export", mine.path()});
    ASSERT_EQ(0, exported.status) << exported.output;
    EXPECT_TRUE(exported.output.starts_with("# Glimmerward settings")) << exported.output;
    EXPECT_EQ(std::string::npos, exported.output.find(mine.path())) << exported.output;  // no path
    EXPECT_NE(std::string::npos, exported.output.find("TurnSpeed = 0")) << exported.output;  // as the plug-in took it

    const fs::path shared = friends.folder.write("shared.txt", exported.output);
    const CheckerRun imported = RunChecker({"--import", shared.string(), friends.path()});
    // The report after the change warns: about the values no decimal gives, among others.
    EXPECT_EQ(1, imported.status) << imported.output;
    EXPECT_NE(std::string::npos, imported.output.find("set PickupSize = 2.5")) << imported.output;
    EXPECT_EQ(std::vector<std::string>{}, Differences(mine.values(), friends.values()));

    // The same text through standard input, as a script pipes it.
    const GameFolder piped("TextAlpha = 3\n");
    const CheckerRun fromInput = RunChecker({"--import", "-", piped.path()}, shared.string());
    EXPECT_EQ(1, fromInput.status) << fromInput.output;
    EXPECT_EQ(std::vector<std::string>{}, Differences(mine.values(), piped.values()));
}

TEST(PresetProgram, AnImportedTextWithProblemsIsRefusedWithThemListedAndNothingWritten) {
    const GameFolder friends("");
    const std::string before = ReadFile(friends.settings);
    const fs::path shared = friends.folder.write("shared.txt", "PickupSize = 1,5\nVolume = 3\nTurnSpeed = 0.004\n");
    // More than 64 KiB of comment lines: standard input is read no further than that.
    const fs::path large = friends.folder.write("large.txt", std::string(70000, '#') + "\nPickupSize = 2\n");
    struct Case {
        std::vector<std::string> arguments;
        std::vector<std::string> said;
        std::string input;  // standard input's file
    };
    const std::vector<std::string> problems = {"line 1: PickupSize = 1,5: warning (decimal comma)",
                                               "line 2: Volume = 3: warning (unknown key)"};
    const Case cases[] = {
        {{"--import", shared.string(), friends.path()}, problems, {}},
        {{"--import", "-", friends.path()}, problems, shared.string()},
        {{"--import", "-", friends.path()}, {"there is no text"}, {}},
        {{"--import", "-", friends.path()}, {"KiB a preset may have"}, large.string()},
        {{"--import", (friends.folder.path() / "none.txt").string(), friends.path()}, {"does not exist"}, {}},
    };
    for (const Case& c : cases) {
        const CheckerRun refused = RunChecker(c.arguments, c.input);
        EXPECT_EQ(3, refused.status) << refused.output;
        for (const std::string& words : c.said) EXPECT_NE(std::string::npos, refused.output.find(words)) << refused.output;
        EXPECT_NE(std::string::npos, refused.output.find("nothing was changed")) << refused.output;
        EXPECT_EQ(before, ReadFile(friends.settings));
        EXPECT_FALSE(fs::exists(friends.settings.string() + ".bak"));
    }
}

TEST(PresetProgram, ALookSavedChangedAndAppliedComesBackAndIsSavedOverOnlyWithReplace) {
    const GameFolder game(Look);
    const PickupValues saved = game.values();
    const CheckerRun save = RunChecker({"--save-preset", "My look", game.path()});
    ASSERT_EQ(0, save.status) << save.output;
    const fs::path preset = game.folder.path() / "Glimmerward-presets" / "My look.ini";
    const std::string kept = ReadFile(preset);
    EXPECT_TRUE(kept.starts_with("# Glimmerward preset: My look\n")) << kept;

    // Every report on this file warns: about the values no decimal gives, and the lines the
    // look's lines replace.
    ASSERT_EQ(1, RunChecker({"--set", "PickupSize=9", "--reset", "TextAlpha", game.path()}).status);
    const CheckerRun over = RunChecker({"--save-preset", "my LOOK", game.path()});
    EXPECT_EQ(3, over.status) << over.output;
    EXPECT_NE(std::string::npos, over.output.find("give --replace to save over it")) << over.output;
    EXPECT_EQ(kept, ReadFile(preset));

    const CheckerRun listed = RunChecker({"--presets", game.path()});
    EXPECT_EQ(0, listed.status);
    EXPECT_NE(std::string::npos, listed.output.find("My look")) << listed.output;

    const CheckerRun applied = RunChecker({"--apply-preset", "my look", game.path()});
    EXPECT_EQ(1, applied.status) << applied.output;
    EXPECT_EQ(std::vector<std::string>{}, Differences(saved, game.values()));

    ASSERT_EQ(1, RunChecker({"--set", "PickupSize=9", game.path()}).status);
    ASSERT_EQ(0, RunChecker({"--save-preset", "My look", "--replace", game.path()}).status);
    EXPECT_NE(std::string::npos, ReadFile(preset).find("PickupSize = 9\n"));
}

TEST(PresetProgram, AnswersEveryMistakenPresetCommandWithAUsageErrorAndWritesNothing) {
    const GameFolder game("");
    const std::string before = ReadFile(game.settings);
    const std::vector<std::vector<std::string>> mistakes = {
        {"--save-preset", "CON"},
        {"--save-preset", "a/b"},
        {"--save-preset"},
        {"--apply-preset", "Nowhere"},
        {"--export", "Nowhere"},
        {"--replace"},
        {"--presets", "--export"},
        {"--apply-preset", "x", "--set", "PickupSize=2"},
        {"--expect", "0123456789abcdef", "--presets"},
        {"--export", "--page"},
    };
    for (std::vector<std::string> arguments : mistakes) {
        arguments.push_back(game.path());
        const CheckerRun refused = RunChecker(arguments);
        EXPECT_EQ(3, refused.status) << arguments.front() << ": " << refused.output;
    }
    // A refused name is told alone, as a refused value is, not buried under the usage.
    const CheckerRun device = RunChecker({"--save-preset", "con.txt", game.path()});
    EXPECT_NE(std::string::npos, device.output.find("\"con\" is the name of a Windows device")) << device.output;
    EXPECT_NE(std::string::npos, device.output.find("no preset was saved")) << device.output;
    EXPECT_EQ(std::string::npos, device.output.find("usage:")) << device.output;
    // A preset that is not there: the command line says how to see those that are.
    const CheckerRun nowhere = RunChecker({"--apply-preset", "Nowhere", game.path()});
    EXPECT_NE(std::string::npos, nowhere.output.find("there is no preset \"Nowhere\"")) << nowhere.output;
    EXPECT_NE(std::string::npos, nowhere.output.find("--presets lists the presets there")) << nowhere.output;
    EXPECT_EQ(before, ReadFile(game.settings));
    EXPECT_FALSE(fs::exists(game.folder.path() / "Glimmerward-presets"));
}

}  // namespace
