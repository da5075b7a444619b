#include "checker/Browser.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>
#endif

#ifndef _WIN32
extern char** environ;
#endif

namespace {

#ifndef _WIN32
bool OnPath(std::string_view program) {
    const char* path = std::getenv("PATH");
    std::string_view folders = path ? path : "";
    while (!folders.empty()) {
        const std::size_t colon = folders.find(':');
        const std::string folder(folders.substr(0, colon));
        folders.remove_prefix(colon == std::string_view::npos ? folders.size() : colon + 1);
        if (!folder.empty() && access((folder + "/" + std::string(program)).c_str(), X_OK) == 0) return true;
    }
    return false;
}
#endif

}  // namespace

bool OpenInBrowser(const std::string& address) {
#ifdef _WIN32
    // The address is plain ASCII, so each byte is its own wide character.
    const std::wstring wide(address.begin(), address.end());
    const auto result = reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;
#else
    if (!OnPath("xdg-open")) return false;
    // xdg-open may wait until the browser closes: it runs, silenced, in the background of a
    // shell that ends at once.
    const char* arguments[] = {"/bin/sh", "-c", "xdg-open \"$1\" >/dev/null 2>&1 &", "sh", address.c_str(), nullptr};
    pid_t shell = 0;
    if (posix_spawn(&shell, "/bin/sh", nullptr, nullptr, const_cast<char* const*>(arguments), environ) != 0) return false;
    int status = 0;
    return waitpid(shell, &status, 0) == shell && WIFEXITED(status) && WEXITSTATUS(status) == 0;
#endif
}
