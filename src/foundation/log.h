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

// A per-hit line (its caller writes it only with LogHits): as logLine, but
// where lines are diverted it is held as one that belongs to the hit.
void logHitLine(const char* text);

// A line held for the event it belongs to.
struct DivertedLine {
    std::string text;
    bool perHit;  // a per-hit line: written only with the hit, never without it
};

// While not null, logLine and logHitLine put their lines here instead of
// writing them: the lines of work done ahead of the event they belong to,
// written with it.
extern std::vector<DivertedLine>* divertedLines;

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

// printf-style logLine and logHitLine through a fixed buffer of `BufferSize`
// bytes (cut when longer).
template <unsigned BufferSize, typename... Args>
void logFormatted(const char* format, Args... args);
template <unsigned BufferSize, typename... Args>
void logHitFormatted(const char* format, Args... args);

// Moves the phase pointer to `text`; with `diagnostics` or `force` also writes
// the held lines and then it as a line, flushed to disk before returning. Any
// thread (the crash report).
void breadcrumb(const char* text, bool force = false);

// Moves the phase pointer only.
inline void setPhase(const char* text) { phase = text; }

}  // namespace kerbmark

#include <cstdio>

#include "foundation/fpu.h"

namespace kerbmark {

// A line formatted into a fixed buffer.
template <unsigned BufferSize>
struct FormattedLine {
    char text[BufferSize];

    template <typename... Args>
    explicit FormattedLine(const char* format, Args... args) {
        // The 32-bit runtime formats floats partly on the x87.
        const dent::X87ExtendedPrecision extended;
        std::snprintf(text, sizeof text, format, args...);
    }
};

}  // namespace kerbmark

template <unsigned BufferSize, typename... Args>
void kerbmark::logFormatted(const char* format, Args... args) {
    logLine(FormattedLine<BufferSize>(format, args...).text);
}

template <unsigned BufferSize, typename... Args>
void kerbmark::logHitFormatted(const char* format, Args... args) {
    logHitLine(FormattedLine<BufferSize>(format, args...).text);
}
