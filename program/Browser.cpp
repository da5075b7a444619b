#include "program/Browser.h"

#include "page/PageKey.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#else
#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>
#endif

#ifndef _WIN32
extern char** environ;
#endif

namespace {

// The page goes on at once; the link is there for a browser that does not follow the refresh.
std::string RedirectPage(const std::string& address) {
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"referrer\" content=\"no-referrer\">\n"
           "<meta http-equiv=\"refresh\" content=\"0; url=" + address + "\">\n"
           "<title>Glimmerward settings</title>\n</head>\n<body>\n"
           "<p>Opening the <a href=\"" + address + "\">Glimmerward settings page</a>&hellip;</p>\n"
           "</body>\n</html>\n";
}

// A fresh random name, so that no name can be planted beforehand.
std::string RedirectName() {
    const std::string random = NewPageKey();
    return random.empty() ? std::string() : "page-" + random.substr(0, 16) + ".html";
}

#ifdef _WIN32
// The local application data of the player: its folders are the player's alone.
std::wstring OwnFolder() {
    wchar_t base[MAX_PATH];
    if (SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, base) != S_OK) {
        return {};
    }
    const std::wstring folder = std::wstring(base) + L"\\Glimmerward";
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return {};
    // A link planted in its place would send the page elsewhere.
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return {};
    }
    return folder;
}

std::wstring Wide(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }

bool WriteNew(const std::wstring& path, const std::string& bytes) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
    ok = CloseHandle(file) && ok;
    if (!ok) DeleteFileW(path.c_str());
    return ok;
}
#else
// The folder for the player's private files: the runtime folder, which is the player's alone,
// else the cache folder in the home. Never /tmp, which sandboxed browsers may not read.
std::string BaseFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/') return runtime;
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && cache[0] == '/') return cache;
    std::string home;
    if (const char* given = std::getenv("HOME"); given && given[0] == '/') {
        home = given;
    } else if (const passwd* user = getpwuid(geteuid()); user && user->pw_dir) {
        home = user->pw_dir;
    }
    if (home.empty()) return {};
    const std::string cache = home + "/.cache";
    mkdir(cache.c_str(), 0700);  // there already, as a rule
    return cache;
}

// Opens the player's own folder for these pages, made with mode 0700 where it is missing.
// A link in its place, or a folder of another user, is not taken; -1 then.
int OpenOwnFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return -1;
    const int folder = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0) return -1;
    struct stat status {};
    if (fstat(folder, &status) != 0 || status.st_uid != geteuid() ||
        ((status.st_mode & 077) != 0 && fchmod(folder, 0700) != 0)) {
        ::close(folder);
        return -1;
    }
    return folder;
}

bool WriteNew(int folder, const std::string& name, const std::string& bytes) {
    const int file = openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (file < 0) return false;
    bool ok = true;
    for (std::size_t done = 0; ok && done < bytes.size();) {
        const ssize_t wrote = ::write(file, bytes.data() + done, bytes.size() - done);
        ok = wrote > 0;
        if (ok) done += static_cast<std::size_t>(wrote);
    }
    ok = ::close(file) == 0 && ok;
    if (!ok) unlinkat(folder, name.c_str(), 0);
    return ok;
}

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

RedirectFile::RedirectFile(const std::string& address) {
    const std::string name = RedirectName();
    if (name.empty()) return;
#ifdef _WIN32
    const std::wstring folder = OwnFolder();
    if (folder.empty()) return;
    const std::filesystem::path path = folder + L"\\" + Wide(name);
    if (WriteNew(path.wstring(), RedirectPage(address))) path_ = path;
#else
    const std::string base = BaseFolder();
    if (base.empty()) return;
    const std::string folderPath = base + "/glimmerward-check";
    const int folder = OpenOwnFolder(folderPath);
    if (folder < 0) return;
    if (WriteNew(folder, name, RedirectPage(address))) path_ = folderPath + "/" + name;
    ::close(folder);
#endif
}

RedirectFile::~RedirectFile() { remove(); }

void RedirectFile::remove() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
    path_.clear();
}

bool OpenInBrowser(const std::filesystem::path& path) {
#ifdef _WIN32
    const auto result =
        reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;
#else
    if (!OnPath("xdg-open")) return false;
    // xdg-open may wait until the browser closes: it runs, silenced, in the background of a
    // shell that ends at once.
    const char* arguments[] = {"/bin/sh", "-c", "xdg-open \"$1\" >/dev/null 2>&1 &", "sh", path.c_str(), nullptr};
    pid_t shell = 0;
    if (posix_spawn(&shell, "/bin/sh", nullptr, nullptr, const_cast<char* const*>(arguments), environ) != 0) return false;
    int status = 0;
    return waitpid(shell, &status, 0) == shell && WIFEXITED(status) && WEXITSTATUS(status) == 0;
#endif
}
