// The other program of the live-use test: it changes the settings file through the writer
// library while the host reads it, version FIRST to LAST in turn, each one WriteSettings call
// that sets all 59 values. Each change expects the version the one before left, so a change
// that anyone else made in between is refused rather than overwritten.
//
// Usage: live_writer SETTINGS FIRST LAST RESULT
// RESULT gets "changes retried retries": the changes made, how many of them had a
// replacement step tried again, and how many tries again there were in all.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "edit/SettingsWriter.h"
#include "tests/edit/LiveVersions.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: live_writer SETTINGS FIRST LAST RESULT\n");
        return 2;
    }
    const std::string path = argv[1];
    const int first = std::atoi(argv[2]);
    const int last = std::atoi(argv[3]);

    int changes = 0;
    int retried = 0;
    long retries = 0;
    std::string version;
    for (int k = first; k <= last; ++k) {
        const WriteOutcome outcome = WriteSettings(path, {}, {LiveVersions::Sets(k), {}, version});
        if (outcome.status != WriteStatus::Written) {
            std::fprintf(stderr, "live_writer: version %d not written (status %d):\n", k, static_cast<int>(outcome.status));
            for (const std::string& problem : outcome.problems) std::fprintf(stderr, "  %s\n", problem.c_str());
            return 1;
        }
        version = outcome.version;
        ++changes;
        retried += outcome.retries > 0 ? 1 : 0;
        retries += outcome.retries;
    }
    std::ofstream(argv[4], std::ios::trunc) << changes << ' ' << retried << ' ' << retries << '\n';
    return 0;
}
