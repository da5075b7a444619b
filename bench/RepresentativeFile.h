// The settings file the benchmarks read: every key, comment lines and CR LF line ends,
// about 2.5 KB, as a player's file would look.
#pragma once

#include <cstdio>
#include <string>

inline std::string RepresentativeFile() {
    std::string text = "; Glimmerward pickup appearance\r\n; values use a point as decimal separator\r\n\r\n";
    text += "; the weapon circles around a pickup\r\n";
    const char* floats[] = {
        "WeaponCircles_ScaleX = 2.0", "WeaponCircles_ScaleY = -2.0", "WeaponCircles_Distance = 40.0",
        "WeaponCircles_OuterSize = 0.76", "WeaponCircles_AlphaPlus = 22.0", "WeaponCircles_AlphaMinus = -22.0",
        "; the pickup itself", "PickupSize = 1.2", "TurnSpeed = 0.0030566407",
        "; text shown at pickups", "TextDistance = 14.0", "TextMoveY = 0.7", "TextAlpha = 255.0",
        "; effects", "EffectStrength = 1.5", "EffectDistance = 65.0", "Size2DFX = -0.5", "Distance2DFX = 50.0",
    };
    for (const char* line : floats) text.append(line).append("\r\n");
    text += "\r\n; colours: red green blue alpha, then the effect scale\r\n";
    for (int n = 0; n < 44; ++n) {
        char line[64];
        std::snprintf(line, sizeof line, "PickupColor_%d = %d %d %d 0 1.0\r\n", n, 97 + n, 194 - n, 247 - 2 * n);
        text += line;
    }
    return text;
}
