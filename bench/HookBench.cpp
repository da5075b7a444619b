// Prints what one execution of the host's hooked call costs (one callback that calls its
// continuation, as the plug-in installs it) beside the same call unhooked, on the stand-in
// host, side by side in every round.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/Timing.h"
#include "injector/hooking"
#include "standin/StandInHost.h"

namespace {

constexpr HostVersion Build = 110;

using Hook = injector::function_hooker<injector::scoped_call, StandInHost::BuildOf(Build).callSite, void*()>;

double NanosecondsPerCall(int runs) {
    return TimePerRun<std::nano>(runs, [] { StandInHost::RunCallSite(Build); });
}

void* PassOn(injector::HookContinuation next) { return next(); }

}  // namespace

int main(int argc, char** argv) {
    if (!StandInHost::CoversHost()) {
        std::fprintf(stderr, "the benchmark's image does not cover the host\n");
        return 1;
    }
    const int runs = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 15;
    StandInHost::Become(Build);

    std::vector<double> direct, hooked, overhead, twoEntries;
    for (int round = 0; round < rounds + 1; ++round) {
        const double d = NanosecondsPerCall(runs);
        double h = 0;
        double two = 0;
        {
            Hook hook;
            hook.attach_callback(PassOn);
            h = NanosecondsPerCall(runs);
            Hook outer;
            outer.attach_callback(PassOn);
            two = NanosecondsPerCall(runs / 10);
        }
        if (round == 0) continue;  // warm-up
        direct.push_back(d);
        hooked.push_back(h);
        overhead.push_back(h - d);
        twoEntries.push_back(two);
    }
    const int calls = StandInHost::CalleeCalls();
    std::printf("hooked host call, Windows (under Wine): median of %d rounds of %d calls, per call\n", rounds, runs);
    std::printf("  callee called directly through the site:          %8.2f ns\n", Median(direct));
    std::printf("  hooked, one callback calling its continuation:    %8.2f ns\n", Median(hooked));
    std::printf("  overhead of the hook (median of per-round gaps):  %8.2f ns\n", Median(overhead));
    std::printf("  hooked, two callbacks (chain rebuilt every call): %8.2f ns\n", Median(twoEntries));
    return calls > 0 ? 0 : 1;
}
