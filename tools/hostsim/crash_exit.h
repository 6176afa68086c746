// A fault that nothing handles ends the process at once with exit code 3 and
// one line on stderr, instead of waiting for a debugger (Wine would start
// one): a crashing scenario fails, it never hangs.
#pragma once

#include <cstdio>

namespace hostsim {

constexpr int kCrashExitCode = 3;

void exitOnUnhandledFault();

// Called after the fault's line, before the exit: what the program was doing
// (a drive prints its seed and frame). Null: nothing more.
using FaultContext = void (*)(std::FILE* out);
void describeFaultsWith(FaultContext context);

}  // namespace hostsim
