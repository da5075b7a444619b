// glimmerward-check: explains what the plug-in will make of a game's settings file.
//
//   glimmerward-check [GAME_FOLDER | SETTINGS_FILE] [--html PAGE] [--no-wait]
//
// Without a folder or file it checks the folder it lies in (or the game folder above it,
// when it lies in the plug-in's "plugins" or "scripts" folder).
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>

#include "checker/ExecutableBuild.h"
#include "checker/GameFolder.h"
#include "checker/Report.h"
#include "checker/Text.h"
#include "src/settings/LocateSettingsFile.h"

namespace {

constexpr std::string_view Usage =
    "usage: glimmerward-check [GAME_FOLDER | SETTINGS_FILE] [--html PAGE] [--no-wait]\n"
    "  GAME_FOLDER    the folder of the game's executable (default: the folder this checker lies in)\n"
    "  SETTINGS_FILE  a settings file to check on its own\n"
    "  --html PAGE    also write the report as a web page to PAGE\n"
    "  --no-wait      do not wait for Enter at the end\n";

void DescribeBuilds(const std::string& folder, Report& report) {
    const auto executables = ExecutablesIn(folder);
    if (executables.empty()) {
        report.remarks.push_back({true, "there is no .exe file in " + folder +
                                            ": is this the game's folder? Give the folder of the game's executable"});
    }
    for (const std::string& executable : executables) {
        const ExecutableBuild build = ProbeExecutable(executable);
        if (!build.readable) {
            report.remarks.push_back({false, executable + ": not the game (" + build.problem + ")"});
        } else if (build.version == Host::UnknownVersion) {
            report.remarks.push_back({false, executable + ": not a supported build of the game; loaded into it, the "
                                                          "plug-in changes nothing"});
        } else {
            report.remarks.push_back({false, executable + ": build " + std::to_string(build.version) +
                                                 " of the game, which the plug-in supports"});
        }
    }
}

// The settings file the plug-in would read in the game folder, after the first-run copy.
std::string SearchGameFolder(const std::string& folder, Report& report) {
    SettingsSearch search = SearchSettingsFile(folder);
    if (search.found.empty()) {
        if (const std::string release = FindReleaseSettingsFile(folder); !release.empty()) {
            const std::string target = JoinPath(ParentFolder(release), SettingsFileName);
            const std::string failed = CopyToNewFile(release, target);
            if (failed.empty()) {
                report.remarks.push_back({false, "no Glimmerward.ini yet: copied " + release + " to " + target +
                                                     ", the file the plug-in reads; edit that one"});
                search = SearchSettingsFile(folder);
            } else {
                report.remarks.push_back({true, "no Glimmerward.ini yet, and the copy of " + release + " failed: " +
                                                    failed + ". Copy it to " + target + " by hand"});
            }
        }
    }
    if (search.tooLong) {
        report.remarks.push_back({true, "the path of " + folder + " is too long for the plug-in (259 characters at "
                                        "most): it reads no settings file there. Move the game to a shorter path"});
        return {};
    }
    if (search.found.empty()) {
        report.remarks.push_back({false, "the plug-in looks for Glimmerward.ini in plugins, then scripts, then the "
                                         "game folder itself, and finds none"});
    } else {
        report.remarks.push_back({false, "settings file used by the plug-in: " + search.chosen});
        for (std::size_t i = 1; i < search.found.size(); ++i) {
            report.remarks.push_back({true, search.found[i] + " is never read: " + search.chosen +
                                                " comes first and shadows it. Edit the first, or delete one"});
        }
    }
    return search.chosen;
}

// Reads `path` into the report; false when no file could be read.
bool ReadSettings(const std::string& path, Report& report) {
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
    report.check = CheckSettings([&path] {
        // Each pass opens the file afresh; closed when the last copy of the source goes.
        std::shared_ptr<std::FILE> file(std::fopen(path.c_str(), "rb"), [](std::FILE* f) { if (f) std::fclose(f); });
        return SettingsSource([file](char* buffer, std::size_t capacity) -> std::size_t {
            return file ? std::fread(buffer, 1, capacity, file.get()) : 0;
        });
    });
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string target;
    std::string page;
    bool wait = true;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--html" && i + 1 < argc) {
            page = argv[++i];
        } else if (arg == "--no-wait") {
            wait = false;
        } else if (arg == "--help" || arg == "-h" || (!arg.empty() && arg[0] == '-' && arg != "-") || !target.empty()) {
            std::fputs(Usage.data(), arg == "--help" || arg == "-h" ? stdout : stderr);
            return arg == "--help" || arg == "-h" ? 0 : 2;
        } else {
            target = arg;
        }
    }

    Report report;
    std::string settingsPath;
    bool gameFolder = true;
    if (target.empty()) {
        target = CheckerFolder();
        const std::string name = FolderName(target);
        for (const std::string_view subfolder : SettingsFolders) {
            if (!subfolder.empty() && AsciiLowered(name) == subfolder) target = ParentFolder(target);
        }
    } else {
        gameFolder = KindOf(target) == PathKind::Folder;
        if (KindOf(target) == PathKind::Missing) {
            std::fprintf(stderr, "%s does not exist. Give the game's folder or a settings file.\n", target.c_str());
            return 2;
        }
    }
    target = AbsolutePath(target);

    if (gameFolder) {
        report.subject = "Game folder: " + target;
        DescribeBuilds(target, report);
        settingsPath = SearchGameFolder(target, report);
    } else {
        report.subject = "Settings file: " + target;
        settingsPath = target;
    }
    report.read = !settingsPath.empty() && ReadSettings(settingsPath, report);
    if (!report.read) {
        report.remarks.push_back({false, "no settings file is read, so the plug-in writes every default"});
        report.check.finals = DefaultFinals();
    }

    const std::string text = TextReport(report);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    int status = ExitStatus(report);
    if (!page.empty()) {
        std::FILE* out = std::fopen(page.c_str(), "wb");
        const std::string html = HtmlReport(report);
        const bool written = out && std::fwrite(html.data(), 1, html.size(), out) == html.size();
        if (out && std::fclose(out) != 0) status = 2;
        if (!written) {
            std::fprintf(stderr, "cannot write the page %s: give a path in a folder you may write to.\n", page.c_str());
            status = 2;
        }
    }
    if (wait && OwnsConsole()) {
        std::fputs("\nPress Enter to close this window.", stdout);
        std::fflush(stdout);
        std::string line;
        std::getline(std::cin, line);
    }
    return status;
}
