// Writers killed with SIGKILL at random moments while they make version after version of the
// settings file: after every kill the file is exactly one whole version, the last one the
// writer finished or the one it was making; the next writer removes the temporary files the
// killed one left; and inotify on the folder shows that the settings file is never written in
// place, only ever replaced by a temporary file moved onto it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "edit/FileReplace.h"
#include "src/settings/PickupSettings.h"
#include "tests/edit/CrashVersions.h"
#include "tests/support/TempFolder.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Kills at a random moment, after the one that measures how long a version takes.
constexpr int RandomKills = 100;
// Delays spread over this many versions' time after the writer says it is ready.
constexpr int VersionsSpanned = 3;

const std::string SettingsName = "Glimmerward.ini";
const std::string BackupName = SettingsName + ".bak";
const std::string LockName = SettingsName + ".lock";

// Version `version` of the whole file, as the test writes version 0 and the writer's changes
// turn it into any other.
std::string VersionText(std::uint32_t version) {
    std::string text;
    for (std::size_t i = 0; i < PickupSettingCount; ++i) {
        text += std::string(PickupSettings[i].key) + " = " + CrashValueText(i, version) + "\r\n";
    }
    return text;
}

std::optional<std::string> Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The first setting the plug-in's reader gets other than from version `version`; empty when
// it reads all 59 from the file, each with that version's value.
std::string PluginDisagrees(const fs::path& path, std::uint32_t version) {
    const PickupReading reading = ReadPickupSettingsFile(path.c_str());
    const float number = static_cast<float>(10 * version + 1);
    for (std::size_t i = 0; i < PickupSettingCount; ++i) {
        bool same = reading.origins[i].line != 0;
        if (i < FloatSettingCount) {
            same = same && reading.values.floats[i] == number;
        } else {
            const std::size_t n = i - FloatSettingCount;
            const PickupColorEntry& entry = reading.values.colors[n];
            const std::array<std::uint8_t, 4> channels{static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(version & 255),
                                                       static_cast<std::uint8_t>(version >> 8 & 255), 1};
            same = same && entry.channels == channels && entry.value == number;
        }
        if (!same) return std::string(PickupSettings[i].key);
    }
    return {};
}

// A temporary file of the writer's, for the settings file or its backup.
struct Temporary {
    std::string target;
    pid_t process;
};

std::optional<Temporary> TemporaryOf(const std::string& name) {
    for (const std::string& target : {SettingsName, BackupName}) {
        if (const std::optional<unsigned long> process = TemporaryProcess(name, target)) {
            return Temporary{target, static_cast<pid_t>(*process)};
        }
    }
    return std::nullopt;
}

// What inotify reports of the folder: every sign of a file written in place, and how often a
// new settings file was moved into its place.
class FolderWatch {
public:
    explicit FolderWatch(const fs::path& folder) : descriptor_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        if (descriptor_ >= 0) {
            watch_ = inotify_add_watch(descriptor_, folder.c_str(),
                                       IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO);
        }
    }
    ~FolderWatch() {
        if (descriptor_ >= 0) close(descriptor_);
    }
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    bool watching() const { return watch_ >= 0; }
    int descriptor() const { return descriptor_; }

    // Takes every event queued so far.
    void Take() {
        alignas(inotify_event) char buffer[65536];
        for (;;) {
            const ssize_t got = read(descriptor_, buffer, sizeof buffer);
            if (got <= 0) return;
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                Note(*event, event->len ? std::string(event->name) : std::string());
            }
        }
    }

    std::vector<std::string> wrong;  // events that no replacement through a temporary file gives
    std::uint32_t arrivals = 0;      // new settings files moved into place

private:
    void Note(const inotify_event& event, const std::string& name) {
        if (event.mask & IN_Q_OVERFLOW) {
            wrong.push_back("events were lost");
            return;
        }
        const std::optional<Temporary> temporary = TemporaryOf(name);
        if ((event.mask & (IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE)) && !temporary && name != LockName) {
            wrong.push_back(std::string(event.mask & IN_CREATE ? "created " : event.mask & IN_MODIFY ? "written " : "closed after writing ") + name);
        }
        if (event.mask & IN_MOVED_FROM) {
            if (!temporary) wrong.push_back("moved away: " + name);
            movedFrom_[event.cookie] = name;
        }
        if (event.mask & IN_MOVED_TO) {
            const auto from = movedFrom_.find(event.cookie);
            const std::string source = from == movedFrom_.end() ? "outside the folder" : from->second;
            const std::optional<Temporary> sourceTemporary = TemporaryOf(source);
            if (!sourceTemporary || sourceTemporary->target != name) wrong.push_back("moved onto " + name + " from " + source);
            if (name == SettingsName) ++arrivals;
            if (from != movedFrom_.end()) movedFrom_.erase(from);
        }
    }

    int descriptor_;
    int watch_ = -1;
    std::map<std::uint32_t, std::string> movedFrom_;
};

// A program started with its output coming through a pipe; killed if still running at the end.
class Child {
public:
    explicit Child(const std::vector<std::string>& arguments) {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
        std::vector<char*> argv;
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        if (posix_spawn(&process_, argv[0], &actions, nullptr, argv.data(), environ) != 0) process_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(ends[1]);
        output_ = ends[0];
        fcntl(output_, F_SETFL, O_NONBLOCK);
    }
    ~Child() {
        if (process_ > 0) Kill();
        if (output_ >= 0) close(output_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return process_ > 0; }
    pid_t process() const { return process_; }
    int output() const { return output_; }

    // Adds what it has written so far to `said`; false once it has closed its output.
    bool Hear(std::string& said) const {
        char buffer[4096];
        for (;;) {
            const ssize_t got = read(output_, buffer, sizeof buffer);
            if (got == 0) return false;
            if (got < 0) return errno == EAGAIN || errno == EINTR;
            said.append(buffer, static_cast<std::size_t>(got));
        }
    }

    // Waits for its end, hearing the rest of its output; the status waitpid gives.
    int Wait(std::string& said) {
        while (Hear(said)) {
            pollfd readable{output_, POLLIN, 0};
            poll(&readable, 1, -1);
        }
        int status = 0;
        waitpid(process_, &status, 0);
        process_ = -1;
        return status;
    }

    int Kill() {
        ::kill(process_, SIGKILL);
        int status = 0;
        waitpid(process_, &status, 0);
        process_ = -1;
        return status;
    }

private:
    pid_t process_ = -1;
    int output_ = -1;
};

// Hears the child and takes the folder's events until `done` holds (true) or `until` comes
// (false).
bool Listen(const Child& child, FolderWatch& watch, std::string& said, const std::function<bool()>& done,
            Clock::time_point until) {
    bool open = true;
    for (;;) {
        watch.Take();
        if (open) open = child.Hear(said);
        if (done()) return true;
        const auto left = until - Clock::now();
        if (left <= Clock::duration::zero()) return false;
        const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec timeout{static_cast<time_t>(nanoseconds / 1000000000), static_cast<long>(nanoseconds % 1000000000)};
        pollfd ready[2] = {{watch.descriptor(), POLLIN, 0}, {open ? child.output() : -1, POLLIN, 0}};
        ppoll(ready, 2, &timeout, nullptr);
    }
}

// The versions the writer reported written, in order.
std::vector<std::uint32_t> Reported(const std::string& said) {
    std::vector<std::uint32_t> versions;
    std::size_t start = said.find('\n');
    while (start != std::string::npos && start + 1 < said.size()) {
        const std::size_t end = said.find('\n', start + 1);
        if (end == std::string::npos) break;
        versions.push_back(static_cast<std::uint32_t>(std::stoul(said.substr(start + 1, end - start - 1))));
        start = end;
    }
    return versions;
}

std::size_t Lines(const std::string& said) { return static_cast<std::size_t>(std::count(said.begin(), said.end(), '\n')); }

TEST(SettingsCrash, AKilledWriterLeavesOneWholeVersionAndTheFileIsOnlyEverReplaced) {
    TempFolder folder;
    const fs::path path = folder.write(SettingsName, VersionText(0));
    FolderWatch watch(folder.path());
    ASSERT_TRUE(watch.watching()) << std::strerror(errno);

    std::mt19937 random(20250611);
    std::uniform_int_distribution<long> delays;
    std::uint32_t version = 0;       // the file's version, as found after the last kill
    std::set<pid_t> leftBehind;      // the processes whose temporary files are in the folder
    int before = 0, duringBackup = 0, duringSettings = 0, after = 0;
    for (int kill = 0; kill <= RandomKills; ++kill) {
        Child writer({GLIMMERWARD_CRASH_WRITER, path.string(), std::to_string(version + 1)});
        ASSERT_TRUE(writer.started()) << GLIMMERWARD_CRASH_WRITER;
        std::string said;
        ASSERT_TRUE(Listen(writer, watch, said, [&] { return Lines(said) >= 1; }, Clock::now() + std::chrono::seconds(60)))
            << "the writer never got ready: " << said;
        const auto ready = Clock::now();
        if (kill == 0) {
            // The first writer is killed after ten versions, which give the range of delays.
            ASSERT_TRUE(Listen(writer, watch, said, [&] { return Lines(said) >= 11; }, ready + std::chrono::seconds(120)))
                << "the writer stopped: " << said;
            const auto perVersion = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - ready) / 10;
            delays = std::uniform_int_distribution<long>(0, VersionsSpanned * perVersion.count());
            std::printf("a version takes %lld us: kills land 0 to %ld us after the writer is ready\n",
                        static_cast<long long>(perVersion.count()), delays.max());
        } else {
            const auto at = ready + std::chrono::microseconds(delays(random));
            Listen(writer, watch, said, [] { return false; }, at);
        }
        const pid_t process = writer.process();
        const int status = writer.Kill();
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the writer ended by itself: " << said;
        while (writer.Hear(said)) {
        }
        watch.Take();

        const std::vector<std::uint32_t> written = Reported(said);
        for (std::size_t i = 0; i < written.size(); ++i) ASSERT_EQ(version + 1 + i, written[i]) << said;
        const std::uint32_t last = written.empty() ? version : written.back();

        // Exactly the last version written or the one the writer was making, as the plug-in reads it too.
        const std::optional<std::string> bytes = Bytes(path);
        ASSERT_TRUE(bytes) << "no settings file after kill " << kill;
        std::uint32_t found = last;
        if (*bytes != VersionText(last)) {
            found = last + 1;
            ASSERT_EQ(VersionText(found), *bytes) << "after kill " << kill << " the file is neither version " << last
                                                  << " nor " << found;
        }
        ASSERT_EQ("", PluginDisagrees(path, found)) << "version " << found;
        const std::optional<std::string> backup = Bytes(folder.path() / BackupName);
        if (backup) {
            EXPECT_TRUE(*backup == VersionText(found) || (found > 0 && *backup == VersionText(found - 1)))
                << "after kill " << kill << " the backup is no whole version before " << found;
        } else {
            EXPECT_EQ(0u, found) << "no backup after kill " << kill;
        }

        // Temporary files: the killed writer's, and earlier ones only while it had not finished
        // its first version, the call that removes them.
        std::set<pid_t> left;
        std::set<std::string> itsOwn;
        for (const auto& entry : fs::directory_iterator(folder.path())) {
            const std::string name = entry.path().filename().string();
            const std::optional<Temporary> temporary = TemporaryOf(name);
            if (!temporary) {
                EXPECT_TRUE(name == SettingsName || name == BackupName || name == LockName) << "unexpected " << name;
                continue;
            }
            left.insert(temporary->process);
            if (temporary->process == process) {
                itsOwn.insert(temporary->target);
            } else {
                EXPECT_TRUE(written.empty() && leftBehind.contains(temporary->process))
                    << name << " was not removed by the writer of kill " << kill << " (" << written.size()
                    << " versions written)";
            }
        }
        leftBehind = left;
        if (kill == 0) {
        } else if (itsOwn.contains(SettingsName)) {
            ++duringSettings;
        } else if (itsOwn.contains(BackupName)) {
            ++duringBackup;
        } else if (found == version) {
            ++before;
        } else {
            ++after;
        }
        version = found;
    }

    // The real checker changes the file once more, to the end: it removes what the last kill left.
    std::vector<std::string> command{GLIMMERWARD_CHECKER};
    for (std::size_t i = 0; i < PickupSettingCount; ++i) {
        command.insert(command.end(), {"--set", std::string(PickupSettings[i].key) + "=" + CrashValueText(i, version + 1)});
    }
    command.insert(command.end(), {"--no-wait", path.string()});
    Child checker(command);
    ASSERT_TRUE(checker.started()) << GLIMMERWARD_CHECKER;
    std::string report;
    const int status = checker.Wait(report);
    // 1: warnings about values that are no sensible pickup settings; 2 to 5 would mean not written.
    ASSERT_TRUE(WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 1)) << report;
    EXPECT_EQ(VersionText(version + 1), Bytes(path).value_or(""));
    EXPECT_EQ(VersionText(version), Bytes(folder.path() / BackupName).value_or(""));
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder.path())) names.insert(entry.path().filename().string());
    EXPECT_EQ((std::set<std::string>{SettingsName, BackupName, LockName}), names);

    // Every version came in by one move of a temporary file onto the settings file, and by nothing else.
    watch.Take();
    EXPECT_TRUE(watch.wrong.empty()) << watch.wrong.size() << " signs of a write in place, the first: " << watch.wrong.front();
    EXPECT_EQ(version + 1, watch.arrivals);
    std::printf("%d random kills: %d before a replacement, %d while the backup was replaced, %d while the settings "
                "file was replaced, %d after one; %u versions in all\n",
                RandomKills, before, duringBackup, duringSettings, after, version + 1);
}

}  // namespace
