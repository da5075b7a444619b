// What the checker tells of a game folder before it reads the settings file: the game's build,
// the first-run copy and where the plug-in finds the file. Each step adds remarks to a report.
#pragma once

#include <string>

#include "checker/Report.h"

// The game's build, from the executables in the folder; whether any is a game at all.
bool DescribeBuilds(const std::string& folder, Report& report);

// Where the folder holds no settings file yet but the release's beside the game, copies that
// one to the settings file's name there. The only step that writes: an existing file is never
// replaced.
void MakeFirstRunCopy(const std::string& folder, bool hasGame, Report& report);

// The settings file the plug-in reads in the folder, the ones it shadows and the ones saved
// under a near name; empty when the folder's path is too long for the plug-in. Writes nothing.
std::string DescribeSearch(const std::string& folder, Report& report);
