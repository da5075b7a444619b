#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/TempFolder.h"

namespace {

namespace fs = std::filesystem;

// The probe executable, built beside this test program.
fs::path ProbeExecutable() {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    return fs::path(self).parent_path() / "locate_probe.exe";
}

// Copies the probe to `exe`, runs it there and returns the settings path it chose.
std::string LocateFrom(const fs::path& exe) {
    fs::create_directories(exe.parent_path());
    fs::copy_file(ProbeExecutable(), exe, fs::copy_options::overwrite_existing);
    const fs::path result = fs::temp_directory_path() / ("glimmerward-locate-" + std::to_string(GetCurrentProcessId()) + ".txt");
    std::string command = "\"" + exe.string() + "\" \"" + result.string() + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // The working folder is elsewhere on purpose: it plays no part.
    const std::string elsewhere = fs::temp_directory_path().string();
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, elsewhere.c_str(), &startup, &process)) {
        ADD_FAILURE() << "cannot start " << exe << ": error " << GetLastError();
        return "<not run>";
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(0u, exitCode);
    std::ifstream in(result, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    in.close();
    fs::remove(result);
    return text.str();
}

struct LayoutCase {
    const char* name;
    std::vector<const char*> files;    // settings files to create, relative to the host folder
    std::vector<const char*> folders;  // folders to create
    const char* expected;              // relative to the host folder
};

TEST(LocateSettingsFile, TakesTheFirstCandidateThatExistsBesideTheHost) {
    const LayoutCase cases[] = {
        {"none anywhere", {}, {}, "Glimmerward.ini"},
        {"plugins only", {"plugins\\Glimmerward.ini"}, {}, "plugins\\Glimmerward.ini"},
        {"scripts only", {"scripts\\Glimmerward.ini"}, {}, "scripts\\Glimmerward.ini"},
        {"the folder itself only", {"Glimmerward.ini"}, {}, "Glimmerward.ini"},
        {"all three", {"Glimmerward.ini", "scripts\\Glimmerward.ini", "plugins\\Glimmerward.ini"}, {}, "plugins\\Glimmerward.ini"},
        {"scripts and the folder", {"Glimmerward.ini", "scripts\\Glimmerward.ini"}, {}, "scripts\\Glimmerward.ini"},
        {"a folder named like the file", {"Glimmerward.ini"}, {"plugins\\Glimmerward.ini"}, "plugins\\Glimmerward.ini"},
        {"deeper folders are not searched", {"plugins\\deeper\\Glimmerward.ini"}, {}, "Glimmerward.ini"},
        {"the plug-in's folder plays no part", {"plugins\\Glimmerward.ini", "scripts\\Glimmerward.dll"}, {}, "plugins\\Glimmerward.ini"},
    };
    for (const LayoutCase& c : cases) {
        TempFolder host;
        for (const char* file : c.files) host.write(file, "PickupSize = 2\n");
        for (const char* folder : c.folders) fs::create_directories(host.path() / folder);
        const std::string folder = host.path().string() + "\\";
        EXPECT_EQ(folder + c.expected, LocateFrom(host.path() / "game.exe")) << c.name;
    }
}

TEST(LocateSettingsFile, LeavesThePathEmptyWhenItDoesNotFit) {
    TempFolder host;
    // The executable's own path fits in 260 characters; the settings path would not.
    const std::size_t room = MAX_PATH - 1 - host.path().string().size() - std::string("\\game.exe").size();
    const fs::path deep = host.path() / std::string(room - 1, 'd');
    ASSERT_LT((deep / "game.exe").string().size(), std::size_t{MAX_PATH});
    ASSERT_GE((deep / "Glimmerward.ini").string().size(), std::size_t{MAX_PATH});
    EXPECT_EQ("", LocateFrom(deep / "game.exe"));
}

}  // namespace
