// The complete versions of the settings file that the writer cycles through while the
// host reads it, shared by the writer and by the host that judges what it reads.
// They differ in every value, in which keys they hold, in line ends and in spacing, so
// that a read of any of them, or of a piece of one, shows in the host's values.
#pragma once

#include <string>
#include <vector>

#include "src/settings/PickupSettings.h"

namespace SoakSettings {

inline std::vector<std::string> Versions() {
    std::vector<std::string> versions;

    // Every key, plain decimals, LF line ends.
    std::string all = "# every key\n";
    for (std::size_t i = 0; i < FloatSettings.size(); ++i) {
        all += std::string(FloatSettings[i].key) + " = " + std::to_string(10 + static_cast<int>(i)) + ".25\n";
    }
    for (int n = 0; n < Host::Pickup::ColorEntryCount; ++n) {
        all += std::string(ColorSettings[std::size_t(n)].key) + " = " + std::to_string(n) + " " + std::to_string(2 * n) + " " +
               std::to_string(3 * n) + " " + std::to_string(4 * n) + " " + std::to_string(n) + ".5\n";
    }
    versions.push_back(all);

    // Half of the keys, CR LF line ends, comments and a section header, blanks around.
    std::string half = "; some keys\r\n[Pickups]\r\n";
    for (std::size_t i = 0; i < FloatSettings.size(); i += 2) {
        half += "\t" + std::string(FloatSettings[i].key) + "\t=  -" + std::to_string(i + 1) + ".0625 ; note\r\n";
    }
    for (int n = 0; n < Host::Pickup::ColorEntryCount; n += 2) {
        half += std::string(ColorSettings[std::size_t(n)].key) + "=" + std::to_string(200 + n) + " 17 " + std::to_string(250 - n) +
                "   9   0.03125\r\n";
    }
    versions.push_back(half);

    // Every key again: long fractions, channels out of range and negative, hex floats.
    std::string odd;
    for (std::size_t i = 0; i < FloatSettings.size(); ++i) {
        odd += std::string(FloatSettings[i].key) + "=" + std::to_string(i) + ".123456789e" + std::to_string(i % 5) + "\n";
    }
    for (int n = 0; n < Host::Pickup::ColorEntryCount; ++n) {
        odd += std::string(ColorSettings[std::size_t(n)].key) + " = " + std::to_string(300 + n) + " -" + std::to_string(n + 1) +
               " 4294967296" + std::to_string(n % 10) + " 65535 0x1.8p" + std::to_string(n % 7) + "\n";
    }
    versions.push_back(odd);

    // A few keys, then a Ctrl-Z: what follows it is never read.
    versions.push_back("PickupSize = 7\nPickupColor_43 = 1 2 3 4 5\nTurnSpeed = 0.5\x1A"
                       "TextAlpha = 99\nPickupColor_0 = 9 9 9 9 9\n");
    return versions;
}

}  // namespace SoakSettings
