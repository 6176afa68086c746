// The calling thread's CPU time, medians of repeats, the memory-bound copy
// floor, and the one line format every benchmark program prints.
//
// The shared machines' wall clocks read high under load, so every figure is
// thread CPU time. Under Wine, GetThreadTimes and the C runtime's
// clock_gettime only move in 10 ms steps; a 32-bit program running under Wine
// on Linux can ask the Linux kernel for the thread's clock directly, which
// gives the same nanosecond clock the native build reads.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "foundation/thread_clock.h"

namespace bench {

// Seconds of CPU time the calling thread has used.
inline double threadSeconds() { return static_cast<double>(kerbmark::threadClockNs()) * 1e-9; }

// Name of the clock threadSeconds reads, for the table's heading.
inline const char* clockName() {
#if defined(_WIN32)
    std::int64_t ignored;
    return kerbmark::linuxThreadClock(ignored) ? "Linux CLOCK_THREAD_CPUTIME_ID (int 0x80)" : "GetThreadTimes (coarse)";
#else
    return "CLOCK_THREAD_CPUTIME_ID";
#endif
}

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
