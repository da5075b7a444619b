// The game folder as the plug-in sees it: where it finds the settings file, and the
// game's executables. On Windows existence is tested as the plug-in tests it; natively,
// file and folder names match without regard to case, as they do for a game under Wine.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The release's settings file, which the checker copies to "Glimmerward.ini" on the first run.
inline constexpr std::string_view ReleaseSettingsFileName = "Glimmerward-defaults.ini";

enum class PathKind { Missing, File, Folder };

PathKind KindOf(const std::string& path);

// `folder` and `name` joined with the platform's separator.
std::string JoinPath(const std::string& folder, std::string_view name);

// The existing path that `folder` + `relative` names, matched as the plug-in's file system
// would ("plugins/Glimmerward.ini" finds "Plugins/glimmerward.INI" natively); empty if none.
std::string FindPath(const std::string& folder, std::string_view subfolder, std::string_view name);

struct SettingsSearch {
    std::vector<std::string> found;  // every candidate that exists, in the plug-in's order
    std::string chosen;              // what the plug-in reads: the first found, else the last candidate
    bool tooLong = false;            // no candidate path fits the plug-in's 260 characters
};

SettingsSearch SearchSettingsFile(const std::string& gameFolder);

// Whether a file's name looks like the settings file's saved under another name, as an editor
// or a hidden extension leaves it: "Glimmerward.ini.txt", "Glimmerward .ini",
// "Glimmerward.ini.ini", "Glimmerward.txt". The settings file's own name in any case, the
// release's file and backups ("Glimmerward.ini.bak") are not.
bool IsNearSettingsFileName(std::string_view name);

// The files in the plug-in's three folders whose names are near the settings file's.
std::vector<std::string> NearSettingsFiles(const std::string& gameFolder);

// The first "Glimmerward-defaults.ini" in the plug-in's folders, or empty.
std::string FindReleaseSettingsFile(const std::string& gameFolder);

// The file that a change of the settings in a game folder goes to, and the release's file to
// make it from when there is none yet: where the first-run copy goes. `path` is empty when
// none can be made (no game in the folder, no release file, a path too long for the plug-in).
struct FileToChange {
    std::string path;
    std::string defaults;  // empty when the file exists
};
FileToChange SettingsFileToChange(const std::string& folder, bool hasGame);

// Copies `from` to `to`, which must not exist yet: an existing file is never replaced.
// Empty on success, else what went wrong.
std::string CopyToNewFile(const std::string& from, const std::string& to);

// The .exe files directly in `folder`, by name, this checker excluded.
std::vector<std::string> ExecutablesIn(const std::string& folder);

std::string AbsolutePath(const std::string& path);

// The folder the running checker's file lies in.
std::string CheckerFolder();

// The folder's last name, and its parent.
std::string FolderName(const std::string& folder);
std::string ParentFolder(const std::string& folder);

// Whether this process is the only one on its console window (started by a double click).
bool OwnsConsole();
