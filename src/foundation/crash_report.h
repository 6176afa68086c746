// Three log lines for a fault anywhere in the process; never handles the fault.
#pragma once

#include <windows.h>

namespace kerbmark {

// Vectored exception handler; returns EXCEPTION_CONTINUE_SEARCH on every path.
LONG CALLBACK crashReport(EXCEPTION_POINTERS* pointers);

}  // namespace kerbmark
