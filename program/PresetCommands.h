// The command line's presets: listing, saving and sharing them, and reading the values that
// applying one or importing a shared text gives the settings file.
#pragma once

#include <optional>
#include <string>
#include <variant>

#include "basis/ExitStatus.h"
#include "src/settings/PickupSettings.h"

enum class PresetAction { None, List, Save, Apply, Export, Import };

struct PresetCommand {
    PresetAction action = PresetAction::None;
    std::string name;    // --save-preset, --apply-preset, --export (empty: the current settings)
    std::string source;  // --import: a file, or "-" for standard input
    bool replace = false;
};

// Runs the command on the settings file in use in the game folder (or the settings file) at
// `subject`. Listing, saving and sharing end there, with their status; applying and importing
// give the values the settings file is to take, or end with the status of their refusal.
std::variant<PickupValues, ExitStatus> RunPresetCommand(const PresetCommand& command, const std::string& subject,
                                                        bool gameFolder);
