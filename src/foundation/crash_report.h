// Three log lines for a fault anywhere in the process; never handles the fault.
#pragma once

#include <windows.h>

namespace kerbmark {

// Vectored exception handler; returns EXCEPTION_CONTINUE_SEARCH on every path.
LONG CALLBACK crashReport(EXCEPTION_POINTERS* pointers);

// 1 while a report is being written, 0 otherwise; changed only atomically.
// A fault raised while it is 1 (on any thread) is not reported.
extern volatile LONG crashReportBusy;

}  // namespace kerbmark
