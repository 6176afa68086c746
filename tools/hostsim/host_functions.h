// The simulated host's own functions: the ones reached through the module's
// binding table, the two it diverts, and the three behind the call sites.
// Each counts its calls; misuse that would crash or corrupt the real host is
// recorded as a host fault instead.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace hostsim {

enum class HostFunction {
    FrameWork,
    ResetWorkA,
    ResetWorkB,
    AlphaRenderer,
    GetColModel,
    Atomics,
    VehicleByRef,
    VehicleRef,
    PlayerVehicle,
    PlayerPed,
    SetGeometry,
    DestroyGeometry,
    CreateGeometry,
    TriangleVertices,
    TriangleMaterial,
    CopyExtensions,
    GeometrySkin,
    Lock,
    Unlock,
    FrameName,
    FrameLTM,
    AtomicFlags,
    GetLightStatus,
    SetLightStatus,
    CollisionConstruct,
    CollisionDestruct,
    CollisionAllocate,
    CollisionAssign,
    CollisionRemoveCachedPlanes,
    Count
};

const char* hostFunctionName(HostFunction function);
std::uint32_t calls(HostFunction function);

// One entry point of the host: where it lives and what answers there.
struct HostEntry {
    HostFunction function;
    std::uint32_t address;
    std::uintptr_t implementation;
};
// Every binding address (thunks) and the three call-site targets.
const std::vector<HostEntry>& hostEntries();
// The implementations behind the two diverted functions' prologues.
std::uintptr_t alphaRendererImplementation();
std::uintptr_t getColModelImplementation();

// What the host's own routines do besides counting; set by scenarios.
struct HostEvents {
    std::function<void()> frameWork;   // after the clock has advanced
    std::function<void()> resetWorkA;
    std::function<void()> resetWorkB;
    // Every call of a host function, as it is counted.
    std::function<void(HostFunction)> anyCall;
};
HostEvents& events();

// Milliseconds the host clock advances per frame.
constexpr std::uint32_t kFrameMs = 33;

// The atomic the alpha renderer drew last, or null.
const void* lastAlphaDraw();

// Makes the `nth` call from now of `function` fail the way the host's function
// fails (null or 0, nothing done); 1 is the next call. For createGeometry,
// triangleVertices, triangleMaterial, copyExtensions, lock and unlock.
void failCall(HostFunction function, std::uint32_t nth = 1);

// The calls that make or fill in a geometry, as a host short of memory refuses them:
// createGeometry, copyExtensions, triangleVertices and triangleMaterial.
bool isAllocating(HostFunction function);
// Asked once for every allocating call (after failCall's own): true refuses it.
// Empty: nothing more is refused.
using RefusalRule = std::function<bool(HostFunction)>;
void refuseAllocatingCalls(RefusalRule refuse);
// Calls refused so far, by failCall or the refusal rule.
std::uint32_t refusals(HostFunction function);

// Misuse of the host seen by its functions (a double destroy, a foreign
// pointer, a broken material table drawn, a half-built geometry attached, a
// geometry attached although a call in its making was refused).
void hostFault(const std::string& what);
const std::vector<std::string>& hostFaults();

}  // namespace hostsim
