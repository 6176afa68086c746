// Start-up on process attach: log, settings, crash report, host checks, the
// record list, and the three rewritten host call sites.
#pragma once

#include <windows.h>

#include <cstdint>

#include "foundation/settings.h"

namespace kerbmark {

// Path of the INI file; empty until start-up derives it.
extern char iniPath[kPathSize];

extern const char kBanner[];
extern const char kActiveLine[];
extern const char kHookFailedLine[];

// What each rewritten call site called before; zero until the site is rewritten.
extern std::uintptr_t frameSiteTarget;
extern std::uintptr_t resetSiteTargetA;
extern std::uintptr_t resetSiteTargetB;

// Keeps the near call at `site` but makes it call `replacement`; the call's
// previous target goes to `savedTarget`. False (site untouched) when the site
// holds no near call or cannot be made writable.
bool rewriteCallSite(std::uintptr_t site, const void* replacement, std::uintptr_t& savedTarget);

// The entry routine's work on process attach. Never fails the load: every
// refusal leaves the module idle with its one log line.
void startModule(HMODULE module);

// Start-up from the point where the module's own path is known.
void startFromPath(const char* modulePath);

// Rewrites the two reset-all sites, then the frame site, each only after the
// previous one succeeded; true when all three are rewritten.
bool installProcessHooks();

// Calls a host routine that takes no arguments; its result registers as they came back.
std::uint64_t callHostRoutine(std::uintptr_t routine);

// What the reset events do before the host's routine: every vehicle gets its
// originals back and every record, queued work and prepared copy goes.
void restoreEveryVehicle() noexcept;

// The replacements at the two reset-all sites: drop every vehicle record,
// then let the host's routine run as before.
std::uint64_t resetAllAtFirstSite();
std::uint64_t resetAllAtSecondSite();

}  // namespace kerbmark
