// The calling thread's CPU time in nanoseconds, for measuring the module's
// own work in benchmarks. A 32-bit program running under Wine on Linux asks
// the Linux kernel for the thread's clock directly: Wine's GetThreadTimes
// only moves in 10 ms steps. On Windows itself that interrupt faults, so
// nothing shipped calls it.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#include <windows.h>
#else
#include <ctime>
#endif

namespace kerbmark {

#if defined(_WIN32)
// Linux i386 clock_gettime (system call 265) for CLOCK_THREAD_CPUTIME_ID (3).
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

inline std::int64_t threadClockNs() {
#if defined(_WIN32)
    std::int64_t nanoseconds = 0;
    if (linuxThreadClock(nanoseconds)) return nanoseconds;
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    const auto ticks = [](FILETIME t) {
        return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<std::int64_t>((ticks(kernel) + ticks(user)) * 100);
#else
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
#endif
}

}  // namespace kerbmark
