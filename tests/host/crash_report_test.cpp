#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "foundation/crash_report.h"
#include "foundation/log.h"
#include "foundation/temp_dir.h"
#include "host/material_guard.h"
#include "host/support/log_capture.h"
#include "host/support/test_geometry.h"
#include "module_loader.h"

namespace {

constexpr DWORD kAccessViolation = 0xC0000005;

std::string hex8(std::uintptr_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08lX", static_cast<unsigned long>(value));
    return text;
}

std::string executablePath() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    return path;
}

__attribute__((noinline)) void functionInThisExecutable() { asm volatile(""); }

// A fault as the system would hand it to the handler.
struct HandMadeFault {
    EXCEPTION_RECORD record{};
    CONTEXT context{};
    EXCEPTION_POINTERS pointers{&record, &context};

    HandMadeFault(DWORD code, const void* address) {
        record.ExceptionCode = code;
        record.ExceptionAddress = const_cast<void*>(address);
        context.Eax = 0x000000A1;
        context.Ebx = 0x000000B2;
        context.Ecx = 0x000000C3;
        context.Edx = 0x000000D4;
        context.Esi = 0x000000E5;
        context.Edi = 0x000000F6;
        context.Ebp = 0x0012FF00;
        context.Esp = 0x0012FE00;
    }
    HandMadeFault& information(ULONG_PTR access, ULONG_PTR target) {
        record.NumberParameters = 2;
        record.ExceptionInformation[0] = access;
        record.ExceptionInformation[1] = target;
        return *this;
    }
};

class CrashReport : public ::testing::Test {
protected:
    void SetUp() override {
        kerbmark::diagnostics = false;
        kerbmark::alphaDraw = kerbmark::AlphaDrawRecord{};
        kerbmark::setPhase("hit: enumerate atomics");
    }
    void TearDown() override {
        kerbmark::alphaDraw = kerbmark::AlphaDrawRecord{};
        kerbmark::crashReportBusy = 0;
    }
    testhost::LogCapture log;
};

TEST_F(CrashReport, AccessViolationInsideAModuleWritesThreeLines) {
    const auto address = reinterpret_cast<std::uintptr_t>(&functionInThisExecutable);
    const auto base = reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr));
    HandMadeFault fault(kAccessViolation, reinterpret_cast<const void*>(address));
    fault.information(1, 0xDEADBEE0);

    EXPECT_EQ(kerbmark::crashReport(&fault.pointers), EXCEPTION_CONTINUE_SEARCH);

    const std::string expected = "EXCEPTION code=C0000005 address=" + hex8(address) + " module=" + executablePath() +
                                 " offset=" + hex8(address - base) +
                                 " phase=hit: enumerate atomics access=1 target=DEADBEE0 ESP=0012FE00\r\n"
                                 "REGISTERS EAX=000000A1 EBX=000000B2 ECX=000000C3 EDX=000000D4 ESI=000000E5 "
                                 "EDI=000000F6 EBP=0012FF00\r\n"
                                 "ALPHA active=0 atomic=00000000 geometry=00000000 materials=-1\r\n";
    EXPECT_EQ(log.bytes(), expected);
    EXPECT_STREQ(kerbmark::phase, "after exception report");
    EXPECT_EQ(kerbmark::crashReportBusy, 0);
}

// The module path query as current Windows answers it: a path that does not
// fit is cut to size - 1 characters and terminated (older systems and Wine
// fill all `size` bytes and leave it unterminated).
using ModuleFileNameFn = DWORD(WINAPI*)(HMODULE, LPSTR, DWORD);
ModuleFileNameFn platformModuleFileName = nullptr;

DWORD WINAPI terminatingModuleFileName(HMODULE module, LPSTR buffer, DWORD size) {
    char full[1024] = "";
    const DWORD length = platformModuleFileName(module, full, sizeof full);
    if (length == 0 || size == 0) return 0;
    if (length < size) {
        std::memcpy(buffer, full, length + 1);
        return length;
    }
    std::memcpy(buffer, full, size - 1);
    buffer[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

// A module path of 259 characters, the longest a module path can have, is
// printed whole whichever way the platform cuts paths that do not fit.
TEST_F(CrashReport, LongestModulePathIsPrintedWhole) {
    const std::string exe = executablePath();
    const std::string probe = exe.substr(0, exe.find_last_of('\\') + 1) + "crash_probe.dll";
    TempDir folder;
    const std::size_t nameLength = MAX_PATH - 1 - folder.path().size() - 1;
    ASSERT_GT(nameLength, 8u);
    const std::string copy = folder.file(std::string(nameLength - 4, 'p') + ".dll");
    ASSERT_TRUE(CopyFileA(probe.c_str(), copy.c_str(), FALSE)) << probe;
    HMODULE module = LoadLibraryA(copy.c_str());
    ASSERT_NE(module, nullptr) << copy;
    char loadedAs[1024] = "";
    GetModuleFileNameA(module, loadedAs, sizeof loadedAs);
    ASSERT_EQ(std::strlen(loadedAs), 259u) << loadedAs;
    const void* address = reinterpret_cast<const void*>(GetProcAddress(module, "crashProbe"));
    ASSERT_NE(address, nullptr);

    platformModuleFileName = &GetModuleFileNameA;
    for (bool terminating : {false, true}) {
        log.clear();
        HandMadeFault fault(kAccessViolation, address);
        const HMODULE self = GetModuleHandleA(nullptr);
        if (terminating) {
            ASSERT_TRUE(hostsim::replaceImport(self, "kernel32.dll", "GetModuleFileNameA",
                                               reinterpret_cast<const void*>(&terminatingModuleFileName)));
        }
        kerbmark::crashReport(&fault.pointers);
        if (terminating) {
            hostsim::replaceImport(self, "kernel32.dll", "GetModuleFileNameA",
                                   reinterpret_cast<const void*>(platformModuleFileName));
        }
        const auto lines = log.lines();
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_NE(lines[0].find(" module=" + std::string(loadedAs) + " offset="), std::string::npos)
            << (terminating ? "cut and terminated: " : "platform: ") << lines[0];
    }
    FreeLibrary(module);
}

// Older systems (and Wine) fill the whole buffer with a path that does not fit
// and add no terminator.
DWORD WINAPI unterminatedModuleFileName(HMODULE, LPSTR buffer, DWORD size) {
    std::memset(buffer, 'q', size);
    return size;
}

TEST_F(CrashReport, ModulePathThatDoesNotFitIsCutNotOverrun) {
    const HMODULE self = GetModuleHandleA(nullptr);
    platformModuleFileName = &GetModuleFileNameA;
    ASSERT_TRUE(hostsim::replaceImport(self, "kernel32.dll", "GetModuleFileNameA",
                                       reinterpret_cast<const void*>(&unterminatedModuleFileName)));
    HandMadeFault fault(kAccessViolation, reinterpret_cast<const void*>(&functionInThisExecutable));
    kerbmark::crashReport(&fault.pointers);
    hostsim::replaceImport(self, "kernel32.dll", "GetModuleFileNameA",
                           reinterpret_cast<const void*>(platformModuleFileName));
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find(" module=" + std::string(259, 'q') + " offset="), std::string::npos) << lines[0];
}

TEST_F(CrashReport, AddressOutsideEveryModuleAndNoInformationWords) {
    HandMadeFault fault(0xC000001D, reinterpret_cast<void*>(std::uintptr_t{0x00001234}));
    kerbmark::crashReport(&fault.pointers);
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0],
              "EXCEPTION code=C000001D address=00001234 module= offset=00001234 phase=hit: enumerate atomics "
              "access=0 target=00000000 ESP=0012FE00");
}

// A call through a null function pointer faults below 64 KiB, where nothing is
// mapped; the platform's lookup by address answers "the executable" for 0.
TEST_F(CrashReport, AddressBelow64KiBNamesNoModule) {
    for (std::uintptr_t address : {0x0u, 0x1u, 0xFFFFu}) {
        log.clear();
        HandMadeFault fault(kAccessViolation, reinterpret_cast<const void*>(address));
        kerbmark::crashReport(&fault.pointers);
        const auto lines = log.lines();
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_NE(lines[0].find(" address=" + hex8(address) + " module= offset=" + hex8(address) + " phase="),
                  std::string::npos)
            << lines[0];
    }
}

TEST_F(CrashReport, OneInformationWordGivesAccessOnly) {
    HandMadeFault fault(0xC0000006, reinterpret_cast<void*>(std::uintptr_t{0x00001234}));
    fault.record.NumberParameters = 1;
    fault.record.ExceptionInformation[0] = 8;
    fault.record.ExceptionInformation[1] = 0x55555555;
    kerbmark::crashReport(&fault.pointers);
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find(" access=8 target=00000000 "), std::string::npos) << lines[0];
}

TEST_F(CrashReport, ReportsTheFourFaultCodesOnly) {
    for (DWORD code : {0xC0000005ul, 0xC0000006ul, 0xC000001Dul, 0x80000002ul}) {
        log.clear();
        HandMadeFault fault(code, nullptr);
        kerbmark::crashReport(&fault.pointers);
        EXPECT_EQ(log.lines().size(), 3u) << std::hex << code;
    }
    log.clear();
    kerbmark::setPhase("hit: enumerate atomics");
    // Integer division by zero, breakpoint, a C++ exception, single step.
    for (DWORD code : {0xC0000094ul, 0x80000003ul, 0xE06D7363ul, 0x80000004ul}) {
        HandMadeFault fault(code, nullptr);
        EXPECT_EQ(kerbmark::crashReport(&fault.pointers), EXCEPTION_CONTINUE_SEARCH);
    }
    EXPECT_FALSE(log.exists());
    EXPECT_STREQ(kerbmark::phase, "hit: enumerate atomics");
}

TEST_F(CrashReport, FaultDuringAReportIsNotReported) {
    kerbmark::crashReportBusy = 1;
    HandMadeFault fault(kAccessViolation, nullptr);
    EXPECT_EQ(kerbmark::crashReport(&fault.pointers), EXCEPTION_CONTINUE_SEARCH);
    EXPECT_FALSE(log.exists());
    EXPECT_EQ(kerbmark::crashReportBusy, 1) << "the running report owns the flag";
    EXPECT_STREQ(kerbmark::phase, "hit: enumerate atomics");
}

TEST_F(CrashReport, AlphaLineShowsTheDrawInProgress) {
    kerbmark::alphaDraw = kerbmark::AlphaDrawRecord{reinterpret_cast<void*>(std::uintptr_t{0x0ABC1230}),
                                                    reinterpret_cast<void*>(std::uintptr_t{0x9ABCDEF0}), 7, true};
    HandMadeFault fault(kAccessViolation, nullptr);
    kerbmark::crashReport(&fault.pointers);
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2], "ALPHA active=1 atomic=0ABC1230 geometry=9ABCDEF0 materials=7");
}

TEST_F(CrashReport, NoPointersOrNoRecordIsIgnored) {
    EXPECT_EQ(kerbmark::crashReport(nullptr), EXCEPTION_CONTINUE_SEARCH);
    EXCEPTION_POINTERS empty{nullptr, nullptr};
    EXPECT_EQ(kerbmark::crashReport(&empty), EXCEPTION_CONTINUE_SEARCH);
    EXPECT_FALSE(log.exists());
}

// A report on another thread interleaved with a guarded alpha draw on the game
// thread: the draw begins while the report writes its first line (the phase
// then points at the report's line buffer) and ends after the reporting thread
// has exited, putting back the phase it saved on entry.
struct Interleaving {
    HANDLE reportMidway;  // the reporter is writing its first line
    HANDLE drawEntered;   // the game thread's draw has saved the phase
    HANDLE reporter;
    bool paused;
};
Interleaving* interleaving = nullptr;
using FlushFn = BOOL(WINAPI*)(HANDLE);
FlushFn platformFlush = nullptr;
constexpr DWORD kWaitMs = 10000;

BOOL WINAPI flushPausingTheFirstLine(HANDLE file) {
    Interleaving* steps = interleaving;
    if (steps && !steps->paused) {
        steps->paused = true;
        SetEvent(steps->reportMidway);
        WaitForSingleObject(steps->drawEntered, kWaitMs);
    }
    return platformFlush(file);
}

DWORD WINAPI reportOnThisThread(void*) {
    HandMadeFault fault(kAccessViolation, reinterpret_cast<const void*>(std::uintptr_t{0x4321}));
    kerbmark::crashReport(&fault.pointers);
    return 0;
}

// The host's renderer inside the guard: lets the report go on and draws until
// the reporting thread is gone.
void* rendererOutlivingTheReport(void* atomic, std::uint32_t) {
    SetEvent(interleaving->drawEntered);
    WaitForSingleObject(interleaving->reporter, kWaitMs);
    return atomic;
}

TEST_F(CrashReport, DrawAcrossAReportOnAnotherThreadLeavesNoStalePhase) {
    testhost::TestGeometry geometry(2);
    alignas(16) std::uint8_t atomic[128] = {};
    reinterpret_cast<host::Atomic*>(atomic)->geometry = geometry.get();

    Interleaving steps{CreateEventA(nullptr, TRUE, FALSE, nullptr), CreateEventA(nullptr, TRUE, FALSE, nullptr),
                       nullptr, false};
    interleaving = &steps;
    const HMODULE self = GetModuleHandleA(nullptr);
    platformFlush = &FlushFileBuffers;
    ASSERT_TRUE(hostsim::replaceImport(self, "kernel32.dll", "FlushFileBuffers",
                                       reinterpret_cast<const void*>(&flushPausingTheFirstLine)));
    const kerbmark::AlphaRendererFn renderer = kerbmark::savedAlphaRenderer;
    kerbmark::savedAlphaRenderer = rendererOutlivingTheReport;

    steps.reporter = CreateThread(nullptr, 0, reportOnThisThread, nullptr, 0, nullptr);
    const bool midway = steps.reporter && WaitForSingleObject(steps.reportMidway, kWaitMs) == WAIT_OBJECT_0;
    if (midway) kerbmark::alphaRenderGuard(atomic, 0);
    SetEvent(steps.drawEntered);
    const bool reporterGone = steps.reporter && WaitForSingleObject(steps.reporter, kWaitMs) == WAIT_OBJECT_0;

    kerbmark::savedAlphaRenderer = renderer;
    hostsim::replaceImport(self, "kernel32.dll", "FlushFileBuffers", reinterpret_cast<const void*>(platformFlush));
    interleaving = nullptr;
    for (HANDLE handle : {steps.reportMidway, steps.drawEntered, steps.reporter}) {
        if (handle) CloseHandle(handle);
    }
    ASSERT_TRUE(midway && reporterGone);

    EXPECT_STREQ(kerbmark::phase, "after exception report") << "the draw put back a pointer into the report";
    auto lines = log.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find(" phase=hit: enumerate atomics access="), std::string::npos) << lines[0];

    log.clear();
    HandMadeFault next(kAccessViolation, nullptr);
    kerbmark::crashReport(&next.pointers);
    lines = log.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find(" phase=after exception report access="), std::string::npos) << lines[0];
}

// A real fault: the report sees it first, a later handler steps over the
// faulting "mov eax, [0]" (A1 00 00 00 00) and the program goes on.
LONG CALLBACK stepOverNullRead(EXCEPTION_POINTERS* pointers) {
    CONTEXT& context = *pointers->ContextRecord;
    if (pointers->ExceptionRecord->ExceptionCode != kAccessViolation) return EXCEPTION_CONTINUE_SEARCH;
    if (*reinterpret_cast<const std::uint8_t*>(context.Eip) != 0xA1) return EXCEPTION_CONTINUE_SEARCH;
    context.Eip += 5;
    context.Eax = 0x600D600D;
    return EXCEPTION_CONTINUE_EXECUTION;
}

__attribute__((noinline)) std::uint32_t readAddressZero() {
    std::uint32_t value = 0;
    asm volatile(
        "movl $0x0BADF00D, %%ebx\n\t"
        "movl $0x51515151, %%esi\n\t"
        "movl $0xD1D1D1D1, %%edi\n\t"
        "movl 0, %%eax\n\t"
        "movl %%eax, %0\n\t"
        : "=m"(value)
        :
        : "eax", "ebx", "esi", "edi", "memory");
    return value;
}

TEST_F(CrashReport, RealNullReadRecoveredByTheProgramIsStillReported) {
    PVOID report = AddVectoredExceptionHandler(0, kerbmark::crashReport);
    PVOID stepOver = AddVectoredExceptionHandler(0, stepOverNullRead);
    kerbmark::setPhase("atomic: displace vertices");
    const std::uint32_t value = readAddressZero();
    RemoveVectoredExceptionHandler(stepOver);
    RemoveVectoredExceptionHandler(report);

    EXPECT_EQ(value, 0x600D600Du) << "execution went on after the report";
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind("EXCEPTION code=C0000005 address=", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(" module=" + executablePath() + " offset="), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(" phase=atomic: displace vertices access=0 target=00000000 ESP="), std::string::npos)
        << lines[0];
    EXPECT_NE(lines[1].find(" EBX=0BADF00D "), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find(" ESI=51515151 EDI=D1D1D1D1 "), std::string::npos) << lines[1];
    EXPECT_STREQ(kerbmark::phase, "after exception report");
}

// A fault in the middle of a frame: the frame's held lines go before the
// report, once, whether the fault is the game thread's own (a real one the
// program recovers from) or another thread's.
TEST_F(CrashReport, FaultMidFrameWritesTheFramesLinesFirstAndOnce) {
    for (bool otherThread : {false, true}) {
        log.clear();
        {
            const kerbmark::FrameLogBatch frame;
            kerbmark::logLine("Hit: first");
            kerbmark::logLine("Hit: second");
            if (otherThread) {
                HANDLE reporter = CreateThread(nullptr, 0, reportOnThisThread, nullptr, 0, nullptr);
                ASSERT_NE(reporter, nullptr);
                WaitForSingleObject(reporter, kWaitMs);
                CloseHandle(reporter);
            } else {
                PVOID report = AddVectoredExceptionHandler(0, kerbmark::crashReport);
                PVOID stepOver = AddVectoredExceptionHandler(0, stepOverNullRead);
                EXPECT_EQ(readAddressZero(), 0x600D600Du);
                RemoveVectoredExceptionHandler(stepOver);
                RemoveVectoredExceptionHandler(report);
            }
            kerbmark::logLine("Collision: after");
        }
        std::vector<std::string> lines = log.lines();
        ASSERT_EQ(lines.size(), 6u) << (otherThread ? "other thread" : "game thread");
        EXPECT_EQ(lines[2].rfind("EXCEPTION code=C0000005 ", 0), 0u) << lines[2];
        lines.erase(lines.begin() + 2, lines.begin() + 5);
        EXPECT_EQ(lines, (std::vector<std::string>{"Hit: first", "Hit: second", "Collision: after"}));
    }
}

}  // namespace
