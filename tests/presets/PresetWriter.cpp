// The other program of the live presets test: it applies preset "A" and preset "B" of the
// settings file's presets folder in turn, COUNT times in all, each apply one WriteSettings call
// that gives all 59 settings the preset's values. Each apply expects the version the one before
// left, so a change that anyone else made in between is refused rather than overwritten.
//
// Usage: preset_writer SETTINGS COUNT RESULT
// RESULT gets the number of applies made.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "edit/SettingsWriter.h"
#include "presets/Presets.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: preset_writer SETTINGS COUNT RESULT\n");
        return 2;
    }
    const std::string path = argv[1];
    const int count = std::atoi(argv[2]);

    std::string version;
    int applies = 0;
    for (int k = 1; k <= count; ++k) {
        const char* name = k % 2 == 1 ? "A" : "B";
        const PresetValues preset = ReadPreset(path, name);
        if (!preset.values) {
            std::fprintf(stderr, "preset_writer: preset %s not read:\n", name);
            for (const std::string& problem : preset.problems) std::fprintf(stderr, "  %s\n", problem.c_str());
            return 1;
        }
        SettingsWrite write;
        write.values = preset.values;
        write.expect = version;
        const WriteOutcome outcome = WriteSettings(path, {}, write);
        if (outcome.status != WriteStatus::Written) {
            std::fprintf(stderr, "preset_writer: apply %d of preset %s not written (status %d):\n", k, name,
                         static_cast<int>(outcome.status));
            for (const std::string& problem : outcome.problems) std::fprintf(stderr, "  %s\n", problem.c_str());
            return 1;
        }
        version = outcome.version;
        ++applies;
    }
    std::ofstream(argv[3], std::ios::trunc) << applies << '\n';
    return 0;
}
