// The stand-in host as a program: loads the plug-in, executes the hooked call once, shows
// every value the plug-in wrote into the host, unloads it and checks that the host's code
// is as it was.
//
//   GlimmerwardHost [--build 100|110|120] [--dll PATH]
#include <windows.h>

#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "src/settings/LocateSettingsFile.h"
#include "src/settings/PickupSettings.h"
#include "standin/StandInHost.h"

namespace {

std::string Shortest(float value) {
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    return std::string(text, written.ptr);
}

std::string Hex(const std::array<std::uint8_t, 5>& bytes) {
    std::string text;
    for (const std::uint8_t byte : bytes) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X ", byte);
        text += pair;
    }
    text.pop_back();
    return text;
}

int Run(HostVersion build, const char* dll) {
    StandInHost::Become(build);
    const HostAddress site = StandInHost::BuildOf(build).callSite;
    const auto original = StandInHost::CallSiteBytes(build);

    char settingsPath[SettingsPathSize];
    LocateSettingsFile(settingsPath);  // where the plug-in will look, from this same executable
    // Read as the plug-in reads it, for where each value comes from.
    const PickupReading reading = ReadPickupSettingsFile(settingsPath);
    const auto from = [&reading](std::size_t setting) { return reading.origins[setting].line ? "file" : "default"; };
    const bool found = GetFileAttributesA(settingsPath) != INVALID_FILE_ATTRIBUTES;

    std::printf("Glimmerward in the stand-in host: build %d, image at 0x%08lX\n", int(build),
                static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr))));
    std::printf("settings file: %s (%s)\n", settingsPath[0] ? settingsPath : "<none: path too long>",
                found ? "found" : "not found: every value is its default");

    const HMODULE plugin = LoadLibraryA(dll);
    if (!plugin) {
        std::printf("cannot load %s: error %lu\n", dll, GetLastError());
        return 1;
    }
    const auto patched = StandInHost::CallSiteBytes(build);
    std::printf("loaded %s; call site 0x%06X: %s -> %s\n", dll, site, Hex(original).c_str(), Hex(patched).c_str());

    const int callsBefore = StandInHost::CalleeCalls();
    void* const result = StandInHost::RunCallSite(build);
    std::printf("hooked call executed: the host's callee ran %d time(s), the host got %p (callee's own: %p)\n\n",
                StandInHost::CalleeCalls() - callsBefore, result, StandInHost::CalleeResult());

    std::printf("%-26s %-10s %14s  %s\n", "setting", "address", "value", "from");
    for (std::size_t i = 0; i < FloatSettings.size(); ++i) {
        const PickupSetting& setting = FloatSettings[i];
        const std::uint32_t bits = StandInHost::FloatBitsAt(setting.address);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        std::printf("%-26s 0x%06X %14s  %s\n", setting.key.data(), setting.address, Shortest(value).c_str(), from(i));
    }
    std::printf("\n%-16s %-10s %-17s %10s  %s\n", "colour entry", "address", "channels 0-3", "value", "from");
    const auto table = StandInHost::ColorTable();
    for (std::size_t n = 0; n < ColorSettings.size(); ++n) {
        const PickupSetting& setting = ColorSettings[n];
        PickupColorEntry entry;
        std::memcpy(&entry, &table[n * sizeof entry], sizeof entry);
        std::printf("%-16s 0x%06X %3d %3d %3d %3d  %10s  %s\n", setting.key.data(), setting.address, entry.channels[0],
                    entry.channels[1], entry.channels[2], entry.channels[3], Shortest(entry.value).c_str(),
                    from(FloatSettingCount + n));
    }

    FreeLibrary(plugin);
    const bool restored = StandInHost::CallSiteBytes(build) == original;
    std::printf("\nunloaded; call site 0x%06X: %s (%s)\n", site, Hex(StandInHost::CallSiteBytes(build)).c_str(),
                restored ? "restored: the host's own bytes" : "NOT restored");
    return restored ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
    HostVersion build = 110;
    const char* dll = "Glimmerward.dll";
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--build" && i + 1 < argc) {
            build = std::atoi(argv[++i]);
        } else if (arg == "--dll" && i + 1 < argc) {
            dll = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--build 100|110|120] [--dll PATH]\n", argv[0]);
            return 1;
        }
    }
    if (build != 100 && build != 110 && build != 120) {
        std::fprintf(stderr, "unknown build %d: the stand-in host can be 100, 110 or 120\n", int(build));
        return 1;
    }
    return Run(build, dll);
}
