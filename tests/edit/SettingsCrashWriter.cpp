// The writer that the crash test kills: makes versions FIRST, FIRST + 1, ... of the settings
// file through WriteSettings, each a change of all 59 settings, and says "ready" on its output
// before the first and the version's number after each one written, until it is killed. When
// the test is gone, its next line meets a closed pipe and ends it.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "edit/SettingsWriter.h"
#include "src/settings/PickupSettings.h"
#include "tests/edit/CrashVersions.h"

namespace {

void Say(const std::string& line) {
    for (std::size_t done = 0; done < line.size();) {
        const ssize_t wrote = ::write(STDOUT_FILENO, line.data() + done, line.size() - done);
        if (wrote <= 0) _exit(1);
        done += static_cast<std::size_t>(wrote);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: settings_crash_writer SETTINGS_FILE FIRST_VERSION\n");
        return 2;
    }
    const std::string path = argv[1];
    const unsigned long first = std::stoul(argv[2]);
    Say("ready\n");
    for (unsigned long version = first; version <= LastCrashVersion; ++version) {
        SettingsWrite write;
        for (std::size_t i = 0; i < PickupSettingCount; ++i) {
            write.sets.push_back({std::string(PickupSettings[i].key), CrashValueText(i, static_cast<std::uint32_t>(version))});
        }
        const WriteOutcome outcome = WriteSettings(path, {}, write);
        if (outcome.status != WriteStatus::Written) {
            for (const std::string& problem : outcome.problems) std::fprintf(stderr, "%s\n", problem.c_str());
            return 1;
        }
        Say(std::to_string(version) + "\n");
    }
    return 1;
}
