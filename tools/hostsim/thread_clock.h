// The calling thread's CPU time. The shared machines' wall clocks read high
// under load, so every time the host's programs report is thread CPU time.
// Under Wine, GetThreadTimes and the C runtime's clock_gettime only move in
// 10 ms steps; a 32-bit program running under Wine on Linux can ask the Linux
// kernel for the thread's clock directly, which gives the same nanosecond
// clock a native build reads.
#pragma once

#include <cstdint>
#include <ctime>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace hostsim {

#if defined(_WIN32)
// Linux i386 clock_gettime (system call 265) for CLOCK_THREAD_CPUTIME_ID (3);
// only under Wine on Linux (on Windows itself the interrupt faults).
inline bool linuxThreadClock(std::int64_t& nanoseconds) {
#if defined(__i386__)
    struct {
        std::int32_t seconds;
        std::int32_t nanos;
    } time{0, 0};
    std::int32_t result = 265;
    asm volatile("int $0x80" : "+a"(result) : "b"(3), "c"(&time) : "memory");
    if (result != 0) return false;
    nanoseconds = static_cast<std::int64_t>(time.seconds) * 1000000000 + time.nanos;
    return true;
#else
    (void)nanoseconds;
    return false;
#endif
}

#endif

// Seconds of CPU time the calling thread has used.
inline double threadSeconds() {
#if defined(_WIN32)
    std::int64_t nanoseconds = 0;
    if (linuxThreadClock(nanoseconds)) return static_cast<double>(nanoseconds) * 1e-9;
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    const auto ticks = [](FILETIME t) {
        return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) * 1e-7;
#else
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
#endif
}

// Name of the clock threadSeconds reads.
inline const char* clockName() {
#if defined(_WIN32)
    std::int64_t ignored;
    return linuxThreadClock(ignored) ? "Linux CLOCK_THREAD_CPUTIME_ID (int 0x80)" : "GetThreadTimes (coarse)";
#else
    return "CLOCK_THREAD_CPUTIME_ID";
#endif
}

}  // namespace hostsim
