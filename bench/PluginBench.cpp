// Prints what one whole execution of the hooked call costs with the plug-in loaded into
// the stand-in host (the host's callee, the dispatch, reading and applying the settings
// file), beside the floor of opening, reading and closing that same file.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/PlainReaders.h"
#include "bench/RepresentativeFile.h"
#include "bench/Timing.h"
#include "standin/StandInHost.h"

using StandInHost::HostFolder;

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 200;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 15;
    constexpr HostVersion build = 110;

    // The file where the plug-in looks first, beside this host.
    const auto settings = HostFolder() / "plugins" / "Glimmerward.ini";
    std::filesystem::create_directories(settings.parent_path());
    const std::string text = RepresentativeFile();
    std::ofstream(settings, std::ios::binary | std::ios::trunc) << text;
    const std::string path = settings.string();

    StandInHost::Become(build);
    const HMODULE plugin = LoadLibraryA((HostFolder() / "Glimmerward.dll").string().c_str());
    if (!plugin) {
        std::fprintf(stderr, "cannot load Glimmerward.dll: error %lu\n", GetLastError());
        return 1;
    }

    std::vector<double> hooked, floor, ratio;
    for (int round = 0; round < rounds + 1; ++round) {
        const double h = TimePerRun(runs, [] { StandInHost::RunCallSite(build); });
        const double f = TimePerRun(runs, [&] { OpenReadClose(path.c_str()); });
        if (round == 0) continue;  // warm-up
        hooked.push_back(h);
        floor.push_back(f);
        ratio.push_back(h / f);
    }
    FreeLibrary(plugin);
    std::filesystem::remove_all(settings.parent_path());

    std::printf("hooked call with the plug-in loaded, stand-in host build %d: median of %d rounds of %d runs, per run\n",
                int(build), rounds, runs);
    std::printf("  hooked call: callee, dispatch, read and apply (%zu bytes): %8.2f us\n", text.size(), Median(hooked));
    std::printf("  floor: open, read and close the same file:              %8.2f us\n", Median(floor));
    std::printf("  ratio hooked call / floor (median of per-round ratios):  %7.2f\n", Median(ratio));
    return 0;
}
