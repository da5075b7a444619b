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

// {"expect": VERSION, "set": [{"key": KEY, "value": TEXT}...], "reset": [KEY...]}: `expect`
// required, at least one setting set or reset, every value a text.
ChangeRequest ParseChange(std::string_view body);

struct ChangeAnswer {
    int status;                        // the HTTP status
    nlohmann::json body;               // outcome, done, problems, advice and the state after it
    std::vector<std::string> printed;  // what the console says of it: "changed: ..." and "written: VERSION"
};

// Makes the change in the page's file.
ChangeAnswer MakeChange(const PageFile& file, const SettingsWrite& write);
