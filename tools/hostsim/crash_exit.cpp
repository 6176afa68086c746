#include "crash_exit.h"

#include <windows.h>

#include <cstdio>

namespace hostsim {

namespace {

LONG WINAPI reportAndExit(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    std::fprintf(stderr, "hostsim: unhandled fault %08lX at %p\n", record->ExceptionCode, record->ExceptionAddress);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), kCrashExitCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

void exitOnUnhandledFault() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(&reportAndExit);
}

}  // namespace hostsim
