#include "presets/PresetName.h"

#include <algorithm>
#include <array>

#include "basis/Text.h"

namespace {

constexpr std::string_view NameAdvice =
    "a name is made of letters A to Z, digits, spaces and - _ ( ) ., such as \"Night look (v2)\"";

bool Allowed(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view(" -_().").find(c) != std::string_view::npos;
}

// Windows opens the device, not a file, for these names with any extension ("nul.ini").
bool DeviceName(std::string_view stem) {
    constexpr std::array<std::string_view, 4> Plain{"con", "prn", "aux", "nul"};
    const std::string lowered = AsciiLowered(stem);
    if (std::find(Plain.begin(), Plain.end(), lowered) != Plain.end()) return true;
    return lowered.size() == 4 && (lowered.starts_with("com") || lowered.starts_with("lpt")) && lowered[3] >= '1' &&
           lowered[3] <= '9';
}

}  // namespace

std::string PresetNameProblem(std::string_view name) {
    if (name.empty()) return "the preset needs a name: " + std::string(NameAdvice);
    if (name.size() > LongestPresetName) {
        return "the name is " + std::to_string(name.size()) + " characters long, but a preset's name has at most " +
               std::to_string(LongestPresetName);
    }
    if (const auto wrong = std::find_if_not(name.begin(), name.end(), Allowed); wrong != name.end()) {
        const auto byte = static_cast<unsigned char>(*wrong);
        const std::string shown = byte >= 0x20 && byte < 0x7F ? "\"" + std::string(1, *wrong) + "\""
                                                              : "the byte 0x" + HexByte(byte);
        return "a preset's name may not hold " + shown + ": " + std::string(NameAdvice);
    }
    if (name.back() == '.' || name.back() == ' ') {
        return "a preset's name may not end in a dot or a space, which Windows drops from file names";
    }
    if (DeviceName(name.substr(0, name.find('.')))) {
        return "\"" + std::string(name.substr(0, name.find('.'))) +
               "\" is the name of a Windows device, which no file may have: choose another name";
    }
    return {};
}
