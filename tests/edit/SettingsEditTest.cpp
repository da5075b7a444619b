// Changing settings in a text: exactly the expected bytes change, and the plug-in's own
// reader then gives the new values for the changed settings and the old ones for the rest.
#include "edit/SettingsEdit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "src/settings/PickupSettings.h"

namespace {

std::size_t Index(std::string_view key) { return *FindPickupSetting(key); }

SettingChange Set(std::string_view key, std::string value) { return {Index(key), std::move(value)}; }

const std::string LongLine = "TextAlpha = 1" + std::string(250, ' ') + "PickupSize = 4 ; two keys on one long line";

TEST(EditSettingsText, ChangesOnlyTheValueTextOfTheWinningLineOrAddsALineAtTheEnd) {
    struct Case {
        const char* name;
        std::string before;
        std::vector<SettingChange> changes;
        std::string after;
    };
    const Case cases[] = {
        {"CR LF", "; note\r\nPickupSize = 1.2\r\nTurnSpeed=0.5\r\n", {Set("PickupSize", "3")},
         "; note\r\nPickupSize = 3\r\nTurnSpeed=0.5\r\n"},
        {"LF, spacing kept", "\tPickupSize\t=   1.2  \nx\n", {Set("PickupSize", "-0")}, "\tPickupSize\t=   -0  \nx\n"},
        {"the whole value text, a comment after it included", "TextAlpha = 200 # brighter\r\n", {Set("TextAlpha", "100")},
         "TextAlpha = 100\r\n"},
        {"the last of duplicates", "PickupSize = 1\nPickupSize = 2\n", {Set("PickupSize", "5")},
         "PickupSize = 1\nPickupSize = 5\n"},
        {"a default only: a new line at the end", "PickupSize = 1\r\n", {Set("TurnSpeed", "0.25")},
         "PickupSize = 1\r\nTurnSpeed = 0.25\r\n"},
        {"no final line end", "PickupSize = 1", {Set("TurnSpeed", "0.25")}, "PickupSize = 1\r\nTurnSpeed = 0.25\r\n"},
        {"mixed line ends: the one used most", "a = 1\nb = 2\nc = 3\r\n", {Set("TurnSpeed", "1")},
         "a = 1\nb = 2\nc = 3\r\nTurnSpeed = 1\n"},
        {"an empty file", "", {Set("PickupColor_5", "255 0 0 0 1")}, "PickupColor_5 = 255 0 0 0 1\r\n"},
        {"before a Ctrl-Z", "PickupSize = 1\r\n\x1A" "TurnSpeed = 9\r\n", {Set("TurnSpeed", "2")},
         "PickupSize = 1\r\nTurnSpeed = 2\r\n\x1A" "TurnSpeed = 9\r\n"},
        {"a Ctrl-Z in a line", "PickupSize = 1\x1Agarbage", {Set("PickupSize", "2")}, "PickupSize = 2\x1Agarbage"},
        {"one piece of a long line: the line stays", LongLine + "\n", {Set("PickupSize", "7"), Set("TextAlpha", "8")},
         LongLine + "\nPickupSize = 7\nTextAlpha = 8\n"},
        {"a colour entry", "PickupColor_43 = 1 2 3 4 5\r\n", {Set("PickupColor_43", "0 0 0 0 0.5")},
         "PickupColor_43 = 0 0 0 0 0.5\r\n"},
        {"a NUL in the line: it stays", std::string("PickupSize = 1\0x\n", 17), {Set("PickupSize", "2")},
         std::string("PickupSize = 1\0x\nPickupSize = 2\n", 32)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const EditResult result = EditSettingsText(c.before, c.changes);
        EXPECT_EQ("", result.problem);
        EXPECT_EQ(c.after, result.text);

        // The plug-in's reading: the new values where asked, the old ones elsewhere.
        PickupValues expected = ReadPickupSettings(TextSource(c.before)).values;
        for (const SettingChange& change : c.changes) {
            if (change.setting < FloatSettingCount) {
                expected.floats[change.setting] = static_cast<float>(std::stod(change.valueText));
            } else {
                expected.colors[change.setting - FloatSettingCount] = ScanPickupColor(change.valueText);
            }
        }
        const PickupValues after = ReadPickupSettings(TextSource(result.text)).values;
        EXPECT_EQ(0, std::memcmp(&expected, &after, sizeof after));
    }
}

TEST(EditSettingsText, AnEditThatWouldChangeMoreThanAskedLeavesTheTextAsItIs) {
    // A value text with a line end in it would set another setting too.
    const EditResult result = EditSettingsText("PickupSize = 1\n", {Set("PickupSize", "2\nTurnSpeed = 9")});
    EXPECT_NE("", result.problem);
    EXPECT_EQ("PickupSize = 1\n", result.text);
}

}  // namespace
