// Writing a file that another program reads at any moment: the new bytes go to a temporary
// file beside it, which then takes the file's place in one step, so a reader sees the old
// version or the new one, never half of either. The file itself is never opened for writing.
#pragma once

#include <cstddef>
#include <string>

struct FileRead {
    bool exists = false;
    bool folder = false;
    bool tooLarge = false;
    std::string bytes;
    std::string problem;  // why it could not be read; empty when it was (or does not exist)
};

// The whole file, refusing one larger than `limit` bytes.
FileRead ReadWholeFile(const std::string& path, std::size_t limit);

// Whether the file is marked read-only, which no waiting cures (always false natively, where
// the folder's rights decide).
bool IsReadOnly(const std::string& path);

// What kept a file from being written, so that a caller can advise what to do.
enum class WriteObstacle {
    None,
    ReadOnly,           // the file is marked read-only
    InUse,              // another program holds the file, or keeps it from being read
    FolderNotWritable,  // its folder may not be written to (a protected folder, a full disk)
    Other,
};

struct ReplaceResult {
    bool replaced = false;
    int retries = 0;      // how often the replacement step was tried again
    std::string problem;  // what went wrong and what to do, for a player
    WriteObstacle obstacle = WriteObstacle::None;
};

// Puts `bytes` in the place of `path` (which may not exist yet) through a temporary file of
// this process's own name beside it. On Windows a file that another program holds open is
// tried again for up to 2 seconds; a read-only one is refused at once.
ReplaceResult ReplaceFileContents(const std::string& path, const std::string& bytes);

// The temporary files beside `path` whose process is gone: a run that was stopped left them.
void RemoveDeadTemporaries(const std::string& path);

// Whether `name` is the name of a temporary file of this kind for the settings file `target`.
bool IsTemporaryName(const std::string& name, const std::string& target);

// The program's own writers of one file take turns: a lock on a file beside it, held while
// this object lives. `locked()` is false when the turn did not come within `seconds`.
class WriterTurn {
public:
    WriterTurn(const std::string& path, double seconds);
    ~WriterTurn();
    WriterTurn(const WriterTurn&) = delete;
    WriterTurn& operator=(const WriterTurn&) = delete;

    bool locked() const { return locked_; }

private:
    bool locked_ = false;
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int descriptor_ = -1;
#endif
};
