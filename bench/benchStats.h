#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

namespace tonvert::bench {

using Stopwatch = std::chrono::steady_clock;

inline double millisSince(Stopwatch::time_point started) {
    return std::chrono::duration<double, std::milli>(Stopwatch::now() - started).count();
}

// The middle value; of an even count, the mean of the two middle ones.
inline double median(std::vector<double> values) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 != 0 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace tonvert::bench
