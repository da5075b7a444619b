// The checker's report: what it found out about the game folder and the settings file,
// as text for the console and as one self-contained web page. Both lead with a summary
// (the game, the file used, the problems, how much comes from the file), then the settings
// that differ from their defaults; every line's verdict and all 59 values follow on request.
#pragma once

#include <string>
#include <vector>

#include "basis/ExitStatus.h"
#include "checker/SettingsCheck.h"

struct Remark {
    bool warning;
    std::string text;
};

struct Report {
    std::string subject;           // "Game folder: ..." or "Settings file: ..."
    std::vector<Remark> remarks;   // the game's build, then the file search and the first-run copy
    bool read = false;             // whether a settings file was read
    SettingsCheck check;           // its verdicts; only the final values when none was read
};

enum class ReportDetail {
    Summary,  // fits a console window
    All,      // also every line's verdict and the values of all 59 settings
};

// Nothing wrong, warnings, or no settings file read.
ExitStatus ReportStatus(const Report& report);

// The summary's parts, which every form of the report shows in the same words.
// The problems in the order they are listed: notes on the file that must come first (it is no
// text at all), the pieces with a warning, then the other notes on the file as a whole.
struct ReportProblems {
    std::vector<const Note*> leading;
    std::vector<const PieceVerdict*> pieces;
    std::vector<const Note*> trailing;
};
ReportProblems Problems(const Report& report);
// A note's words; a warning's with its label: "warning (decimal comma): ...".
std::string NoteText(const Note& note);
// The line that stands for a summarised piece's repetitions: "... and 3 more like this, ...".
std::string SummaryText(const PieceVerdict& piece);
// How many settings the file sets: "From the file: all 59 settings."
std::string FromFileText(const Report& report);
// The last line: "Nothing looks wrong.", "3 warnings." or that no file was read.
std::string ClosingText(const Report& report);

std::string TextReport(const Report& report, ReportDetail detail);
std::string HtmlReport(const Report& report, ReportDetail detail);
