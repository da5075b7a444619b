// Writing a file that another program reads at any moment: the new bytes go to a temporary
// file beside it, which then takes the file's place in one step, so a reader sees the old
// version or the new one, never half of either. The file itself is never opened for writing.
// Other programs on the same computer may plant links, pipes and files of their own beside
// it: nothing here follows a link it did not mean to follow, waits on what another user holds,
// or reads without end.
#pragma once

#include <optional>
#include <string>

#include "basis/FileRead.h"

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

// The advice for `path` when its folder may not be written to (a protected folder, a
// read-only medium), in the words every failed write of the tools gives.
std::string FolderNotWritableText(const std::string& path);

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

struct RemoveResult {
    bool removed = false;
    std::string problem;  // why not, for a player
    WriteObstacle obstacle = WriteObstacle::None;
};

// Removes `path` when it is the player's own regular file, and nothing else: a link there is
// neither followed nor removed, a folder or another user's file is left as it is.
RemoveResult RemoveOwnFile(const std::string& path);

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
