#pragma once
// Small figures the benchmarks print: seconds of a steady-clock span and a
// percentile of measured values (NaN when there are none).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

namespace bench {

inline double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// The value at fraction `p` (0 to 1) of the sorted values, nearest rank.
inline double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5))];
}

} // namespace bench
