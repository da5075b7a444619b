// glimmerward-check: explains what the plug-in will make of a game's settings file.
//
//   glimmerward-check [GAME_FOLDER | SETTINGS_FILE] [--all] [--html PAGE] [--no-wait] [--page [--no-browser]]
//   glimmerward-check --set KEY=VALUE [--set ...] [--reset KEY ...] [--expect VERSION] [GAME_FOLDER | SETTINGS_FILE]
//   glimmerward-check --presets | --save-preset NAME [--replace] | --apply-preset NAME | --export [NAME] |
//                     --import FILE|- [--expect VERSION] [GAME_FOLDER | SETTINGS_FILE]
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
#include <variant>
#include <vector>

#include "basis/ExitStatus.h"
#include "basis/Text.h"
#include "checker/Report.h"
#include "checker/SettingsRead.h"
#include "edit/FileReplace.h"
#include "edit/SettingsWriter.h"
#include "page/PageServer.h"
#include "page/PageState.h"
#include "presets/PresetName.h"
#include "program/Browser.h"
#include "program/GameFolder.h"
#include "program/GameFolderReport.h"
#include "program/PresetCommands.h"
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
    "presets, kept in the folder Glimmerward-presets beside the settings file:\n"
    "  --presets            list them\n"
    "  --save-preset NAME   save the current settings as preset NAME (--replace: over one of\n"
    "                       that name); NAME has letters, digits, spaces and - _ ( ) ., at most 64\n"
    "  --apply-preset NAME  make every setting the preset's value, the ones it leaves out their\n"
    "                       defaults\n"
    "  --export [NAME]      print preset NAME (without NAME: the current settings) as a text to\n"
    "                       share; an existing folder or file after it is no NAME\n"
    "  --import FILE        apply a shared text from FILE, or, for -, from standard input\n";

std::string UsageText() { return std::string(Usage) + ExitStatusText(); }

ExitStatus Refuse(const std::string& problem) {
    std::fprintf(stderr, "glimmerward-check: %s\n%s", problem.c_str(), UsageText().c_str());
    return ExitStatus::UsageError;
}

// A --set without "=", in the words of the writer's other refusals of a value.
ExitStatus RefuseSet(const std::string& set) {
    std::fprintf(stderr, "glimmerward-check: \"%s\" is no KEY=VALUE\nglimmerward-check: nothing was changed\n", set.c_str());
    return ExitStatus::UsageError;
}

// What the command line asks for.
struct Options {
    std::string target;  // a game folder or a settings file; empty for the checker's own folder
    std::string page;    // --html PAGE
    bool wait = true;
    bool servePage = false;
    bool browser = true;
    ReportDetail detail = ReportDetail::Summary;
    SettingsWrite write;
    PresetCommand preset;

    bool changing() const { return !write.sets.empty() || !write.resets.empty() || write.values.has_value(); }
};

PresetAction PresetActionOf(std::string_view arg) {
    if (arg == "--presets") return PresetAction::List;
    if (arg == "--save-preset") return PresetAction::Save;
    if (arg == "--apply-preset") return PresetAction::Apply;
    if (arg == "--export") return PresetAction::Export;
    if (arg == "--import") return PresetAction::Import;
    return PresetAction::None;
}

// Takes the preset option at argv[i] and its value, moving `i` past them; a status when it is
// mistaken.
std::optional<ExitStatus> ReadPresetOption(Options& options, PresetAction action, int argc, char** argv, int& i) {
    const std::string arg = argv[i];
    if (options.preset.action != PresetAction::None) return Refuse("give one of the preset options at a time, not also " + arg);
    options.preset.action = action;
    const std::string_view next = i + 1 < argc ? argv[i + 1] : "";
    const bool valueFollows = !next.empty() && !next.starts_with("--");
    if (action == PresetAction::Save || action == PresetAction::Apply) {
        if (!valueFollows) return Refuse(arg + " needs the preset's name, as in " + arg + " \"Night look\"");
        options.preset.name = argv[++i];
        if (const std::string problem = PresetNameProblem(options.preset.name); !problem.empty()) {
            // A name is a value, refused as the writer refuses a value: the usage would bury it.
            std::fprintf(stderr, "glimmerward-check: %s\nglimmerward-check: %s\n", problem.c_str(),
                         action == PresetAction::Save ? "no preset was saved" : "nothing was changed");
            return ExitStatus::UsageError;
        }
    } else if (action == PresetAction::Import) {
        // "-" is standard input, not an option.
        if (next.empty() || (next.starts_with("-") && next != "-")) {
            return Refuse("--import needs the file that holds the shared text, or - to read it from standard input");
        }
        options.preset.source = argv[++i];
    } else if (action == PresetAction::Export && valueFollows && PresetNameProblem(next).empty() &&
               KindOf(std::string(next)) == PathKind::Missing) {
        options.preset.name = argv[++i];
    }
    return std::nullopt;
}

// The options, or the status to end with at once: after --help, --version or a mistake.
std::variant<Options, ExitStatus> ReadOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool valueFollows = i + 1 < argc && !std::string_view(argv[i + 1]).starts_with("--");
        if (arg == "--help" || arg == "-h") {
            std::fputs(UsageText().c_str(), stdout);
            return ExitStatus::NothingWrong;
        } else if (arg == "--version") {
            std::printf("glimmerward-check %s\n", GLIMMERWARD_VERSION);
            return ExitStatus::NothingWrong;
        } else if (arg == "--html") {
            if (!valueFollows) return Refuse("--html needs the name of the page to write, as in --html report.html");
            options.page = argv[++i];
        } else if (arg == "--set" || arg == "--reset" || arg == "--expect") {
            if (!valueFollows) {
                return Refuse(arg + " needs a value, as in " +
                              (arg == "--set" ? "--set PickupSize=1.5" : arg == "--reset" ? "--reset PickupSize" : "--expect 0123456789abcdef"));
            }
            const std::string value = argv[++i];
            if (arg == "--set") {
                const std::size_t equals = value.find('=');
                if (equals == std::string::npos) return RefuseSet(value);
                options.write.sets.push_back({value.substr(0, equals), value.substr(equals + 1)});
            }
            if (arg == "--reset") options.write.resets.push_back(value);
            if (arg == "--expect") options.write.expect = value;
        } else if (const PresetAction action = PresetActionOf(arg); action != PresetAction::None) {
            if (const auto refused = ReadPresetOption(options, action, argc, argv, i)) return *refused;
        } else if (arg == "--replace") {
            options.preset.replace = true;
        } else if (arg == "--all") {
            options.detail = ReportDetail::All;
        } else if (arg == "--no-wait") {
            options.wait = false;
        } else if (arg == "--page") {
            options.servePage = true;
        } else if (arg == "--no-browser") {
            options.browser = false;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Refuse("unknown option " + arg);
        } else if (!options.target.empty()) {
            return Refuse("give one game folder or settings file, not both " + options.target + " and " + arg);
        } else {
            options.target = arg;
        }
    }
    return options;
}

// What the checker looks at: a game folder or a settings file on its own, as an absolute path.
struct Subject {
    std::string path;
    bool gameFolder = true;
};

// The folder or file named, else the checker's own folder (or the game folder above it, when
// it lies in the plug-in's "plugins" or "scripts" folder); none when the one named is missing.
std::optional<Subject> FindSubject(const std::string& target) {
    Subject subject{target};
    if (target.empty()) {
        subject.path = CheckerFolder();
        const std::string name = AsciiLowered(FolderName(subject.path));
        for (const std::string_view subfolder : SettingsFolders) {
            if (!subfolder.empty() && name == subfolder) subject.path = ParentFolder(subject.path);
        }
    } else {
        const PathKind kind = KindOf(target);
        if (kind == PathKind::Missing) {
            std::fprintf(stderr, "%s does not exist. Give the game's folder or a settings file.\n", target.c_str());
            return std::nullopt;
        }
        subject.gameFolder = kind == PathKind::Folder;
    }
    subject.path = AbsolutePath(subject.path);
    return subject;
}

// Combinations of options that mean nothing.
std::optional<ExitStatus> RefuseCombination(const Options& options) {
    const PresetAction preset = options.preset.action;
    const bool presetChanges = preset == PresetAction::Apply || preset == PresetAction::Import;
    if (preset != PresetAction::None && options.changing()) return Refuse("a preset option goes with no --set or --reset");
    if (options.preset.replace && preset != PresetAction::Save) return Refuse("--replace goes with --save-preset");
    if (preset != PresetAction::None && !presetChanges && (options.servePage || !options.page.empty())) {
        return Refuse("--presets, --save-preset and --export go with no --page or --html");
    }
    if (!options.changing() && !presetChanges && !options.write.expect.empty()) {
        return Refuse("--expect goes with --set, --reset, --apply-preset or --import");
    }
    if (!options.servePage && !options.browser) return Refuse("--no-browser goes with --page");
    return std::nullopt;
}

// Makes the changes and says what was done.
ExitStatus Change(const std::string& path, const std::string& defaults, const SettingsWrite& write) {
    // Parallel command lines each wait their turn, so that every one of their changes lands.
    const WriteOutcome outcome = WriteSettings(path, defaults, write, TurnWait::WaitForTurn);
    for (const std::string& done : outcome.done) std::printf("%s\n", done.c_str());
    for (const std::string& problem : outcome.problems) std::fprintf(stderr, "glimmerward-check: %s\n", problem.c_str());
    if (outcome.status != WriteStatus::Written) {
        std::fprintf(stderr, "glimmerward-check: nothing was changed\n");
        return ExitStatusOf(outcome.status);
    }
    std::printf("\n");
    return ExitStatus::NothingWrong;
}

// What the checker found before it reads the settings file, and the file it reads and shows.
struct Looked {
    Report report;
    std::string settingsPath;  // the file the plug-in reads; empty for none
    PageFile page;             // the file the page changes; no path when there is none
};

// Changes the settings where asked, then looks at the subject as the plug-in will; a status
// when the change failed.
std::variant<Looked, ExitStatus> LookAt(const Subject& subject, const SettingsWrite& write, bool changing) {
    Looked looked;
    Report& report = looked.report;
    if (!subject.gameFolder) {
        report.subject = "Settings file: " + subject.path;
        if (changing) {
            if (const ExitStatus status = Change(subject.path, {}, write); status != ExitStatus::NothingWrong) return status;
        }
        looked.settingsPath = looked.page.path = subject.path;
        looked.page.folder = report;
        return looked;
    }
    const std::string& folder = subject.path;
    report.subject = "Game folder: " + folder;
    const bool hasGame = DescribeBuilds(folder, report);
    if (changing) {
        const FileToChange file = SettingsFileToChange(folder, hasGame);
        if (file.path.empty()) {
            std::fprintf(stderr, "glimmerward-check: no settings file in %s, and none can be made there: %s\n",
                         folder.c_str(),
                         hasGame ? "put Glimmerward-defaults.ini from the release beside the game's executable"
                                 : "give the folder of the game's executable");
            return ExitStatus::NoSettingsFile;
        }
        if (const ExitStatus status = Change(file.path, file.defaults, write); status != ExitStatus::NothingWrong) {
            return status;
        }
    }
    MakeFirstRunCopy(folder, hasGame, report);
    looked.settingsPath = DescribeSearch(folder, report);
    const FileToChange file = SettingsFileToChange(folder, hasGame);
    looked.page = {file.path, file.defaults, report};
    return looked;
}

// Reads the settings file into the report and prints it, and writes the page of --html; the
// report's status, or that the page could not be written.
ExitStatus PrintReport(Looked& looked, const Options& options, bool doubleClicked) {
    // The version, which only --expect takes, would be noise in a window opened by a double click.
    if (const std::string version = ReadSettingsInto(looked.report, looked.settingsPath);
        !version.empty() && !doubleClicked) {
        looked.report.remarks.push_back({false, "version of the settings file: " + version +
                                                    " (give it to --expect to change only this version)"});
    }
    const std::string text = TextReport(looked.report, options.detail);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    if (options.page.empty()) return ReportStatus(looked.report);
    // Replaced in one step, as the settings file is: a link at PAGE is replaced, never followed.
    if (!ReplaceFileContents(options.page, HtmlReport(looked.report, options.detail)).replaced) {
        std::fprintf(stderr, "glimmerward-check: cannot write the page %s: give a path in a folder you may write to.\n",
                     options.page.c_str());
        return ExitStatus::OutputNotWritten;
    }
    return ReportStatus(looked.report);
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

// Serves the page where it is asked for, or started by a double click, until the checker is
// stopped; whether it did. Says why not when the page was asked for but there is no file.
bool ShowPage(PageFile file, const Options& options, bool doubleClicked) {
    if (!options.servePage && !doubleClicked) return false;
    if (!file.path.empty()) return ServePage(std::move(file), options.browser, doubleClicked);
    if (options.servePage) {
        std::puts("\nThere is no settings page here: the folder holds no settings file, and the checker can make "
                  "none. Start it in the folder of the game's executable, with Glimmerward-defaults.ini from the "
                  "release beside it.");
        std::fflush(stdout);
    }
    return false;
}

void WaitForEnter() {
    std::fputs("\nPress Enter to close this window.", stdout);
    std::fflush(stdout);
    std::string line;
    std::getline(std::cin, line);
}

}  // namespace

int main(int argc, char** argv) {
    auto read = ReadOptions(argc, argv);
    if (const ExitStatus* status = std::get_if<ExitStatus>(&read)) return StatusCode(*status);
    Options& options = std::get<Options>(read);
    const std::optional<Subject> subject = FindSubject(options.target);
    if (!subject) return StatusCode(ExitStatus::NoSettingsFile);
    if (const auto refused = RefuseCombination(options)) return StatusCode(*refused);
    if (options.preset.action != PresetAction::None) {
        // Listing, saving and sharing end here; applying and importing go on as a change.
        auto preset = RunPresetCommand(options.preset, subject->path, subject->gameFolder);
        if (const ExitStatus* status = std::get_if<ExitStatus>(&preset)) return StatusCode(*status);
        options.write.values = std::get<PickupValues>(preset);
    }

    auto looked = LookAt(*subject, options.write, options.changing());
    if (const ExitStatus* status = std::get_if<ExitStatus>(&looked)) return StatusCode(*status);
    PageFile page = std::get<Looked>(looked).page;
    // Started by a double click, the checker shows the page until its window closes.
    const bool doubleClicked = options.wait && OwnsConsole();
    const ExitStatus status = PrintReport(std::get<Looked>(looked), options, doubleClicked);
    if (ShowPage(std::move(page), options, doubleClicked)) return StatusCode(status);
    if (doubleClicked) WaitForEnter();
    return StatusCode(status);
}
