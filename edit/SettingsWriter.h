// Changing settings in the settings file that the running game reads, safely: all the
// changes of one call form one new version, written once; the file is never seen half
// written, the version before is kept as a backup, and the program's own writers take turns.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "basis/ExitStatus.h"
#include "edit/FileReplace.h"
#include "src/settings/PickupSettings.h"

// One setting's new value as the player gave it: a float as a decimal number, a colour entry
// as its five fields or "#RRGGBB".
struct SettingSet {
    std::string key;
    std::string value;
    bool operator==(const SettingSet&) const = default;
};

// What one call asks for.
struct SettingsWrite {
    std::vector<SettingSet> sets;
    std::vector<std::string> resets;  // "KEY": its default, written into its winning line
    std::string expect;               // the version the file must still be; empty for any
    bool expectNoFile = false;        // the file must not exist: the caller saw none
    // Every one of the 59 settings takes its value here, bit for bit, before `sets` and
    // `resets`: a setting that has it already keeps its text, any other gets the value's text
    // (SettingValueText) in its winning line, or a line at the end.
    std::optional<PickupValues> values = std::nullopt;
};

// Each outcome is the exit status the command line ends with for it.
enum class WriteStatus {
    Written = StatusCode(ExitStatus::NothingWrong),
    NoFile = StatusCode(ExitStatus::NoSettingsFile),                  // no settings file, and none can be made
    BadInput = StatusCode(ExitStatus::UsageError),                    // an unknown key, a bad value, a file that is no text
    NotWritten = StatusCode(ExitStatus::OutputNotWritten),            // read-only, another change being written, a protected folder
    NotExpectedVersion = StatusCode(ExitStatus::NotExpectedVersion),  // the file changed since the version given
};

constexpr ExitStatus ExitStatusOf(WriteStatus status) { return static_cast<ExitStatus>(status); }

// How far the writer saw the settings file.
enum class FileSeen {
    NotRead,  // it refused before reading the file whole
    Missing,  // there was none, and it made none
    Read,     // its bytes are the file as the call left it
};

struct WriteOutcome {
    WriteStatus status = WriteStatus::Written;
    std::vector<std::string> done;      // what was done, in order, for the player
    // What the new version written changed: the file made, each "set KEY = VALUE"; empty when
    // nothing was written.
    std::vector<std::string> changed;
    std::vector<std::string> problems;  // why nothing was written
    WriteObstacle obstacle = WriteObstacle::None;  // what kept a NotWritten file from being written
    std::string version;                // the file's version afterwards (as it was, when not written); empty for none
    int retries = 0;                    // how often a replacement step was tried again
    // The file as the call left it, so that a caller can show it without reading it again: the
    // bytes written, or those read when nothing was.
    FileSeen seen = FileSeen::NotRead;
    std::string bytes;
};

// Makes the changes in the file at `path`. When it does not exist yet it is made from
// `defaults` (the release's file with every default); an empty `defaults` refuses instead.
// A settings file that is a link is changed where the link leads, with its backup and the
// writers' lock beside it there; the new version keeps the old one's mode and owner (on
// Windows its attributes). Anything but a regular file is refused. `wait` says whether a
// writer of the same file that is busy is waited for (up to 10 seconds) or answered at once.
WriteOutcome WriteSettings(const std::string& path, const std::string& defaults, const SettingsWrite& write,
                           TurnWait wait = TurnWait::WaitForTurn);
