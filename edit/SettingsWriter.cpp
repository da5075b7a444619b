#include "edit/SettingsWriter.h"

#include <algorithm>

#include "edit/FileReplace.h"
#include "edit/SettingsEdit.h"
#include "basis/TextRule.h"
#include "basis/ValueText.h"
#include "src/settings/PickupSettings.h"

namespace {

// Whether the plug-in would read `bytes` as text at all; the reason when not.
// The checker warns about exactly the files refused here: both judge by the one rule.
std::string NotText(const std::string& bytes) {
    switch (JudgeText(bytes)) {
        case TextVerdict::Utf16:
            return "it is saved as UTF-16 (\"Unicode\"), of which the plug-in reads nothing: save it as ANSI or "
                   "UTF-8 without BOM first";
        case TextVerdict::Binary: return "it is no text file";
        case TextVerdict::Text: break;
    }
    return {};
}

// The text that `value` stands as in the file for setting `index`, or why it cannot.
std::string ValueTextFor(std::size_t index, std::string_view value, const PickupValues& current, std::string& text) {
    if (index < FloatSettingCount) {
        const ValueParse<float> parsed = ParseFloatValue(value, SettingKind::Float);
        if (!parsed.value) return parsed.problem;
        text = ShortestDecimal(*parsed.value, SettingKind::Float);
    } else {
        const ValueParse<PickupColorEntry> parsed = ParseColorValue(value, current.colors[index - FloatSettingCount]);
        if (!parsed.value) return parsed.problem;
        text = ColorValueText(*parsed.value);
    }
    return {};
}

std::string DefaultText(std::size_t index) {
    const PickupSetting& setting = PickupSettings[index];
    if (setting.kind == SettingKind::Float) return ShortestDecimal(setting.defaultValue, SettingKind::Float);
    return ColorValueText({setting.defaultChannels, setting.defaultValue});
}

WriteOutcome Refused(WriteOutcome outcome, WriteStatus status, std::string problem,
                     WriteObstacle obstacle = WriteObstacle::None) {
    outcome.status = status;
    outcome.problems.push_back(std::move(problem));
    outcome.obstacle = obstacle;
    return outcome;
}

}  // namespace

WriteOutcome WriteSettings(const std::string& path, const std::string& defaults, const SettingsWrite& write,
                           TurnWait wait) {
    WriteOutcome outcome;
    std::string circle;
    const std::string target = LinkTarget(path, circle);  // a link is written where it leads, and stays a link
    if (target.empty()) return Refused(outcome, WriteStatus::BadInput, circle);
    FileTraits settings;
    {
        // A folder, a device or a pipe is refused before anything is made beside it.
        const ReadableFile seen(target);
        // A caller that saw no file hears first that there is something now.
        if (seen.kind() == FileKind::Folder || seen.kind() == FileKind::NotAFile) {
            return Refused(outcome, write.expectNoFile ? WriteStatus::NotExpectedVersion : WriteStatus::BadInput,
                           seen.problem());
        }
        if (seen.kind() == FileKind::Missing && target != path) {
            return Refused(outcome, WriteStatus::NoFile,
                           path + " is a link to " + target + ", which does not exist: put the settings file there, "
                                                              "or remove the link");
        }
        settings = seen.traits();
    }
    const WriterTurn turn(target, wait, settings);
    if (!turn.locked()) return Refused(outcome, WriteStatus::NotWritten, turn.problem(), turn.obstacle());
    RemoveDeadTemporaries(target);
    RemoveDeadTemporaries(target + ".bak");  // a run stopped while it replaced the backup

    FileRead file = ReadWholeFile(target, LargestSettingsFile);
    if (file.exists && file.problem.empty()) {
        outcome.seen = FileSeen::Read;
        outcome.bytes = file.bytes;
        outcome.version = SettingsVersion(file.bytes);
    } else if (!file.exists) {
        outcome.seen = FileSeen::Missing;
    }
    if (write.expectNoFile && file.exists) {
        return Refused(outcome, WriteStatus::NotExpectedVersion, path + " exists now, though there was none before");
    }
    if (file.folder || file.notAFile || file.tooLarge) return Refused(outcome, WriteStatus::BadInput, file.problem);
    if (!file.problem.empty()) return Refused(outcome, WriteStatus::NotWritten, file.problem, WriteObstacle::InUse);
    if (!file.exists) {
        if (defaults.empty()) return Refused(outcome, WriteStatus::NoFile, "there is no settings file " + path);
        if (!write.expect.empty()) {
            return Refused(outcome, WriteStatus::NotExpectedVersion, path + " does not exist, so it is no version");
        }
        FileRead start = ReadWholeFile(defaults, LargestSettingsFile);
        if (!start.exists || !start.problem.empty()) {
            return Refused(outcome, WriteStatus::NoFile, "no settings file yet, and " + defaults + " cannot be read");
        }
        file.bytes = std::move(start.bytes);
    }
    if (const std::string notText = NotText(file.bytes); !notText.empty()) {
        return Refused(outcome, WriteStatus::BadInput, path + " is not changed: " + notText);
    }
    if (!write.expect.empty() && write.expect != outcome.version) {
        return Refused(outcome, WriteStatus::NotExpectedVersion,
                       path + " is no longer version " + write.expect + " but " + outcome.version +
                           ": it changed meanwhile. Check it again and give its new version");
    }

    const PickupReading current = ReadPickupSettings(TextSource(file.bytes));
    std::vector<SettingChange> changes;
    if (write.values) {
        for (std::size_t i = 0; i < PickupSettings.size(); ++i) {
            if (!SameSettingValue(i, current.values, *write.values)) changes.push_back({i, SettingValueText(i, *write.values)});
        }
    }
    for (const SettingSet& set : write.sets) {
        const auto index = FindPickupSetting(set.key);
        if (!index) {
            outcome.problems.push_back("unknown key \"" + set.key + "\"");
            continue;
        }
        std::string text;
        if (const std::string problem = ValueTextFor(*index, set.value, current.values, text); !problem.empty()) {
            outcome.problems.push_back(set.key + ": " + problem);
            continue;
        }
        changes.push_back({*index, text});
    }
    for (const std::string& key : write.resets) {
        const auto index = FindPickupSetting(key);
        if (!index) {
            outcome.problems.push_back("unknown key \"" + key + "\"");
        } else if (current.origins[*index].line != 0) {
            changes.push_back({*index, DefaultText(*index)});  // a setting without a line has its default already
        }
    }
    if (!outcome.problems.empty()) {
        outcome.status = WriteStatus::BadInput;
        return outcome;
    }

    EditResult edited = EditSettingsText(file.bytes, current, changes);
    if (!edited.problem.empty()) return Refused(outcome, WriteStatus::NotWritten, edited.problem, WriteObstacle::Other);
    if (file.exists && edited.text == file.bytes) {
        outcome.done.push_back("nothing to change in " + path);
        return outcome;
    }
    if (IsReadOnly(target)) {
        return Refused(outcome, WriteStatus::NotWritten,
                       path + " is read-only: clear \"Read-only\" in its Properties and try again", WriteObstacle::ReadOnly);
    }
    if (file.exists) {
        // The backup may be read by anyone who may read the settings file, and by no one else.
        const ReplaceResult backup = ReplaceFileContents(target + ".bak", file.bytes, file.traits);
        outcome.retries += backup.retries;
        if (!backup.replaced) return Refused(outcome, WriteStatus::NotWritten, backup.problem, backup.obstacle);
        outcome.done.push_back("kept the version before as " + target + ".bak");
    }
    const ReplaceResult replaced = ReplaceFileContents(target, edited.text, file.traits);
    outcome.retries += replaced.retries;
    if (!replaced.replaced) return Refused(outcome, WriteStatus::NotWritten, replaced.problem, replaced.obstacle);
    // Said only once it is so: a refused write made nothing.
    if (!file.exists) outcome.changed.push_back("made " + path + " from " + defaults);
    for (const SettingChange& change : changes) {
        outcome.changed.push_back("set " + std::string(PickupSettings[change.setting].key) + " = " + change.valueText);
    }
    outcome.done.insert(outcome.done.end(), outcome.changed.begin(), outcome.changed.end());
    outcome.version = SettingsVersion(edited.text);
    outcome.seen = FileSeen::Read;
    outcome.bytes = std::move(edited.text);
    return outcome;
}
