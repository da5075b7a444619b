// Changing settings in the text of a settings file the way a careful person would by hand:
// only the value's text changes, in the line that sets it, and everything else stays byte for
// byte. Portable: the text comes and goes as bytes; writing the file is another part's work.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "src/settings/PickupSettings.h"

// One setting's new value, as its text will stand in the file (already checked and formed).
struct SettingChange {
    std::size_t setting;  // index in PickupSettings
    std::string valueText;
};

struct EditResult {
    std::string text;     // the new text; the old one when `problem` is set
    std::string problem;  // empty when the edit is exact
};

// The text with `changes` made, each setting's in turn:
// - in the line whose entry wins for that key (the last one), the whole value text is
//   replaced and the key and the spacing before the value stay;
// - a setting that only had its default, or whose winning entry is one piece of a line longer
//   than 255 bytes, or one that the new value would make longer, gets a new line at the end of
//   the text: after a final line end (added where the last line has none) and before a
//   Ctrl-Z, with the line ending the text uses most (CR LF in a text without any).
// The result is read back as the plug-in reads it: every changed setting must give its new
// value and every other setting its old one, or nothing is changed and `problem` says why.
EditResult EditSettingsText(std::string_view text, const std::vector<SettingChange>& changes);
// The same for a caller that has read the text already: `before` is what ReadPickupSettings
// gives for it.
EditResult EditSettingsText(std::string_view text, const PickupReading& before, const std::vector<SettingChange>& changes);
