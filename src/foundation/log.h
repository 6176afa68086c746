// Diagnostics log beside the module, and the phase breadcrumbs.
//
// Every line opens, appends and closes the file, so nothing is lost when the
// host dies. The phase pointer always names the step the module is in.
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
// file cannot be opened.
void logLine(const char* text);

// While not null, logLine keeps its lines here instead of writing them: the
// lines of work done ahead of the event they belong to, written with it.
extern std::vector<std::string>* heldLines;

// printf-style logLine through a fixed buffer of `BufferSize` bytes (cut when longer).
template <unsigned BufferSize, typename... Args>
void logFormatted(const char* format, Args... args);

// Moves the phase pointer to `text`; with `diagnostics` or `force` also writes
// it as a line, flushed to disk before returning.
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
