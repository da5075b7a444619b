#include "program/GameFolder.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#endif

#include "basis/Text.h"
#include "edit/FileReplace.h"
#include "edit/SettingsWriter.h"
#include "src/settings/NumberScan.h"
#include "src/settings/LocateSettingsFile.h"

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
constexpr char Separator = '\\';
#else
constexpr char Separator = '/';
#endif

std::vector<std::string> NamesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

#ifndef _WIN32
// The entry of `folder` named `name`: the exact name first, else the first that differs only in case.
std::string MatchIn(const std::string& folder, std::string_view name) {
    const std::string exact = JoinPath(folder, name);
    if (KindOf(exact) != PathKind::Missing) return exact;
    for (const std::string& entry : NamesIn(folder)) {
        if (EqualsIgnoringCase(entry, name)) return JoinPath(folder, entry);
    }
    return {};
}
#endif

}  // namespace

PathKind KindOf(const std::string& path) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error || !fs::exists(status)) return PathKind::Missing;
    return fs::is_directory(status) ? PathKind::Folder : PathKind::File;
}

std::string JoinPath(const std::string& folder, std::string_view name) {
    if (folder.empty() || folder.back() == Separator || folder.back() == '/') return folder + std::string(name);
    return folder + Separator + std::string(name);
}

std::string FindPath(const std::string& folder, std::string_view subfolder, std::string_view name) {
#ifdef _WIN32
    // As the plug-in tests it: the path exists, as a file or as a folder.
    const std::string path = subfolder.empty() ? JoinPath(folder, name) : JoinPath(JoinPath(folder, subfolder), name);
    return _access(path.c_str(), 0) == 0 ? path : std::string();
#else
    std::string within = folder;
    if (!subfolder.empty()) {
        within = MatchIn(folder, subfolder);
        if (within.empty()) return {};
    }
    return MatchIn(within, name);
#endif
}

SettingsSearch SearchSettingsFile(const std::string& gameFolder) {
    SettingsSearch search;
    std::size_t fitting = 0;
    for (const std::string_view subfolder : SettingsFolders) {
        const std::string path = subfolder.empty() ? JoinPath(gameFolder, SettingsFileName)
                                                   : JoinPath(JoinPath(gameFolder, subfolder), SettingsFileName);
#ifdef _WIN32
        // The plug-in passes over a path that does not fit its buffer.
        if (path.size() >= SettingsPathSize) continue;
#endif
        ++fitting;
        const std::string found = FindPath(gameFolder, subfolder, SettingsFileName);
        if (!found.empty()) search.found.push_back(found);
    }
    search.tooLong = fitting == 0;
    search.chosen = search.found.empty() ? JoinPath(gameFolder, SettingsFileName) : search.found.front();
    return search;
}

bool IsNearSettingsFileName(std::string_view name) {
    std::string bare;  // lower case, without blanks
    for (const char c : name) {
        if (c != ' ' && c != '\t') bare += AsciiLower(c);
    }
    const std::string settings = AsciiLowered(SettingsFileName);  // "glimmerward.ini"
    const std::string stem = settings.substr(0, settings.rfind('.'));
    if (bare == settings) return bare.size() != name.size();  // blanks in the name; else it is the file itself
    for (const std::string_view extension : {".txt", ".ini", ".text"}) {
        if (bare == settings + std::string(extension) || bare == stem + std::string(extension)) return true;
    }
    return bare == stem;
}

std::vector<std::string> NearSettingsFiles(const std::string& gameFolder) {
    std::vector<std::string> similar;
    for (const std::string_view subfolder : SettingsFolders) {
        const std::string folder = subfolder.empty() ? gameFolder : FindPath(gameFolder, "", subfolder);
        if (folder.empty() || KindOf(folder) != PathKind::Folder) continue;
        for (const std::string& name : NamesIn(folder)) {
            const std::string path = JoinPath(folder, name);
            if (IsNearSettingsFileName(name) && KindOf(path) == PathKind::File) similar.push_back(path);
        }
    }
    return similar;
}

std::string FindReleaseSettingsFile(const std::string& gameFolder) {
    for (const std::string_view subfolder : SettingsFolders) {
        const std::string found = FindPath(gameFolder, subfolder, ReleaseSettingsFileName);
        if (!found.empty() && KindOf(found) == PathKind::File) return found;
    }
    return {};
}

FileToChange SettingsFileToChange(const std::string& folder, bool hasGame) {
    const SettingsSearch search = SearchSettingsFile(folder);
    if (!search.found.empty()) return {search.chosen, {}};
    if (search.tooLong || !hasGame) return {};
    const std::string release = FindReleaseSettingsFile(folder);
    if (release.empty()) return {};
    return {JoinPath(ParentFolder(release), SettingsFileName), release};
}

std::string CopyToNewFile(const std::string& from, const std::string& to) {
    // Read as the writer reads: a pipe or a device planted under the release file's name is refused, not waited on.
    const FileRead release = ReadWholeFile(from, LargestSettingsFile);
    if (!release.exists || !release.problem.empty()) return "cannot read " + from;
    switch (CreateNewFile(to, release.bytes)) {
        case NewFile::Made: return {};
        case NewFile::NotMade: return "cannot create " + to + " (it may exist already, or the folder is write-protected)";
        case NewFile::NotWritten: break;
    }
    return "writing " + to + " failed (is the disk full?)";
}

std::vector<std::string> ExecutablesIn(const std::string& folder) {
    std::vector<std::string> executables;
    for (const std::string& name : NamesIn(folder)) {
        if (name.size() < 4 || !EqualsIgnoringCase(std::string_view(name).substr(name.size() - 4), ".exe")) continue;
        if (EqualsIgnoringCase(name, "glimmerward-check.exe")) continue;
        const std::string path = JoinPath(folder, name);
        if (KindOf(path) == PathKind::File) executables.push_back(path);
    }
    return executables;
}

std::string AbsolutePath(const std::string& path) {
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

std::string CheckerFolder() {
#ifdef _WIN32
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string file(path, length < MAX_PATH ? length : 0);
#else
    std::error_code error;
    const std::string file = fs::read_symlink("/proc/self/exe", error).string();
#endif
    return ParentFolder(file);
}

std::string FolderName(const std::string& folder) {
    fs::path path(folder);
    if (!path.has_filename()) path = path.parent_path();
    return path.filename().string();
}

std::string ParentFolder(const std::string& folder) {
    fs::path path(folder);
    if (!path.has_filename()) path = path.parent_path();
    return path.parent_path().string();
}

bool OwnsConsole() {
#ifdef _WIN32
    DWORD processes[2];
    return GetConsoleProcessList(processes, 2) == 1;
#else
    return false;
#endif
}
