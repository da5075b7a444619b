// The checker's exit statuses: what a script running it learns from the number alone. The
// report, the writer's outcomes and the command line all end with one of these.
#pragma once

#include <array>
#include <string>
#include <string_view>

enum class ExitStatus : int {
    NothingWrong = 0,
    Warnings = 1,
    NoSettingsFile = 2,      // none could be read, or made
    UsageError = 3,          // a mistaken command line, an unknown key or a bad value
    OutputNotWritten = 4,    // the page or the settings file could not be written
    NotExpectedVersion = 5,  // the settings file is no longer the version given
};

struct ExitStatusRow {
    ExitStatus status;
    std::string_view meaning;  // for the usage text: "exit status: 0 nothing looks wrong, ..."
};

inline constexpr std::array<ExitStatusRow, 6> ExitStatuses{{
    {ExitStatus::NothingWrong, "nothing looks wrong"},
    {ExitStatus::Warnings, "warnings"},
    {ExitStatus::NoSettingsFile, "no settings file could be read (or made)"},
    {ExitStatus::UsageError, "a usage error (an unknown key or a bad value too)"},
    {ExitStatus::OutputNotWritten, "an output (the page, or the settings file) could not be written"},
    {ExitStatus::NotExpectedVersion, "the file is no longer the expected version"},
}};

constexpr int StatusCode(ExitStatus status) { return static_cast<int>(status); }

// "exit status: 0 nothing looks wrong, 1 warnings, ...", wrapped for a console window.
std::string ExitStatusText();
