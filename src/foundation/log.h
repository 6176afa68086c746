// Diagnostics log beside the module, and the phase breadcrumbs.
//
// Nothing holds the file open: every write opens, appends and closes it. A
// line is written at once, except inside a FrameLogBatch, whose lines reach
// the file in one write when it ends (or before a breadcrumb that is written,
// and before a crash report's lines). The phase pointer always names the step
// the module is in.
#pragma once

#include <string>
#include <vector>

#include "foundation/settings.h"

namespace kerbmark {

// Path of the log file; empty until start-up derives it.
extern char logPath[kPathSize];

// The step the module is in; read by the crash report. It points at constant
// text or at the crash report's static line buffer, never at a stack.
extern const char* volatile phase;

// Appends one line (CR LF) whatever `diagnostics` says; lost silently when the
// file cannot be opened. Bytes as the C runtime's text mode writes "%s\n".
void logLine(const char* text);

// While not null, logLine puts its lines here instead of writing them: the
// lines of work done ahead of the event they belong to, written with it.
extern std::vector<std::string>* divertedLines;

// Holds the lines written while it lives (on the game thread) and writes them
// in one open-append-close when the outermost one ends. Lines that fill the
// held buffer are written out with the line that no longer fits.
class FrameLogBatch {
public:
    FrameLogBatch();
    ~FrameLogBatch();
    FrameLogBatch(const FrameLogBatch&) = delete;
    FrameLogBatch& operator=(const FrameLogBatch&) = delete;
};

// printf-style logLine through a fixed buffer of `BufferSize` bytes (cut when longer).
template <unsigned BufferSize, typename... Args>
void logFormatted(const char* format, Args... args);

// Moves the phase pointer to `text`; with `diagnostics` or `force` also writes
// the held lines and then it as a line, flushed to disk before returning. Any
// thread (the crash report).
void breadcrumb(const char* text, bool force = false);

// Moves the phase pointer only.
inline void setPhase(const char* text) { phase = text; }

}  // namespace kerbmark

#include <cstdio>

#include "foundation/fpu.h"

template <unsigned BufferSize, typename... Args>
void kerbmark::logFormatted(const char* format, Args... args) {
    char buffer[BufferSize];
    {
        // The 32-bit runtime formats floats partly on the x87.
        const dent::X87ExtendedPrecision extended;
        std::snprintf(buffer, sizeof buffer, format, args...);
    }
    logLine(buffer);
}
