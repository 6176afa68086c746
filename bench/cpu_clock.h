// Medians of repeats of the calling thread's CPU time (tools/hostsim/thread_clock.h),
// the memory-bound copy floor, and the one line format every benchmark program prints.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "thread_clock.h"

namespace bench {

using hostsim::clockName;
using hostsim::threadSeconds;

inline double median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : 0.5 * (values[middle - 1] + values[middle]);
}

// Median thread CPU seconds of `repeats` runs of `work(i)`, each prepared by
// `prepare(i)` outside the timing.
template <typename Prepare, typename Work>
double medianSeconds(int repeats, Prepare prepare, Work work) {
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(repeats));
    for (int i = 0; i < repeats; ++i) {
        prepare(i);
        const double start = threadSeconds();
        work(i);
        times.push_back(threadSeconds() - start);
    }
    return median(times);
}

template <typename Work>
double medianSeconds(int repeats, Work work) {
    return medianSeconds(repeats, [](int) {}, work);
}

// Keeps a computed value alive without letting the compiler see through it.
template <typename T>
inline void keep(const T& value) {
    asm volatile("" : : "g"(&value) : "memory");
}

// The floor: nanoseconds per unit of copying `bytesPerUnit` bytes per unit
// over `units` units, from one buffer to another (median of repeats).
inline double copyFloorNs(std::size_t bytesPerUnit, std::size_t units, int repeats = 31) {
    std::vector<unsigned char> from(bytesPerUnit * units, 1), to(bytesPerUnit * units, 0);
    for (std::size_t i = 0; i < from.size(); ++i) from[i] = static_cast<unsigned char>(i * 7);
    const double seconds = medianSeconds(repeats, [&](int) {
        std::memcpy(to.data(), from.data(), from.size());
        keep(to);
    });
    return seconds * 1e9 / static_cast<double>(units);
}

// One row of the table: "ROW <key> <ns per unit> <floor ns per unit or 0> <unit> <label>",
// followed by "<target ns>" when the row has a target (the most it may take).
// bench/table.sh joins the rows of every program into one table by key.
inline void row(const char* key, double nsPerUnit, double floorNs, const char* unit, const char* label,
                double targetNs = 0.0) {
    std::printf("ROW\t%s\t%.4f\t%.4f\t%s\t%s", key, nsPerUnit, floorNs, unit, label);
    if (targetNs > 0.0) std::printf("\t%.0f", targetNs);
    std::printf("\n");
    std::fflush(stdout);
}

inline void note(const char* key, const char* text) {
    std::printf("NOTE\t%s\t%s\n", key, text);
    std::fflush(stdout);
}

}  // namespace bench
