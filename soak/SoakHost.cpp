// The stand-in host (build 110) with the real plug-in, run hard: loaded and unloaded many
// times, its hooked call executed from several threads while another process rewrites
// the settings file, and the settings file broken in the ways a player's disk breaks it.
// Every part checks the host's values and code, prints its figures as
// "figure PART NAME VALUE" lines, and ends with a non-zero status on any fault.
//
//   SoakHost cycles N            N load, call, unload cycles; memory and handles kept flat
//   SoakHost threads CALLS T     CALLS hooked calls from T threads, the file rewritten meanwhile
//   SoakHost faults              a folder, an empty file, NULs, a locked file, a vanished file
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <bitset>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <functional>
#include <memory>
#include <vector>

#include "basis/FileRead.h"
#include "injector/memory.h"
#include "soak/SettingsVersions.h"
#include "src/settings/PickupSettings.h"
#include "src/settings/SettingsFile.h"
#include "standin/HostImage.h"
#include "standin/PickupExpectations.h"
#include "standin/StandInHost.h"

namespace {

namespace fs = std::filesystem;
namespace Expect = PickupExpectations;

constexpr HostVersion Build = 110;

using StandInHost::HostFolder;

// With no file in "plugins" or "scripts", the plug-in settles on this one at load.
fs::path SettingsPath() { return HostFolder() / "Glimmerward.ini"; }

void RemoveSettings() {
    std::error_code ignored;
    for (const char* place : {"plugins", "scripts", "Glimmerward.ini"}) fs::remove_all(HostFolder() / place, ignored);
}

void WriteFileBytes(const fs::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

template <class T>
void Figure(const char* part, const char* name, T value) {
    if constexpr (std::is_floating_point_v<T>) {
        std::printf("figure %s %s %.1f\n", part, name, value);
    } else if constexpr (std::is_integral_v<T>) {
        std::printf("figure %s %s %lld\n", part, name, static_cast<long long>(value));
    } else {
        std::printf("figure %s %s %s\n", part, name, value);
    }
    std::fflush(stdout);
}

// Counts faults and tells the first few.
class Faults {
public:
    explicit Faults(const char* part) : part_(part) {}
    bool check(bool ok, const std::string& what) {
        if (!ok && count_++ < 10) std::fprintf(stderr, "FAULT (%s): %s\n", part_, what.c_str());
        return ok;
    }
    long count() const { return count_; }

private:
    const char* part_;
    long count_ = 0;
};

// The plug-in loaded from beside the host, freed when this ends.
class LoadedPlugin {
public:
    LoadedPlugin() : module_(LoadLibraryA((HostFolder() / "Glimmerward.dll").string().c_str())) {}
    ~LoadedPlugin() {
        if (module_) FreeLibrary(module_);
    }
    LoadedPlugin(const LoadedPlugin&) = delete;
    LoadedPlugin& operator=(const LoadedPlugin&) = delete;

    bool loaded() const { return module_ != nullptr; }
    bool unload() {
        const bool freed = FreeLibrary(module_) != 0;
        module_ = nullptr;
        return freed;
    }

private:
    HMODULE module_;
};

// What the host must hold after a run: the published defaults, with the file's values.
struct HostValues {
    std::array<std::uint32_t, 15> floats;
    Expect::ColorTable colors;
};

HostValues Defaults() {
    HostValues values;
    for (std::size_t i = 0; i < values.floats.size(); ++i) values.floats[i] = Expect::DefaultFloats[i].bits;
    values.colors = Expect::DefaultColorTable();
    return values;
}

// The file the load cycles and the fault cases use, and what it gives.
constexpr std::string_view KnownFile = "PickupSize = 3\r\nPickupColor_5 = 255 0 0 255 2.0\r\nTextAlpha=100\r\n";

HostValues KnownFileValues() {
    HostValues values = Defaults();
    for (std::size_t i = 0; i < values.floats.size(); ++i) {
        if (Expect::DefaultFloats[i].address == Host::Pickup::Size) values.floats[i] = std::bit_cast<std::uint32_t>(3.0f);
        if (Expect::DefaultFloats[i].address == Host::Pickup::TextAlpha) values.floats[i] = std::bit_cast<std::uint32_t>(100.0f);
    }
    Expect::SetEntry(values.colors, 5, "FF0000FF", 2.0f);
    return values;
}

bool HostHolds(const HostValues& expected) {
    for (std::size_t i = 0; i < expected.floats.size(); ++i) {
        if (StandInHost::FloatBitsAt(Expect::DefaultFloats[i].address) != expected.floats[i]) return false;
    }
    return StandInHost::ColorTable() == expected.colors;
}

// Executes the hooked call once and checks that the host's own callee ran and its result
// came back.
bool RunHookedCall() {
    const int calls = StandInHost::CalleeCalls();
    const bool result = StandInHost::RunCallSite(Build) == StandInHost::CalleeResult();
    return result && StandInHost::CalleeCalls() > calls;
}

// Another process of this soak, waited for (or ended) when this ends.
class ChildProcess {
public:
    explicit ChildProcess(std::string commandLine) {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info_)) {
            info_ = {};
        }
    }
    ~ChildProcess() {
        if (!info_.hProcess) return;
        if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info_.hProcess, 1);
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return info_.hProcess != nullptr; }
    // The exit status, or -1 when it has not ended within `milliseconds`.
    long wait(DWORD milliseconds) {
        if (!started() || WaitForSingleObject(info_.hProcess, milliseconds) != WAIT_OBJECT_0) return -1;
        DWORD status = 0;
        GetExitCodeProcess(info_.hProcess, &status);
        return static_cast<long>(status);
    }

private:
    PROCESS_INFORMATION info_{};
};

// A thread of this process running `work`, joined when this ends. Windows' own threads,
// since the build's runtime has no std::thread.
class WorkerThread {
public:
    explicit WorkerThread(std::function<void()> work)
        : work_(std::make_unique<std::function<void()>>(std::move(work))),
          handle_(CreateThread(nullptr, 0, &Run, work_.get(), 0, nullptr)) {}
    ~WorkerThread() {
        if (!handle_) return;
        WaitForSingleObject(handle_, INFINITE);
        CloseHandle(handle_);
    }
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    bool started() const { return handle_ != nullptr; }

private:
    static DWORD WINAPI Run(void* work) {
        (*static_cast<std::function<void()>*>(work))();
        return 0;
    }
    std::unique_ptr<std::function<void()>> work_;
    HANDLE handle_;
};

std::string Quoted(const fs::path& path) { return "\"" + path.string() + "\""; }

std::string WriterCommand(const std::string& arguments) { return Quoted(HostFolder() / "SoakWriter.exe") + " " + arguments; }

// A named manual-reset event, unique to this process.
class NamedEvent {
public:
    explicit NamedEvent(const char* role)
        : name_("GlimmerwardSoak" + std::string(role) + std::to_string(GetCurrentProcessId())),
          handle_(CreateEventA(nullptr, TRUE, FALSE, name_.c_str())) {}
    ~NamedEvent() {
        if (handle_) CloseHandle(handle_);
    }
    NamedEvent(const NamedEvent&) = delete;
    NamedEvent& operator=(const NamedEvent&) = delete;

    const std::string& name() const { return name_; }
    void set() { SetEvent(handle_); }
    bool waitSet(DWORD milliseconds) { return WaitForSingleObject(handle_, milliseconds) == WAIT_OBJECT_0; }

private:
    std::string name_;
    HANDLE handle_;
};

// ---- load and unload cycles -------------------------------------------------------------

struct Usage {
    std::uint64_t commitCharge;      // the process's private bytes as the system counts them
    std::uint64_t committedPrivate;  // committed private pages, found by walking the address space
    DWORD handleCount;               // as the system reports it (Wine reports 0)
    DWORD openHandles;               // handle values that name an object, found by trying each
};

Usage Measure() {
    Usage usage{};
    // PagefileUsage is the commit charge, the same figure as PrivateUsage, and the one that
    // Wine fills in too.
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) usage.commitCharge = counters.PagefileUsage;
    MEMORY_BASIC_INFORMATION info{};
    for (auto at = std::uintptr_t{0}; VirtualQuery(reinterpret_cast<void*>(at), &info, sizeof info) == sizeof info;) {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) usage.committedPrivate += info.RegionSize;
        const std::uintptr_t next = reinterpret_cast<std::uintptr_t>(info.BaseAddress) + info.RegionSize;
        if (next <= at) break;
        at = next;
    }
    GetProcessHandleCount(GetCurrentProcess(), &usage.handleCount);
    for (std::uintptr_t value = 4; value < 0x10000; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++usage.openHandles;
    }
    return usage;
}

int Cycles(int cycles) {
    Faults faults("cycles");
    RemoveSettings();
    WriteFileBytes(SettingsPath(), KnownFile);
    const HostValues expected = KnownFileValues();
    StandInHost::Become(Build);
    const auto original = StandInHost::CallSiteBytes(Build);

    std::vector<std::pair<int, Usage>> measured{{0, Measure()}};
    const auto start = std::chrono::steady_clock::now();
    int done = 0;
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        const std::string at = "cycle " + std::to_string(cycle) + ": ";
        {
            LoadedPlugin plugin;
            if (!faults.check(plugin.loaded(), at + "LoadLibrary failed, error " + std::to_string(GetLastError()))) break;
            const auto patched = StandInHost::CallSiteBytes(Build);
            faults.check(patched != original && patched[0] == 0xE8, at + "the call site was not hooked");
            HostImage::FillData(0xCC);
            faults.check(RunHookedCall(), at + "the hooked call did not reach the host's callee");
            faults.check(HostHolds(expected), at + "the host does not hold the file's values");
            faults.check(plugin.unload(), at + "FreeLibrary failed");
        }
        faults.check(StandInHost::CallSiteBytes(Build) == original, at + "the call site's bytes were not restored");
        faults.check(GetModuleHandleA("Glimmerward.dll") == nullptr, at + "the plug-in is still mapped");
        HostImage::FillData(0xCC);
        faults.check(RunHookedCall() && StandInHost::FloatBitsAt(Host::Pickup::Size) == 0xCCCCCCCCu,
                     at + "the unhooked call still wrote into the host");
        done = cycle;
        if (cycle == cycles / 2 || cycle == cycles) measured.emplace_back(cycle, Measure());
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    Figure("cycles", "done", done);
    Figure("cycles", "per_second", done / seconds);
    for (const auto& [cycle, usage] : measured) {
        const std::string suffix = "_at_" + std::to_string(cycle);
        Figure("cycles", ("commit_charge_bytes" + suffix).c_str(), usage.commitCharge);
        Figure("cycles", ("committed_private_bytes" + suffix).c_str(), usage.committedPrivate);
        Figure("cycles", ("open_handles" + suffix).c_str(), usage.openHandles);
        Figure("cycles", ("reported_handle_count" + suffix).c_str(), usage.handleCount);
    }
    if (faults.check(measured.size() == 3, "the cycles did not all run")) {
        const Usage& middle = measured[1].second;
        const Usage& last = measured[2].second;
        const auto growth = [](std::uint64_t from, std::uint64_t to) { return static_cast<long long>(to) - static_cast<long long>(from); };
        constexpr long long Limit = 64 * 1024;
        const long long charge = growth(middle.commitCharge, last.commitCharge);
        const long long committed = growth(middle.committedPrivate, last.committedPrivate);
        const long long handles = growth(middle.openHandles, last.openHandles);
        const long long reported = growth(middle.handleCount, last.handleCount);
        Figure("cycles", "commit_charge_growth_last_half", charge);
        Figure("cycles", "committed_private_growth_last_half", committed);
        Figure("cycles", "open_handle_growth_last_half", handles);
        Figure("cycles", "reported_handle_growth_last_half", reported);
        faults.check(charge < Limit, "the commit charge grew by " + std::to_string(charge) + " bytes in the last half");
        faults.check(committed < Limit, "committed private pages grew by " + std::to_string(committed) + " bytes in the last half");
        faults.check(handles <= 0 && reported <= 0, "the process holds " + std::to_string(std::max(handles, reported)) +
                                                        " more handles after the last half");
    }
    RemoveSettings();
    Figure("cycles", "faults", faults.count());
    return faults.count() == 0 ? 0 : 1;
}

// ---- concurrent calls while another process rewrites the file --------------------------

// What each value of the host may hold while the file changes: for every 4-byte float and
// every colour byte, the values that some prefix of some version gives (the empty prefix
// giving the defaults), and among them those of the complete versions and the defaults.
struct AllowedValues {
    struct Word {
        HostAddress address;
        std::vector<std::uint32_t> any, whole;  // sorted
    };
    struct Byte {
        HostAddress address;
        std::bitset<256> any, whole;
    };
    std::vector<Word> words;
    std::vector<Byte> bytes;
    long prefixes = 0;
};

using DataSnapshot = std::array<std::uint8_t, Host::DataSize>;

// What the plug-in's own reader and writer make of `text`, laid out as the host's data.
DataSnapshot Apply(std::string_view text) {
    DataSnapshot data{};
    WritePickupSettings(ReadPickupSettings(TextSource(text)).values, [&](HostAddress address, const void* bytes, std::size_t size) {
        std::memcpy(&data[address - Host::DataBegin], bytes, size);
    });
    return data;
}

AllowedValues Allowed(const std::vector<std::string>& versions) {
    AllowedValues allowed;
    for (const PickupSetting& setting : FloatSettings) allowed.words.push_back({setting.address, {}, {}});
    for (const PickupSetting& setting : ColorSettings) {
        allowed.words.push_back({setting.address + 4, {}, {}});
        for (HostAddress channel = 0; channel < 4; ++channel) allowed.bytes.push_back({setting.address + channel, {}, {}});
    }
    const auto add = [&](const DataSnapshot& data, bool whole) {
        for (auto& word : allowed.words) {
            std::uint32_t value;
            std::memcpy(&value, &data[word.address - Host::DataBegin], sizeof value);
            (whole ? word.whole : word.any).push_back(value);
        }
        for (auto& byte : allowed.bytes) (whole ? byte.whole : byte.any).set(data[byte.address - Host::DataBegin]);
    };
    add(Apply({}), true);
    for (const std::string& version : versions) {
        for (std::size_t cut = 0; cut <= version.size(); ++cut) {
            add(Apply(std::string_view(version).substr(0, cut)), cut == version.size());
            ++allowed.prefixes;
        }
    }
    for (auto& word : allowed.words) {
        for (auto* list : {&word.any, &word.whole}) {
            std::sort(list->begin(), list->end());
            list->erase(std::unique(list->begin(), list->end()), list->end());
        }
        std::vector<std::uint32_t> merged;
        std::set_union(word.any.begin(), word.any.end(), word.whole.begin(), word.whole.end(), std::back_inserter(merged));
        word.any = std::move(merged);
    }
    for (auto& byte : allowed.bytes) byte.any |= byte.whole;
    return allowed;
}

struct Inspection {
    long violations = 0;
    bool onlyFromAPiece = false;  // some value came from a piece of a version alone
};

// Reads every float as one aligned 4-byte load and every colour byte as one byte load:
// the units the plug-in stores, which other threads may be storing meanwhile.
Inspection Inspect(const AllowedValues& allowed, Faults* report) {
    Inspection result;
    for (const auto& word : allowed.words) {
        const std::uint32_t value = *static_cast<const volatile std::uint32_t*>(injector::host_ptr(word.address));
        if (!std::binary_search(word.any.begin(), word.any.end(), value)) {
            ++result.violations;
            if (report) {
                char text[96];
                std::snprintf(text, sizeof text, "0x%06X holds 0x%08X, which no version gives", word.address, value);
                report->check(false, text);
            }
        } else if (!std::binary_search(word.whole.begin(), word.whole.end(), value)) {
            result.onlyFromAPiece = true;
        }
    }
    for (const auto& byte : allowed.bytes) {
        const std::uint8_t value = *static_cast<const volatile std::uint8_t*>(injector::host_ptr(byte.address));
        if (!byte.any.test(value)) {
            ++result.violations;
            if (report) {
                char text[96];
                std::snprintf(text, sizeof text, "0x%06X holds 0x%02X, which no version gives", byte.address, value);
                report->check(false, text);
            }
        } else if (!byte.whole.test(value)) {
            result.onlyFromAPiece = true;
        }
    }
    return result;
}

int Threads(long calls, int threadCount) {
    Faults faults("threads");
    const std::vector<std::string> versions = SoakSettings::Versions();
    const auto prepared = std::chrono::steady_clock::now();
    const AllowedValues allowed = Allowed(versions);
    Figure("threads", "versions", versions.size());
    Figure("threads", "prefixes_applied", allowed.prefixes);
    Figure("threads", "seconds_to_work_out_allowed_values",
           std::chrono::duration<double>(std::chrono::steady_clock::now() - prepared).count());

    RemoveSettings();
    WriteFileBytes(SettingsPath(), versions[0]);
    StandInHost::Become(Build);
    const auto original = StandInHost::CallSiteBytes(Build);
    const int calleeCallsBefore = StandInHost::CalleeCalls();
    long writerCounts[4] = {0, 0, 0, 0};
    long long callsDone = 0, readsFromAPiece = 0, violations = 0;
    double seconds = 0;
    {
        LoadedPlugin plugin;
        if (!faults.check(plugin.loaded(), "LoadLibrary failed")) return 1;

        NamedEvent stop("Stop");
        const fs::path report = HostFolder() / "writer-report.txt";
        std::error_code ignored;
        fs::remove(report, ignored);
        ChildProcess writer(WriterCommand("cycle " + Quoted(SettingsPath()) + " " + stop.name() + " " + Quoted(report)));
        if (!faults.check(writer.started(), "the writer did not start")) return 1;

        std::atomic<long long> done{0}, pieces{0}, bad{0};
        std::atomic<bool> go{false};
        std::vector<std::unique_ptr<WorkerThread>> threads;
        const auto start = std::chrono::steady_clock::now();
        for (int t = 0; t < threadCount; ++t) {
            const long share = calls / threadCount + (t < calls % threadCount ? 1 : 0);
            threads.push_back(std::make_unique<WorkerThread>([&, share] {
                while (!go.load()) SwitchToThread();
                bool told = false;
                for (long i = 0; i < share; ++i) {
                    if (!RunHookedCall()) bad.fetch_add(1);
                    const Inspection seen = Inspect(allowed, nullptr);
                    if (seen.violations > 0) {
                        bad.fetch_add(seen.violations);
                        if (!told) {
                            told = true;
                            std::fprintf(stderr, "FAULT (threads): a host value no version gives, after call %ld\n", i);
                        }
                    }
                    if (seen.onlyFromAPiece) pieces.fetch_add(1);
                    done.fetch_add(1);
                }
            }));
            faults.check(threads.back()->started(), "a calling thread did not start");
        }
        go.store(true);
        threads.clear();  // joins them
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        stop.set();
        faults.check(writer.wait(60000) == 0, "the writer did not end well");
        if (std::FILE* counts = std::fopen(report.string().c_str(), "r")) {
            faults.check(std::fscanf(counts, "%ld %ld %ld %ld", &writerCounts[0], &writerCounts[1], &writerCounts[2],
                                     &writerCounts[3]) == 4,
                         "the writer's report is incomplete");
            std::fclose(counts);
        } else {
            faults.check(false, "the writer left no report");
        }
        fs::remove(report, ignored);
        callsDone = done.load();
        readsFromAPiece = pieces.load();
        violations = bad.load();
        violations += Inspect(allowed, &faults).violations;  // and once more, all threads ended
    }
    faults.check(violations == 0, std::to_string(violations) + " host values that no version gives, or calls that went astray");
    faults.check(callsDone == calls, "not every call ran");
    faults.check(StandInHost::CalleeCalls() - calleeCallsBefore == calls, "the host's callee did not run once per call");
    faults.check(StandInHost::CallSiteBytes(Build) == original, "the call site's bytes were not restored");
    faults.check(writerCounts[0] > 0 && writerCounts[1] > 0, "the writer did not rewrite the file both ways");
    faults.check(writerCounts[3] == 0, "the writer failed to write");

    Figure("threads", "threads", threadCount);
    Figure("threads", "calls", callsDone);
    Figure("threads", "calls_per_second", callsDone / seconds);
    Figure("threads", "rewrites_in_place", writerCounts[0]);
    Figure("threads", "rewrites_by_rename", writerCounts[1]);
    Figure("threads", "renames_refused_while_read", writerCounts[2]);
    Figure("threads", "reads_showing_a_piece_of_a_version", readsFromAPiece);
    Figure("threads", "violations", violations);
    RemoveSettings();
    Figure("threads", "faults", faults.count());
    return faults.count() == 0 ? 0 : 1;
}

// ---- a broken settings file ------------------------------------------------------------

int FaultCases() {
    Faults faults("faults");
    RemoveSettings();
    StandInHost::Become(Build);
    const HostValues defaults = Defaults();
    const HostValues fileValues = KnownFileValues();
    const fs::path path = SettingsPath();
    LoadedPlugin plugin;  // nothing is there yet: it settles on the file beside the host
    if (!faults.check(plugin.loaded(), "LoadLibrary failed")) return 1;

    long cases = 0;
    const auto run = [&](const char* name, const HostValues& expected, const char* which) {
        ++cases;
        HostImage::FillData(0xCC);
        const bool ran = faults.check(RunHookedCall(), std::string(name) + ": the hooked call did not reach the callee");
        const bool held = faults.check(HostHolds(expected), std::string(name) + ": the host does not hold the " + which);
        Figure("faults", name, ran && held ? which : "FAULT");
    };
    std::error_code ignored;

    WriteFileBytes(path, KnownFile);
    run("file_present", fileValues, "file_values");

    fs::remove(path);
    fs::create_directory(path);
    run("folder", defaults, "defaults");
    fs::remove(path);

    WriteFileBytes(path, "");
    run("empty_file", defaults, "defaults");

    WriteFileBytes(path, std::string(4096, '\0'));
    run("only_nuls", defaults, "defaults");

    WriteFileBytes(path, KnownFile);
    {
        NamedEvent ready("Ready");
        NamedEvent stop("Release");
        ChildProcess locker(WriterCommand("lock " + Quoted(path) + " " + ready.name() + " " + stop.name()));
        if (faults.check(locker.started() && ready.waitSet(60000), "the other process did not lock the file")) {
            const HANDLE probe = CreateFileA(path.string().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            const DWORD error = GetLastError();
            faults.check(probe == INVALID_HANDLE_VALUE && error == ERROR_SHARING_VIOLATION,
                         "the locked file could be opened for reading");
            if (probe != INVALID_HANDLE_VALUE) CloseHandle(probe);
            run("locked_by_another_process", defaults, "defaults");
        }
        stop.set();
        faults.check(locker.wait(60000) == 0, "the locking process did not end well");
    }
    run("released_again", fileValues, "file_values");

    fs::remove(path);
    run("vanished", defaults, "defaults");
    WriteFileBytes(path, KnownFile);
    run("back_again", fileValues, "file_values");

    faults.check(plugin.unload(), "FreeLibrary failed");
    fs::remove(path, ignored);
    Figure("faults", "cases", cases);
    Figure("faults", "faults", faults.count());
    return faults.count() == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view command = argc > 1 ? argv[1] : "";
    if (command == "cycles" && argc == 3) return Cycles(std::atoi(argv[2]));
    if (command == "threads" && argc == 4) return Threads(std::atol(argv[2]), std::atoi(argv[3]));
    if (command == "faults" && argc == 2) return FaultCases();
    std::fprintf(stderr, "usage: %s cycles N | threads CALLS THREADS | faults\n", argv[0]);
    return 2;
}
