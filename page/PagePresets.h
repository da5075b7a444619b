// The presets that the settings page keeps and the shared texts it passes on: the requests'
// JSON bodies read, and the presets' outcomes turned into the page's answers. Portable, like
// the page's changes; every answer's body is JSON.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "page/PageChange.h"
#include "page/PageState.h"

enum class PresetAsk {
    Save,         // {"name": N, "replace": false, "text": T}: "replace" and "text" may be left out
    Apply,        // {"name": N, "expect": VERSION}
    Delete,       // {"name": N}
    Preview,      // {"text": T}
    ApplyShared,  // {"text": T, "expect": VERSION}
};

struct PresetRequest {
    std::string name;
    bool replace = false;
    std::optional<std::string> text;
    std::string expect;
    std::string problem;  // why the body is no such request; empty when it is
};

// Reads the body of a request of kind `ask`: every member it needs, of its type.
PresetRequest ParsePresetRequest(std::string_view body, PresetAsk ask);

// {"presets": [NAME...]}: the presets beside the page's file, as ListPresets orders them.
nlohmann::json PagePresetList(const PageFile& file);

// The share text {"text": T} of the current settings, or with a name of that preset; 404 with
// {"problems": [...]} when there is no such preset.
ChangeAnswer PageShareText(const PageFile& file, const std::optional<std::string>& name);

// What a shared text would change, writing nothing: {"refused", "name", "problems", "changes":
// [{"key", "now", "then"}...]}, refused only when it is no text at all.
ChangeAnswer PagePreviewShared(const PageFile& file, const PresetRequest& request);

// Saves the current settings, or those a shared text gives, as a preset: {"outcome":
// "written"|"exists"|"bad-input"|"not-written", "problems", "advice" (when there is some),
// "done", "presets"}. Console lines in `printed`.
ChangeAnswer PageSavePreset(const PageFile& file, const PresetRequest& request);

// Removes a preset: {"outcome": "deleted"|"not-found"|"not-written", "problems", "advice"
// (when there is some), "presets"}.
ChangeAnswer PageDeletePreset(const PageFile& file, const PresetRequest& request);

// Applies a preset, or what the plug-in reads from a shared text, as one change through the
// writer, answered as a change is.
ChangeAnswer PageApplyPreset(const PageFile& file, const PresetRequest& request);
ChangeAnswer PageApplyShared(const PageFile& file, const PresetRequest& request);
