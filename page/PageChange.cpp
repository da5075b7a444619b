#include "page/PageChange.h"

#include <utility>

#include "basis/Text.h"

using nlohmann::json;

namespace {

ChangeRequest Refused(std::string problem) { return {{}, std::move(problem)}; }

bool IsText(const json& body, const char* member) { return body.contains(member) && body[member].is_string(); }

// A member that may be missing, else an array.
bool IsListOrMissing(const json& body, const char* member) { return !body.contains(member) || body[member].is_array(); }

}  // namespace

std::string WriteAdvice(WriteStatus status, WriteObstacle obstacle) {
    if (status == WriteStatus::NoFile) {
        return "There is no settings file, and none can be made here. Put Glimmerward-defaults.ini from the release "
               "beside the game's executable and start glimmerward-check again.";
    }
    if (status != WriteStatus::NotWritten) return {};
    switch (obstacle) {
        case WriteObstacle::ReadOnly:
            return "The settings file is marked read-only. In Explorer, open its Properties, clear \"Read-only\", then "
                   "make the change again.";
        case WriteObstacle::InUse:
            return "Another program holds the settings file. Close it, then make the change again.";
        case WriteObstacle::AnotherWriter:
            return "Another change of the settings file is being written right now (from another settings page or a "
                   "glimmerward-check command), so nothing was written. Make the change again in a moment.";
        case WriteObstacle::LockNotOurs:
            return "Glimmerward.ini.lock beside the settings file is not one that the checker made (a link, a file of "
                   "another user, or no file at all), so the checker does not use it. Delete Glimmerward.ini.lock (it "
                   "holds nothing), then make the change again.";
        case WriteObstacle::FolderNotWritable:
            return "The settings file's folder may not be written to. If the game lies in a protected folder such as "
                   "Program Files, close the checker's window and start glimmerward-check as administrator "
                   "(right-click it, then \"Run as administrator\"), or move the game to a folder of your own.";
        case WriteObstacle::None:
        case WriteObstacle::Other: break;
    }
    return "Make the change again. If it keeps failing, edit Glimmerward.ini in Notepad instead.";
}

namespace {

struct Outcome {
    const char* name;
    int status;
};

Outcome OutcomeOf(const WriteOutcome& outcome) {
    switch (outcome.status) {
        case WriteStatus::Written: return outcome.changed.empty() ? Outcome{"unchanged", 200} : Outcome{"written", 200};
        case WriteStatus::NotExpectedVersion: return {"stale", 409};
        case WriteStatus::BadInput: return {"bad-input", 422};
        case WriteStatus::NotWritten: return {"not-written", 500};
        case WriteStatus::NoFile: return {"no-file", 500};
    }
    return {"not-written", 500};
}

}  // namespace

json PageTexts(const std::vector<std::string>& texts) {
    json list = json::array();
    for (const std::string& text : texts) list.push_back(Utf8FromPathText(text));
    return list;
}

SettingsWrite WriteAgainst(std::string expect) {
    SettingsWrite write;
    // The writer takes an empty version for any; the page means that it saw no file.
    write.expectNoFile = expect.empty();
    write.expect = std::move(expect);
    return write;
}

ChangeRequest ParseChange(std::string_view body) {
    const json parsed = json::parse(body, nullptr, false);
    if (parsed.is_discarded()) return Refused("The change is not valid JSON.");
    if (!parsed.is_object() || !IsText(parsed, "expect") || !IsListOrMissing(parsed, "set") ||
        !IsListOrMissing(parsed, "reset")) {
        return Refused("The change needs \"expect\" as a text, and \"set\" and \"reset\" as lists.");
    }
    ChangeRequest request;
    request.write = WriteAgainst(parsed["expect"].get<std::string>());
    for (const json& set : parsed.value("set", json::array())) {
        if (!set.is_object() || !IsText(set, "key") || !IsText(set, "value")) {
            return Refused("Each setting set needs \"key\" and \"value\" as texts.");
        }
        const std::string key = set["key"].get<std::string>();
        if (key.find('=') != std::string::npos) return Refused("A setting's key holds no \"=\".");
        request.write.sets.push_back({key, set["value"].get<std::string>()});
    }
    for (const json& reset : parsed.value("reset", json::array())) {
        if (!reset.is_string()) return Refused("Each setting reset is named by its key, as a text.");
        request.write.resets.push_back(reset.get<std::string>());
    }
    if (request.write.sets.empty() && request.write.resets.empty()) return Refused("The change sets or resets no setting.");
    return request;
}

ChangeAnswer MakeChange(const PageFile& file, const SettingsWrite& write) {
    // The page waits for no other writer: its player is told at once, and may try again.
    return ChangeAnswerOf(file, WriteSettings(file.path, file.defaults, write, TurnWait::AnswerAtOnce));
}

ChangeAnswer ChangeAnswerOf(const PageFile& file, WriteOutcome outcome) {
    if (outcome.status == WriteStatus::NotExpectedVersion) {
        // The writer's words name versions for the command line; the page shows the file anew.
        outcome.problems = {"the settings file was changed outside this page (by hand or by another program) since "
                            "the page showed it. The page now shows the file as it is: make the change again if you "
                            "still want it"};
    }
    const Outcome result = OutcomeOf(outcome);
    ChangeAnswer answer{result.status,
                        {{"outcome", result.name},
                         {"done", PageTexts(outcome.changed)},
                         {"problems", PageTexts(outcome.problems)},
                         {"advice", WriteAdvice(outcome.status, outcome.obstacle)},
                         {"state", PageState(file, outcome)}},
                        {}};
    if (!outcome.changed.empty()) {
        for (const std::string& change : outcome.changed) answer.printed.push_back("changed: " + change);
        answer.printed.push_back("written: " + outcome.version);
    }
    return answer;
}
