// A fault that nothing handles ends the process at once with exit code 3 and
// one line on stderr, instead of waiting for a debugger (Wine would start
// one): a crashing scenario fails, it never hangs.
#pragma once

namespace hostsim {

constexpr int kCrashExitCode = 3;

void exitOnUnhandledFault();

}  // namespace hostsim
