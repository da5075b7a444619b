// A change that the settings page asks for: its JSON body read into a settings write, and
// the writer's outcome turned into the page's answer. Portable, like the page's state.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "page/PageState.h"
#include "edit/SettingsWriter.h"

struct ChangeRequest {
    SettingsWrite write;
    std::string problem;  // why the body is no change the page may ask for; empty when it is
};

// A write against the version of the file that the page showed; an empty one means that it
// showed no file.
SettingsWrite WriteAgainst(std::string expect);

// {"expect": VERSION, "set": [{"key": KEY, "value": TEXT}...], "reset": [KEY...]}: `expect`
// required, at least one setting set or reset, every value a text.
ChangeRequest ParseChange(std::string_view body);

// The answer to a request of the page's script, of a change and of the presets alike.
struct ChangeAnswer {
    int status;                        // the HTTP status
    nlohmann::json body;               // of a change: outcome, done, problems, advice and the state after it
    std::vector<std::string> printed;  // what the console says of it: "changed: ..." and "written: VERSION"
};

// Makes the change in the page's file.
ChangeAnswer MakeChange(const PageFile& file, const SettingsWrite& write);

// The answer to a change that the writer made or refused, or that was refused before it (with
// the state read anew).
ChangeAnswer ChangeAnswerOf(const PageFile& file, WriteOutcome outcome);

// What the player can do about a file not written, in the writer's words; empty when nothing.
std::string WriteAdvice(WriteStatus status, WriteObstacle obstacle);

// Texts of the checker's (paths among them) as the page's JSON list of texts.
nlohmann::json PageTexts(const std::vector<std::string>& texts);
