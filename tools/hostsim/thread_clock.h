// The calling thread's CPU time in seconds, as every time the host's programs
// report is measured (the clock itself: foundation/thread_clock.h, which the
// module's work meter shares).
#pragma once

#include "foundation/thread_clock.h"

namespace hostsim {

// Seconds of CPU time the calling thread has used.
inline double threadSeconds() { return static_cast<double>(kerbmark::threadClockNs()) * 1e-9; }

// Name of the clock threadSeconds reads.
inline const char* clockName() {
#if defined(_WIN32)
    std::int64_t ignored;
    return kerbmark::linuxThreadClock(ignored) ? "Linux CLOCK_THREAD_CPUTIME_ID (int 0x80)" : "GetThreadTimes (coarse)";
#else
    return "CLOCK_THREAD_CPUTIME_ID";
#endif
}

}  // namespace hostsim
