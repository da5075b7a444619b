#include "page/PagePresets.h"

#include <utility>
#include <vector>

#include "basis/ValueText.h"
#include "presets/Presets.h"

using nlohmann::json;

namespace {

PresetRequest Refused(std::string problem) {
    PresetRequest request;
    request.problem = std::move(problem);
    return request;
}

// Takes member `name` of `body` as a text into `into`; false when it is missing or no text.
bool TakeText(const json& body, const char* name, std::string& into) {
    if (!body.contains(name) || !body[name].is_string()) return false;
    into = body[name].get<std::string>();
    return true;
}

std::string NeedsText(const char* name) { return "The request needs \"" + std::string(name) + "\" as a text."; }

ChangeAnswer JsonOnly(int status, json body) { return {status, std::move(body), {}}; }

ChangeAnswer ProblemsOnly(int status, const std::vector<std::string>& problems) {
    return JsonOnly(status, {{"problems", PageTexts(problems)}});
}

// The writer's advice where it fits a preset's file as well: the folder beside the settings
// file that may not be written. Its other words speak of the settings file alone.
std::string PresetAdvice(const PresetOutcome& outcome) {
    if (outcome.obstacle != WriteObstacle::FolderNotWritable) return {};
    return WriteAdvice(outcome.status, outcome.obstacle);
}

ChangeAnswer PresetAnswer(const PageFile& file, const PresetOutcome& outcome, const char* outcomeName) {
    json body = {{"outcome", outcomeName},
                 {"problems", PageTexts(outcome.problems)},
                 {"done", PageTexts(outcome.done)},
                 {"presets", PagePresetList(file).at("presets")}};
    if (const std::string advice = PresetAdvice(outcome); !advice.empty()) body["advice"] = advice;
    return {200, std::move(body), outcome.done};
}

ChangeAnswer ApplyValues(const PageFile& file, const PresetValues& read, const std::string& expect) {
    if (!read.values) {
        WriteOutcome refused;
        refused.status = read.status;
        refused.problems = read.problems;
        return ChangeAnswerOf(file, std::move(refused));
    }
    SettingsWrite write = WriteAgainst(expect);
    write.values = *read.values;
    return MakeChange(file, write);
}

}  // namespace

PresetRequest ParsePresetRequest(std::string_view body, PresetAsk ask) {
    const json parsed = json::parse(body, nullptr, false);
    if (parsed.is_discarded()) return Refused("The request is not valid JSON.");
    if (!parsed.is_object()) return Refused("The request must be a JSON object.");
    PresetRequest request;
    const bool named = ask == PresetAsk::Save || ask == PresetAsk::Apply || ask == PresetAsk::Delete;
    if (named && !TakeText(parsed, "name", request.name)) return Refused(NeedsText("name"));
    if (ask == PresetAsk::Apply || ask == PresetAsk::ApplyShared) {
        if (!TakeText(parsed, "expect", request.expect)) return Refused(NeedsText("expect"));
    }
    const bool texted = ask == PresetAsk::Preview || ask == PresetAsk::ApplyShared;
    if (texted || (ask == PresetAsk::Save && parsed.contains("text"))) {
        std::string text;
        if (!TakeText(parsed, "text", text)) return Refused(NeedsText("text"));
        request.text = std::move(text);
    }
    if (ask == PresetAsk::Save && parsed.contains("replace")) {
        if (!parsed["replace"].is_boolean()) return Refused("\"replace\" is true or false.");
        request.replace = parsed["replace"].get<bool>();
    }
    return request;
}

json PagePresetList(const PageFile& file) {
    json names = json::array();
    if (!file.path.empty()) {
        for (const std::string& name : ListPresets(PresetFolder(file.path))) names.push_back(name);
    }
    return {{"presets", std::move(names)}};
}

ChangeAnswer PageShareText(const PageFile& file, const std::optional<std::string>& name) {
    if (!name) {
        const PresetValues current = ReadSettingsValues(file.path);
        if (!current.values) return ProblemsOnly(500, current.problems);
        return JsonOnly(200, {{"text", PresetText(*current.values, "")}});
    }
    const PresetValues preset = ReadPreset(file.path, *name);
    // A preset that is there has its name as its file spells it, even when refused.
    if (!preset.values) return ProblemsOnly(preset.name.empty() ? 404 : 422, preset.problems);
    return JsonOnly(200, {{"text", PresetText(*preset.values, preset.name)}});
}

ChangeAnswer PagePreviewShared(const PageFile& file, const PresetRequest& request) {
    const PresetValues shared = ReadSharedText(request.text.value_or(""));
    json changes = json::array();
    if (shared.values) {
        const PresetValues current = ReadSettingsValues(file.path);
        if (!current.values) return ProblemsOnly(500, current.problems);
        for (std::size_t i = 0; i < PickupSettings.size(); ++i) {
            if (SameSettingValue(i, *current.values, *shared.values)) continue;
            changes.push_back({{"key", std::string(PickupSettings[i].key)},
                               {"now", SettingValueText(i, *current.values)},
                               {"then", SettingValueText(i, *shared.values)}});
        }
    }
    return JsonOnly(200, {{"refused", !shared.values},
                          {"name", shared.name},
                          {"problems", PageTexts(shared.problems)},
                          {"changes", std::move(changes)}});
}

// As with a change, the page waits for no other writer of the presets: its player is told at
// once, and may try again, and the page's other changes do not queue behind the wait.
ChangeAnswer PageSavePreset(const PageFile& file, const PresetRequest& request) {
    PresetOutcome outcome;
    if (request.text) {
        const PresetValues shared = ReadSharedText(*request.text);
        if (!shared.values) {
            outcome.status = WriteStatus::BadInput;
            outcome.problems = shared.problems;
            return PresetAnswer(file, outcome, "bad-input");
        }
        outcome = SavePresetValues(file.path, request.name, *shared.values, request.replace, TurnWait::AnswerAtOnce);
    } else {
        outcome = SavePreset(file.path, request.name, request.replace, TurnWait::AnswerAtOnce);
    }
    if (outcome.status == WriteStatus::Written) return PresetAnswer(file, outcome, "written");
    if (outcome.exists) return PresetAnswer(file, outcome, "exists");
    return PresetAnswer(file, outcome, outcome.status == WriteStatus::BadInput ? "bad-input" : "not-written");
}

ChangeAnswer PageDeletePreset(const PageFile& file, const PresetRequest& request) {
    const PresetOutcome outcome = DeletePreset(file.path, request.name, TurnWait::AnswerAtOnce);
    if (outcome.status == WriteStatus::Written) return PresetAnswer(file, outcome, "deleted");
    return PresetAnswer(file, outcome, outcome.missing ? "not-found" : "not-written");
}

ChangeAnswer PageApplyPreset(const PageFile& file, const PresetRequest& request) {
    return ApplyValues(file, ReadPreset(file.path, request.name), request.expect);
}

ChangeAnswer PageApplyShared(const PageFile& file, const PresetRequest& request) {
    return ApplyValues(file, ReadSharedText(request.text.value_or("")), request.expect);
}
