// The checker's report: what it found out about the game folder and the settings file,
// as text for the console and as one self-contained web page.
#pragma once

#include <string>
#include <vector>

#include "checker/SettingsCheck.h"

struct Remark {
    bool warning;
    std::string text;
};

struct Report {
    std::string subject;           // "Game folder: ..." or "Settings file: ..."
    std::vector<Remark> remarks;   // the search, the builds, the first-run copy
    bool read = false;             // whether a settings file was read
    SettingsCheck check;           // its verdicts; only the final values when none was read
};

// 0 when nothing looks wrong, 1 with warnings, 2 when no settings file could be read.
int ExitStatus(const Report& report);

std::string TextReport(const Report& report);
std::string HtmlReport(const Report& report);
