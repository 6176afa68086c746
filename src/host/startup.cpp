#include "host/startup.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "deform/player_preparation.h"
#include "deform/records.h"
#include "foundation/crash_report.h"
#include "foundation/ini_buffer.h"
#include "foundation/log.h"
#include "foundation/log_rotation.h"
#include "foundation/setting_changes.h"
#include "foundation/settings.h"
#include "foundation/settings_file.h"
#include "host/bindings.h"
#include "host/executable_check.h"
#include "host/frame_update.h"
#include "host/settings_reload.h"

namespace kerbmark {

const char kBanner[] =
    "Kerbmark " KERBMARK_VERSION " hotfix 2 - progressive boot fold onset; separate original/damaged panel shading";
const char kActiveLine[] =
    "Active. Player first; nearby NPCs according to Traffic settings. F7 restores player geometry and private "
    "collision.";
const char kHookFailedLine[] = "Could not install process hook; no deformation enabled.";

std::uintptr_t frameSiteTarget = 0;
std::uintptr_t resetSiteTargetA = 0;
std::uintptr_t resetSiteTargetB = 0;
char iniPath[kPathSize] = "";

namespace {

constexpr std::uint8_t kNearCall = 0xE8;
constexpr std::size_t kCallSize = 5;

// One line after the banner when the log could not be moved aside.
void reportRotation(const LogRotation& rotation, const ModulePaths& paths) {
    if (rotation.outcome != LogRotation::Outcome::Failed) return;
    logFormatted<320>("Log: %s is past MaxLogSizeKB=%u but cannot become %s (error %lu); appending to it.",
                      fileNameOf(paths.log), settings.MaxLogSizeKB, fileNameOf(paths.oldLog), rotation.error);
}

}  // namespace

void restoreEveryVehicle() noexcept {
    try {
        if (recordList) clearAllRecords(*recordList);
        releasePreparation();
    } catch (...) {
    }
}

bool rewriteCallSite(std::uintptr_t site, const void* replacement, std::uintptr_t& savedTarget) {
    auto* code = reinterpret_cast<std::uint8_t*>(site);
    if (code[0] != kNearCall) return false;

    std::int32_t displacement;
    std::memcpy(&displacement, code + 1, sizeof displacement);
    savedTarget = site + kCallSize + static_cast<std::uintptr_t>(static_cast<std::intptr_t>(displacement));

    DWORD previous = 0;
    if (!VirtualProtect(code, kCallSize, PAGE_EXECUTE_READWRITE, &previous)) return false;
    const std::uint32_t newDisplacement =
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(replacement) - (site + kCallSize));
    std::memcpy(code + 1, &newDisplacement, sizeof newDisplacement);
    DWORD ignored = 0;
    VirtualProtect(code, kCallSize, previous, &ignored);
    FlushInstructionCache(GetCurrentProcess(), code, kCallSize);
    return true;
}

std::uint64_t callHostRoutine(std::uintptr_t routine) {
    using HostRoutine = std::uint64_t (*)();
    return reinterpret_cast<HostRoutine>(routine)();
}

std::uint64_t resetAllAtFirstSite() {
    restoreEveryVehicle();
    return callHostRoutine(resetSiteTargetA);
}

std::uint64_t resetAllAtSecondSite() {
    restoreEveryVehicle();
    return callHostRoutine(resetSiteTargetB);
}

bool installProcessHooks() {
    return rewriteCallSite(host::kResetCallSiteA, reinterpret_cast<const void*>(&resetAllAtFirstSite),
                           resetSiteTargetA) &&
           rewriteCallSite(host::kResetCallSiteB, reinterpret_cast<const void*>(&resetAllAtSecondSite),
                           resetSiteTargetB) &&
           rewriteCallSite(host::kFrameCallSite, reinterpret_cast<const void*>(&frameUpdate), frameSiteTarget);
}

void startFromPath(const char* modulePath) {
    const ModulePaths paths = derivePaths(modulePath);
    std::snprintf(logPath, sizeof logPath, "%s", paths.log);
    std::snprintf(iniPath, sizeof iniPath, "%s", paths.ini);
    // The file is read once, whole; a missing or unreadable one gives every default.
    IniBuffer ini(readSettingsFile(iniPath, false).bytes);
    NotingSource noted(ini);
    readGeneralKeys(noted, settings, diagnostics);
    const LogRotation rotation = rotateLog(paths.log, paths.oldLog, std::uint64_t{settings.MaxLogSizeKB} * 1024u);
    logLine(kBanner);
    reportRotation(rotation, paths);

    // Registered before the host checks, so that a fault in them is reported too.
    AddVectoredExceptionHandler(0, &crashReport);

    if (!validateExecutable()) return;
    if (!readEnabled(noted)) {
        logLine("Disabled in INI.");
        return;
    }
    readRemainingKeys(noted, settings);
    if (!hookSitesIntact()) return;

    rememberStartupValues(std::move(noted.values));
    recordList = new (std::nothrow) RecordList;
    if (recordList && installProcessHooks())
        logLine(kActiveLine);
    else
        logLine(kHookFailedLine);
}

void startModule(HMODULE module) {
    DisableThreadLibraryCalls(module);
    char path[kPathSize];
    const DWORD length = GetModuleFileNameA(module, path, sizeof path);
    // Zero: no path; the whole buffer: a path cut short, which names the wrong files.
    if (length == 0 || length >= sizeof path) return;
    startFromPath(path);
}

}  // namespace kerbmark
