#include "checker/SettingsRead.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "basis/FileRead.h"

namespace {

// Whether a file of `kind` at `path` is one to read; a remark on it when not.
bool Readable(FileKind kind, const std::string& path, Report& report) {
    switch (kind) {
        case FileKind::File: return true;
        case FileKind::Missing:
            report.remarks.push_back({false, path + " does not exist. Put the settings file (Glimmerward-defaults.ini "
                                                    "from the release, renamed to Glimmerward.ini) there"});
            return false;
        case FileKind::Folder:
            report.remarks.push_back({true, path + " is a folder, not a file: the plug-in takes it for the settings "
                                                   "file and reads nothing. Remove or rename that folder"});
            return false;
        case FileKind::NotAFile:
            report.remarks.push_back({true, path + " is no file but a device or a pipe, which the checker does not "
                                                   "read. Give the path of the settings file itself"});
            return false;
        case FileKind::Unreadable: break;
    }
    report.remarks.push_back({true, path + " cannot be read. Check that it is not locked by another program and "
                                           "that you may read it"});
    return false;
}

void NoFileRead(Report& report) {
    report.remarks.push_back({false, "no settings file is read, so the plug-in writes every default"});
    report.check.finals = DefaultFinals();
}

// The version and the verdicts from the same bytes, so that they always belong together.
std::string CheckBytes(Report& report, std::string_view bytes) {
    report.read = true;
    report.check = CheckSettingsText(bytes);
    return SettingsVersion(bytes);
}

// The verdicts on a file too large to hold whole: each pass reads the file opened once, as far
// as it reached when it was opened.
SettingsCheck CheckLargeFile(const std::shared_ptr<const ReadableFile>& file) {
    return CheckSettings([&file] {
        auto offset = std::make_shared<std::uint64_t>(0);
        return SettingsSource([file, offset](char* buffer, std::size_t capacity) -> std::size_t {
            const std::size_t got = file->readAt(*offset, buffer, capacity);
            *offset += got;
            return got;
        });
    });
}

}  // namespace

std::string ReadSettingsInto(Report& report, const std::string& path) {
    const auto file = path.empty() ? nullptr : std::make_shared<const ReadableFile>(path);
    report.read = file && Readable(file->kind(), path, report);
    if (!report.read) {
        NoFileRead(report);
        return {};
    }
    if (const std::optional<std::string> bytes = file->readWhole(LargestSettingsFile)) return CheckBytes(report, *bytes);
    report.check = CheckLargeFile(file);
    return {};
}

std::string CheckSettingsInto(Report& report, const std::string& path, std::optional<std::string_view> bytes) {
    if (bytes) return CheckBytes(report, *bytes);
    Readable(FileKind::Missing, path, report);
    report.read = false;
    NoFileRead(report);
    return {};
}
