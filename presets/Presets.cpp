#include "presets/Presets.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>
#include <utility>

#include "basis/FileRead.h"
#include "basis/Text.h"
#include "basis/ValueText.h"
#include "checker/Report.h"
#include "checker/SettingsCheck.h"
#include "edit/FileReplace.h"
#include "presets/PresetName.h"
#include "src/settings/SettingsFile.h"

namespace fs = std::filesystem;

namespace {

PresetOutcome Refused(WriteStatus status, std::string problem, WriteObstacle obstacle = WriteObstacle::None) {
    PresetOutcome outcome;
    outcome.status = status;
    outcome.problems.push_back(std::move(problem));
    outcome.obstacle = obstacle;
    return outcome;
}

// The header's first line, which names the preset.
constexpr std::string_view NameLineStart = "# Glimmerward preset: ";

PresetValues RefusedValues(WriteStatus status, std::string problem) {
    PresetValues read;
    read.status = status;
    read.problems.push_back(std::move(problem));
    return read;
}

std::string ReadOnlyText(const std::string& path) {
    return path + " is read-only: clear \"Read-only\" in its Properties and try again";
}

std::string PathIn(const std::string& folder, std::string_view name) {
    return (fs::path(folder) / (std::string(name) + std::string(PresetExtension))).string();
}

// The file of the preset named `name` in any case, as the folder spells it; empty when none.
std::string ExistingPreset(const std::string& folder, std::string_view name) {
    for (const std::string& listed : ListPresets(folder)) {
        if (EqualsIgnoringCase(listed, name)) return listed;
    }
    return {};
}

// The values the plug-in reads from a text, and the entries whose value stands in exactly the
// text a preset writes for it: infinities, NaNs and denormals there are meant, and read back
// to every bit of the value that was saved.
struct TextReading {
    PickupValues values = DefaultPickupReading().values;
    std::set<std::pair<std::uint64_t, std::uint32_t>> exact;
};

TextReading ReadText(std::string_view text) {
    TextReading reading;
    ReadSettingsPieces(TextSource(text), [&reading](const SettingsPiece& piece) {
        if (piece.kind != PieceKind::Entry) return;
        const auto index = FindPickupSetting(piece.key);
        if (!index) return;
        TakePickupValue(reading.values, *index, piece.value);
        if (piece.value == SettingValueText(*index, reading.values)) reading.exact.insert({piece.line, piece.piece});
    });
    return reading;
}

bool ExcusedWhenExact(Finding kind) { return kind == Finding::NotFinite || kind == Finding::TooSmall; }

// Findings after which nothing read from a text is what its sender meant: it was saved in
// another encoding, or is no text at all.
bool MeansNoText(Finding kind) { return kind == Finding::NotText || kind == Finding::NulByte; }

struct Warning {
    Finding kind;
    std::string text;
};

// The checker's warnings on a text, each with its line, in the order its report lists them.
std::vector<Warning> Warnings(std::string_view text, const TextReading& reading) {
    Report report;
    report.read = true;
    report.check = CheckSettingsText(text);
    const ReportProblems listed = Problems(report);
    const auto& exact = reading.exact;
    std::vector<Warning> warnings;
    for (const Note* note : listed.leading) warnings.push_back({note->kind, NoteText(*note)});
    for (const PieceVerdict* piece : listed.pieces) {
        const bool isExact = exact.contains({piece->line, piece->piece});
        for (const Note& note : piece->notes) {
            if (!IsWarning(note.kind) || (isExact && ExcusedWhenExact(note.kind))) continue;
            warnings.push_back({note.kind, LineAndPiece(piece->line, piece->piece) + ": " + piece->shown + ": " + NoteText(note)});
        }
        // A summary stands for more pieces of this one's kind: that of its first warning.
        if (piece->summarisedMore > 0) {
            const auto first = std::find_if(piece->notes.begin(), piece->notes.end(),
                                            [](const Note& note) { return IsWarning(note.kind); });
            warnings.push_back({first->kind, SummaryText(*piece)});
        }
    }
    for (const Note* note : listed.trailing) warnings.push_back({note->kind, NoteText(*note)});
    return warnings;
}

// The settings whose values differ from their defaults, by their index in PickupSettings.
std::vector<std::size_t> Differing(const PickupValues& values) {
    const PickupValues defaults = DefaultPickupReading().values;
    std::vector<std::size_t> differing;
    for (std::size_t i = 0; i < PickupSettings.size(); ++i) {
        if (!SameSettingValue(i, values, defaults)) differing.push_back(i);
    }
    return differing;
}

}  // namespace

std::string PresetFolder(const std::string& settingsPath) {
    return (fs::path(settingsPath).parent_path() / std::string(PresetFolderName)).string();
}

std::string PresetText(const PickupValues& values, std::string_view name) {
    std::string text = name.empty() ? "# Glimmerward settings\n" : std::string(NameLineStart) + std::string(name) + "\n";
    text += "# made by glimmerward-check " GLIMMERWARD_VERSION "; every setting not listed has its default\n";
    for (const std::size_t i : Differing(values)) {
        text += std::string(PickupSettings[i].key) + " = " + SettingValueText(i, values) + "\n";
    }
    return text;
}

std::vector<std::string> ListPresets(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        // A link or a folder under a preset's name is no preset of this folder.
        if (it->symlink_status(error).type() != fs::file_type::regular) continue;
        const std::string file = it->path().filename().string();
        if (file.size() <= PresetExtension.size()) continue;
        const std::string_view extension = std::string_view(file).substr(file.size() - PresetExtension.size());
        const std::string_view name = std::string_view(file).substr(0, file.size() - PresetExtension.size());
        if (EqualsIgnoringCase(extension, PresetExtension) && PresetNameProblem(name).empty()) names.emplace_back(name);
    }
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return AsciiLowered(a) < AsciiLowered(b); });
    return names;
}

PresetValues ReadSharedText(std::string_view text) {
    if (text.size() > LargestShareText) {
        return RefusedValues(WriteStatus::BadInput,
                             "the text is " + std::to_string(text.size()) + " bytes long, more than the " +
                                 std::to_string(LargestShareText >> 10) +
                                 " KiB a preset may have: a preset is a few lines of settings");
    }
    if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) {
        return RefusedValues(WriteStatus::BadInput,
                             "there is no text: copy the whole preset, from its first comment line to its last setting");
    }
    const TextReading reading = ReadText(text);
    const std::vector<Warning> warnings = Warnings(text, reading);
    const bool noText = std::any_of(warnings.begin(), warnings.end(), [](const Warning& w) { return MeansNoText(w.kind); });
    PresetValues read;
    for (const Warning& warning : warnings) {
        if (!noText || MeansNoText(warning.kind)) read.problems.push_back(warning.text);
    }
    if (noText) return read;
    read.values = reading.values;
    read.name = SharedTextName(text);
    read.status = WriteStatus::Written;
    return read;
}

PresetValues ReadPresetText(std::string_view text) {
    PresetValues read = ReadSharedText(text);
    if (read.problems.empty()) return read;
    read.values.reset();
    read.status = WriteStatus::BadInput;
    return read;
}

std::string SharedTextName(std::string_view text) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
        if (!line.starts_with(NameLineStart)) return {};
        const std::string_view name = line.substr(NameLineStart.size());
        return PresetNameProblem(name).empty() ? std::string(name) : std::string();
    }
    return {};
}

PresetValues ReadPreset(const std::string& settingsPath, std::string_view name) {
    if (const std::string problem = PresetNameProblem(name); !problem.empty()) {
        return RefusedValues(WriteStatus::BadInput, problem);
    }
    const std::string folder = PresetFolder(settingsPath);
    const std::string existing = ExistingPreset(folder, name);
    if (existing.empty()) {
        PresetValues missing = RefusedValues(WriteStatus::BadInput, "there is no preset \"" + std::string(name) + "\" in " + folder);
        missing.missing = true;
        return missing;
    }
    const std::string path = PathIn(folder, existing);
    const FileRead file = ReadWholeFile(path, LargestSettingsFile);
    if (!file.exists || !file.problem.empty()) {
        return RefusedValues(file.folder || file.notAFile || file.tooLarge ? WriteStatus::BadInput : WriteStatus::NotWritten,
                             file.problem.empty() ? path + " cannot be read" : file.problem);
    }
    PresetValues read = ReadPresetText(file.bytes);
    for (std::string& problem : read.problems) problem = path + ": " + problem;
    read.name = existing;
    return read;
}

PresetValues ReadSettingsValues(const std::string& settingsPath) {
    const FileRead file = ReadWholeFile(settingsPath, LargestSettingsFile);
    if (!file.problem.empty()) {
        return RefusedValues(file.folder || file.notAFile || file.tooLarge ? WriteStatus::BadInput : WriteStatus::NotWritten,
                             file.problem);
    }
    PresetValues read;
    read.values = file.exists ? ReadPickupSettings(TextSource(file.bytes)).values : DefaultPickupReading().values;
    read.status = WriteStatus::Written;
    return read;
}

PresetOutcome SavePreset(const std::string& settingsPath, std::string_view name, bool replace, TurnWait wait) {
    if (const std::string problem = PresetNameProblem(name); !problem.empty()) return Refused(WriteStatus::BadInput, problem);
    const PresetValues current = ReadSettingsValues(settingsPath);
    if (!current.values) return Refused(current.status, current.problems.front());
    return SavePresetValues(settingsPath, name, *current.values, replace, wait);
}

PresetOutcome SavePresetValues(const std::string& settingsPath, std::string_view name, const PickupValues& values,
                               bool replace, TurnWait wait) {
    if (const std::string problem = PresetNameProblem(name); !problem.empty()) return Refused(WriteStatus::BadInput, problem);
    const std::string folder = PresetFolder(settingsPath);
    std::error_code error;
    fs::create_directory(folder, error);
    if (error && !fs::is_directory(folder)) {
        const bool there = fs::exists(fs::symlink_status(folder));
        if (there) return Refused(WriteStatus::NotWritten, folder + " is no folder: remove or rename it, then try again");
        return Refused(WriteStatus::NotWritten, FolderNotWritableText(folder), WriteObstacle::FolderNotWritable);
    }
    // The presets of one folder take turns, so that two saves of one name cannot both see none.
    const WriterTurn turn((fs::path(folder) / "presets").string(), wait, {});
    if (!turn.locked()) return Refused(WriteStatus::NotWritten, turn.problem(), turn.obstacle());

    const std::string existing = ExistingPreset(folder, name);
    if (!existing.empty() && !replace) {
        PresetOutcome outcome = Refused(WriteStatus::BadInput, "there is a preset \"" + existing + "\" already");
        outcome.exists = true;
        return outcome;
    }
    const std::string filed = existing.empty() ? std::string(name) : existing;
    const std::string path = PathIn(folder, filed);
    FileTraits traits;
    if (!existing.empty()) {
        if (IsReadOnly(path)) {
            return Refused(WriteStatus::NotWritten, ReadOnlyText(path), WriteObstacle::ReadOnly);
        }
        traits = ReadableFile(path).traits();
    }
    RemoveDeadTemporaries(path);
    const std::string text = PresetText(values, filed);
    const ReplaceResult replaced = ReplaceFileContents(path, text, traits);
    if (!replaced.replaced) return Refused(WriteStatus::NotWritten, replaced.problem, replaced.obstacle);

    PresetOutcome outcome;
    const std::size_t differing = Differing(values).size();
    outcome.done.push_back((existing.empty() ? "saved preset \"" : "replaced preset \"") + filed + "\" as " + path + ": " +
                           (differing == 0 ? std::string("every setting at its default")
                                           : std::to_string(differing) + (differing == 1 ? " setting differs" : " settings differ") +
                                                 " from the defaults"));
    return outcome;
}

PresetOutcome DeletePreset(const std::string& settingsPath, std::string_view name, TurnWait wait) {
    const std::string folder = PresetFolder(settingsPath);
    const auto missing = [&folder, name] {
        PresetOutcome outcome = Refused(WriteStatus::BadInput, "there is no preset \"" + std::string(name) + "\" in " + folder);
        outcome.missing = true;
        return outcome;
    };
    if (!PresetNameProblem(name).empty()) return missing();
    // Saves and removals of one folder take turns: a preset saved meanwhile is not taken away unseen.
    std::error_code error;
    if (!fs::is_directory(folder, error)) return missing();
    const WriterTurn turn((fs::path(folder) / "presets").string(), wait, {});
    if (!turn.locked()) return Refused(WriteStatus::NotWritten, turn.problem(), turn.obstacle());

    const std::string existing = ExistingPreset(folder, name);
    if (existing.empty()) return missing();
    const std::string path = PathIn(folder, existing);
    if (IsReadOnly(path)) return Refused(WriteStatus::NotWritten, ReadOnlyText(path), WriteObstacle::ReadOnly);
    const RemoveResult removed = RemoveOwnFile(path);
    if (!removed.removed) return Refused(WriteStatus::NotWritten, removed.problem, removed.obstacle);
    PresetOutcome outcome;
    outcome.done.push_back("deleted preset \"" + existing + "\", " + path);
    return outcome;
}
