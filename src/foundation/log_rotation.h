// At start-up, before the run's first line: a log grown past its limit
// becomes the old log (replacing an older one), and the run starts a new one.
#pragma once

#include <cstdint>

namespace kerbmark {

struct LogRotation {
    enum class Outcome {
        Kept,    // no limit, no log yet, or the log is within its limit
        Moved,   // the log is now `oldLog`
        Failed,  // past its limit but not moved; `error` says why
    };
    Outcome outcome = Outcome::Kept;
    unsigned long error = 0;
};

// Moves `log` to `oldLog` when it is larger than `limitBytes` (0: never).
// It moves only while no other handle writes to it (another instance of the
// module between the open and the close of a line), so no line of a run is
// split from its file or lost; whoever could not write meanwhile tries again.
LogRotation rotateLog(const char* log, const char* oldLog, std::uint64_t limitBytes);

}  // namespace kerbmark
