#include "basis/FileRead.h"

#include <algorithm>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace {

std::string NotAFileText(const std::string& path) {
    return path + " is no file but a device or a pipe, from which no settings are read: give the path of the "
                  "settings file itself";
}

}  // namespace

ReadableFile::ReadableFile(const std::string& path) {
    const auto unreadable = [&] {
        kind_ = FileKind::Unreadable;
        problem_ = "cannot read " + path + ": check that no other program locks it and that you may read it";
    };
#ifdef _WIN32
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND && error != ERROR_INVALID_NAME) unreadable();
        return;
    }
    handle_ = file;
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileType(file) != FILE_TYPE_DISK) {  // NUL, CON, a pipe
        kind_ = FileKind::NotAFile;
        problem_ = NotAFileText(path);
    } else if (!GetFileInformationByHandle(file, &information)) {
        unreadable();
    } else if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        kind_ = FileKind::Folder;
        problem_ = path + " is a folder, not a file";
    } else {
        kind_ = FileKind::File;
        size_ = static_cast<std::uint64_t>(information.nFileSizeHigh) << 32 | information.nFileSizeLow;
        traits_ = {true, information.dwFileAttributes};
    }
#else
    // Without O_NONBLOCK a pipe would keep this open until another program writes to it.
    descriptor_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor_ < 0) {
        if (errno == ENXIO) {  // a socket
            kind_ = FileKind::NotAFile;
            problem_ = NotAFileText(path);
        } else if (errno != ENOENT && errno != ENOTDIR) {
            unreadable();
        }
        return;
    }
    struct stat status;
    if (::fstat(descriptor_, &status) != 0) {
        unreadable();
    } else if (S_ISDIR(status.st_mode)) {
        kind_ = FileKind::Folder;
        problem_ = path + " is a folder, not a file";
    } else if (!S_ISREG(status.st_mode)) {
        kind_ = FileKind::NotAFile;
        problem_ = NotAFileText(path);
    } else {
        kind_ = FileKind::File;
        size_ = static_cast<std::uint64_t>(status.st_size);
        traits_ = {true, static_cast<unsigned>(status.st_mode), status.st_uid, status.st_gid};
    }
#endif
}

ReadableFile::~ReadableFile() {
#ifdef _WIN32
    if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
#else
    if (descriptor_ >= 0) ::close(descriptor_);
#endif
}

std::size_t ReadableFile::readAt(std::uint64_t offset, char* buffer, std::size_t capacity) const {
    if (kind_ != FileKind::File || offset >= size_) return 0;
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(capacity, size_ - offset));
#ifdef _WIN32
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    return ReadFile(static_cast<HANDLE>(handle_), buffer, static_cast<DWORD>(wanted), &got, &at) ? got : 0;
#else
    for (;;) {
        const ssize_t got = ::pread(descriptor_, buffer, wanted, static_cast<off_t>(offset));
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) return 0;
    }
#endif
}

std::optional<std::string> ReadableFile::readWhole(std::size_t limit) const {
    if (kind_ != FileKind::File || size_ > limit) return std::nullopt;
    std::string bytes(static_cast<std::size_t>(size_), '\0');
    for (std::size_t done = 0; done < bytes.size();) {
        const std::size_t got = readAt(done, bytes.data() + done, bytes.size() - done);
        if (got == 0) return std::nullopt;  // an error, or a file cut short meanwhile
        done += got;
    }
    return bytes;
}

FileRead ReadWholeFile(const std::string& path, std::size_t limit) {
    FileRead read;
    const ReadableFile file(path);
    read.exists = file.kind() != FileKind::Missing;
    read.folder = file.kind() == FileKind::Folder;
    read.notAFile = file.kind() == FileKind::NotAFile;
    read.problem = file.problem();
    read.traits = file.traits();
    if (file.kind() != FileKind::File) return read;
    if (file.size() > limit) {
        read.tooLarge = true;
        read.problem = path + " is larger than " + std::to_string(limit >> 20) + " MiB: no settings file is that large";
        return read;
    }
    std::optional<std::string> bytes = file.readWhole(limit);
    if (!bytes) {
        read.problem = "reading " + path + " failed";
        return read;
    }
    read.bytes = std::move(*bytes);
    return read;
}

std::string SettingsVersion(std::string_view bytes) {
    // FNV-1a: small, and any change of the bytes shows; no one attacks this hash.
    std::uint64_t hash = 0xCBF29CE484222325u;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001B3u;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}
