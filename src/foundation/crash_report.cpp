#include "foundation/crash_report.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "foundation/log.h"
#include "host/material_guard.h"
#include "host/memory_check.h"

namespace kerbmark {

volatile LONG crashReportBusy = 0;

namespace {

static_assert(sizeof(void*) == 4, "the report prints the 32-bit context");

constexpr DWORD kInPageError = 0xC0000006;
constexpr char kAfterReport[] = "after exception report";
// Phase texts are short; a longer one (a report line left as the phase) is cut.
constexpr std::size_t kPhaseCopySize = 128;

// The breadcrumbs leave the phase on this buffer while a report is written. A
// guarded alpha draw on the game thread may save that pointer meanwhile and
// put it back after the report is over, so the buffer must outlive every
// report: it is static, and the busy flag lets one report at a time use it.
char reportLine[768];

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
    // Nothing is mapped in the first 64 KiB (a call through a null pointer
    // faults there), and the lookup would read address 0 as "the executable".
    if (reinterpret_cast<std::uintptr_t>(address) >= kLowestHostPointer &&
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
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

    char (&line)[sizeof reportLine] = reportLine;
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

// The phase text as it is now, cut to the copy's size: the phase may point at
// reportLine, which the report is about to overwrite.
void copyPhase(const char* text, char (&copy)[kPhaseCopySize]) {
    std::size_t length = 0;
    if (text) {
        for (; length + 1 < kPhaseCopySize && text[length] != '\0'; ++length) copy[length] = text[length];
    }
    copy[length] = '\0';
}

}  // namespace

LONG CALLBACK crashReport(EXCEPTION_POINTERS* pointers) {
    if (!pointers || !pointers->ExceptionRecord) return EXCEPTION_CONTINUE_SEARCH;
    if (!reported(pointers->ExceptionRecord->ExceptionCode)) return EXCEPTION_CONTINUE_SEARCH;
    if (InterlockedCompareExchange(&crashReportBusy, 1, 0) != 0) return EXCEPTION_CONTINUE_SEARCH;
    try {
        char phaseText[kPhaseCopySize];
        copyPhase(phase, phaseText);
        writeReport(*pointers->ExceptionRecord, pointers->ContextRecord, phaseText);
    } catch (...) {
    }
    // The breadcrumbs left the phase on the line buffer; a draw that saved
    // that pointer during the report puts it back later, and then reads the
    // same text as everyone else.
    std::memcpy(reportLine, kAfterReport, sizeof kAfterReport);
    setPhase(kAfterReport);
    InterlockedExchange(&crashReportBusy, 0);
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace kerbmark
