// The settings page's data: the state of the settings file it shows, as JSON for the page's
// script. Portable: the server around it is another part's work.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "checker/Report.h"
#include "edit/SettingsWriter.h"

// The file the page shows and changes, and what the checker found out before it read it.
struct PageFile {
    std::string path;
    std::string defaults;  // the release's file that makes it when it is missing; empty for none
    Report folder;         // the subject and the remarks on the game folder and the file search
};

// The file's version as it stands now; empty when it does not exist or cannot be read whole.
std::string CurrentVersion(const std::string& path);

// The whole state of the file as it stands now: the summary, the problems and all settings.
nlohmann::json PageState(const PageFile& file);

// The same after a change, from the file as the writer left it: read anew only when the writer
// did not read it.
nlohmann::json PageState(const PageFile& file, const WriteOutcome& written);

// Only the version, when the page already shows it: {"version": ..., "unchanged": true}.
nlohmann::json UnchangedState(const std::string& version);
