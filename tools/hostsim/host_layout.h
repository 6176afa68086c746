// Where the simulated "SA 1.0 US" keeps its code and data: every fixed address
// of the supported executable, and the free host memory the simulator uses for
// its own host code. Kept apart from the module's address list on purpose, so
// that a wrong address on either side shows up as a failed scenario.
#pragma once

#include <cstdint>

namespace hostsim {

constexpr std::uint32_t kImageBase = 0x400000;

// Data.
constexpr std::uint32_t kIdentityWordAddress = 0x401000;
constexpr std::uint32_t kModelInfoTableWord = 0x40CD67;
constexpr std::uint32_t kExtensionRegistry = 0x8D628C;
constexpr std::uint32_t kVehiclePoolPointer = 0xB74494;
constexpr std::uint32_t kStateByteA = 0xB7CB48;
constexpr std::uint32_t kStateByteB = 0xB7CB49;
constexpr std::uint32_t kClock = 0xB7CB84;
constexpr std::uint32_t kEngineInstancePointer = 0xC97B24;

// The two identity words the module accepts.
constexpr std::uint32_t kIdentityHoodlum = 0x16197BE9;
constexpr std::uint32_t kIdentityCompact = 0x53EC8B55;

// Call sites the module rewrites: each an `E8 rel32` followed by `ret`, so
// that calling the site runs one call of the host function behind it.
constexpr std::uint32_t kFrameSite = 0x53E981;
constexpr std::uint32_t kResetSiteA = 0x53D910;
constexpr std::uint32_t kResetSiteB = 0x53CA5C;

// Functions the module diverts: real code with an ordinary prologue.
constexpr std::uint32_t kAlphaRenderer = 0x732480;
constexpr std::uint32_t kGetColModel = 0x535300;

// Host functions the module calls through its binding table.
constexpr std::uint32_t kAtomics = 0x749B70;
constexpr std::uint32_t kVehicleByRef = 0x54FFF0;
constexpr std::uint32_t kVehicleRef = 0x54FFC0;
constexpr std::uint32_t kPlayerVehicle = 0x56E0D0;
constexpr std::uint32_t kPlayerPed = 0x56E210;
constexpr std::uint32_t kSetGeometry = 0x749D40;
constexpr std::uint32_t kDestroyGeometry = 0x74CCC0;
constexpr std::uint32_t kCreateGeometry = 0x74CA90;
constexpr std::uint32_t kTriangleVertices = 0x74C690;
constexpr std::uint32_t kTriangleMaterial = 0x74C6C0;
constexpr std::uint32_t kCopyExtensions = 0x808770;
constexpr std::uint32_t kGeometrySkin = 0x7C7550;
constexpr std::uint32_t kLock = 0x74C7D0;
constexpr std::uint32_t kUnlock = 0x74C800;
constexpr std::uint32_t kFrameName = 0x72FB30;
constexpr std::uint32_t kFrameLTM = 0x7F0990;
constexpr std::uint32_t kAtomicFlags = 0x732370;
constexpr std::uint32_t kGetLightStatus = 0x6C2130;
constexpr std::uint32_t kSetLightStatus = 0x6C2100;
constexpr std::uint32_t kCollisionConstruct = 0x40FB60;
constexpr std::uint32_t kCollisionDestruct = 0x40F700;
constexpr std::uint32_t kCollisionAllocate = 0x40F810;
constexpr std::uint32_t kCollisionAssign = 0x40F7C0;
constexpr std::uint32_t kCollisionRemoveCachedPlanes = 0x416400;

// The host's own functions behind the three call sites; free host memory
// that no fixed address uses.
constexpr std::uint32_t kFrameWorkFunction = 0x420000;
constexpr std::uint32_t kResetWorkFunctionA = 0x420010;
constexpr std::uint32_t kResetWorkFunctionB = 0x420020;

// Free host memory that scenarios may use for code of their own (another
// module's hook, a foreign call target).
constexpr std::uint32_t kScratchCode = 0x430000;
constexpr std::uint32_t kScratchCodeSize = 0x1000;

// Byte sizes of what the simulator writes at its fixed addresses.
constexpr std::uint32_t kCallSiteSize = 6;          // E8 rel32, C3
constexpr std::uint32_t kJumpThunkSize = 5;         // E9 rel32
constexpr std::uint32_t kAlphaRendererSize = 21;    // prologue, two pushes, call, epilogue
constexpr std::uint32_t kGetColModelSize = 15;

struct FixedRange {
    std::uint32_t address;
    std::uint32_t size;
    const char* what;
};

// Every fixed range the simulator lays out; each must lie in host memory.
extern const FixedRange kFixedRanges[];
extern const std::uint32_t kFixedRangeCount;

}  // namespace hostsim
