// What the benchmarks measure with: the mean time of a batch of runs, and the median of
// several batches, quoted because these machines are shared and noisy.
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

template <class Unit = std::micro, class Body>
double TimePerRun(int runs, Body&& body) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < runs; ++i) body();
    return std::chrono::duration<double, Unit>(std::chrono::steady_clock::now() - start).count() / runs;
}

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
