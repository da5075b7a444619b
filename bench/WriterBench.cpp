// Prints how long one change through the settings writer takes, from the WriteSettings call
// until the new file is in place, while the file is being read over and over: natively by a
// thread looping on the plug-in's reader, on Windows by a second process that is the stand-in
// host with the real plug-in loaded, looping on its hooked call. Under Wine it also prints
// the share of changes whose replacement had to be tried again because the reader held the file.
//
// Usage: writer_bench [CHANGES]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/RepresentativeFile.h"
#include "edit/FileReplace.h"
#include "edit/SettingsEdit.h"
#include "edit/SettingsWriter.h"
#include "src/settings/PickupSettings.h"

#ifdef _WIN32
#include <windows.h>

#include "standin/StandInHost.h"
#else
#include <unistd.h>

#include <atomic>
#include <thread>
#endif

namespace {

namespace fs = std::filesystem;

// The value at the nearest rank: of 200 sorted values the median is the 100th, the 99th
// percentile the 198th.
double Percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(share * static_cast<double>(values.size())));
    return values[std::max<std::size_t>(rank, 1) - 1];
}

// Change j: a few values, as a player changes them, one of them different in every change.
std::vector<SettingSet> ChangeSets(int j) {
    return {{"PickupSize", std::to_string(j + 1) + ".5"}, {"TextAlpha", std::to_string(j % 256)},
            {"PickupColor_" + std::to_string(j % 44), std::to_string(j % 256) + " 10 20 0 1.5"}};
}

#ifdef _WIN32
constexpr HostVersion Build = 110;

std::string EventName(unsigned long process, const char* what) {
    return "GlimmerwardWriterBench." + std::to_string(process) + "." + what;
}

// The game: the real plug-in in the stand-in host, its hooked call run until told to stop.
int RunReader(unsigned long writer) {
    const HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, EventName(writer, "ready").c_str());
    const HANDLE stop = OpenEventA(SYNCHRONIZE, FALSE, EventName(writer, "stop").c_str());
    if (!ready || !stop) {
        std::fprintf(stderr, "reader: no events of process %lu\n", writer);
        return 1;
    }
    StandInHost::Become(Build);
    const HMODULE plugin = LoadLibraryA((StandInHost::HostFolder() / "Glimmerward.dll").string().c_str());
    if (!plugin) {
        std::fprintf(stderr, "reader: cannot load Glimmerward.dll: error %lu\n", GetLastError());
        return 1;
    }
    long long calls = 0;
    SetEvent(ready);
    while (WaitForSingleObject(stop, 0) == WAIT_TIMEOUT) {
        StandInHost::RunCallSite(Build);
        ++calls;
    }
    FreeLibrary(plugin);
    std::printf("  reader: the stand-in host ran %lld hooked calls, each reading the file\n", calls);
    return 0;
}

// Starts the reader process and waits until it runs; ends it on destruction.
class Reader {
public:
    explicit Reader(const char* self) {
        const unsigned long id = GetCurrentProcessId();
        ready_ = CreateEventA(nullptr, TRUE, FALSE, EventName(id, "ready").c_str());
        stop_ = CreateEventA(nullptr, TRUE, FALSE, EventName(id, "stop").c_str());
        std::string command = "\"" + std::string(self) + "\" --reader " + std::to_string(id);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
            std::fprintf(stderr, "cannot start the reader: error %lu\n", GetLastError());
            return;
        }
        CloseHandle(process.hThread);
        process_ = process.hProcess;
        const HANDLE either[] = {ready_, process_};
        running_ = WaitForMultipleObjects(2, either, FALSE, 60000) == WAIT_OBJECT_0;
    }
    ~Reader() { Stop(); }
    bool running() const { return running_; }
    // Tells the reader to stop and waits for it; whether it ended well.
    bool Stop() {
        if (!process_) return false;
        SetEvent(stop_);
        WaitForSingleObject(process_, INFINITE);
        DWORD status = 1;
        GetExitCodeProcess(process_, &status);
        CloseHandle(process_);
        CloseHandle(ready_);
        CloseHandle(stop_);
        process_ = nullptr;
        return status == 0;
    }

private:
    HANDLE ready_ = nullptr;
    HANDLE stop_ = nullptr;
    HANDLE process_ = nullptr;
    bool running_ = false;
};

const char* const Platform = "Windows (under Wine)";
const char* const ReaderKind =
    "a second process, the stand-in host with the real plug-in loaded, runs its hooked call in a loop";
fs::path SettingsFolder() { return StandInHost::HostFolder() / "plugins"; }
#else
// A thread re-reading the file with the plug-in's own reader.
class Reader {
public:
    explicit Reader(const char*, const fs::path& path)
        : thread_([this, path] {
              const std::string file = path.string();
              while (!stop_.load(std::memory_order_relaxed)) {
                  ReadPickupSettingsFile(file.c_str());
                  ++reads_;
              }
          }) {}
    ~Reader() { Stop(); }
    bool running() const { return true; }
    bool Stop() {
        if (thread_.joinable()) {
            stop_ = true;
            thread_.join();
            std::printf("  reader: %lld reads of the file with the plug-in's reader\n", reads_);
        }
        return true;
    }

private:
    std::atomic<bool> stop_{false};
    long long reads_ = 0;
    std::thread thread_;
};

const char* const Platform = "native";
const char* const ReaderKind = "a thread re-reads the file with the plug-in's reader in a loop";
fs::path SettingsFolder() {
    return fs::temp_directory_path() / ("glimmerward-writer-bench-" + std::to_string(getpid()));
}
#endif

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    if (argc == 3 && std::string(argv[1]) == "--reader") return RunReader(std::strtoul(argv[2], nullptr, 10));
#endif
    const int changes = argc > 1 ? std::atoi(argv[1]) : 200;
    constexpr int warmUp = 5;

    const fs::path folder = SettingsFolder();
    fs::create_directories(folder);
    const fs::path settings = folder / "Glimmerward.ini";
    const std::string text = RepresentativeFile();
    std::ofstream(settings, std::ios::binary | std::ios::trunc) << text;
    const std::string path = settings.string();

    std::printf("settings writer, %s: %d changes of 3 values each to a %zu-byte file,\n"
                "each timed from the WriteSettings call until the new file is in place;\n"
                "meanwhile %s\n",
                Platform, changes, text.size(), ReaderKind);
    std::vector<double> times;
    int retried = 0;
    long retries = 0;
    bool failed = false;
    {
#ifdef _WIN32
        Reader reader(argv[0]);
#else
        Reader reader(argv[0], settings);
#endif
        if (!reader.running()) {
            std::fprintf(stderr, "the reader did not start\n");
            return 1;
        }
        for (int j = 0; j < warmUp + changes && !failed; ++j) {
            const SettingsWrite write{ChangeSets(j), {}, {}};
            const auto start = std::chrono::steady_clock::now();
            const WriteOutcome outcome = WriteSettings(path, {}, write);
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            // The new version must be the file now; checked outside the time measured.
            const FileRead now = ReadWholeFile(path, LargestSettingsFile);
            if (outcome.status != WriteStatus::Written || SettingsVersion(now.bytes) != outcome.version) {
                std::fprintf(stderr, "change %d: not written (status %d)%s\n", j, static_cast<int>(outcome.status),
                             outcome.problems.empty() ? "" : (": " + outcome.problems.front()).c_str());
                failed = true;
                break;
            }
            if (j < warmUp) continue;
            times.push_back(ms);
            retried += outcome.retries > 0 ? 1 : 0;
            retries += outcome.retries;
        }
        std::fflush(stdout);  // before the reader's own line
        failed = !reader.Stop() || failed;
    }
    for (const char* end : {"", ".bak", ".lock"}) fs::remove(path + end);
    if (fs::is_empty(folder)) fs::remove(folder);
    if (failed) return 1;

    std::printf("  median:          %8.2f ms\n", Percentile(times, 0.5));
    std::printf("  99th percentile: %8.2f ms\n", Percentile(times, 0.99));
    std::printf("  slowest:         %8.2f ms\n", Percentile(times, 1.0));
#ifdef _WIN32
    std::printf("  changes whose replacement was tried again: %d of %d (%.1f %%), %ld tries again in all\n", retried,
                changes, 100.0 * retried / changes, retries);
#else
    (void)retried;
    (void)retries;
#endif
    return 0;
}
