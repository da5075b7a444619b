// The settings writer against what other programs on the same computer put in its way: links
// planted beside the file, a lock file that is not its own or held by someone else, a file's
// mode, a device or a pipe in the file's place, and a folder it may not write.
#include "edit/SettingsWriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "edit/FileReplace.h"
#include "tests/support/HeldLock.h"
#include "tests/support/TempFolder.h"

namespace {

namespace fs = std::filesystem;

constexpr std::string_view Before = "; mine\nPickupSize = 1.2\n";
constexpr std::string_view After = "; mine\nPickupSize = 3\n";
constexpr std::string_view Victim = "a file of the player's that nothing may change\n";

std::optional<std::string> Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Everything the player reads of one change.
std::string Words(const WriteOutcome& outcome) {
    std::string words;
    for (const auto* list : {&outcome.done, &outcome.problems}) {
        for (const std::string& line : *list) words += line + "\n";
    }
    return words;
}

// A game folder with the settings file, and a file of the player's elsewhere that a planted
// link may point at.
struct Scene {
    Scene()
        : settings(folder.write("Glimmerward.ini", Before)),
          written(settings),
          victim(folder.write("elsewhere/victim.ini", Victim)) {}

    TempFolder folder;
    fs::path settings;  // what the writer is given
    fs::path written;   // where the settings file really lies; empty for no file at all
    fs::path victim;
    std::optional<HeldLock> held;
    std::string notHere;  // why the attack cannot be made on this machine; empty when it can
};

struct Attack {
    const char* name;
    std::function<void(Scene&)> plant;  // what the other program did before the change
    TurnWait wait;
    WriteStatus status;
    const char* words;                    // in what the player reads
    unsigned mode = 0;                    // the file's mode afterwards, and its backup's; 0 for any
    std::function<void(const Scene&)> also = [](const Scene&) {};  // what else must hold afterwards
};

#ifndef _WIN32
unsigned Mode(const fs::path& path) {
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

uid_t Owner(const fs::path& path) {
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0 ? status.st_uid : 0;
}

bool IsFifo(const fs::path& path) { return fs::is_fifo(fs::symlink_status(path)); }

constexpr uid_t Nobody = 65534;
#endif

TEST(WriteSettings, HoldsAgainstWhatOtherProgramsPutInItsWay) {
    const Attack attacks[] = {
#ifndef _WIN32
        {"a link planted where the temporary file of this process used to be made",
         [](Scene& s) {
             const std::string pid = std::to_string(::getpid());
             fs::create_symlink(s.victim, s.settings.string() + ".~" + pid + ".tmp");
             fs::create_symlink(s.victim, s.settings.string() + ".bak.~" + pid + ".tmp");
         },
         TurnWait::WaitForTurn, WriteStatus::Written, "set PickupSize = 3", 0,
         [](const Scene& s) {  // not the player's own files, so they stay for the player to see
             EXPECT_TRUE(fs::is_symlink(s.settings.string() + ".~" + std::to_string(::getpid()) + ".tmp"));
         }},
        {"a settings file that is a link to a file elsewhere",
         [](Scene& s) {
             s.written = s.folder.write("synced/Glimmerward.ini", Before);
             fs::remove(s.settings);
             fs::create_symlink(s.written, s.settings);
         },
         TurnWait::WaitForTurn, WriteStatus::Written, "synced/Glimmerward.ini.bak", 0,
         [](const Scene& s) {
             EXPECT_TRUE(fs::is_symlink(s.settings));
             EXPECT_EQ(After, Bytes(s.settings));  // read through the link, as the plug-in reads it
             EXPECT_FALSE(fs::exists(fs::symlink_status(s.settings.string() + ".bak")));
             EXPECT_TRUE(fs::exists(s.written.string() + ".lock"));
         }},
        {"a file that only its owner may read", [](Scene& s) { fs::permissions(s.settings, fs::perms::owner_read | fs::perms::owner_write); },
         TurnWait::WaitForTurn, WriteStatus::Written, "set PickupSize = 3", 0600},
        {"the player's file changed by a run as root",
         [](Scene& s) {
             if (::geteuid() != 0 || ::chown(s.settings.c_str(), Nobody, Nobody) != 0) s.notHere = "only root writes another user's file";
             fs::permissions(s.settings, fs::perms(0640));
         },
         TurnWait::WaitForTurn, WriteStatus::Written, "set PickupSize = 3", 0640,
         [](const Scene& s) {  // nothing of root's is left behind for the player
             for (const char* end : {"", ".bak", ".lock"}) EXPECT_EQ(Nobody, Owner(s.settings.string() + end)) << end;
         }},
        {"a file that nobody may write", [](Scene& s) { fs::permissions(s.settings, fs::perms(0444)); },
         TurnWait::WaitForTurn, WriteStatus::NotWritten, "is read-only: clear \"Read-only\" in its Properties and try again",
         0444},
        {"a lock file that is a link to a file of the player's",
         [](Scene& s) { fs::create_symlink(s.victim, s.settings.string() + ".lock"); }, TurnWait::WaitForTurn,
         WriteStatus::NotWritten, "Glimmerward.ini.lock is a link, so the checker does not take turns through it. Delete"},
        {"a lock file of another user, who could hold it for ever",
         [](Scene& s) {
             const fs::path lock = s.folder.write("Glimmerward.ini.lock", "");
             if (::chown(lock.c_str(), Nobody, Nobody) != 0) s.notHere = "only root can give a file to another user";
         },
         TurnWait::WaitForTurn, WriteStatus::NotWritten, "Glimmerward.ini.lock belongs to another user, so the checker does not"},
        {"a lock file that is a pipe",
         [](Scene& s) { ASSERT_EQ(0, ::mkfifo((s.settings.string() + ".lock").c_str(), 0600)); }, TurnWait::WaitForTurn,
         WriteStatus::NotWritten, "Glimmerward.ini.lock is no file, so the checker does not take turns through it",
         0, [](const Scene& s) { EXPECT_TRUE(IsFifo(s.settings.string() + ".lock")); }},
        {"a device given as the settings file", [](Scene& s) { s.settings = "/dev/zero"; s.written.clear(); },
         TurnWait::WaitForTurn, WriteStatus::BadInput, "/dev/zero is no file but a device or a pipe",
         0, [](const Scene&) { EXPECT_FALSE(fs::exists("/dev/zero.lock")); }},
        {"a pipe in the settings file's place",
         [](Scene& s) {
             fs::remove(s.settings);
             ASSERT_EQ(0, ::mkfifo(s.settings.c_str(), 0600));
             s.written.clear();
         },
         TurnWait::WaitForTurn, WriteStatus::BadInput, "Glimmerward.ini is no file but a device or a pipe", 0,
         [](const Scene& s) {
             EXPECT_TRUE(IsFifo(s.settings));
             EXPECT_FALSE(fs::exists(s.settings.string() + ".lock"));
         }},
#else
        {"a hidden file", [](Scene& s) { ASSERT_TRUE(SetFileAttributesA(s.settings.string().c_str(), FILE_ATTRIBUTE_HIDDEN)); },
         TurnWait::WaitForTurn, WriteStatus::Written, "set PickupSize = 3", 0,
         [](const Scene& s) {
             for (const std::string& path : {s.settings.string(), s.settings.string() + ".bak"}) {
                 EXPECT_TRUE(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_HIDDEN) << path;
             }
         }},
        {"a device given as the settings file", [](Scene& s) { s.settings = s.folder.path() / "NUL"; s.written.clear(); },
         TurnWait::WaitForTurn, WriteStatus::BadInput, "NUL is no file but a device or a pipe"},
#endif
        {"the lock held by another change while the page asks for one",
         [](Scene& s) {
             s.held.emplace(s.settings);
             ASSERT_TRUE(s.held->held());
         },
         TurnWait::AnswerAtOnce, WriteStatus::NotWritten,
         "is being written right now, so this one was not made: make it again in a moment"},
    };
    for (const Attack& attack : attacks) {
        SCOPED_TRACE(attack.name);
        Scene scene;
        attack.plant(scene);
        if (!scene.notHere.empty()) {
            std::printf("[ NOT RUN  ] %s: %s\n", attack.name, scene.notHere.c_str());
            continue;
        }
        const WriteOutcome outcome =
            WriteSettings(scene.settings.string(), {}, {{{"PickupSize", "3"}}, {}, {}}, attack.wait);
        EXPECT_EQ(attack.status, outcome.status);
        EXPECT_NE(std::string::npos, Words(outcome).find(attack.words)) << Words(outcome);
        EXPECT_EQ(Victim, Bytes(scene.victim));
        if (!scene.written.empty()) {
            const bool written = attack.status == WriteStatus::Written;
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(scene.written)));
            EXPECT_EQ(written ? After : Before, Bytes(scene.written));
            EXPECT_EQ(written ? std::optional<std::string>(Before) : std::nullopt, Bytes(scene.written.string() + ".bak"));
#ifndef _WIN32
            if (attack.mode != 0) {
                EXPECT_EQ(attack.mode, Mode(scene.written));
                if (written) EXPECT_EQ(attack.mode, Mode(scene.written.string() + ".bak"));
            }
#endif
        }
        attack.also(scene);
    }
}

#ifndef _WIN32
// Root may write into any folder, so the change is made by a child that has become another
// user ("nobody"); anyone else is kept out by the folder's mode alone. The folder lies in the
// temporary folder, which that user may reach.
TEST(WriteSettings, AFolderItMayNotWriteIsNamedWithTheRightsAdvice) {
    Scene scene;
    fs::permissions(scene.folder.path(), fs::perms(0555));
    int ends[2];
    ASSERT_EQ(0, ::pipe(ends));
    const pid_t child = ::fork();
    ASSERT_LE(0, child);
    if (child == 0) {
        ::close(ends[0]);
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(Nobody) != 0 || ::setuid(Nobody) != 0)) _exit(2);
        const WriteOutcome outcome = WriteSettings(scene.settings.string(), {}, {{{"PickupSize", "3"}}, {}, {}});
        const std::string words = Words(outcome);
        const bool told = ::write(ends[1], words.data(), words.size()) == static_cast<ssize_t>(words.size());
        _exit(told && outcome.status == WriteStatus::NotWritten && outcome.obstacle == WriteObstacle::FolderNotWritable ? 0 : 1);
    }
    ::close(ends[1]);
    std::string words;
    char buffer[4096];
    for (ssize_t got; (got = ::read(ends[0], buffer, sizeof buffer)) > 0;) words.append(buffer, static_cast<std::size_t>(got));
    ::close(ends[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    fs::permissions(scene.folder.path(), fs::perms(0755));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << words;
    EXPECT_NE(std::string::npos, words.find("the folder " + scene.folder.path().string() + " may not be written to"))
        << words;
    EXPECT_NE(std::string::npos, words.find("a game in Program Files needs the checker started as administrator"))
        << words;
    EXPECT_EQ(Before, Bytes(scene.settings));
}
#endif

}  // namespace
