// Where the tests that start the real checker program find it, and the files they read back.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

// Bounds only a program that hangs: a first start under Wine in an emulated machine is slow.
inline constexpr double CheckerStartSeconds = 120;

#ifdef _WIN32
// A file beside the running test program.
inline std::filesystem::path BesideThisTest(const std::string& name) {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::filesystem::path(std::string(path, length)).parent_path() / name;
}
#endif

// Natively where the build put it (GLIMMERWARD_CHECKER), on Windows the copy beside the test.
inline std::string CheckerProgram() {
#ifdef _WIN32
    return BesideThisTest("glimmerward-check.exe").string();
#else
    return GLIMMERWARD_CHECKER;
#endif
}

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
