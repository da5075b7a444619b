// The host's side of a live test: the real plug-in's hooked call run again and again while a
// writer, a process of its own, changes the settings file, and a look at the 59 values after
// each call to tell which version of the file they came from.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "basis/ValueText.h"
#include "src/settings/PickupSettings.h"
#include "standin/HostImage.h"
#include "standin/StandInHost.h"
#include "tests/edit/LiveVersions.h"

namespace LiveHost {

// What one look at the host's 59 values found.
struct Look {
    std::optional<int> version;  // when every value is of this one version
    std::string what;            // otherwise the values' versions, for the failure message
};

inline Look LookAtHost() {
    std::optional<int> versions[PickupSettingCount];
    for (std::size_t i = 0; i < FloatSettingCount; ++i) {
        versions[i] = LiveVersions::VersionOfFloat(i, StandInHost::FloatBitsAt(FloatSettings[i].address));
    }
    const StandInHost::ColorTableBytes table = StandInHost::ColorTable();
    for (std::size_t n = 0; n < ColorSettings.size(); ++n) {
        versions[FloatSettingCount + n] =
            LiveVersions::VersionOfColor(static_cast<int>(n), table.data() + n * Host::Pickup::ColorEntrySize);
    }
    Look look;
    bool same = true;
    for (const auto& version : versions) same = same && version && *version == *versions[0];
    if (same) {
        look.version = versions[0];
        return look;
    }
    // Each value's version, and a value of none as it is.
    for (std::size_t i = 0; i < PickupSettingCount; ++i) {
        look.what += std::string(PickupSettings[i].key) + ":";
        if (versions[i]) {
            look.what += std::to_string(*versions[i]);
        } else if (i < FloatSettingCount) {
            look.what += "none(" + ShortestDecimal(std::bit_cast<float>(StandInHost::FloatBitsAt(FloatSettings[i].address)),
                                                   SettingKind::Float) + ")";
        } else {
            PickupColorEntry entry;
            std::memcpy(&entry, table.data() + (i - FloatSettingCount) * Host::Pickup::ColorEntrySize, sizeof entry);
            look.what += "none(" + ColorValueText(entry) + ")";
        }
        look.what += " ";
    }
    return look;
}

// Version k of the settings file as a player's file would hold it: a comment, then all 59 lines.
inline void WriteVersion(const std::filesystem::path& file, int k, std::string_view comment) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << "; " << comment << "\r\n";
    for (const SettingSet& set : LiveVersions::Sets(k)) out << set.key << " = " << set.value << "\r\n";
}

// Starts `program` from beside the test with `arguments`, then, as the game's thread does, runs
// the hooked call of `build` again and again until it has ended, and once more for the file it
// left; `afterCall` looks at the host after each call. Gives the writer's exit status, or
// nothing (with a failure) when it could not start.
template <class AfterCall>
std::optional<DWORD> CallWhileWriting(const std::string& program, const std::string& arguments, HostVersion build,
                                      AfterCall afterCall) {
    std::string command = "\"" + (StandInHost::HostFolder() / program).string() + "\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION writer{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &writer)) {
        ADD_FAILURE() << "cannot start " << program << ": error " << GetLastError();
        return std::nullopt;
    }
    CloseHandle(writer.hThread);
    const auto callAndLook = [&] {
        StandInHost::RunCallSite(build);
        afterCall();
    };
    while (WaitForSingleObject(writer.hProcess, 0) == WAIT_TIMEOUT) callAndLook();
    DWORD status = 1;
    GetExitCodeProcess(writer.hProcess, &status);
    CloseHandle(writer.hProcess);
    callAndLook();
    return status;
}

}  // namespace LiveHost
