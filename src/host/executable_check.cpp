#include "host/executable_check.h"

#include <windows.h>

#include <cstdint>

#include "foundation/log.h"
#include "host/bindings.h"
#include "host/memory_check.h"

namespace kerbmark {

namespace {

constexpr std::uint8_t kNearCall = 0xE8;

// Every fixed address is read only after its memory is known to be readable:
// an executable that passed the base check can still be too small to hold it.
bool wordIs(std::uint32_t address, std::uint32_t expectedA, std::uint32_t expectedB) {
    if (!readableRange(address, 4)) return false;
    const std::uint32_t word = host::at<const volatile std::uint32_t>(address);
    return word == expectedA || word == expectedB;
}

bool holdsNearCall(std::uint32_t site) {
    return readableRange(site, 1) && host::at<const volatile std::uint8_t>(site) == kNearCall;
}

}  // namespace

bool validateExecutable() {
    if (reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)) != host::kImageBase) {
        logLine("Unsupported executable base; disabled.");
        return false;
    }
    if (!wordIs(host::kIdentityWord, host::kIdentityHoodlum, host::kIdentityCompact)) {
        logLine("Unsupported executable: requires SA 1.0 US Hoodlum/Compact; disabled.");
        return false;
    }
    return true;
}

bool hookSitesIntact() {
    const std::uint32_t sites[] = {host::kFrameCallSite, host::kResetCallSiteA, host::kResetCallSiteB};
    for (std::uint32_t site : sites) {
        if (!holdsNearCall(site)) {
            logLine("Hook sites changed by another mod; disabled.");
            return false;
        }
    }
    return true;
}

}  // namespace kerbmark
