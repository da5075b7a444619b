// The settings page's data, without the server: the state of a real settings file as JSON,
// every setting's description from the release's file, and the changes the page asks for,
// made in real files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "page/PageChange.h"
#include "page/PageState.h"
#include "page/SettingDescriptions.h"
#include "edit/FileReplace.h"
#include "edit/SettingsEdit.h"
#include "src/settings/PickupSettings.h"
#include "tests/support/TempFolder.h"

namespace {

using nlohmann::json;

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string ReleaseFile() { return ReadFile(GLIMMERWARD_RELEASE_INI); }

TEST(SettingDescriptions, EverySettingHasTheCommentAboveItsLineInTheReleaseFile) {
    for (std::size_t i = 0; i < PickupSettingCount; ++i) EXPECT_NE("", SettingDescription(i)) << PickupSettings[i].key;
    EXPECT_EQ("Size of the pickups.", SettingDescription(*FindPickupSetting("PickupSize")));
    EXPECT_EQ("Colour entry 43 of the table.", SettingDescription(*FindPickupSetting("PickupColor_43")));
    // The colour table's explanation stands apart, above the first entry's own comment.
    EXPECT_EQ("Colour entry 0 of the table.", SettingDescription(*FindPickupSetting("PickupColor_0")));
}

TEST(SettingGroups, EachSettingIsInItsGroup) {
    const std::map<std::string_view, std::vector<std::string_view>> members = {
        {"Pickups", {"PickupSize", "TurnSpeed"}},
        {"Weapon circles", {"WeaponCircles_ScaleX", "WeaponCircles_ScaleY", "WeaponCircles_Distance",
                            "WeaponCircles_OuterSize", "WeaponCircles_AlphaPlus", "WeaponCircles_AlphaMinus"}},
        {"Text", {"TextDistance", "TextMoveY", "TextAlpha"}},
        {"Effects", {"EffectStrength", "EffectDistance", "Size2DFX", "Distance2DFX"}},
    };
    std::map<std::string_view, std::vector<std::string_view>> found;
    for (std::size_t i = 0; i < PickupSettingCount; ++i) {
        const std::string_view group = GroupName(PickupSettings[i].group);
        if (group != "Colour entries") found[group].push_back(PickupSettings[i].key);
        EXPECT_EQ(PickupSettings[i].kind == SettingKind::Color, group == "Colour entries") << PickupSettings[i].key;
    }
    EXPECT_EQ(members, found);
}

// A page's file in a folder of its own.
struct PageFolder {
    explicit PageFolder(const std::string& text) : path(folder.write("Glimmerward.ini", text)) {
        file.path = path.string();
        file.folder.subject = "Settings file: " + file.path;
    }
    std::string bytes() const { return ReadFile(path); }

    TempFolder folder;
    std::filesystem::path path;
    PageFile file;
};

const json& Setting(const json& state, const std::string& key) {
    for (const json& setting : state["settings"]) {
        if (setting["key"] == key) return setting;
    }
    throw std::runtime_error("no setting " + key);
}

TEST(PageState, HoldsTheSummaryTheProblemsWithTheirSettingAndEveryValueAsText) {
    const PageFolder page("pickupsize = 2\r\nTurnSpeed = 0,005\r\nEfectStrength = 2\r\nPickupColor_5 = 255 0 0 7 2.5\r\n");
    const json state = PageState(page.file);
    EXPECT_EQ(SettingsVersion(page.bytes()), state["version"]);
    EXPECT_EQ(page.file.path, state["file"]);
    EXPECT_EQ(page.file.path + ".bak", state["backup"]);
    EXPECT_EQ(page.file.folder.subject, state["subject"]);
    EXPECT_EQ("From the file: 2 of the 59 settings; the other 57 keep their defaults.", state["fromFile"]);
    EXPECT_EQ("3 warnings.", state["closing"]);
    EXPECT_EQ(json::array(), state["fileProblems"]);

    ASSERT_EQ(3u, state["problems"].size()) << state["problems"].dump(1);
    const std::string keys[] = {"PickupSize", "TurnSpeed", ""};  // a near spelling is only a guess
    for (std::size_t i = 0; i < 3; ++i) {
        const json& problem = state["problems"][i];
        EXPECT_EQ(1 + i, problem["line"]);
        EXPECT_EQ("line " + std::to_string(1 + i), problem["where"]);
        EXPECT_EQ(keys[i], problem["key"]);
        EXPECT_EQ(1u, problem["warnings"].size());
    }
    EXPECT_NE(std::string::npos, state["problems"][1]["warnings"][0].get<std::string>().find("decimal comma"));

    // The page shows the groups in the table's order, with the names the table gives them.
    EXPECT_EQ((json{"Pickups", "Weapon circles", "Text", "Effects", "Colour entries"}), state["groups"]);
    ASSERT_EQ(59u, state["settings"].size());
    const json& turn = Setting(state, "TurnSpeed");
    EXPECT_EQ((json{{"key", "TurnSpeed"}, {"group", "Pickups"}, {"description", "Turning speed of the pickups."},
                    {"kind", "float"}, {"value", "0"}, {"default", "0.0030566407"}, {"step", "1e-4"}, {"line", 2},
                    {"piece", 1}}),
              turn);
    // A colour entry in one shape: its five fields as one text, as the file has them; its step
    // is its number's.
    EXPECT_EQ((json{{"key", "PickupColor_5"}, {"group", "Colour entries"}, {"description", "Colour entry 5 of the table."},
                    {"kind", "color"}, {"value", "255 0 0 7 2.5"}, {"default", "97 194 247 0 1"}, {"step", "0.1"},
                    {"line", 4}, {"piece", 1}}),
              Setting(state, "PickupColor_5"));
    // Each number steps on its own scale, in the one formatter's text.
    EXPECT_EQ("0.1", Setting(state, "PickupSize")["step"]);
    EXPECT_EQ("1", Setting(state, "WeaponCircles_Distance")["step"]);
    EXPECT_EQ(0, Setting(state, "PickupSize")["line"]);  // only a key in other case sets it
}

TEST(PageState, AFileThatIsGoneHasNoVersionAndEveryDefault) {
    TempFolder folder;
    PageFile file;
    file.path = (folder.path() / "Glimmerward.ini").string();
    const json state = PageState(file);
    EXPECT_EQ("", state["version"]);
    EXPECT_EQ("", CurrentVersion(file.path));
    EXPECT_EQ("No settings file was read: the plug-in will write every setting's default.", state["closing"]);
    ASSERT_EQ(59u, state["settings"].size());
    for (const json& setting : state["settings"]) {
        EXPECT_EQ(0, setting["line"]);
        EXPECT_EQ(setting["default"], setting["value"]);
    }
    EXPECT_NE(std::string::npos, state["remarks"][0]["text"].get<std::string>().find("does not exist"));
}

#ifndef _WIN32
// A linked settings file is written where the link leads, and its backup kept there.
TEST(PageState, ALinkedFilesBackupIsBesideItsTarget) {
    PageFolder page(ReleaseFile());
    const std::filesystem::path link = page.folder.path() / "linked.ini";
    std::filesystem::create_symlink(page.path, link);
    PageFile linked = page.file;
    linked.path = link.string();
    EXPECT_EQ(page.file.path + ".bak", PageState(linked)["backup"]);
}
#endif

// A device or a pipe where the settings file should be would be read for ever: the page names it.
TEST(PageState, ADeviceOrAPipeIsNamedAndNotRead) {
    TempFolder folder;
#ifdef _WIN32
    const std::string paths[] = {(folder.path() / "NUL").string()};
#else
    const std::string pipe = (folder.path() / "Glimmerward.ini").string();
    ASSERT_EQ(0, ::mkfifo(pipe.c_str(), 0600));
    const std::string paths[] = {"/dev/zero", pipe};
#endif
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        PageFile file;
        file.path = path;
        const json state = PageState(file);
        EXPECT_EQ("", state["version"]);
        EXPECT_EQ("", CurrentVersion(path));
        ASSERT_FALSE(state["remarks"].empty());
        EXPECT_EQ(path + " is no file but a device or a pipe, which the checker does not read. Give the path of the "
                         "settings file itself",
                  state["remarks"][0]["text"]);
        EXPECT_EQ("No settings file was read: the plug-in will write every setting's default.", state["closing"]);
    }
}

TEST(ParseChange, TakesTheBodyThePageSendsAndRefusesAnyOther) {
    const ChangeRequest request = ParseChange(
        R"({"expect": "0123456789abcdef", "set": [{"key": "PickupSize", "value": "2.5"},
            {"key": "PickupColor_5", "value": "255 0 0 0 1"}], "reset": ["TurnSpeed"]})");
    EXPECT_EQ("", request.problem);
    EXPECT_EQ("0123456789abcdef", request.write.expect);
    EXPECT_EQ((std::vector<SettingSet>{{"PickupSize", "2.5"}, {"PickupColor_5", "255 0 0 0 1"}}), request.write.sets);
    EXPECT_EQ((std::vector<std::string>{"TurnSpeed"}), request.write.resets);
    EXPECT_EQ("", ParseChange(R"({"expect": "", "reset": ["TurnSpeed"]})").problem);

    for (const char* body : {
             "", "{", "[]", "\"text\"",
             R"({"set": [{"key": "PickupSize", "value": "2.5"}]})",                    // no expect
             R"({"expect": 5, "reset": ["TurnSpeed"]})",                               // expect no text
             R"({"expect": "v"})",                                                     // no change
             R"({"expect": "v", "set": [], "reset": []})",                             // no change
             R"({"expect": "v", "set": {"key": "PickupSize", "value": "2.5"}})",       // set no list
             R"({"expect": "v", "set": [{"key": "PickupSize"}]})",                     // no value
             R"({"expect": "v", "set": [{"key": "PickupSize", "value": 2.5}]})",       // a number, not its text
             R"({"expect": "v", "set": [{"key": "PickupSize=3", "value": ""}]})",      // a key with "="
             R"({"expect": "v", "reset": [7]})",
             R"({"expect": "v", "reset": "TurnSpeed"})",
         }) {
        EXPECT_NE("", ParseChange(body).problem) << body;
    }
}

TEST(MakeChange, WritesTheFileAndAnswersEachOutcome) {
    PageFolder page(ReleaseFile());
    const std::string before = page.bytes();
    const std::string version = SettingsVersion(before);
    const auto change = [&page](const std::string& body) { return MakeChange(page.file, ParseChange(body).write); };

    const ChangeAnswer written = change(R"({"expect": ")" + version + R"(", "set": [{"key": "TextAlpha", "value": "200"}]})");
    EXPECT_EQ(200, written.status);
    EXPECT_EQ("written", written.body["outcome"]);
    std::string expected = before;
    expected.replace(expected.find("TextAlpha = 255.0"), 17, "TextAlpha = 200");
    EXPECT_EQ(expected, page.bytes());
    const std::string now = SettingsVersion(expected);
    EXPECT_EQ(now, written.body["state"]["version"]);
    // Built from the bytes the writer wrote, it is the state that the file on disk gives.
    EXPECT_EQ(PageState(page.file), written.body["state"]);
    EXPECT_EQ((std::vector<std::string>{"changed: set TextAlpha = 200", "written: " + now}), written.printed);

    struct Case {
        std::string body;
        int status;
        const char* outcome;
    };
    const Case cases[] = {
        {R"({"expect": ")" + now + R"(", "set": [{"key": "TextAlpha", "value": "200.0"}]})", 200, "unchanged"},
        {R"({"expect": ")" + version + R"(", "set": [{"key": "TextAlpha", "value": "100"}]})", 409, "stale"},
        {R"({"expect": "", "set": [{"key": "TextAlpha", "value": "100"}]})", 409, "stale"},  // the file exists
        {R"({"expect": ")" + now + R"(", "set": [{"key": "TextAlpha", "value": "1,5"}]})", 422, "bad-input"},
        {R"({"expect": ")" + now + R"(", "reset": ["Volume"]})", 422, "bad-input"},
    };
    for (const Case& c : cases) {
        const ChangeAnswer answer = change(c.body);
        EXPECT_EQ(c.status, answer.status) << c.body;
        EXPECT_EQ(c.outcome, answer.body["outcome"]) << c.body;
        EXPECT_EQ(c.status == 200, answer.body["problems"].empty()) << c.body;
        EXPECT_EQ(now, answer.body["state"]["version"]) << c.body;
        EXPECT_EQ(PageState(page.file), answer.body["state"]) << c.body;
        EXPECT_TRUE(answer.printed.empty()) << c.body;
    }
    EXPECT_EQ(expected, page.bytes());

    // The backup's place taken by a folder: the file cannot be written, and the player is told what to do.
    std::filesystem::remove(page.file.path + ".bak");
    std::filesystem::create_directory(page.file.path + ".bak");
    const ChangeAnswer blocked = change(R"({"expect": ")" + now + R"(", "reset": ["TextAlpha"]})");
    EXPECT_EQ(500, blocked.status);
    EXPECT_EQ("not-written", blocked.body["outcome"]);
    EXPECT_FALSE(blocked.body["problems"].empty());
    EXPECT_NE("", blocked.body["advice"]);
    EXPECT_EQ(PageState(page.file), blocked.body["state"]);
    EXPECT_EQ(expected, page.bytes());
}

// The page waits for no other writer: while another change holds the writers' turn, the
// player is told at once and asked to try again.
TEST(MakeChange, AnswersAtOnceWhileAnotherChangeIsBeingWritten) {
    PageFolder page(ReleaseFile());
    const std::string before = page.bytes();
    const WriterTurn other(page.file.path, TurnWait::AnswerAtOnce, {});
    ASSERT_TRUE(other.locked());
    const ChangeAnswer answer = MakeChange(
        page.file, ParseChange(R"({"expect": ")" + SettingsVersion(before) + R"(", "set": [{"key": "TextAlpha", "value": "9"}]})").write);
    EXPECT_EQ(500, answer.status);
    EXPECT_EQ("not-written", answer.body["outcome"]);
    EXPECT_EQ((json{"another change of " + page.file.path +
                    " is being written right now, so this one was not made: make it again in a moment"}),
              answer.body["problems"]);
    EXPECT_EQ("Another change of the settings file is being written right now (from another settings page or a "
              "glimmerward-check command), so nothing was written. Make the change again in a moment.",
              answer.body["advice"]);
    EXPECT_EQ(before, page.bytes());
}

TEST(MakeChange, MakesAMissingFileFromTheDefaultsOrSaysThatNoneCanBeMade) {
    TempFolder folder;
    PageFile file;
    file.path = (folder.path() / "Glimmerward.ini").string();
    const std::string body = R"({"expect": "", "set": [{"key": "PickupSize", "value": "3"}]})";

    const ChangeAnswer none = MakeChange(file, ParseChange(body).write);
    EXPECT_EQ(500, none.status);
    EXPECT_EQ("no-file", none.body["outcome"]);
    EXPECT_NE("", none.body["advice"]);
    EXPECT_EQ(PageState(file), none.body["state"]);

    file.defaults = folder.write("Glimmerward-defaults.ini", ReleaseFile()).string();
    const ChangeAnswer made = MakeChange(file, ParseChange(body).write);
    EXPECT_EQ(200, made.status);
    EXPECT_EQ("written", made.body["outcome"]);
    EXPECT_EQ((json{"made " + file.path + " from " + file.defaults, "set PickupSize = 3"}), made.body["done"]);
    EXPECT_EQ("3", Setting(made.body["state"], "PickupSize")["value"]);
    EXPECT_EQ(PageState(file), made.body["state"]);
    // Shown a file, the page asks against its version; against none, it meets the file made meanwhile.
    const ChangeAnswer meanwhile = MakeChange(file, ParseChange(body).write);
    EXPECT_EQ(409, meanwhile.status);
    EXPECT_EQ("stale", meanwhile.body["outcome"]);
    EXPECT_EQ(PageState(file), meanwhile.body["state"]);
    // The file gone since the page showed it: no version to change, and the page shows it gone.
    const std::string version = made.body["state"]["version"];
    std::filesystem::remove(file.path);
    const ChangeAnswer gone = MakeChange(file, ParseChange(R"({"expect": ")" + version + R"(", "reset": ["TurnSpeed"]})").write);
    EXPECT_EQ(409, gone.status);
    EXPECT_EQ("", gone.body["state"]["version"]);
    EXPECT_EQ(PageState(file), gone.body["state"]);
}

}  // namespace
