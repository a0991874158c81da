#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

namespace tonvert::bench {

using Stopwatch = std::chrono::steady_clock;

inline double millisSince(Stopwatch::time_point started) {
    return std::chrono::duration<double, std::milli>(Stopwatch::now() - started).count();
}

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

} // namespace tonvert::bench
