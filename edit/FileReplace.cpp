#include "edit/FileReplace.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <thread>
#endif

namespace fs = std::filesystem;

namespace {

// "<name>.~<process id>.tmp" beside the file: a fixed pattern, so that a later run can tell
// its own kind of leftover from anything else, and whose process made it.
constexpr std::string_view TemporaryMark = ".~";
constexpr std::string_view TemporaryEnd = ".tmp";

unsigned long ProcessId() {
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(getpid());
#endif
}

bool ProcessAlive(unsigned long id) {
#ifdef _WIN32
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(id));
    if (!process) return GetLastError() == ERROR_ACCESS_DENIED;  // there, but not ours to see
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
#else
    return kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM;
#endif
}

std::string TemporaryPath(const std::string& path) {
    return path + std::string(TemporaryMark) + std::to_string(ProcessId()) + std::string(TemporaryEnd);
}

// Writes and flushes the temporary file; empty on success, else what went wrong.
std::string WriteTemporary(const std::string& temporary, const std::string& bytes) {
#ifdef _WIN32
    const HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "cannot create " + temporary;
    DWORD written = 0;
    bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
    ok = FlushFileBuffers(file) && ok;
    ok = CloseHandle(file) && ok;
#else
    const int file = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (file < 0) return "cannot create " + temporary;
    bool ok = true;
    for (std::size_t done = 0; ok && done < bytes.size();) {
        const ssize_t wrote = ::write(file, bytes.data() + done, bytes.size() - done);
        ok = wrote > 0;
        if (ok) done += static_cast<std::size_t>(wrote);
    }
    ok = ::fsync(file) == 0 && ok;
    ok = ::close(file) == 0 && ok;
#endif
    return ok ? std::string() : "writing " + temporary + " failed (is the disk full?)";
}

}  // namespace

FileRead ReadWholeFile(const std::string& path, std::size_t limit) {
    FileRead read;
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error || !fs::exists(status)) return read;
    read.exists = true;
    if (fs::is_directory(status)) {
        read.folder = true;
        read.problem = path + " is a folder, not a file";
        return read;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        read.problem = "cannot read " + path + ": check that no other program locks it and that you may read it";
        return read;
    }
    char buffer[65536];
    while (const std::size_t got = std::fread(buffer, 1, sizeof buffer, file)) {
        if (read.bytes.size() + got > limit) {
            read.tooLarge = true;
            read.problem = path + " is larger than " + std::to_string(limit >> 20) + " MiB: no settings file is that large";
            break;
        }
        read.bytes.append(buffer, got);
    }
    if (std::ferror(file) && read.problem.empty()) read.problem = "reading " + path + " failed";
    std::fclose(file);
    return read;
}

bool IsReadOnly(const std::string& path) {
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
#else
    (void)path;
    return false;
#endif
}

ReplaceResult ReplaceFileContents(const std::string& path, const std::string& bytes) {
    ReplaceResult result;
    const std::string temporary = TemporaryPath(path);
    if (std::string problem = WriteTemporary(temporary, bytes); !problem.empty()) {
        std::remove(temporary.c_str());
        result.problem = problem + ". Check that you may write to the folder; a game in Program Files needs the "
                                   "checker started as administrator";
        result.obstacle = WriteObstacle::FolderNotWritable;
        return result;
    }
#ifdef _WIN32
    // The plug-in's reads hold the file open without sharing its deletion, and Wine refuses to
    // replace any open file: both go away within moments, so the step is tried again. A
    // read-only file gives the same error but never goes away by waiting.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (;;) {
        if (MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            result.replaced = true;
            return result;
        }
        const bool readOnly = IsReadOnly(path);
        if (readOnly || std::chrono::steady_clock::now() >= deadline) {
            DeleteFileA(temporary.c_str());
            result.problem = readOnly ? path + " is read-only: clear \"Read-only\" in its Properties and try again"
                                      : path + " stays in use by another program: close it (or the game) and try again";
            result.obstacle = readOnly ? WriteObstacle::ReadOnly : WriteObstacle::InUse;
            return result;
        }
        ++result.retries;
        Sleep(1);  // a reader lets go within moments: a longer wait only lengthens the slowest changes
    }
#else
    if (std::rename(temporary.c_str(), path.c_str()) == 0) {
        result.replaced = true;
        return result;
    }
    std::remove(temporary.c_str());
    result.problem = "cannot put the new version in the place of " + path + ": check that you may write to its folder";
    result.obstacle = WriteObstacle::FolderNotWritable;
    return result;
#endif
}

bool IsTemporaryName(const std::string& name, const std::string& target) {
    const std::string prefix = target + std::string(TemporaryMark);
    if (name.size() <= prefix.size() + TemporaryEnd.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        !name.ends_with(TemporaryEnd)) {
        return false;
    }
    const std::string_view digits =
        std::string_view(name).substr(prefix.size(), name.size() - prefix.size() - TemporaryEnd.size());
    return !digits.empty() && digits.find_first_not_of("0123456789") == std::string_view::npos;
}

void RemoveDeadTemporaries(const std::string& path) {
    const fs::path file(path);
    const std::string target = file.filename().string();
    std::error_code error;
    for (fs::directory_iterator it(file.parent_path().empty() ? fs::path(".") : file.parent_path(), error), end;
         !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (!IsTemporaryName(name, target)) continue;
        const std::string digits = name.substr(target.size() + TemporaryMark.size(),
                                               name.size() - target.size() - TemporaryMark.size() - TemporaryEnd.size());
        if (digits.size() > 9) continue;  // no process id is that long
        const unsigned long id = std::stoul(digits);
        if (id != ProcessId() && !ProcessAlive(id)) {
            std::error_code ignored;
            fs::remove(it->path(), ignored);
        }
    }
}

WriterTurn::WriterTurn(const std::string& path, double seconds) {
    const std::string lock = path + ".lock";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
#ifdef _WIN32
    // Opened without sharing: while one writer holds it, the others cannot open it at all.
    for (;;) {
        const HANDLE handle = CreateFileA(lock.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            handle_ = handle;
            locked_ = true;
            return;
        }
        if (std::chrono::steady_clock::now() >= deadline) return;
        Sleep(5);
    }
#else
    descriptor_ = ::open(lock.c_str(), O_RDWR | O_CREAT, 0644);
    if (descriptor_ < 0) return;
    for (;;) {
        if (flock(descriptor_, LOCK_EX | LOCK_NB) == 0) {
            locked_ = true;
            return;
        }
        if (std::chrono::steady_clock::now() >= deadline) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
#endif
}

WriterTurn::~WriterTurn() {
#ifdef _WIN32
    if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
#else
    if (descriptor_ >= 0) ::close(descriptor_);  // closing gives the lock back
#endif
}
