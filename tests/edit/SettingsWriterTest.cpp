// The settings writer on real files: one new version per call, a backup of the one before,
// refusals that change nothing, and no temporary file left behind.
#include "edit/SettingsWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "edit/FileReplace.h"
#include "edit/SettingsEdit.h"
#include "tests/support/TempFolder.h"

namespace {

namespace fs = std::filesystem;

std::string Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The names in the folder besides the settings file, its backup and the writers' lock.
std::vector<std::string> Others(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name != "Glimmerward.ini" && name != "Glimmerward.ini.bak" && name != "Glimmerward.ini.lock") names.push_back(name);
    }
    return names;
}

constexpr std::string_view Before = "; mine\r\nPickupSize = 1.2\r\nPickupColor_5 = 1 2 3 4 1.0\r\n";

TEST(WriteSettings, MakesOneNewVersionAndKeepsTheOneBeforeAsABackup) {
    TempFolder folder;
    const std::string path = folder.write("Glimmerward.ini", Before).string();
    const WriteOutcome outcome = WriteSettings(path, {}, {{{"PickupSize", "3"}, {"PickupColor_5", "#FF8000"}, {"TurnSpeed", "1e-3"}}, {}, {}});
    ASSERT_EQ(WriteStatus::Written, outcome.status) << outcome.problems.front();
    const std::string after = Bytes(path);
    EXPECT_EQ("; mine\r\nPickupSize = 3\r\nPickupColor_5 = 255 128 0 4 1\r\nTurnSpeed = 0.001\r\n", after);
    EXPECT_EQ(Before, Bytes(path + ".bak"));
    EXPECT_EQ(SettingsVersion(after), outcome.version);
    EXPECT_TRUE(Others(folder.path()).empty());

    // Back to the default, in the line that sets it.
    const WriteOutcome reset = WriteSettings(path, {}, {{}, {"PickupColor_5", "EffectStrength"}, outcome.version});
    ASSERT_EQ(WriteStatus::Written, reset.status);
    EXPECT_EQ("; mine\r\nPickupSize = 3\r\nPickupColor_5 = 97 194 247 0 1\r\nTurnSpeed = 0.001\r\n", Bytes(path));
    EXPECT_EQ(after, Bytes(path + ".bak"));
}

TEST(WriteSettings, GivenEveryValueChangesOnlyTheTextsOfTheSettingsWhoseBitsDiffer) {
    TempFolder folder;
    const std::string path = folder.write("Glimmerward.ini", "; mine\nPickupSize = 1.2\nTurnSpeed = 5\nTextAlpha = 255.0\n").string();
    SettingsWrite write;
    write.values = DefaultPickupReading().values;
    write.values->floats[*FindPickupSetting("PickupSize")] = 2.0f;
    write.values->colors[5].value = -std::numeric_limits<float>::quiet_NaN();  // which no player's value gives
    const WriteOutcome outcome = WriteSettings(path, {}, write);
    ASSERT_EQ(WriteStatus::Written, outcome.status) << outcome.problems.front();
    // TurnSpeed goes back to its default; TextAlpha has it already, in other words, and stays.
    EXPECT_EQ("; mine\nPickupSize = 2\nTurnSpeed = 0.0030566407\nTextAlpha = 255.0\nPickupColor_5 = 97 194 247 0 -nan\n",
              Bytes(path));
    EXPECT_EQ(0xFFC00000u, std::bit_cast<std::uint32_t>(ReadPickupSettingsFile(path.c_str()).values.colors[5].value));

    // The same values again: nothing to change, and no new version.
    const WriteOutcome again = WriteSettings(path, {}, write);
    EXPECT_EQ(WriteStatus::Written, again.status);
    EXPECT_TRUE(again.changed.empty());
    EXPECT_EQ(outcome.version, again.version);
}

TEST(WriteSettings, RefusesAndChangesNothing) {
    TempFolder folder;
    const std::string path = folder.write("Glimmerward.ini", Before).string();
    struct Case {
        const char* name;
        SettingsWrite write;
        WriteStatus status;
    };
    const Case cases[] = {
        {"an unknown key", {{{"pickupsize", "3"}}, {}, {}}, WriteStatus::BadInput},
        {"no value", {{{"PickupSize", ""}}, {}, {}}, WriteStatus::BadInput},
        {"a decimal comma", {{{"PickupSize", "2,5"}}, {}, {}}, WriteStatus::BadInput},
        {"nan", {{{"PickupSize", "nan"}}, {}, {}}, WriteStatus::BadInput},
        {"too large for a float", {{{"PickupSize", "1e39"}}, {}, {}}, WriteStatus::BadInput},
        {"a channel over 255", {{{"PickupColor_5", "256 0 0 0 1"}}, {}, {}}, WriteStatus::BadInput},
        {"one bad among good ones", {{{"TurnSpeed", "1"}, {"PickupColor_07", "1 2 3 4 5"}}, {}, {}}, WriteStatus::BadInput},
        {"an unknown key to reset", {{}, {"Volume"}, {}}, WriteStatus::BadInput},
        {"another version", {{{"PickupSize", "3"}}, {}, SettingsVersion("PickupSize = 9\r\n")}, WriteStatus::NotExpectedVersion},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const WriteOutcome outcome = WriteSettings(path, {}, c.write);
        EXPECT_EQ(c.status, outcome.status);
        EXPECT_FALSE(outcome.problems.empty());
        EXPECT_EQ(Before, Bytes(path));
        EXPECT_FALSE(fs::exists(path + ".bak"));
    }
    EXPECT_TRUE(Others(folder.path()).empty());
}

TEST(WriteSettings, TakesOnlyATextFileItCanRead) {
    TempFolder folder;
    const std::string utf16 = folder.write("utf16/Glimmerward.ini", std::string("\xFF\xFEP\0=\0\x31\0", 8)).string();
    const std::string large = folder.write("large/Glimmerward.ini", std::string(LargestSettingsFile + 1, '#')).string();
    fs::create_directories(folder.path() / "folder" / "Glimmerward.ini");
    for (const std::string& path : {utf16, large, (folder.path() / "folder" / "Glimmerward.ini").string()}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(WriteStatus::BadInput, WriteSettings(path, {}, {{{"PickupSize", "3"}}, {}, {}}).status);
    }
    EXPECT_EQ(std::string("\xFF\xFEP\0=\0\x31\0", 8), Bytes(utf16));
}

TEST(WriteSettings, MakesAMissingFileFromTheDefaultsOrRefuses) {
    TempFolder folder;
    const std::string defaults = folder.write("Glimmerward-defaults.ini", "; defaults\nPickupSize = 1.2\n").string();
    const std::string path = (folder.path() / "Glimmerward.ini").string();
    EXPECT_EQ(WriteStatus::NoFile, WriteSettings(path, {}, {{{"PickupSize", "3"}}, {}, {}}).status);
    EXPECT_FALSE(fs::exists(path));
    // A refused change makes no file, and says it made none.
    const WriteOutcome refused = WriteSettings(path, defaults, {{{"Volume", "3"}}, {}, {}});
    EXPECT_EQ(WriteStatus::BadInput, refused.status);
    EXPECT_EQ(std::vector<std::string>{}, refused.done);
    EXPECT_FALSE(fs::exists(path));

    const WriteOutcome made = WriteSettings(path, defaults, {{{"PickupSize", "3"}}, {}, {}});
    ASSERT_EQ(WriteStatus::Written, made.status);
    EXPECT_EQ((std::vector<std::string>{"made " + path + " from " + defaults, "set PickupSize = 3"}), made.done);
    EXPECT_EQ("; defaults\nPickupSize = 3\n", Bytes(path));
    EXPECT_FALSE(fs::exists(path + ".bak"));  // there was nothing before
    EXPECT_EQ("; defaults\nPickupSize = 1.2\n", Bytes(defaults));
}

// The caller is handed the file as the call left it, the same bytes as on disk, so that it
// need not read the file again; and a caller that saw no file has none made over one that is
// there now.
TEST(WriteSettings, HandsOnTheFileAsItLeftItAndMakesNoneOverOneMadeMeanwhile) {
    TempFolder folder;
    const std::string defaults = folder.write("Glimmerward-defaults.ini", "; defaults\nPickupSize = 1.2\n").string();
    const std::string path = (folder.path() / "Glimmerward.ini").string();
    SettingsWrite noFile{{{"PickupSize", "3"}}, {}, {}};
    noFile.expectNoFile = true;
    struct Case {
        const char* name;
        std::string defaults;
        SettingsWrite write;
        WriteStatus status;
        FileSeen seen;
    };
    const Case cases[] = {
        {"no file, none can be made", {}, noFile, WriteStatus::NoFile, FileSeen::Missing},
        {"no file, a bad value", defaults, {{{"PickupSize", "x"}}, {}, {}}, WriteStatus::BadInput, FileSeen::Missing},
        {"made from the defaults where none was seen", defaults, noFile, WriteStatus::Written, FileSeen::Read},
        {"none seen, but made meanwhile", defaults, noFile, WriteStatus::NotExpectedVersion, FileSeen::Read},
        {"a bad value", defaults, {{{"PickupSize", "x"}}, {}, {}}, WriteStatus::BadInput, FileSeen::Read},
        {"another version", defaults, {{{"PickupSize", "4"}}, {}, "0000000000000000"}, WriteStatus::NotExpectedVersion,
         FileSeen::Read},
        {"nothing to change", defaults, {{{"PickupSize", "3"}}, {}, {}}, WriteStatus::Written, FileSeen::Read},
        {"a change", defaults, {{{"PickupSize", "4"}}, {}, {}}, WriteStatus::Written, FileSeen::Read},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string before = fs::exists(path) ? Bytes(path) : "";
        const WriteOutcome outcome = WriteSettings(path, c.defaults, c.write);
        EXPECT_EQ(c.status, outcome.status);
        EXPECT_EQ(c.seen, outcome.seen);
        EXPECT_EQ(c.seen == FileSeen::Read, fs::exists(path));
        if (c.seen != FileSeen::Read) continue;
        EXPECT_EQ(Bytes(path), outcome.bytes);
        EXPECT_EQ(SettingsVersion(outcome.bytes), outcome.version);
        if (c.status == WriteStatus::Written) {
            EXPECT_EQ(outcome.changed.empty(), before == outcome.bytes);
        } else {
            EXPECT_EQ(before, outcome.bytes);
        }
    }
}

TEST(WriteSettings, RemovesOnlyTheTemporaryFilesOfRunsThatAreGone) {
    TempFolder folder;
    const std::string path = folder.write("Glimmerward.ini", Before).string();
    folder.write("Glimmerward.ini.~999999999.0123456789abcdef.tmp", "left by a run that was stopped");  // no such process
    folder.write("Glimmerward.ini.bak.~999999999.fedcba98.tmp", "left while the backup was replaced");
    folder.write("Glimmerward.ini.~999999999.tmp", "left by an older checker");
    folder.write("Glimmerward.ini.~x.tmp", "not of this pattern");
    folder.write("Glimmerward.ini.~999999999.XYZ.tmp", "not of this pattern either");
    folder.write("Other.ini.~999999999.tmp", "not beside this file's name");
    folder.write("Other.ini.~999999999.0123.tmp", "not beside this file's name either");
    std::vector<std::string> kept{"Glimmerward.ini.~999999999.XYZ.tmp", "Glimmerward.ini.~x.tmp",
                                  "Other.ini.~999999999.0123.tmp", "Other.ini.~999999999.tmp"};
#ifndef _WIN32
    // Not the player's own files, whatever their names: a link, and what another user left.
    const fs::path victim = folder.write("victim.txt", "the player's own");
    fs::create_symlink(victim, folder.path() / "Glimmerward.ini.~999999998.ab.tmp");
    kept.insert(kept.begin(), {"Glimmerward.ini.~999999998.ab.tmp", "victim.txt"});
    const fs::path others = folder.write("Glimmerward.ini.~999999997.cd.tmp", "another user's");
    if (::chown(others.c_str(), 65534, 65534) == 0) kept.insert(kept.begin(), "Glimmerward.ini.~999999997.cd.tmp");
#endif
    std::sort(kept.begin(), kept.end());
    ASSERT_EQ(WriteStatus::Written, WriteSettings(path, {}, {{{"PickupSize", "3"}}, {}, {}}).status);
    EXPECT_EQ(kept,
              [&] {
                  auto names = Others(folder.path());
                  std::sort(names.begin(), names.end());
                  return names;
              }());
    EXPECT_EQ(12u, TemporaryProcess("Glimmerward.ini.~12.3f.tmp", "Glimmerward.ini"));
    EXPECT_EQ(12u, TemporaryProcess("Glimmerward.ini.~12.tmp", "Glimmerward.ini"));
    EXPECT_FALSE(IsTemporaryName("Glimmerward.ini.~12..tmp", "Glimmerward.ini"));
    EXPECT_FALSE(IsTemporaryName("Glimmerward.ini.~99999999999999999999.1.tmp", "Glimmerward.ini"));
    EXPECT_FALSE(IsTemporaryName("Glimmerward.ini.bak", "Glimmerward.ini"));
}

#ifdef _WIN32
// Under Wine a file that another program holds open cannot be replaced, and a read-only one
// gives the same error: the first is tried again until it is let go, the second refused at once.
struct HeldFile {
    HANDLE reader;
    std::string temporaries;  // the pattern of the writer's temporary files for it
};

// Lets go of the file 300 ms after the writer has made its new version beside it, so that the
// writer's first replacement meets the reader however slowly the writer got there.
DWORD WINAPI LetGoLater(void* held) {
    const auto& file = *static_cast<const HeldFile*>(held);
    WIN32_FIND_DATAA found;
    for (int waited = 0; waited < 10000; ++waited) {
        const HANDLE search = FindFirstFileA(file.temporaries.c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            FindClose(search);
            break;
        }
        Sleep(1);
    }
    Sleep(300);
    CloseHandle(file.reader);
    return 0;
}

TEST(WriteSettings, WaitsForAReaderToLetGoAndRefusesAReadOnlyFile) {
    TempFolder folder;
    const std::string path = folder.write("Glimmerward.ini", Before).string();
    // As the plug-in's reads hold it: shared for reading only, not for deletion.
    const HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    HeldFile held{reader, path + ".~*.tmp"};
    const HANDLE thread = CreateThread(nullptr, 0, &LetGoLater, &held, 0, nullptr);
    const WriteOutcome waited = WriteSettings(path, {}, {{{"PickupSize", "3"}}, {}, {}});
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_EQ(WriteStatus::Written, waited.status);
    EXPECT_GT(waited.retries, 0);
    EXPECT_NE(std::string::npos, Bytes(path).find("PickupSize = 3"));

    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    const std::string before = Bytes(path);
    const WriteOutcome refused = WriteSettings(path, {}, {{{"PickupSize", "4"}}, {}, {}});
    EXPECT_EQ(WriteStatus::NotWritten, refused.status);
    EXPECT_EQ(0, refused.retries);
    ASSERT_FALSE(refused.problems.empty());
    EXPECT_NE(std::string::npos, refused.problems.front().find("read-only"));
    EXPECT_EQ(before, Bytes(path));
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}
#endif

}  // namespace
