// Prints what one read-and-apply of the settings costs, beside the floor that no reader
// can go below (opening, reading and closing the same file) and a plain std::map reader.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/PlainReaders.h"
#include "bench/RepresentativeFile.h"
#include "bench/Timing.h"
#include "src/settings/PickupSettings.h"
#include "src/settings/SettingsFile.h"

#ifdef _WIN32
#include "src/settings/ApplyPickupSettings.h"
#include "standin/HostImage.h"
#endif

namespace {

#ifdef _WIN32
void ApplyOnce(const char* path) { ApplyPickupSettings(path); }
const char* const Platform = "Windows (under Wine)";
#else
// The same reading and forming; the stores land in an ordinary buffer instead of the host.
std::vector<unsigned char> hostData(Host::DataSize);
void ApplyOnce(const char* path) {
    WritePickupSettings(ReadPickupSettingsFile(path).values, [](HostAddress address, const void* bytes, std::size_t size) {
        std::memcpy(&hostData[address - Host::DataBegin], bytes, size);
    });
}
const char* const Platform = "native";
#endif

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    if (!HostImage::Covers(Host::DataBegin, Host::DataSize)) {
        std::fprintf(stderr, "the benchmark's image does not cover the host's data\n");
        return 1;
    }
#endif
    const int runs = argc > 1 ? std::atoi(argv[1]) : 200;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 15;

    const auto folder = std::filesystem::temp_directory_path() / "glimmerward-bench";
    std::filesystem::create_directories(folder);
    const std::string file = (folder / "Glimmerward.ini").string();
    const std::string missing = (folder / "missing.ini").string();
    const std::string text = RepresentativeFile();
    std::ofstream(file, std::ios::binary) << text;

    std::vector<double> apply, noFile, read, plainMap, floor, ratio, beyond, readRatio;
    for (int round = 0; round < rounds + 1; ++round) {
        const double a = TimePerRun(runs, [&] { ApplyOnce(file.c_str()); });
        const double n = TimePerRun(runs, [&] { ApplyOnce(missing.c_str()); });
        const double r = TimePerRun(runs, [&] { ReadSettingsFile(file.c_str()); });
        const double p = TimePerRun(runs, [&] { PlainMapRead(file.c_str()); });
        const double f = TimePerRun(runs, [&] { OpenReadClose(file.c_str()); });
        if (round == 0) continue;  // warm-up
        apply.push_back(a);
        noFile.push_back(n);
        read.push_back(r);
        plainMap.push_back(p);
        floor.push_back(f);
        ratio.push_back(a / f);
        beyond.push_back(a - f);
        readRatio.push_back(r / p);
    }
    std::printf("settings read-and-apply, %s: median of %d rounds of %d runs, per run\n", Platform, rounds, runs);
    std::printf("  apply, representative file (%zu bytes, %zu keys): %8.2f us\n", text.size(),
                ReadSettingsFile(file.c_str()).size(), Median(apply));
    std::printf("  apply, no file:                                  %8.2f us\n", Median(noFile));
    std::printf("  read only, into the settings map:                %8.2f us\n", Median(read));
    std::printf("  plain reader: fgets lines into a std::map:       %8.2f us\n", Median(plainMap));
    std::printf("  floor: open, read and close the same file:       %8.2f us\n", Median(floor));
    std::printf("  ratio apply / floor (median of per-round ratios): %7.2f\n", Median(ratio));
    std::printf("  apply beyond the floor (median of per-round differences): %.2f us\n", Median(beyond));
    std::printf("  ratio read / plain reader (median of ratios):     %7.2f\n", Median(readRatio));

    // Where the time beyond the floor goes: the same text from memory, as the hooked call
    // takes it (cutting the pieces, then the values piece by piece, written out), and for
    // comparison into the settings map that the checker and GetFloatSetting use.
    std::vector<unsigned char> sink(Host::DataSize);
    const auto intoSink = [&sink](HostAddress address, const void* bytes, std::size_t size) {
        std::memcpy(&sink[address - Host::DataBegin], bytes, size);
    };
    std::vector<double> pieces, values, map;
    for (int round = 0; round < rounds; ++round) {
        pieces.push_back(TimePerRun(runs, [&] { ReadSettingsPieces(TextSource(text), [](const SettingsPiece&) {}); }));
        values.push_back(TimePerRun(runs, [&] { WritePickupSettings(ReadPickupSettings(TextSource(text)).values, intoSink); }));
        map.push_back(TimePerRun(runs, [&] { ParseSettingsText(text); }));
    }
    std::printf("  from memory: cutting the pieces %.2f us; pieces to values written %.2f us; into the map %.2f us\n",
                Median(pieces), Median(values), Median(map));
    std::filesystem::remove_all(folder);
    return 0;
}
