// SPDX-License-Identifier: GPL-3.0-or-later
// Figures shared by the benchmarks: CPU clocks and percentiles.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <sys/resource.h>
#include <vector>

namespace bench {

inline double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

inline double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

inline double monotonicSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// The machine's load average over the last minute, or -1 when unknown. A
// frame-model figure taken with a load above the number of cores measures
// how late the machine wakes threads more than the tool.
inline double loadAverage()
{
    double load = -1;
    return getloadavg(&load, 1) == 1 ? load : -1;
}

// The p-th percentile (0..100) of values; sorts them.
inline double percentile(std::vector<double> &values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t i = std::min(values.size() - 1, size_t(p / 100.0 * double(values.size())));
    return values[i];
}

} // namespace bench
