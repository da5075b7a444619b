// glimmerward-check: explains what the plug-in will make of a game's settings file.
//
//   glimmerward-check [GAME_FOLDER | SETTINGS_FILE] [--all] [--html PAGE] [--no-wait] [--page [--no-browser]]
//   glimmerward-check --set KEY=VALUE [--set ...] [--reset KEY ...] [--expect VERSION] [GAME_FOLDER | SETTINGS_FILE]
//
// Without a folder or file it checks the folder it lies in (or the game folder above it,
// when it lies in the plug-in's "plugins" or "scripts" folder).
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <utility>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "checker/ExecutableBuild.h"
#include "program/Browser.h"
#include "program/GameFolder.h"
#include "page/PageServer.h"
#include "page/PageState.h"
#include "checker/Report.h"
#include "checker/SettingsRead.h"
#include "basis/Text.h"
#include "edit/FileReplace.h"
#include "edit/SettingsEdit.h"
#include "edit/SettingsWriter.h"
#include "src/settings/LocateSettingsFile.h"

namespace {

constexpr std::string_view Usage =
    "usage: glimmerward-check [GAME_FOLDER | SETTINGS_FILE] [--all] [--html PAGE] [--no-wait] [--page [--no-browser]]\n"
    "  GAME_FOLDER    the folder of the game's executable (default: the folder this checker lies in)\n"
    "  SETTINGS_FILE  a settings file to check on its own\n"
    "  --all          also show every line's verdict and the values of all 59 settings\n"
    "  --html PAGE    also write the report as a web page to PAGE\n"
    "  --no-wait      do not wait for Enter at the end\n"
    "  --page         then show the settings page in your web browser, to see and change the settings\n"
    "                 file there; only this computer can open it. Ctrl+C stops it. Started by a\n"
    "                 double click, the checker shows this page by itself until its window closes\n"
    "  --no-browser   with --page: only show the page's address, to open it in a browser yourself\n"
    "  --version      show the checker's version\n"
    "changing the settings file the plug-in uses (all changes of one command make one new version):\n"
    "  --set KEY=VALUE   a float as a decimal number (PickupSize=1.5), a colour entry as its five\n"
    "                    fields (\"PickupColor_5=255 0 0 0 1\") or #RRGGBB for channel0 to channel2\n"
    "  --reset KEY       write the key's default into the line that sets it\n"
    "  --expect VERSION  change nothing unless the file is still this version (the report shows it)\n"
    "exit status: 0 nothing looks wrong, 1 warnings, 2 no settings file could be read (or made),\n"
    "  3 a usage error (an unknown key or a bad value too), 4 an output (the page, or the settings\n"
    "  file) could not be written, 5 the file is no longer the expected version\n";

// Exit statuses besides those of the report.
constexpr int UsageError = 3;
constexpr int OutputNotWritten = 4;

int Refuse(const std::string& problem) {
    std::fprintf(stderr, "glimmerward-check: %s\n%s", problem.c_str(), Usage.data());
    return UsageError;
}

// The game's build, from the executables in the folder; whether any is a game at all.
bool DescribeBuilds(const std::string& folder, Report& report) {
    const auto executables = ExecutablesIn(folder);
    if (executables.empty()) {
        report.remarks.push_back({true, "there is no game here: " + folder + " holds no .exe file. Put " +
                                            "glimmerward-check.exe beside the game's executable and start it there"});
        return false;
    }
    std::vector<Remark> others;
    bool supported = false;
    for (const std::string& executable : executables) {
        const ExecutableBuild build = ProbeExecutable(executable);
        if (!build.readable) {
            others.push_back({false, executable + ": not the game (" + build.problem + ")"});
        } else if (build.version == Host::UnknownVersion) {
            others.push_back({false, executable + ": not a build of the game that the plug-in supports"});
        } else {
            supported = true;
            report.remarks.push_back({false, executable + ": build " + std::to_string(build.version) +
                                                 " of the game, which the plug-in supports"});
        }
    }
    if (!supported) {
        report.remarks.push_back({true, "no supported build of the game is in " + folder +
                                            ": loaded into any other program, the plug-in changes nothing. The "
                                            "plug-in supports builds 100, 110 and 120"});
        report.remarks.insert(report.remarks.end(), others.begin(), others.end());
    }
    return true;
}

// The settings file the plug-in would read in the game folder, after the first-run copy.
std::string SearchGameFolder(const std::string& folder, bool isGameFolder, Report& report) {
    SettingsSearch search = SearchSettingsFile(folder);
    if (search.found.empty() && isGameFolder) {
        if (const std::string release = FindReleaseSettingsFile(folder); !release.empty()) {
            const std::string target = JoinPath(ParentFolder(release), SettingsFileName);
            const std::string failed = CopyToNewFile(release, target);
            if (failed.empty()) {
                report.remarks.push_back({false, "no Glimmerward.ini yet: copied " + release + " to " + target +
                                                     ", the file the plug-in reads; edit that one"});
                search = SearchSettingsFile(folder);
            } else {
                report.remarks.push_back({true, "no Glimmerward.ini yet, and the checker could not make one: " + failed +
                                                    ". If the game lies in a protected folder such as Program Files, "
                                                    "start the checker as administrator, or copy " + release + " to " +
                                                    target + " yourself"});
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
    for (const std::string& similar : NearSettingsFiles(folder)) {
        report.remarks.push_back({true, similar + " is probably a settings file saved under another name: the plug-in "
                                            "reads only a file named exactly " + std::string(SettingsFileName) +
                                            ". Rename it (turn on file name extensions in Explorer to see its whole name)"});
    }
    return search.chosen;
}

// A --set without "=", in the words and with the status of the writer's other refusals.
int RefuseSet(const std::string& set) {
    std::fprintf(stderr, "glimmerward-check: \"%s\" is no KEY=VALUE\nglimmerward-check: nothing was changed\n", set.c_str());
    return static_cast<int>(WriteStatus::BadInput);
}

// Makes the changes and says what was done; 0 when written, else the status to end with.
int Change(const std::string& path, const std::string& defaults, const SettingsWrite& write) {
    // Parallel command lines each wait their turn, so that every one of their changes lands.
    const WriteOutcome outcome = WriteSettings(path, defaults, write, TurnWait::WaitForTurn);
    for (const std::string& done : outcome.done) std::printf("%s\n", done.c_str());
    for (const std::string& problem : outcome.problems) std::fprintf(stderr, "glimmerward-check: %s\n", problem.c_str());
    if (outcome.status != WriteStatus::Written) {
        std::fprintf(stderr, "glimmerward-check: nothing was changed\n");
        return static_cast<int>(outcome.status);
    }
    std::printf("\n");
    return 0;
}

// The file that --set changes in a game folder, and the defaults file to make it from when
// there is none yet: where the first-run copy goes. Empty when none can be made.
std::pair<std::string, std::string> FileToChange(const std::string& folder, bool hasGame) {
    const SettingsSearch search = SearchSettingsFile(folder);
    if (!search.found.empty()) return {search.chosen, {}};
    if (search.tooLong || !hasGame) return {};
    const std::string release = FindReleaseSettingsFile(folder);
    if (release.empty()) return {};
    return {JoinPath(ParentFolder(release), SettingsFileName), release};
}

// Serves the page until the checker is stopped; false when it could not start. Started by a
// double click, the checker stops when its window closes.
bool ServePage(PageFile file, bool openBrowser, bool doubleClicked) {
    PageServer server(std::move(file), [](const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    });
    if (!server.problem().empty()) {
        std::printf("\nThe settings page cannot be shown: %s.\n", server.problem().c_str());
        std::fflush(stdout);
        return false;
    }
    const std::string address = server.address();
    std::printf("\nSettings page: %s\n", address.c_str());
    // The browser gets the key through a private file, gone once the page has come with it, or
    // else before the server goes (which a closing window on Windows waits for).
    std::optional<RedirectFile> redirect;
    if (openBrowser) redirect.emplace(address);
    server.whenKeyFirstUsed([&redirect] {
        if (redirect) redirect->remove();
    });
    if (!openBrowser) {
        std::printf("Open this address in your web browser.");
    } else if (!redirect->path().empty() && OpenInBrowser(redirect->path())) {
        std::printf("It opens in your web browser.");
    } else {
        std::printf("No web browser could be opened from here: open this address in your web browser.");
    }
    std::printf(doubleClicked ? " The page works while this window is open: close this window to stop.\n"
                                                : " The page works until you stop the checker with Ctrl+C.\n");
    std::fflush(stdout);
    server.run();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string target;
    std::string page;
    bool wait = true;
    bool servePage = false;
    bool browser = true;
    ReportDetail detail = ReportDetail::Summary;
    SettingsWrite write;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(Usage.data(), stdout);
            return 0;
        } else if (arg == "--version") {
            std::printf("glimmerward-check %s\n", GLIMMERWARD_VERSION);
            return 0;
        } else if (arg == "--html") {
            if (i + 1 >= argc || std::string_view(argv[i + 1]).starts_with("--")) {
                return Refuse("--html needs the name of the page to write, as in --html report.html");
            }
            page = argv[++i];
        } else if (arg == "--set" || arg == "--reset" || arg == "--expect") {
            if (i + 1 >= argc || std::string_view(argv[i + 1]).starts_with("--")) {
                return Refuse(arg + " needs a value, as in " +
                              (arg == "--set" ? "--set PickupSize=1.5" : arg == "--reset" ? "--reset PickupSize" : "--expect 0123456789abcdef"));
            }
            const std::string value = argv[++i];
            if (arg == "--set") {
                const std::size_t equals = value.find('=');
                if (equals == std::string::npos) return RefuseSet(value);
                write.sets.push_back({value.substr(0, equals), value.substr(equals + 1)});
            }
            if (arg == "--reset") write.resets.push_back(value);
            if (arg == "--expect") write.expect = value;
        } else if (arg == "--all") {
            detail = ReportDetail::All;
        } else if (arg == "--no-wait") {
            wait = false;
        } else if (arg == "--page") {
            servePage = true;
        } else if (arg == "--no-browser") {
            browser = false;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Refuse("unknown option " + arg);
        } else if (!target.empty()) {
            return Refuse("give one game folder or settings file, not both " + target + " and " + arg);
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

    const bool changing = !write.sets.empty() || !write.resets.empty();
    if (!changing && !write.expect.empty()) return Refuse("--expect goes with --set or --reset");
    if (!servePage && !browser) return Refuse("--no-browser goes with --page");
    PageFile pageFile;
    if (gameFolder) {
        report.subject = "Game folder: " + target;
        const bool hasGame = DescribeBuilds(target, report);
        if (changing) {
            const auto [path, defaults] = FileToChange(target, hasGame);
            if (path.empty()) {
                std::fprintf(stderr, "glimmerward-check: no settings file in %s, and none can be made there: %s\n",
                             target.c_str(),
                             hasGame ? "put Glimmerward-defaults.ini from the release beside the game's executable"
                                     : "give the folder of the game's executable");
                return 2;
            }
            if (const int status = Change(path, defaults, write); status != 0) return status;
        }
        settingsPath = SearchGameFolder(target, hasGame, report);
        std::tie(pageFile.path, pageFile.defaults) = FileToChange(target, hasGame);
    } else {
        report.subject = "Settings file: " + target;
        settingsPath = target;
        pageFile.path = target;
        if (changing) {
            if (const int status = Change(settingsPath, {}, write); status != 0) return status;
        }
    }
    pageFile.folder = report;
    // Started by a double click, the checker shows the page until its window closes; the
    // version, which only --expect takes, would be noise there.
    const bool doubleClicked = wait && OwnsConsole();
    if (const std::string version = ReadSettingsInto(report, settingsPath); !version.empty() && !doubleClicked) {
        report.remarks.push_back({false, "version of the settings file: " + version +
                                             " (give it to --expect to change only this version)"});
    }

    const std::string text = TextReport(report, detail);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    int status = ExitStatus(report);
    if (!page.empty()) {
        // Replaced in one step, as the settings file is: a link at PAGE is replaced, never followed.
        if (!ReplaceFileContents(page, HtmlReport(report, detail)).replaced) {
            std::fprintf(stderr, "glimmerward-check: cannot write the page %s: give a path in a folder you may write to.\n",
                         page.c_str());
            status = OutputNotWritten;
        }
    }
    if (servePage || doubleClicked) {
        if (!pageFile.path.empty()) {
            if (ServePage(std::move(pageFile), browser, doubleClicked)) return status;
        } else if (servePage) {
            std::puts("\nThere is no settings page here: the folder holds no settings file, and the checker can make "
                      "none. Start it in the folder of the game's executable, with Glimmerward-defaults.ini from the "
                      "release beside it.");
            std::fflush(stdout);
        }
    }
    if (doubleClicked) {
        std::fputs("\nPress Enter to close this window.", stdout);
        std::fflush(stdout);
        std::string line;
        std::getline(std::cin, line);
    }
    return status;
}
