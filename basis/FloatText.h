// Printing the values the plug-in writes so that a player can type them back.
#pragma once

#include <string>

// The shortest text that the plug-in's own conversion reads back to exactly these bits:
// "1.5", "-0", "inf", "nan", or more digits where the shortest form would round elsewhere.
std::string RoundTripText(float value);

// The float's bits as "0x3FC00000".
std::string BitsText(float value);
