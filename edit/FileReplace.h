// Writing a file that another program reads at any moment: the new bytes go to a temporary
// file beside it, which then takes the file's place in one step, so a reader sees the old
// version or the new one, never half of either. The file itself is never opened for writing.
// Other programs on the same computer may plant links, pipes and files of their own beside
// it: nothing here follows a link it did not mean to follow, waits on what another user holds,
// or reads without end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

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

// The file that `path` names once its links are followed: `path` itself when it is no link.
// Empty, with `problem` set, when the links go round in a circle.
std::string LinkTarget(const std::string& path, std::string& problem);

// Whether the file is marked read-only, which no waiting cures: on Windows its attribute;
// natively a file without any write permission, or one this process may not write.
bool IsReadOnly(const std::string& path);

// What kept a file from being written, so that a caller can advise what to do.
enum class WriteObstacle {
    None,
    ReadOnly,           // the file is marked read-only
    InUse,              // another program holds the file, or keeps it from being read
    AnotherWriter,      // another change of the same file is being written right now
    LockNotOurs,        // the writers' lock file is a link, no file, or another user's
    FolderNotWritable,  // its folder may not be written to (a protected folder, a full disk)
    Other,
};

struct ReplaceResult {
    bool replaced = false;
    int retries = 0;      // how often the replacement step was tried again
    std::string problem;  // what went wrong and what to do, for a player
    WriteObstacle obstacle = WriteObstacle::None;
};

// Puts `bytes` in the place of `path` (which may not exist yet; a link there is replaced, not
// followed) through a temporary file beside it that only this call made, giving it the
// traits of `like`. On Windows a file that another program holds open is tried again for up
// to 2 seconds; a read-only one is refused at once.
ReplaceResult ReplaceFileContents(const std::string& path, const std::string& bytes, const FileTraits& like = {});

enum class NewFile {
    Made,
    NotMade,     // something is there already (a link too), or the folder refuses a new file
    NotWritten,  // made, but its bytes could not all be written (a full disk): removed again
};

// Makes `path` with `bytes` and the traits of `like` only where nothing is yet, as a
// replacement makes its temporary file: an existing file or link is never replaced or followed.
NewFile CreateNewFile(const std::string& path, const std::string& bytes, const FileTraits& like = {});

// Removes the temporary files beside `path` whose process is gone (a run that was stopped
// left them), and only those that are the player's own regular files: never through a link.
void RemoveDeadTemporaries(const std::string& path);

// Whether `name` is the name of a temporary file of this kind for the settings file `target`:
// "<target>.~<process id>.<random part>.tmp" (or "<target>.~<process id>.tmp", as older
// checkers named them).
bool IsTemporaryName(const std::string& name, const std::string& target);

// The process id in such a name; none when `name` is no temporary file's name for `target`.
std::optional<unsigned long> TemporaryProcess(const std::string& name, const std::string& target);

// How the program's own writers of one file take their turns.
enum class TurnWait {
    WaitForTurn,   // wait up to 10 seconds while another writer holds it
    AnswerAtOnce,  // a writer that holds it is answered at once: someone is waiting for the answer
};

// The program's own writers of one file take turns: a lock on a file beside it, held while
// this object lives. A lock file that is a link, no file or another user's is never used.
class WriterTurn {
public:
    // `settings` are the traits of the file written, whose owner may own the lock as well.
    WriterTurn(const std::string& path, TurnWait wait, const FileTraits& settings);
    ~WriterTurn();
    WriterTurn(const WriterTurn&) = delete;
    WriterTurn& operator=(const WriterTurn&) = delete;

    bool locked() const { return locked_; }
    // Why the turn did not come, for a player, and what stood in its way.
    const std::string& problem() const { return problem_; }
    WriteObstacle obstacle() const { return obstacle_; }

private:
    void take(const std::string& path, TurnWait wait, const FileTraits& settings);

    bool locked_ = false;
    std::string problem_;
    WriteObstacle obstacle_ = WriteObstacle::None;
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int descriptor_ = -1;
#endif
};
