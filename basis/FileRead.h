// Reading a settings file that other programs may replace, or plant something in place of,
// at any moment: opened once, its kind judged on the opening itself, and read without end
// nowhere. The writer, the checker and the page all read through here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The largest settings file the tools take on.
inline constexpr std::size_t LargestSettingsFile = 16u << 20;

// What a file's replacement keeps of it: natively its mode, owner and group; on Windows its
// attributes (hidden, archive...). Unknown for a file that is new.
struct FileTraits {
    bool known = false;
#ifdef _WIN32
    unsigned long attributes = 0;
#else
    unsigned mode = 0;
    unsigned owner = 0;
    unsigned group = 0;
#endif
};

enum class FileKind {
    Missing,
    File,        // a regular file
    Folder,
    NotAFile,    // a device, a pipe or a socket: reading it may never end
    Unreadable,  // there, but it cannot be opened
};

// A file opened for reading without waiting on a pipe and without taking a terminal; its kind
// is that of the opened file itself, so it cannot be swapped between a look and the read.
class ReadableFile {
public:
    explicit ReadableFile(const std::string& path);
    ~ReadableFile();
    ReadableFile(const ReadableFile&) = delete;
    ReadableFile& operator=(const ReadableFile&) = delete;

    FileKind kind() const { return kind_; }
    // Why it is no file to read, for a player; empty for a regular file and a missing one.
    const std::string& problem() const { return problem_; }
    // Its size when it was opened.
    std::uint64_t size() const { return size_; }
    const FileTraits& traits() const { return traits_; }

    // Up to `capacity` bytes from `offset`, never past the size it had when opened: a file that
    // keeps growing is read only that far. 0 at that end or on an error.
    std::size_t readAt(std::uint64_t offset, char* buffer, std::size_t capacity) const;
    // The whole file, when it is no larger than `limit` and reads without an error.
    std::optional<std::string> readWhole(std::size_t limit) const;

private:
    FileKind kind_ = FileKind::Missing;
    std::string problem_;
    std::uint64_t size_ = 0;
    FileTraits traits_;
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int descriptor_ = -1;
#endif
};

struct FileRead {
    bool exists = false;
    bool folder = false;
    bool notAFile = false;
    bool tooLarge = false;
    std::string bytes;
    FileTraits traits;
    std::string problem;  // why it could not be read; empty when it was (or does not exist)
};

// The whole file, refusing one larger than `limit` bytes, and anything that is no regular file.
FileRead ReadWholeFile(const std::string& path, std::size_t limit);

// A file's version: a hash of its bytes, as 16 hex digits.
std::string SettingsVersion(std::string_view bytes);
