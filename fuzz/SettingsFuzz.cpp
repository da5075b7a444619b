// Feeds arbitrary bytes to the settings reader and to the number scanning, and checks
// the number conversion against the C library's strtod and strtof, which in the "C"
// locale follow ISO C to the letter.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "settings/NumberScan.h"
#include "settings/PickupSettings.h"
#include "settings/SettingsFile.h"

namespace {

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

bool SameNumber(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b);
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void CheckNumbers(std::string_view text) {
    const std::string terminated(text.substr(0, text.find('\0')));  // the C library stops at NUL too
    Check(SameNumber(std::strtod(terminated.c_str(), nullptr), ConvertFloatPrefix(text)), "atof conversion differs from strtod");

    // A "%f" field that matches is exactly what strtof reads at the same place.
    if (const auto field = ScanFloatField(text, 0)) {
        char* end = nullptr;
        const float reference = std::strtof(terminated.c_str(), &end);
        Check(static_cast<std::size_t>(end - terminated.c_str()) == field->end, "float field ends elsewhere than strtof");
        Check(SameNumber(reference, field->value), "float field differs from strtof");
    }
    if (const auto field = ScanIntField(text, 0)) Check(field->end <= text.size(), "int field runs past the text");
    ScanPickupColor(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckNumbers(text);

    const SettingsMap settings = ParseSettingsText(text);
    std::optional<std::string_view> previous;
    for (const auto& [key, value] : settings) {
        Check(!previous || *previous < key, "keys out of byte order");  // string_view compares as unsigned bytes
        previous = key;
        Check(settings.lookup(key) == value, "a key's lookup misses its own entry");
        Check(key.find_first_of(std::string_view("\n\0", 2)) == std::string::npos, "line end or NUL in a key");
        Check(key.empty() || (key.front() != ' ' && key.front() != '\t'), "leading blank in a key");
        Check(key.empty() || (key.back() != ' ' && key.back() != '\t'), "trailing blank in a key");
        Check(value.empty() || std::string_view(" \t\r\n").find(value.back()) == std::string_view::npos, "trailing blank in a value");
        Check(value.empty() || (value.front() != ' ' && value.front() != '\t'), "leading blank in a value");
        Check(key.size() + value.size() < 255, "an entry longer than its line piece");
        CheckNumbers(value);
    }
    WritePickupSettings(settings, [](HostAddress address, const void*, std::size_t bytes) {
        Check(address >= Host::DataBegin && address + bytes <= Host::DataEnd, "a store outside the host's data");
    });
    return 0;
}
