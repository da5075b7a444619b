#include "program/PresetCommands.h"

#include <cstdio>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "basis/FileRead.h"
#include "checker/Report.h"
#include "presets/Presets.h"
#include "program/GameFolder.h"
#include "program/GameFolderReport.h"

namespace {

// The settings file whose presets these are: the one the plug-in reads, or where the first-run
// copy would put it when there is none yet.
std::string SettingsFileOf(const std::string& subject, bool gameFolder) {
    if (!gameFolder) return subject;
    Report unused;
    const FileToChange file = SettingsFileToChange(subject, DescribeBuilds(subject, unused));
    return file.path.empty() ? SearchSettingsFile(subject).chosen : file.path;
}

ExitStatus Refuse(const std::vector<std::string>& problems, const char* ending) {
    for (const std::string& problem : problems) std::fprintf(stderr, "glimmerward-check: %s\n", problem.c_str());
    std::fprintf(stderr, "glimmerward-check: %s\n", ending);
    return ExitStatus::UsageError;
}

ExitStatus Refused(const PresetValues& read, const char* ending) {
    std::vector<std::string> problems = read.problems;
    if (read.missing) problems.push_back("--presets lists the presets there");
    Refuse(problems, ending);
    return ExitStatusOf(read.status);
}

// The shared text of FILE, or of standard input for "-": read no further than a text can be
// taken, and as bytes, so that a UTF-16 text or a Ctrl-Z in it is seen for what it is.
std::optional<std::string> ReadShared(const std::string& source, std::string& problem) {
    if (source != "-") {
        const FileRead file = ReadWholeFile(source, LargestSettingsFile);
        if (!file.exists) problem = source + " does not exist: give the file that holds the shared preset, or - to paste it";
        if (file.exists && !file.problem.empty()) problem = file.problem;
        if (!problem.empty()) return std::nullopt;
        return file.bytes;
    }
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    std::string text;
    char buffer[4096];
    while (text.size() <= LargestShareText) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, stdin);
        if (got == 0) break;
        text.append(buffer, got);
    }
    return text;
}

}  // namespace

std::variant<PickupValues, ExitStatus> RunPresetCommand(const PresetCommand& command, const std::string& subject,
                                                        bool gameFolder) {
    const std::string settings = SettingsFileOf(subject, gameFolder);
    switch (command.action) {
        case PresetAction::List: {
            const std::vector<std::string> names = ListPresets(PresetFolder(settings));
            for (const std::string& name : names) std::printf("%s\n", name.c_str());
            if (names.empty()) {
                std::fprintf(stderr, "no presets in %s yet: --save-preset NAME saves the current settings as one\n",
                             PresetFolder(settings).c_str());
            }
            return ExitStatus::NothingWrong;
        }
        case PresetAction::Save: {
            const PresetOutcome outcome = SavePreset(settings, command.name, command.replace);
            for (const std::string& done : outcome.done) std::printf("%s\n", done.c_str());
            if (outcome.status != WriteStatus::Written) {
                std::vector<std::string> problems = outcome.problems;
                if (outcome.exists) problems.push_back("give --replace to save over it, or choose another name");
                Refuse(problems, "no preset was saved");
                return ExitStatusOf(outcome.status);
            }
            return ExitStatus::NothingWrong;
        }
        case PresetAction::Export: {
            const PresetValues read = command.name.empty() ? ReadSettingsValues(settings) : ReadPreset(settings, command.name);
            if (!read.values) return Refused(read, "nothing was exported");
            const std::string text = PresetText(*read.values, read.name);
            std::fwrite(text.data(), 1, text.size(), stdout);
            return ExitStatus::NothingWrong;
        }
        case PresetAction::Apply: {
            const PresetValues read = ReadPreset(settings, command.name);
            if (!read.values) return Refused(read, "nothing was changed");
            std::printf("applying preset \"%s\"\n", read.name.c_str());
            return *read.values;
        }
        case PresetAction::Import: {
            std::string problem;
            const std::optional<std::string> text = ReadShared(command.source, problem);
            if (!text) return Refuse({problem}, "nothing was changed");
            const PresetValues read = ReadPresetText(*text);
            if (!read.values) return Refused(read, "nothing was changed");
            std::printf("applying the shared settings\n");
            return *read.values;
        }
        case PresetAction::None: break;
    }
    return ExitStatus::UsageError;
}
