#include "edit/FileReplace.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string_view>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <thread>
#endif

namespace fs = std::filesystem;

namespace {

// "<name>.~<process id>.<random part>.tmp" beside the file: a fixed pattern, so that a later
// run can tell its own kind of leftover from anything else, and whose process made it. The
// random part keeps another program from planting something under the name beforehand.
constexpr std::string_view TemporaryMark = ".~";
constexpr std::string_view TemporaryEnd = ".tmp";
constexpr std::size_t LongestRandomPart = 16;

// A writer waiting for its turn gives up after this long.
constexpr auto TurnWaitLimit = std::chrono::seconds(10);

// Names that another program chose for us are tried this often before the writer gives up.
constexpr int TemporaryNameTries = 100;

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

std::string TemporaryPath(const std::string& path, std::random_device& random) {
    std::uint64_t part = static_cast<std::uint64_t>(random()) << 32 | random();
    std::string hex(LongestRandomPart, '0');
    for (auto digit = hex.rbegin(); digit != hex.rend(); ++digit, part >>= 4) *digit = "0123456789abcdef"[part & 15];
    return path + std::string(TemporaryMark) + std::to_string(ProcessId()) + "." + hex + std::string(TemporaryEnd);
}

std::string FolderOf(const std::string& path) {
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    return (error ? fs::path(path) : absolute).parent_path().string();
}

ReplaceResult NotReplaced(std::string problem, WriteObstacle obstacle, int retries = 0) {
    ReplaceResult result;
    result.retries = retries;
    result.problem = std::move(problem);
    result.obstacle = obstacle;
    return result;
}

#ifdef _WIN32
bool MayNotWrite(DWORD error) { return error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT; }
bool DiskFull(DWORD error) { return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL; }

// Why `path` could not be written, from Windows' error.
ReplaceResult WriteFailed(const std::string& path, DWORD error) {
    if (MayNotWrite(error)) return NotReplaced(FolderNotWritableText(path), WriteObstacle::FolderNotWritable);
    if (DiskFull(error)) return NotReplaced("writing " + path + " failed: the disk is full. Make room, then try again", WriteObstacle::Other);
    return NotReplaced("cannot write " + path + " (Windows error " + std::to_string(error) + ")", WriteObstacle::Other);
}

// Attributes that a file's new version keeps; read-only is refused before, a folder is none.
DWORD KeptAttributes(const FileTraits& like) {
    constexpr DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                           FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const DWORD attributes = like.known ? like.attributes & kept : 0;
    return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}

constexpr DWORD AlreadyThere = ERROR_FILE_EXISTS;

// Makes `path`, which must not exist yet, with `bytes` on disk; 0 or the error, and whether
// the file was made at all. Nothing stays of a file that could not be written whole.
DWORD WriteNewFile(const std::string& path, const std::string& bytes, const FileTraits& like, bool& made) {
    // CREATE_NEW: never a file or a link that was there before.
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, KeptAttributes(like), nullptr);
    made = file != INVALID_HANDLE_VALUE;
    if (!made) {
        const DWORD error = GetLastError();
        return error == ERROR_ALREADY_EXISTS ? AlreadyThere : error;
    }
    DWORD written = 0;
    bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
    ok = ok && FlushFileBuffers(file);
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    ok = CloseHandle(file) && ok;
    if (ok) return ERROR_SUCCESS;
    DeleteFileA(path.c_str());
    return error ? error : ERROR_WRITE_FAULT;
}
#else
bool MayNotWrite(int error) { return error == EACCES || error == EPERM || error == EROFS; }
bool DiskFull(int error) { return error == ENOSPC || error == EDQUOT; }

ReplaceResult WriteFailed(const std::string& path, int error) {
    if (MayNotWrite(error)) return NotReplaced(FolderNotWritableText(path), WriteObstacle::FolderNotWritable);
    if (DiskFull(error)) return NotReplaced("writing " + path + " failed: the disk is full. Make room, then try again", WriteObstacle::Other);
    if (error == EISDIR) return NotReplaced(path + " is a folder: remove or rename it, then try again", WriteObstacle::Other);
    return NotReplaced("cannot write " + path + ": " + std::strerror(error), WriteObstacle::Other);
}

// The whole of `bytes`, the traits of `like` and the disk's own copy, then closed; 0 or the error.
int WriteAndClose(int file, const std::string& bytes, const FileTraits& like) {
    int error = 0;
    for (std::size_t done = 0; !error && done < bytes.size();) {
        const ssize_t wrote = ::write(file, bytes.data() + done, bytes.size() - done);
        if (wrote > 0) {
            done += static_cast<std::size_t>(wrote);
        } else if (errno != EINTR) {
            error = errno;
        }
    }
    // A run as root leaves the player's file the player's; anyone else may not give a file away,
    // and some file systems keep no owners or modes: then the file stays as made, this user's
    // and for this user's eyes only.
    if (like.known) (void)::fchown(file, like.owner, like.group);
    (void)::fchmod(file, like.known ? like.mode & 07777 : 0644);
    if (::fsync(file) != 0 && !error) error = errno;
    if (::close(file) != 0 && !error) error = errno;
    return error;
}

constexpr int AlreadyThere = EEXIST;

// Makes `path`, which must not exist yet, with `bytes` on disk; 0 or the error, and whether
// the file was made at all. Nothing stays of a file that could not be written whole.
int WriteNewFile(const std::string& path, const std::string& bytes, const FileTraits& like, bool& made) {
    // O_EXCL: never a file that was there before; O_NOFOLLOW: never through a link.
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
    made = file >= 0;
    if (!made) return errno;
    const int error = WriteAndClose(file, bytes, like);
    if (error) ::unlink(path.c_str());
    return error;
}
#endif

}  // namespace

std::string FolderNotWritableText(const std::string& path) {
    return "the folder " + FolderOf(path) + " may not be written to, so " + path +
           " cannot be written. Check that you may write to that folder; a game in Program Files needs the checker "
           "started as administrator";
}

std::string LinkTarget(const std::string& path, std::string& problem) {
    fs::path at(path);
    for (int links = 0; links < 40; ++links) {  // as many as the system itself follows
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(at, error))) return at.string();
        const fs::path next = fs::read_symlink(at, error);
        if (error) return at.string();
        at = next.is_absolute() ? next : at.parent_path() / next;
    }
    problem = path + " is a link that leads round in a circle: remove the link and put the settings file there";
    return {};
}

bool IsReadOnly(const std::string& path) {
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
#else
    // Replacing the file needs no right to write it, but a file nobody may write is the
    // player's way to say "leave it as it is", as Windows' attribute is. Root may write any
    // file, so the write bits are looked at first.
    struct stat status;
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    if ((status.st_mode & 0222) == 0) return true;
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES;
#endif
}

ReplaceResult ReplaceFileContents(const std::string& path, const std::string& bytes, const FileTraits& like) {
    std::random_device random;
    std::string temporary;
    auto error = AlreadyThere;
    for (int tries = 0; error == AlreadyThere && tries < TemporaryNameTries; ++tries) {
        temporary = TemporaryPath(path, random);
        bool made = false;
        error = WriteNewFile(temporary, bytes, like, made);
    }
    if (error) return WriteFailed(path, error);
#ifdef _WIN32
    // The plug-in's reads hold the file open without sharing its deletion, and Wine refuses to
    // replace any open file: both go away within moments, so the step is tried again. A
    // read-only file gives the same error but never goes away by waiting, nor does a folder
    // that may not be written to.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (int retries = 0;; ++retries) {
        if (MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            ReplaceResult result;
            result.replaced = true;
            result.retries = retries;
            return result;
        }
        error = GetLastError();
        const bool readOnly = IsReadOnly(path);
        if (readOnly || error == ERROR_WRITE_PROTECT || std::chrono::steady_clock::now() >= deadline) {
            DeleteFileA(temporary.c_str());
            if (readOnly) {
                return NotReplaced(path + " is read-only: clear \"Read-only\" in its Properties and try again",
                                   WriteObstacle::ReadOnly, retries);
            }
            if (error == ERROR_WRITE_PROTECT) return WriteFailed(path, error);
            return NotReplaced(path + " stays in use by another program: close it (or the game) and try again",
                               WriteObstacle::InUse, retries);
        }
        Sleep(1);  // a reader lets go within moments: a longer wait only lengthens the slowest changes
    }
#else
    if (std::rename(temporary.c_str(), path.c_str()) == 0) {
        ReplaceResult result;
        result.replaced = true;
        return result;
    }
    error = errno;
    ::unlink(temporary.c_str());
    return WriteFailed(path, error);
#endif
}

NewFile CreateNewFile(const std::string& path, const std::string& bytes, const FileTraits& like) {
    bool made = false;
    if (!WriteNewFile(path, bytes, like, made)) return NewFile::Made;
    return made ? NewFile::NotWritten : NewFile::NotMade;
}

std::optional<unsigned long> TemporaryProcess(const std::string& name, const std::string& target) {
    const std::string prefix = target + std::string(TemporaryMark);
    if (name.size() <= prefix.size() + TemporaryEnd.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        !name.ends_with(TemporaryEnd)) {
        return std::nullopt;
    }
    const std::string_view middle =
        std::string_view(name).substr(prefix.size(), name.size() - prefix.size() - TemporaryEnd.size());
    const std::size_t dot = middle.find('.');
    const std::string_view digits = middle.substr(0, dot);
    if (dot != std::string_view::npos) {
        const std::string_view random = middle.substr(dot + 1);
        if (random.empty() || random.size() > LongestRandomPart ||
            random.find_first_not_of("0123456789abcdef") != std::string_view::npos) {
            return std::nullopt;
        }
    }
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    unsigned long id = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), id);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;  // no process id is that long
    return id;
}

bool IsTemporaryName(const std::string& name, const std::string& target) {
    return TemporaryProcess(name, target).has_value();
}

void RemoveDeadTemporaries(const std::string& path) {
    const fs::path file(path);
    const std::string target = file.filename().string();
    std::error_code error;
    for (fs::directory_iterator it(file.parent_path().empty() ? fs::path(".") : file.parent_path(), error), end;
         !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        const std::optional<unsigned long> id = TemporaryProcess(name, target);
        // The caller holds the writers' turn, so no temporary file of this process is in use.
        if (!id || (*id != ProcessId() && ProcessAlive(*id))) continue;
        RemoveOwnFile(it->path().string());
    }
}

RemoveResult RemoveOwnFile(const std::string& path) {
    RemoveResult result;
    const std::string leftAlone = " so it was left as it is";
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        result.problem = path + " is not there any more";
        result.obstacle = WriteObstacle::Other;
        return result;
    }
    // A reparse point is a link or a junction: removing it takes away what another program put there.
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
        result.problem = path + " is a folder or a link, not a file," + leftAlone;
        result.obstacle = WriteObstacle::Other;
        return result;
    }
    if (DeleteFileA(path.c_str())) {
        result.removed = true;
        return result;
    }
    const DWORD error = GetLastError();
    if (MayNotWrite(error)) {
        result.problem = FolderNotWritableText(path);
        result.obstacle = WriteObstacle::FolderNotWritable;
    } else {
        result.problem = "cannot remove " + path + " (Windows error " + std::to_string(error) + ")";
        result.obstacle = error == ERROR_SHARING_VIOLATION ? WriteObstacle::InUse : WriteObstacle::Other;
    }
#else
    // Only the player's own files: what another user put there is theirs.
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0) {
        result.problem = path + " is not there any more";
        result.obstacle = WriteObstacle::Other;
        return result;
    }
    if (!S_ISREG(status.st_mode)) {
        result.problem = path + " is a link or no file," + leftAlone;
        result.obstacle = WriteObstacle::Other;
        return result;
    }
    if (status.st_uid != ::geteuid()) {
        result.problem = path + " belongs to another user," + leftAlone;
        result.obstacle = WriteObstacle::Other;
        return result;
    }
    if (::unlink(path.c_str()) == 0) {
        result.removed = true;
        return result;
    }
    const int error = errno;
    result.problem = MayNotWrite(error) ? FolderNotWritableText(path) : "cannot remove " + path + ": " + std::strerror(error);
    result.obstacle = MayNotWrite(error) ? WriteObstacle::FolderNotWritable : WriteObstacle::Other;
#endif
    return result;
}

WriterTurn::WriterTurn(const std::string& path, TurnWait wait, const FileTraits& settings) { take(path, wait, settings); }

void WriterTurn::take(const std::string& path, TurnWait wait, const FileTraits& settings) {
    const std::string lock = path + ".lock";
    const auto deadline = std::chrono::steady_clock::now() + (wait == TurnWait::WaitForTurn ? TurnWaitLimit : std::chrono::seconds(0));
    const auto refuse = [this](std::string problem, WriteObstacle obstacle) {
        problem_ = std::move(problem);
        obstacle_ = obstacle;
    };
    const auto busy = [&] {
        refuse(wait == TurnWait::WaitForTurn
                   ? "another run of the checker kept " + path + " busy for too long: try again"
                   : "another change of " + path + " is being written right now, so this one was not made: make it "
                                                   "again in a moment",
               WriteObstacle::AnotherWriter);
    };
    const std::string notOurs = ", so the checker does not take turns through it. Delete " + lock +
                                " (it holds nothing), then try again";
#ifdef _WIN32
    (void)settings;
    // Opened without sharing: while one writer holds it, the others cannot open it at all.
    for (;;) {
        const HANDLE handle = CreateFileA(lock.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            handle_ = handle;
            if (GetFileType(handle) != FILE_TYPE_DISK) return refuse(lock + " is no file but a device" + notOurs, WriteObstacle::LockNotOurs);
            locked_ = true;
            return;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
            if (std::chrono::steady_clock::now() >= deadline) return busy();
            Sleep(5);
            continue;
        }
        const DWORD attributes = GetFileAttributesA(lock.c_str());
        if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
            return refuse(lock + " is a folder or read-only" + notOurs, WriteObstacle::LockNotOurs);
        }
        if (MayNotWrite(error)) return refuse(FolderNotWritableText(path), WriteObstacle::FolderNotWritable);
        return refuse("cannot open " + lock + " (Windows error " + std::to_string(error) + "): try again",
                      WriteObstacle::Other);
    }
#else
    // Mode 0600 and no other user's file: whoever may open it may hold it, and keep every
    // change from being written. O_NONBLOCK: a pipe put there must not keep this waiting.
    descriptor_ = ::open(lock.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
    if (descriptor_ < 0) {
        const int error = errno;
        struct stat status;
        const bool there = ::lstat(lock.c_str(), &status) == 0;
        if (error == ELOOP) return refuse(lock + " is a link" + notOurs, WriteObstacle::LockNotOurs);
        if (there && error == EACCES) return refuse(lock + " belongs to another user" + notOurs, WriteObstacle::LockNotOurs);
        if (there && !S_ISREG(status.st_mode)) return refuse(lock + " is no file" + notOurs, WriteObstacle::LockNotOurs);
        if (MayNotWrite(error)) return refuse(FolderNotWritableText(path), WriteObstacle::FolderNotWritable);
        if (DiskFull(error)) return refuse("cannot make " + lock + ": the disk is full. Make room, then try again", WriteObstacle::Other);
        return refuse("cannot open " + lock + ": " + std::strerror(error), WriteObstacle::Other);
    }
    struct stat status;
    if (::fstat(descriptor_, &status) != 0) return refuse("cannot open " + lock + ": " + std::strerror(errno), WriteObstacle::Other);
    if (!S_ISREG(status.st_mode)) return refuse(lock + " is no file" + notOurs, WriteObstacle::LockNotOurs);
    // Its owner is this user, or the settings file's owner, when root writes the player's file.
    const bool ours = status.st_uid == ::geteuid();
    if (!ours && !(settings.known && status.st_uid == settings.owner)) {
        return refuse(lock + " belongs to another user" + notOurs, WriteObstacle::LockNotOurs);
    }
    if (ours) {
        if (status.st_mode & 077) ::fchmod(descriptor_, 0600);  // made by an older checker
        if (settings.known && settings.owner != status.st_uid) (void)::fchown(descriptor_, settings.owner, settings.group);
    }
    for (;;) {
        if (flock(descriptor_, LOCK_EX | LOCK_NB) == 0) {
            locked_ = true;
            return;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) return refuse("cannot lock " + lock + ": " + std::strerror(errno), WriteObstacle::Other);
        if (std::chrono::steady_clock::now() >= deadline) return busy();
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
