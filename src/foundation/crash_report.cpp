#include "foundation/crash_report.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "foundation/log.h"
#include "host/material_guard.h"

namespace kerbmark {

volatile LONG crashReportBusy = 0;

namespace {

static_assert(sizeof(void*) == 4, "the report prints the 32-bit context");

constexpr DWORD kInPageError = 0xC0000006;

bool reported(DWORD code) {
    return code == EXCEPTION_ACCESS_VIOLATION || code == kInPageError || code == EXCEPTION_ILLEGAL_INSTRUCTION ||
           code == EXCEPTION_DATATYPE_MISALIGNMENT;
}

// Pointers are printed as eight upper-case hex digits whatever the C runtime's %p does.
unsigned long word(const volatile void* pointer) {
    return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(pointer));
}

void writeReport(const EXCEPTION_RECORD& exception, const CONTEXT* context, const char* phaseText) {
    const void* address = exception.ExceptionAddress;

    char modulePath[MAX_PATH];
    std::memset(modulePath, 0, sizeof modulePath);
    std::uintptr_t moduleBase = 0;
    HMODULE module = nullptr;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCSTR>(address), &module) &&
        module) {
        GetModuleFileNameA(module, modulePath, sizeof modulePath);
        // Older systems leave a path that fills the buffer unterminated.
        modulePath[sizeof modulePath - 1] = '\0';
        moduleBase = reinterpret_cast<std::uintptr_t>(module);
    }

    const DWORD parameters = exception.NumberParameters;
    const unsigned long access = parameters >= 1 ? static_cast<unsigned long>(exception.ExceptionInformation[0]) : 0;
    const unsigned long target = parameters >= 2 ? static_cast<unsigned long>(exception.ExceptionInformation[1]) : 0;

    char line[768];
    std::snprintf(line, sizeof line,
                  "EXCEPTION code=%08lX address=%08lX module=%s offset=%08lX phase=%s access=%lu target=%08lX "
                  "ESP=%08lX",
                  static_cast<unsigned long>(exception.ExceptionCode), word(address), modulePath,
                  static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(address) - moduleBase), phaseText,
                  access, target, context ? static_cast<unsigned long>(context->Esp) : 0ul);
    breadcrumb(line, true);

    if (context) {
        std::snprintf(line, sizeof line, "REGISTERS EAX=%08lX EBX=%08lX ECX=%08lX EDX=%08lX ESI=%08lX EDI=%08lX EBP=%08lX",
                      static_cast<unsigned long>(context->Eax), static_cast<unsigned long>(context->Ebx),
                      static_cast<unsigned long>(context->Ecx), static_cast<unsigned long>(context->Edx),
                      static_cast<unsigned long>(context->Esi), static_cast<unsigned long>(context->Edi),
                      static_cast<unsigned long>(context->Ebp));
    } else {
        std::snprintf(line, sizeof line,
                      "REGISTERS EAX=00000000 EBX=00000000 ECX=00000000 EDX=00000000 ESI=00000000 EDI=00000000 "
                      "EBP=00000000");
    }
    breadcrumb(line, true);

    std::snprintf(line, sizeof line, "ALPHA active=%d atomic=%08lX geometry=%08lX materials=%d",
                  alphaDraw.active ? 1 : 0, word(alphaDraw.atomic), word(alphaDraw.geometry),
                  static_cast<int>(alphaDraw.materials));
    breadcrumb(line, true);
}

}  // namespace

LONG CALLBACK crashReport(EXCEPTION_POINTERS* pointers) {
    if (!pointers || !pointers->ExceptionRecord) return EXCEPTION_CONTINUE_SEARCH;
    if (!reported(pointers->ExceptionRecord->ExceptionCode)) return EXCEPTION_CONTINUE_SEARCH;
    if (InterlockedCompareExchange(&crashReportBusy, 1, 0) != 0) return EXCEPTION_CONTINUE_SEARCH;
    try {
        const char* phaseText = phase;
        writeReport(*pointers->ExceptionRecord, pointers->ContextRecord, phaseText ? phaseText : "");
    } catch (...) {
    }
    // The breadcrumbs left the phase on this stack's line buffer.
    setPhase("after exception report");
    InterlockedExchange(&crashReportBusy, 0);
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace kerbmark
