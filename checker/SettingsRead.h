// Reading the settings file into the report: the verdicts on it, or, when no file can be
// read, what stands in the way and the defaults that the plug-in then writes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "checker/Report.h"

// Reads the file at `path` (none when empty) into `report`: its verdicts and `read`, and
// remarks on why it could not be read. Gives the version of the bytes checked, empty when
// none were read whole.
std::string ReadSettingsInto(Report& report, const std::string& path);

// The same for a file already read whole: `bytes` as read from the file at `path`, none when
// it does not exist.
std::string CheckSettingsInto(Report& report, const std::string& path, std::optional<std::string_view> bytes);
