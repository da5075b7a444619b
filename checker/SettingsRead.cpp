#include "checker/SettingsRead.h"

#include <cstdio>
#include <memory>

#include "checker/GameFolder.h"
#include "edit/FileReplace.h"
#include "edit/SettingsEdit.h"
#include "edit/SettingsWriter.h"

namespace {

// Whether the file at `path` is there to read; a remark on it when not.
bool Readable(const std::string& path, Report& report) {
    const PathKind kind = KindOf(path);
    if (kind == PathKind::Missing) {
        report.remarks.push_back({false, path + " does not exist. Put the settings file (Glimmerward-defaults.ini from "
                                         "the release, renamed to Glimmerward.ini) there"});
        return false;
    }
    if (kind == PathKind::Folder) {
        report.remarks.push_back({true, path + " is a folder, not a file: the plug-in takes it for the settings file "
                                        "and reads nothing. Remove or rename that folder"});
        return false;
    }
    std::FILE* probe = std::fopen(path.c_str(), "rb");
    if (!probe) {
        report.remarks.push_back({true, path + " cannot be read. Check that it is not locked by another program and "
                                        "that you may read it"});
        return false;
    }
    std::fclose(probe);
    return true;
}

// The verdicts on a file too large to hold whole: each pass opens it afresh.
SettingsCheck CheckLargeFile(const std::string& path) {
    return CheckSettings([&path] {
        std::shared_ptr<std::FILE> file(std::fopen(path.c_str(), "rb"), [](std::FILE* f) { if (f) std::fclose(f); });
        return SettingsSource([file](char* buffer, std::size_t capacity) -> std::size_t {
            return file ? std::fread(buffer, 1, capacity, file.get()) : 0;
        });
    });
}

}  // namespace

std::string ReadSettingsInto(Report& report, const std::string& path) {
    report.read = !path.empty() && Readable(path, report);
    if (!report.read) {
        report.remarks.push_back({false, "no settings file is read, so the plug-in writes every default"});
        report.check.finals = DefaultFinals();
        return {};
    }
    // The version and the verdicts from the same bytes, so that they always belong together.
    if (const FileRead file = ReadWholeFile(path, LargestSettingsFile); file.problem.empty()) {
        report.check = CheckSettingsText(file.bytes);
        return SettingsVersion(file.bytes);
    }
    report.check = CheckLargeFile(path);
    return {};
}
