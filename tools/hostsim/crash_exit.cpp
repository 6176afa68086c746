#include "crash_exit.h"

#include <windows.h>

namespace hostsim {

namespace {

FaultContext g_context = nullptr;

LONG WINAPI reportAndExit(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    std::fprintf(stderr, "hostsim: unhandled fault %08lX at %p\n", record->ExceptionCode, record->ExceptionAddress);
    if (g_context) g_context(stderr);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), kCrashExitCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

void exitOnUnhandledFault() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(&reportAndExit);
}

void describeFaultsWith(FaultContext context) { g_context = context; }

}  // namespace hostsim
