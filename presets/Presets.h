// Presets: named looks kept as plain settings files in the folder "Glimmerward-presets" beside
// the settings file in use, and the share text that passes one to another player. A preset
// holds the settings whose values differ from their defaults; applying it makes all 59
// settings its values, through the settings writer, as one new version of the settings file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "edit/SettingsWriter.h"
#include "src/settings/PickupSettings.h"

inline constexpr std::string_view PresetFolderName = "Glimmerward-presets";
// A preset is a settings file, and named as one: a player opens it with the same editor.
inline constexpr std::string_view PresetExtension = ".ini";
// The largest shared text taken, and the largest preset file.
inline constexpr std::size_t LargestShareText = 64u << 10;

// The presets folder of the settings file at `settingsPath`: beside it.
std::string PresetFolder(const std::string& settingsPath);

// The text of a preset, and the share text: a two-line comment header with the preset's name
// (none for the current settings) and what made it, then "key = value" for every setting
// whose value differs from its default, bit for bit, in the table's order, each value as
// SettingValueText writes it. No path, user or machine name. Lines end in LF.
std::string PresetText(const PickupValues& values, std::string_view name);

// The presets in `folder`: its regular files named "<NAME>.ini" (the extension in any case)
// whose NAME is a preset's name, sorted without regard to case.
std::vector<std::string> ListPresets(const std::string& folder);

// What a preset command did, or why it did nothing; the status is the command line's.
struct PresetOutcome {
    WriteStatus status = WriteStatus::Written;
    std::vector<std::string> done;      // for the player, in order
    std::vector<std::string> problems;  // why nothing was written
    WriteObstacle obstacle = WriteObstacle::None;  // what kept a NotWritten preset from being written or removed
    bool exists = false;  // a save refused only because a preset of that name is there and `replace` was not given
    bool missing = false;  // a removal refused because there is no preset of that name
};

// Saves the values the plug-in takes from the settings file at `settingsPath` (every default
// when there is none) as preset `name`, made like the settings file: a temporary file, then
// one replacement, keeping a replaced preset's mode and attributes. A preset of that name in
// any case is replaced only with `replace`, and keeps its file's name. Saves and removals in
// one presets folder take turns; `wait` says whether to wait for one.
PresetOutcome SavePreset(const std::string& settingsPath, std::string_view name, bool replace,
                         TurnWait wait = TurnWait::WaitForTurn);

// The same for `values` instead of the settings file's.
PresetOutcome SavePresetValues(const std::string& settingsPath, std::string_view name, const PickupValues& values,
                               bool replace, TurnWait wait = TurnWait::WaitForTurn);

// Removes preset `name` (matched without regard to case) from the presets folder of the
// settings file at `settingsPath`: only the player's own regular file of that name, never a
// link or what it leads to. A preset marked read-only is refused, as for a save over it.
PresetOutcome DeletePreset(const std::string& settingsPath, std::string_view name,
                           TurnWait wait = TurnWait::WaitForTurn);

// The values of a preset or a shared text, or the problems that refuse it.
struct PresetValues {
    std::optional<PickupValues> values;
    // In the checker's words, each with its line: why it is refused, or (from ReadSharedText)
    // what the plug-in reads otherwise than the text seems to say.
    std::vector<std::string> problems;
    // The preset's name as its file spells it; for a shared text, the name its header gives
    // when that is a preset's name, else empty.
    std::string name;
    WriteStatus status = WriteStatus::BadInput;  // when refused
    bool missing = false;  // refused because there is no preset of that name
};

// The values that the plug-in reads from a shared text, with the checker's warnings about its
// lines, refused only when it is no text at all: larger than 64 KiB, UTF-16, with NUL bytes
// or too many control bytes, or nothing but blanks. An infinity, NaN or denormal in exactly
// the text that a preset writes for it draws no warning: the text round-trips every bit, as
// the sender's game had it.
PresetValues ReadSharedText(std::string_view text);

// ReadSharedText's reading of a shared text or a preset's file, refused as well when the
// checker warns about any of its lines.
PresetValues ReadPresetText(std::string_view text);

// The name in the header that PresetText writes ("# Glimmerward preset: NAME"), on the first
// line that is not blank; empty when there is none or it is no preset's name.
std::string SharedTextName(std::string_view text);

// Preset `name` from the presets folder of the settings file at `settingsPath`, read as
// ReadPresetText reads a shared text; matched without regard to case.
PresetValues ReadPreset(const std::string& settingsPath, std::string_view name);

// The values the plug-in takes from the settings file at `settingsPath`: every default when
// there is none; refused when it cannot be read.
PresetValues ReadSettingsValues(const std::string& settingsPath);
