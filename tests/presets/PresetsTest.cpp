// Presets on real files: saved from one settings file and applied to another through the
// writer, every value read back by the plug-in's own reader; the names refused; the shared
// texts refused with the checker's words.
#include "presets/Presets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "basis/ValueText.h"
#include "presets/PresetName.h"
#include "tests/support/HeldLock.h"
#include "tests/support/TempFolder.h"

namespace {

namespace fs = std::filesystem;

std::string Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string ReleaseFile() { return Bytes(GLIMMERWARD_RELEASE_INI); }

// Each setting whose value differs between `a` and `b`, bit for bit, with both values' texts.
std::vector<std::string> Differences(const PickupValues& a, const PickupValues& b) {
    std::vector<std::string> differing;
    for (std::size_t i = 0; i < PickupSettings.size(); ++i) {
        if (SameSettingValue(i, a, b)) continue;
        differing.push_back(std::string(PickupSettings[i].key) + ": " + SettingValueText(i, a) + " / " +
                            SettingValueText(i, b));
    }
    return differing;
}

PickupValues Read(const fs::path& path) { return ReadPickupSettingsFile(path.string().c_str()).values; }

WriteOutcome Apply(const fs::path& settings, std::string_view name) {
    const PresetValues preset = ReadPreset(settings.string(), name);
    EXPECT_TRUE(preset.values.has_value()) << (preset.problems.empty() ? "" : preset.problems.front());
    SettingsWrite write;
    write.values = preset.values.value_or(DefaultPickupReading().values);
    return WriteSettings(settings.string(), {}, write);
}

// Every one of the 59 settings away from its default, as a player's file may set them: values
// that no decimal gives (infinities, NaNs, denormals), hexadecimal and decimal-comma texts,
// text after a number, and colour values that stop early.
std::string EverySettingChanged() {
    const char* const floats[] = {"1e39",     "-1e39",          "nan",     "-nan",         "1e-45",
                                  "-0x1p-140", "-0",            "0.00123456789", "3.4028235e38", "0,7",
                                  "1.17549435e-38", "7.038531e-26", "65.5abc", "nan(123)", "0x1.8p1"};
    const char* const numbers[] = {"1e39", "-1e39", "nan", "-nan", "1e-45", "-0", "0.1", "1e-40", "2", "1e400"};
    std::string text = "; every setting set\n";
    for (std::size_t i = 0; i < FloatSettingCount; ++i) {
        text += std::string(FloatSettings[i].key) + " = " + floats[i] + "\n";
    }
    for (std::size_t n = 0; n < ColorSettings.size(); ++n) {
        text += std::string(ColorSettings[n].key) + " = ";
        if (n == 7) {
            text += "255 0\n";  // stops early: the rest as the scan presets it
        } else if (n == 8) {
            text += "red\n";
        } else {
            text += std::to_string(n + 1) + " " + std::to_string(300 - n) + " " + std::to_string(n * 5) + " " +
                    std::to_string(n % 3) + " " + numbers[n % std::size(numbers)] + "\n";
        }
    }
    return text;
}

TEST(Presets, SavedThenAppliedEverySettingReadsBackBitForBitThroughThePluginsReader) {
    TempFolder mine;
    TempFolder friends;
    const fs::path source = mine.write("Glimmerward.ini", EverySettingChanged());
    const fs::path target = friends.write("Glimmerward.ini", ReleaseFile() + "PickupSize = 9\nPickupColor_3 = 1 1 1 1 1\n");
    const PickupValues saved = Read(source);
    ASSERT_EQ(PickupSettings.size(), Differences(saved, DefaultPickupReading().values).size());

    const PresetOutcome outcome = SavePreset(source.string(), "Everything (1)", false);
    ASSERT_EQ(WriteStatus::Written, outcome.status) << outcome.problems.front();
    const fs::path preset = mine.path() / "Glimmerward-presets" / "Everything (1).ini";
    EXPECT_TRUE(Bytes(preset).starts_with("# Glimmerward preset: Everything (1)\n# made by glimmerward-check ")) << Bytes(preset);
    EXPECT_EQ(std::vector<std::string>{"Everything (1)"}, ListPresets((mine.path() / "Glimmerward-presets").string()));

    // The preset goes to the friend's folder as a file, and is applied there.
    fs::create_directory(friends.path() / "Glimmerward-presets");
    fs::copy_file(preset, friends.path() / "Glimmerward-presets" / "Everything (1).ini");
    const std::string before = Bytes(target);
    const WriteOutcome applied = Apply(target, "everything (1)");
    ASSERT_EQ(WriteStatus::Written, applied.status) << applied.problems.front();
    EXPECT_EQ(std::vector<std::string>{}, Differences(saved, Read(target)));
    EXPECT_EQ(before, Bytes(target.string() + ".bak"));  // one version before, kept as always

    // A preset that names one setting puts every other back to its default.
    mine.write("Glimmerward-presets/Size only.ini", "# Glimmerward preset: Size only\nPickupSize = 2.5\n");
    fs::copy_file(mine.path() / "Glimmerward-presets" / "Size only.ini", friends.path() / "Glimmerward-presets" / "Size only.ini");
    ASSERT_EQ(WriteStatus::Written, Apply(target, "Size only").status);
    PickupValues expected = DefaultPickupReading().values;
    expected.floats[*FindPickupSetting("PickupSize")] = 2.5f;
    EXPECT_EQ(std::vector<std::string>{}, Differences(expected, Read(target)));
}

TEST(Presets, ApplyingChangesOnlyTheWinningValueTextsOfAFileFullOfCommentsAndDuplicates) {
    TempFolder game;
    const fs::path settings = game.write("Glimmerward.ini",
                                         "; my look\r\n"
                                         "[Pickups]\r\n"
                                         "PickupSize = 1.0 ; first try\r\n"
                                         "# TurnSpeed = 9\r\n"
                                         "PickupSize=3\r\n"
                                         "  TextAlpha =\t200   \r\n"
                                         "PickupColor_5 = 1 2 3 4 5\r\n"
                                         "PickupColor_6 = 97 194 247 0 1.0\r\n"
                                         "Volume = 7\r\n"
                                         "; the end\r\n");
    game.write("Glimmerward-presets/Look.ini",
               "# Glimmerward preset: Look\nPickupSize = 2\nPickupColor_5 = 9 9 9 9 1\nEffectStrength = 4\n");
    const WriteOutcome applied = Apply(settings, "Look");
    ASSERT_EQ(WriteStatus::Written, applied.status) << applied.problems.front();
    // TextAlpha, which the preset leaves out, goes back to its default; PickupColor_6 has its
    // default already in other words and stays as written; EffectStrength gets a line.
    EXPECT_EQ("; my look\r\n"
              "[Pickups]\r\n"
              "PickupSize = 1.0 ; first try\r\n"
              "# TurnSpeed = 9\r\n"
              "PickupSize=2\r\n"
              "  TextAlpha =\t255   \r\n"
              "PickupColor_5 = 9 9 9 9 1\r\n"
              "PickupColor_6 = 97 194 247 0 1.0\r\n"
              "Volume = 7\r\n"
              "; the end\r\n"
              "EffectStrength = 4\r\n",
              Bytes(settings));
}

TEST(PresetNames, AreRefusedWithWordsBeforeAnythingIsWritten) {
    struct Case {
        std::string name;
        std::string problem;  // the start of the words; empty for a name taken
    };
    const Case cases[] = {
        {"Night look", ""},
        {"v1.2 (old)-x_y", ""},
        {" leading space", ""},
        {std::string(64, 'a'), ""},
        {"COM0", ""},
        {"CONSOLE", ""},
        {"con-x", ""},
        {"", "the preset needs a name"},
        {std::string(65, 'a'), "the name is 65 characters long, but a preset's name has at most 64"},
        {"a/b", "a preset's name may not hold \"/\""},
        {"a\\b", "a preset's name may not hold \"\\\""},
        {"C:look", "a preset's name may not hold \":\""},
        {"a*b?", "a preset's name may not hold \"*\""},
        {"\"quoted\"", "a preset's name may not hold \"\"\""},
        {"caf\xC3\xA9", "a preset's name may not hold the byte 0xC3"},
        {"tab\there", "a preset's name may not hold the byte 0x09"},
        {"ends.", "a preset's name may not end in a dot or a space"},
        {"ends ", "a preset's name may not end in a dot or a space"},
        {"CON", "\"CON\" is the name of a Windows device"},
        {"nul.look", "\"nul\" is the name of a Windows device"},
        {"Com1", "\"Com1\" is the name of a Windows device"},
        {"lpt9.a.b", "\"lpt9\" is the name of a Windows device"},
        {"aux", "\"aux\" is the name of a Windows device"},
        {"Prn.", "a preset's name may not end in a dot"},
    };
    TempFolder game;
    const fs::path settings = game.write("Glimmerward.ini", "PickupSize = 2\n");
    for (const Case& c : cases) {
        EXPECT_TRUE(PresetNameProblem(c.name).starts_with(c.problem) && c.problem.empty() == PresetNameProblem(c.name).empty())
            << '"' << c.name << "\": " << PresetNameProblem(c.name);
        if (c.problem.empty()) continue;
        const PresetOutcome refused = SavePreset(settings.string(), c.name, true);
        EXPECT_EQ(WriteStatus::BadInput, refused.status) << c.name;
        EXPECT_FALSE(fs::exists(game.path() / "Glimmerward-presets")) << c.name;
    }

    // Unique regardless of case: saving over one is refused without replace, and a replaced
    // preset keeps its file's name.
    ASSERT_EQ(WriteStatus::Written, SavePreset(settings.string(), "Night", false).status);
    game.write("Glimmerward.ini", "PickupSize = 3\n");
    const PresetOutcome over = SavePreset(settings.string(), "NIGHT", false);
    EXPECT_EQ(WriteStatus::BadInput, over.status);
    ASSERT_FALSE(over.problems.empty());
    EXPECT_EQ("there is a preset \"Night\" already", over.problems.front());
    const fs::path night = game.path() / "Glimmerward-presets" / "Night.ini";
    EXPECT_NE(std::string::npos, Bytes(night).find("PickupSize = 2\n"));
#ifndef _WIN32
    fs::permissions(night, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
#endif
    ASSERT_EQ(WriteStatus::Written, SavePreset(settings.string(), "NIGHT", true).status);
    EXPECT_NE(std::string::npos, Bytes(night).find("PickupSize = 3\n"));
    EXPECT_EQ(std::vector<std::string>{"Night"}, ListPresets((game.path() / "Glimmerward-presets").string()));
#ifndef _WIN32
    EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read, fs::status(night).permissions());
#endif
    // The preset and the writers' turn, and no temporary file left.
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(game.path() / "Glimmerward-presets")) {
        files.push_back(entry.path().filename().string());
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ((std::vector<std::string>{"Night.ini", "presets.lock"}), files);
}

TEST(SharedTexts, AreRefusedWithTheCheckersWordsUnlessThePluginReadsThemAsWritten) {
    struct Case {
        std::string text;
        std::string problem;  // found in the first problem; empty for a text taken
    };
    const std::string utf16("\xFF\xFEP\0i\0c\0k\0u\0p\0S\0i\0z\0e\0 \0=\0 \0002\0\n\0", 32);
    const Case cases[] = {
        {"", "there is no text"},
        {" \r\n\t\n", "there is no text"},
        {"#" + std::string(LargestShareText, 'x') + "\n", "more than the 64 KiB a preset may have"},
        {utf16, "UTF-16"},
        {std::string("PickupSize = 2\0 3\n", 18), "NUL byte"},
        {"PickupSize = 1,5\n", "decimal comma"},
        {"Volume = 3\n", "unknown key"},
        {"PickupSize = 2\nPickupSize = 3\n", "replaced"},
        {"PickupColor_5 = 255,0,0,255 1\n", "stops early"},
        {"TurnSpeed = 1e40\n", "infinity or NaN"},  // no preset writes infinity so: it was not meant
        {"TurnSpeed = 1e-46\n", "too small"},
        {"# Glimmerward settings\nTurnSpeed = 1e39\nTextMoveY = -nan\nSize2DFX = 1e-45\nPickupColor_1 = 1 2 3 4 nan\n", ""},
        {"# only a comment: every setting at its default\n", ""},
    };
    for (const Case& c : cases) {
        const PresetValues read = ReadPresetText(c.text);
        const std::string shown = c.text.substr(0, 60);
        if (c.problem.empty()) {
            EXPECT_TRUE(read.values.has_value()) << shown << ": " << (read.problems.empty() ? "" : read.problems.front());
            EXPECT_TRUE(read.problems.empty()) << shown;
            continue;
        }
        EXPECT_FALSE(read.values.has_value()) << shown;
        EXPECT_EQ(WriteStatus::BadInput, read.status) << shown;
        ASSERT_FALSE(read.problems.empty()) << shown;
        EXPECT_NE(std::string::npos, read.problems.front().find(c.problem)) << shown << ": " << read.problems.front();
    }
    // What the one that was taken gives, bit for bit.
    const PresetValues taken = ReadPresetText(cases[std::size(cases) - 2].text);
    ASSERT_TRUE(taken.values.has_value());
    EXPECT_EQ(0x7F800000u, std::bit_cast<std::uint32_t>(taken.values->floats[*FindPickupSetting("TurnSpeed")]));
    EXPECT_EQ(0xFFC00000u, std::bit_cast<std::uint32_t>(taken.values->floats[*FindPickupSetting("TextMoveY")]));
    EXPECT_EQ(0x00000001u, std::bit_cast<std::uint32_t>(taken.values->floats[*FindPickupSetting("Size2DFX")]));
    EXPECT_EQ(0x7FC00000u, std::bit_cast<std::uint32_t>(taken.values->colors[1].value));
}

// The page's reading of a pasted text: the values the plug-in takes, with the checker's
// problems listed beside them, refused only when it is no text at all.
TEST(SharedTexts, AreReadWithTheirProblemsAndRefusedOnlyWhenTheyAreNoText) {
    struct Case {
        const char* what;
        std::string text;
        bool refused;
        std::vector<std::string> problems;  // found in the problems, one each, in order
        std::string name;                   // the header's name
    };
    const std::string utf16("\xFF\xFEP\0i\0c\0k\0u\0p\0S\0i\0z\0e\0 \0=\0 \0002\0\n\0", 32);
    // 64 KiB of comment lines, each of 64 bytes.
    std::string full;
    while (full.size() < LargestShareText) full += "# " + std::string(61, 'x') + "\n";
    const Case cases[] = {
        {"nothing", "", true, {"there is no text"}, ""},
        {"blanks", " \r\n\t\n", true, {"there is no text"}, ""},
        {"one byte over 64 KiB", full + "\n", true, {"more than the 64 KiB"}, ""},
        {"UTF-16", utf16, true, {"UTF-16"}, ""},
        {"a NUL byte among other mistakes", std::string("Volume = 3\nPickupSize = 2\0 3\n", 29), true, {"NUL byte"}, ""},
        {"control bytes", std::string(40, '\x01') + "\nPickupSize = 2\n", true, {"control bytes"}, ""},
        {"two mistakes", "# Glimmerward preset: Friend's\r\nPickupSize = 1,5\r\nVolume = 3\r\nTurnSpeed = 0.5\r\n", false,
         {"warning (decimal comma)", "warning (unknown key)"}, ""},
        {"a name in the header", "\n# Glimmerward preset: Night (2)\nTurnSpeed = 0.5\n", false, {}, "Night (2)"},
        {"a device's name in the header", "# Glimmerward preset: NUL.x\nTurnSpeed = 0.5\n", false, {}, ""},
        {"no header", "TurnSpeed = 0.5\n# Glimmerward preset: Later\n", false, {}, ""},
        {"exactly 64 KiB", full, false, {}, ""},
    };
    for (const Case& c : cases) {
        const PresetValues read = ReadSharedText(c.text);
        EXPECT_EQ(c.refused, !read.values.has_value()) << c.what;
        EXPECT_EQ(c.refused ? WriteStatus::BadInput : WriteStatus::Written, read.status) << c.what;
        ASSERT_EQ(c.problems.size(), read.problems.size()) << c.what << ": " << (read.problems.empty() ? "" : read.problems.front());
        for (std::size_t i = 0; i < c.problems.size(); ++i) {
            EXPECT_NE(std::string::npos, read.problems[i].find(c.problems[i])) << c.what << ": " << read.problems[i];
        }
        EXPECT_EQ(c.name, read.name) << c.what;
        // The command line's reading refuses whatever has a problem.
        EXPECT_EQ(c.problems.empty(), ReadPresetText(c.text).values.has_value()) << c.what;
    }
    // What the plug-in takes from the text with two mistakes: "1,5" as 1, the rest defaults.
    const PresetValues mistaken = ReadSharedText(cases[6].text);
    ASSERT_TRUE(mistaken.values.has_value());
    ASSERT_EQ(2u, mistaken.problems.size());
    EXPECT_TRUE(mistaken.problems[0].starts_with("line 2: ")) << mistaken.problems[0];
    EXPECT_TRUE(mistaken.problems[1].starts_with("line 3: ")) << mistaken.problems[1];
    PickupValues expected = DefaultPickupReading().values;
    expected.floats[*FindPickupSetting("PickupSize")] = 1.0f;
    expected.floats[*FindPickupSetting("TurnSpeed")] = 0.5f;
    EXPECT_EQ(std::vector<std::string>{}, Differences(expected, *mistaken.values));
}

TEST(Presets, ADeletedPresetsFileIsGoneAndNothingElseIs) {
    TempFolder game;
    const fs::path settings = game.write("Glimmerward.ini", "PickupSize = 2\n");
    ASSERT_EQ(WriteStatus::Written, SavePreset(settings.string(), "One", false).status);
    ASSERT_EQ(WriteStatus::Written, SavePreset(settings.string(), "Two", false).status);
    const fs::path folder = game.path() / "Glimmerward-presets";

    const PresetOutcome deleted = DeletePreset(settings.string(), "ONE");
    ASSERT_EQ(WriteStatus::Written, deleted.status) << deleted.problems.front();
    EXPECT_FALSE(fs::exists(folder / "One.ini"));
    EXPECT_EQ(std::vector<std::string>{"Two"}, ListPresets(folder.string()));

    for (const char* name : {"One", "CON", ""}) {
        const PresetOutcome missing = DeletePreset(settings.string(), name);
        EXPECT_EQ(WriteStatus::BadInput, missing.status) << name;
        EXPECT_TRUE(missing.missing) << name;
    }
    EXPECT_EQ(std::vector<std::string>{"Two"}, ListPresets(folder.string()));

    // One marked read-only is kept, as it is from a save over it.
    fs::permissions(folder / "Two.ini", fs::perms::owner_read);
    const PresetOutcome kept = DeletePreset(settings.string(), "Two");
    EXPECT_EQ(WriteStatus::NotWritten, kept.status);
    EXPECT_EQ(WriteObstacle::ReadOnly, kept.obstacle);
    EXPECT_TRUE(fs::exists(folder / "Two.ini"));
    fs::permissions(folder / "Two.ini", fs::perms::owner_read | fs::perms::owner_write);
}

// While another writer holds the presets' turn, a save or removal that may not wait (the
// page's) is refused at once with words, and nothing changes; one that waits goes on after.
TEST(Presets, AreLeftAsTheyAreWhileAnotherWriterHoldsTheirTurn) {
    TempFolder game;
    const fs::path settings = game.write("Glimmerward.ini", "PickupSize = 2\n");
    ASSERT_EQ(WriteStatus::Written, SavePreset(settings.string(), "Kept", false).status);
    const fs::path folder = game.path() / "Glimmerward-presets";
    {
        const HeldLock held(folder / "presets");
        ASSERT_TRUE(held.held());
        const PresetOutcome outcomes[] = {
            SavePreset(settings.string(), "New", false, TurnWait::AnswerAtOnce),
            SavePreset(settings.string(), "Kept", true, TurnWait::AnswerAtOnce),
            DeletePreset(settings.string(), "Kept", TurnWait::AnswerAtOnce),
        };
        for (const PresetOutcome& outcome : outcomes) {
            EXPECT_EQ(WriteStatus::NotWritten, outcome.status);
            EXPECT_EQ(WriteObstacle::AnotherWriter, outcome.obstacle);
            ASSERT_FALSE(outcome.problems.empty());
            EXPECT_NE(std::string::npos, outcome.problems.front().find("make it again in a moment")) << outcome.problems.front();
        }
        EXPECT_EQ(std::vector<std::string>{"Kept"}, ListPresets(folder.string()));
    }
    EXPECT_EQ(WriteStatus::Written, SavePreset(settings.string(), "New", false).status);
    EXPECT_EQ((std::vector<std::string>{"Kept", "New"}), ListPresets(folder.string()));
}

#ifndef _WIN32
// A link planted under a preset's name is no preset: neither it nor what it leads to is removed.
TEST(Presets, ALinkUnderAPresetsNameIsNotDeletedNorIsWhatItLeadsTo) {
    TempFolder game;
    const fs::path settings = game.write("Glimmerward.ini", "PickupSize = 2\n");
    const fs::path target = game.write("keep.ini", "PickupSize = 3\n");
    fs::create_directory(game.path() / "Glimmerward-presets");
    const fs::path link = game.path() / "Glimmerward-presets" / "Linked.ini";
    fs::create_symlink(target, link);

    const PresetOutcome refused = DeletePreset(settings.string(), "Linked");
    EXPECT_EQ(WriteStatus::BadInput, refused.status);
    EXPECT_TRUE(refused.missing);
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(link)));
    EXPECT_EQ("PickupSize = 3\n", Bytes(target));
}
#endif

}  // namespace
