#include "page/PageState.h"

#include <optional>
#include <string_view>

#include "page/SettingDescriptions.h"
#include "checker/SettingsRead.h"
#include "basis/Text.h"
#include "edit/FileReplace.h"
#include "edit/SettingsEdit.h"
#include "edit/SettingsWriter.h"
#include "basis/ValueText.h"
#include "src/settings/PickupSettings.h"

using nlohmann::json;

namespace {

json SettingJson(std::size_t index, const FinalSetting& final) {
    const PickupSetting& setting = PickupSettings[index];
    json entry = {{"key", final.key},
                  {"group", GroupName(setting.group)},
                  {"description", SettingDescription(index)},
                  {"kind", final.color ? "color" : "float"}};
    // A colour entry's value and default alike as its five fields in one text, as the writer
    // writes them and the page's fields show them.
    if (final.color) {
        entry["value"] = ColorValueText({final.channels, final.value});
        entry["default"] = ColorValueText({setting.defaultChannels, setting.defaultValue});
    } else {
        entry["value"] = NumberText(final.value, SettingKind::Float);
        entry["default"] = NumberText(setting.defaultValue, SettingKind::Float);
    }
    // What an arrow key adds in the setting's number field: a colour entry's number's step.
    entry["step"] = NumberText(setting.step, SettingKind::Float);
    entry["line"] = final.line;
    entry["piece"] = final.piece;
    return entry;
}

json ProblemJson(const PieceVerdict& piece) {
    json warnings = json::array();
    for (const Note& note : piece.notes) {
        if (IsWarning(note.kind)) warnings.push_back(NoteText(note));
    }
    if (piece.summarisedMore > 0) warnings.push_back(SummaryText(piece));
    return {{"line", piece.line},  {"piece", piece.piece}, {"where", LineAndPiece(piece.line, piece.piece)},
            {"shown", piece.shown}, {"key", piece.key},     {"warnings", std::move(warnings)}};
}

// The writer keeps the backup beside the file that a linked settings file leads to.
std::string BackupPath(const std::string& path) {
    std::string circle;
    const std::string target = LinkTarget(path, circle);
    return (target.empty() ? path : target) + ".bak";
}

}  // namespace

std::string CurrentVersion(const std::string& path) {
    const FileRead file = ReadWholeFile(path, LargestSettingsFile);
    return file.exists && file.problem.empty() ? SettingsVersion(file.bytes) : std::string();
}

namespace {

json StateJson(const PageFile& file, const Report& report, const std::string& version) {
    json remarks = json::array();
    for (const Remark& remark : report.remarks) {
        remarks.push_back({{"warning", remark.warning}, {"text", Utf8FromPathText(remark.text)}});
    }
    const ReportProblems listed = Problems(report);
    json problems = json::array();
    for (const PieceVerdict* piece : listed.pieces) problems.push_back(ProblemJson(*piece));
    json fileProblems = json::array();
    for (const Note* note : listed.leading) fileProblems.push_back(NoteText(*note));
    for (const Note* note : listed.trailing) fileProblems.push_back(NoteText(*note));
    json settings = json::array();
    for (std::size_t i = 0; i < report.check.finals.size(); ++i) settings.push_back(SettingJson(i, report.check.finals[i]));

    return {{"version", version},
            {"file", Utf8FromPathText(file.path)},
            {"backup", Utf8FromPathText(BackupPath(file.path))},
            {"subject", Utf8FromPathText(report.subject)},
            {"remarks", std::move(remarks)},
            {"problems", std::move(problems)},
            {"fileProblems", std::move(fileProblems)},
            {"fromFile", FromFileText(report)},
            {"closing", ClosingText(report)},
            {"groups", SettingGroupNames},
            {"settings", std::move(settings)}};
}

}  // namespace

json PageState(const PageFile& file) {
    Report report = file.folder;
    const std::string version = ReadSettingsInto(report, file.path);
    return StateJson(file, report, version);
}

json PageState(const PageFile& file, const WriteOutcome& written) {
    if (written.seen == FileSeen::NotRead) return PageState(file);
    Report report = file.folder;
    const auto bytes = written.seen == FileSeen::Read ? std::optional<std::string_view>(written.bytes) : std::nullopt;
    const std::string version = CheckSettingsInto(report, file.path, bytes);
    return StateJson(file, report, version);
}

json UnchangedState(const std::string& version) { return {{"version", version}, {"unchanged", true}}; }
