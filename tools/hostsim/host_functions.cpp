#include "host_functions.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <utility>

#include "host_geometry.h"
#include "host_image.h"
#include "host_world.h"

#define HOST_THISCALL __attribute__((thiscall))

namespace hostsim {

namespace {

std::uint32_t g_calls[static_cast<int>(HostFunction::Count)] = {};
std::vector<std::string> g_faults;
HostEvents g_events;
const void* g_lastAlphaDraw = nullptr;

std::map<HostFunction, std::uint32_t> g_failingCall;
RefusalRule g_refusalRule;
std::uint32_t g_refusals[static_cast<int>(HostFunction::Count)] = {};

void count(HostFunction function) {
    ++g_calls[static_cast<int>(function)];
    if (g_events.anyCall) g_events.anyCall(function);
}

// Whether the call just counted is one that was set to fail.
bool setToFail(HostFunction function) {
    auto found = g_failingCall.find(function);
    if (found == g_failingCall.end() || found->second != calls(function)) return false;
    g_failingCall.erase(found);
    return true;
}

// Whether the call just counted fails: set to fail, or refused by the rule.
bool failsNow(HostFunction function) {
    const bool fails = setToFail(function) || (isAllocating(function) && g_refusalRule && g_refusalRule(function));
    if (fails) ++g_refusals[static_cast<int>(function)];
    return fails;
}

// A geometry whose making had a refused call is incomplete: it must never be drawn.
void markRefusedInMaking(Geometry* geometry) {
    if (isLiveGeometry(geometry)) geometry->hostRefusedInMaking = true;
}

std::string pointerText(const char* what, const void* pointer) {
    char text[96];
    std::snprintf(text, sizeof text, "%s %p", what, pointer);
    return text;
}

// ------------------------------------------------------------ the call-site targets

void frameWork() {
    count(HostFunction::FrameWork);
    fixed<std::uint32_t>(kClock) += kFrameMs;
    if (g_events.frameWork) g_events.frameWork();
}

void resetWorkA() {
    count(HostFunction::ResetWorkA);
    if (g_events.resetWorkA) g_events.resetWorkA();
}

void resetWorkB() {
    count(HostFunction::ResetWorkB);
    if (g_events.resetWorkB) g_events.resetWorkB();
}

// ------------------------------------------------------------ the diverted functions

// A broken material table would crash the real renderer.
bool materialTableIntact(const Geometry* geometry) {
    if (!isLiveGeometry(geometry)) return false;
    if (geometry->materialCount < 1 || geometry->materialCapacity < geometry->materialCount) return false;
    if (!geometry->materials) return false;
    for (std::int32_t i = 0; i < geometry->materialCount; ++i)
        if (!geometry->materials[i]) return false;
    return true;
}

void* alphaRenderer(Atomic* atomic, std::uint32_t) {
    count(HostFunction::AlphaRenderer);
    g_lastAlphaDraw = atomic;
    if (!isLiveAtomic(atomic)) {
        hostFault(pointerText("alpha renderer: not an atomic", atomic));
        return nullptr;
    }
    if (!materialTableIntact(atomic->geometry))
        hostFault(pointerText("alpha renderer: broken material table on geometry", atomic->geometry));
    return atomic;
}

ColModel* HOST_THISCALL getColModel(const Vehicle* entity) {
    count(HostFunction::GetColModel);
    if (!entity) {
        hostFault("GetColModel: null entity");
        return nullptr;
    }
    return modelCollision(entity->modelId);
}

// ------------------------------------------------------------ bindings

Clump* atomics(Clump* clump, void* (*callback)(void* atomic, void* data), void* data) {
    count(HostFunction::Atomics);
    if (!isLiveClump(clump)) {
        hostFault(pointerText("atomics: not a clump", clump));
        return nullptr;
    }
    for (Atomic* atomic : clumpAtomics(clump))
        if (!callback(atomic, data)) break;
    return clump;
}

Vehicle* vehicleByRef(std::int32_t handle) {
    count(HostFunction::VehicleByRef);
    return vehicleFromHandle(handle);
}

std::int32_t vehicleRef(const Vehicle* vehicle) {
    count(HostFunction::VehicleRef);
    const std::int32_t handle = vehicleHandle(vehicle);
    if (handle < 0) hostFault(pointerText("vehicleRef: not a pool vehicle", vehicle));
    return handle;
}

Vehicle* playerVehicle(std::int32_t, std::int32_t) {
    count(HostFunction::PlayerVehicle);
    return currentPlayerVehicle();
}

Ped* playerPedFunction(std::int32_t) {
    count(HostFunction::PlayerPed);
    return playerPedPresent() ? playerPed() : nullptr;
}

Atomic* setGeometry(Atomic* atomic, Geometry* geometry, std::uint32_t flags) {
    count(HostFunction::SetGeometry);
    if (!isLiveAtomic(atomic)) {
        hostFault(pointerText("setGeometry: not an atomic", atomic));
        return nullptr;
    }
    if (geometry && (!isLiveGeometry(geometry) || geometry->hostDestroyed)) {
        hostFault(pointerText("setGeometry: dead geometry", geometry));
        return nullptr;
    }
    // Without render meshes the renderer would crash on the atomic's next draw.
    if (geometry && (geometry->hostUnlocks == 0 || geometry->hostLockMode != 0))
        hostFault(pointerText("setGeometry: half-built or locked geometry attached", geometry));
    if (geometry && geometry->hostRefusedInMaking)
        hostFault(pointerText("setGeometry: geometry attached although a call in its making was refused", geometry));
    attachGeometry(atomic, geometry);
    if (geometry && flags == 0) std::memcpy(atomic->boundingSphere, geometry->vertexBlock->boundingSphere, 16);
    return atomic;
}

std::int32_t destroyGeometry(Geometry* geometry) {
    count(HostFunction::DestroyGeometry);
    if (!isLiveGeometry(geometry) || geometry->hostDestroyed) {
        hostFault(pointerText("destroyGeometry: dead or foreign geometry", geometry));
        return 0;
    }
    dropGeometryReference(geometry);
    return 1;
}

Geometry* createGeometry(std::int32_t vertices, std::int32_t triangles, std::uint32_t format) {
    count(HostFunction::CreateGeometry);
    if (failsNow(HostFunction::CreateGeometry)) return nullptr;
    Geometry* geometry = newGeometry(vertices, triangles, format);
    if (geometry) markMadeByModule(geometry);
    return geometry;
}

bool triangleOf(const char* function, const Geometry* geometry, const Triangle* triangle) {
    if (!isLiveGeometry(geometry) || geometry->hostDestroyed) {
        hostFault(pointerText(function, geometry));
        return false;
    }
    if (triangle < geometry->triangles || triangle >= geometry->triangles + geometry->triangleCount) {
        hostFault(pointerText(function, triangle));
        return false;
    }
    if (!(geometry->hostLockMode & kLockTriangles)) {
        hostFault(pointerText("triangle changed in a geometry not open for triangles:", geometry));
        return false;
    }
    return true;
}

Geometry* triangleVertices(Geometry* geometry, Triangle* triangle, std::uint16_t a, std::uint16_t b, std::uint16_t c) {
    count(HostFunction::TriangleVertices);
    if (failsNow(HostFunction::TriangleVertices)) {
        markRefusedInMaking(geometry);
        return nullptr;
    }
    if (!triangleOf("triangleVertices: triangle outside its geometry", geometry, triangle)) return nullptr;
    triangle->vertex[0] = a;
    triangle->vertex[1] = b;
    triangle->vertex[2] = c;
    return geometry;
}

Geometry* triangleMaterial(Geometry* geometry, Triangle* triangle, Material* material) {
    count(HostFunction::TriangleMaterial);
    if (failsNow(HostFunction::TriangleMaterial)) {
        markRefusedInMaking(geometry);
        return nullptr;
    }
    if (!triangleOf("triangleMaterial: triangle outside its geometry", geometry, triangle)) return nullptr;
    if (!material) return nullptr;
    const int index = useMaterial(geometry, material);
    if (index < 0) return nullptr;
    triangle->material = static_cast<std::uint16_t>(index);
    return geometry;
}

std::int32_t copyExtensions(void* registry, Geometry* destination, const Geometry* source) {
    count(HostFunction::CopyExtensions);
    if (failsNow(HostFunction::CopyExtensions)) {
        markRefusedInMaking(destination);
        return 0;
    }
    if (reinterpret_cast<std::uintptr_t>(registry) != kExtensionRegistry) {
        hostFault(pointerText("copyExtensions: not the geometry registry", registry));
        return 0;
    }
    if (!isLiveGeometry(destination) || !isLiveGeometry(source)) {
        hostFault("copyExtensions: dead or foreign geometry");
        return 0;
    }
    destination->hostExtension = source->hostExtension;
    return 1;
}

void* geometrySkin(const Geometry* geometry) {
    count(HostFunction::GeometrySkin);
    return isLiveGeometry(geometry) ? geometry->hostSkin : nullptr;
}

Geometry* lock(Geometry* geometry, std::int32_t mode) {
    count(HostFunction::Lock);
    if (!isLiveGeometry(geometry) || geometry->hostDestroyed) {
        hostFault(pointerText("lock: dead or foreign geometry", geometry));
        return nullptr;
    }
    if (failsNow(HostFunction::Lock)) return nullptr;
    lockGeometry(geometry, mode);
    return geometry;
}

Geometry* unlock(Geometry* geometry) {
    count(HostFunction::Unlock);
    if (!isLiveGeometry(geometry) || geometry->hostDestroyed) {
        hostFault(pointerText("unlock: dead or foreign geometry", geometry));
        return nullptr;
    }
    if (failsNow(HostFunction::Unlock)) return nullptr;
    unlockGeometry(geometry);
    return geometry;
}

const char* frameName(const Frame* frame) {
    count(HostFunction::FrameName);
    if (!isLiveFrame(frame)) return nullptr;
    return frame->hostName;
}

Matrix* frameLTM(Frame* frame) {
    count(HostFunction::FrameLTM);
    if (!isLiveFrame(frame)) return nullptr;
    return &frame->hostWorld;
}

std::uint32_t atomicFlags(const Atomic* atomic) {
    count(HostFunction::AtomicFlags);
    if (!isLiveAtomic(atomic)) {
        hostFault(pointerText("atomicFlags: not an atomic", atomic));
        return 0;
    }
    return atomic->hostRenderFlags;
}

// A light of a pool vehicle's damage state (the vehicle at +0x5A0).
bool lightOfVehicle(const DamageState* damage, std::int32_t light) {
    if (light < 0 || light >= kLightCount) return false;
    for (const Vehicle* vehicle : poolVehicles())
        if (&vehicle->damage == damage) return true;
    return false;
}

std::int32_t HOST_THISCALL getLightStatus(const DamageState* damage, std::int32_t light) {
    count(HostFunction::GetLightStatus);
    if (!lightOfVehicle(damage, light)) {
        hostFault(pointerText("getLightStatus: not a vehicle's damage state and light", damage));
        return 0;
    }
    return damage->hostLights[light];
}

void HOST_THISCALL setLightStatus(DamageState* damage, std::int32_t light, std::int32_t status) {
    count(HostFunction::SetLightStatus);
    if (!lightOfVehicle(damage, light)) {
        hostFault(pointerText("setLightStatus: not a vehicle's damage state and light", damage));
        return;
    }
    damage->hostLights[light] = static_cast<std::uint8_t>(status);
}

void HOST_THISCALL collisionConstruct(ColModel* model) {
    count(HostFunction::CollisionConstruct);
    std::memset(model, 0, sizeof *model);
}

void HOST_THISCALL collisionDestruct(ColModel* model) {
    count(HostFunction::CollisionDestruct);
    if (model->data) {
        if (!isLiveColData(model->data))
            hostFault(pointerText("collision destruct: foreign collision data", model->data));
        else
            freeColData(model->data);
    }
    model->data = nullptr;
}

void HOST_THISCALL collisionAllocate(ColModel* model) {
    count(HostFunction::CollisionAllocate);
    if (model->data && isLiveColData(model->data)) freeColData(model->data);
    model->data = newColData();
}

void HOST_THISCALL collisionAssign(ColModel* target, const ColModel* source) {
    count(HostFunction::CollisionAssign);
    if (!source) {
        hostFault("collision assign: null source");
        return;
    }
    copyColData(target, source);
}

void collisionRemoveCachedPlanes(ColData* data) {
    count(HostFunction::CollisionRemoveCachedPlanes);
    if (!isLiveColData(data)) {
        hostFault(pointerText("removeCachedPlanes: foreign collision data", data));
        return;
    }
    data->hostCachedPlanes = nullptr;
}

template <typename Fn>
std::uintptr_t addressOf(Fn function) {
    return reinterpret_cast<std::uintptr_t>(function);
}

}  // namespace

const char* hostFunctionName(HostFunction function) {
    static const char* const names[] = {
        "frame work", "reset work A", "reset work B", "alpha renderer", "GetColModel", "atomics",
        "vehicleByRef", "vehicleRef", "playerVehicle", "playerPed", "setGeometry", "destroyGeometry",
        "createGeometry", "triangleVertices", "triangleMaterial", "copyExtensions", "geometrySkin", "lock",
        "unlock", "frameName", "frameLTM", "atomicFlags", "getLightStatus", "setLightStatus",
        "collision construct", "collision destruct", "collision allocate", "collision assign",
        "collision removeCachedPlanes"};
    static_assert(sizeof names / sizeof names[0] == static_cast<int>(HostFunction::Count), "one name each");
    return names[static_cast<int>(function)];
}

std::uint32_t calls(HostFunction function) { return g_calls[static_cast<int>(function)]; }

const std::vector<HostEntry>& hostEntries() {
    static const std::vector<HostEntry> entries = {
        {HostFunction::FrameWork, kFrameWorkFunction, addressOf(&frameWork)},
        {HostFunction::ResetWorkA, kResetWorkFunctionA, addressOf(&resetWorkA)},
        {HostFunction::ResetWorkB, kResetWorkFunctionB, addressOf(&resetWorkB)},
        {HostFunction::Atomics, kAtomics, addressOf(&atomics)},
        {HostFunction::VehicleByRef, kVehicleByRef, addressOf(&vehicleByRef)},
        {HostFunction::VehicleRef, kVehicleRef, addressOf(&vehicleRef)},
        {HostFunction::PlayerVehicle, kPlayerVehicle, addressOf(&playerVehicle)},
        {HostFunction::PlayerPed, kPlayerPed, addressOf(&playerPedFunction)},
        {HostFunction::SetGeometry, kSetGeometry, addressOf(&setGeometry)},
        {HostFunction::DestroyGeometry, kDestroyGeometry, addressOf(&destroyGeometry)},
        {HostFunction::CreateGeometry, kCreateGeometry, addressOf(&createGeometry)},
        {HostFunction::TriangleVertices, kTriangleVertices, addressOf(&triangleVertices)},
        {HostFunction::TriangleMaterial, kTriangleMaterial, addressOf(&triangleMaterial)},
        {HostFunction::CopyExtensions, kCopyExtensions, addressOf(&copyExtensions)},
        {HostFunction::GeometrySkin, kGeometrySkin, addressOf(&geometrySkin)},
        {HostFunction::Lock, kLock, addressOf(&lock)},
        {HostFunction::Unlock, kUnlock, addressOf(&unlock)},
        {HostFunction::FrameName, kFrameName, addressOf(&frameName)},
        {HostFunction::FrameLTM, kFrameLTM, addressOf(&frameLTM)},
        {HostFunction::AtomicFlags, kAtomicFlags, addressOf(&atomicFlags)},
        {HostFunction::GetLightStatus, kGetLightStatus, addressOf(&getLightStatus)},
        {HostFunction::SetLightStatus, kSetLightStatus, addressOf(&setLightStatus)},
        {HostFunction::CollisionConstruct, kCollisionConstruct, addressOf(&collisionConstruct)},
        {HostFunction::CollisionDestruct, kCollisionDestruct, addressOf(&collisionDestruct)},
        {HostFunction::CollisionAllocate, kCollisionAllocate, addressOf(&collisionAllocate)},
        {HostFunction::CollisionAssign, kCollisionAssign, addressOf(&collisionAssign)},
        {HostFunction::CollisionRemoveCachedPlanes, kCollisionRemoveCachedPlanes,
         addressOf(&collisionRemoveCachedPlanes)},
    };
    return entries;
}

std::uintptr_t alphaRendererImplementation() { return addressOf(&alphaRenderer); }
std::uintptr_t getColModelImplementation() { return addressOf(&getColModel); }

HostEvents& events() { return g_events; }

const void* lastAlphaDraw() { return g_lastAlphaDraw; }

void failCall(HostFunction function, std::uint32_t nth) { g_failingCall[function] = calls(function) + nth; }

bool isAllocating(HostFunction function) {
    return function == HostFunction::CreateGeometry || function == HostFunction::CopyExtensions ||
           function == HostFunction::TriangleVertices || function == HostFunction::TriangleMaterial;
}

void refuseAllocatingCalls(RefusalRule refuse) { g_refusalRule = std::move(refuse); }

std::uint32_t refusals(HostFunction function) { return g_refusals[static_cast<int>(function)]; }

void hostFault(const std::string& what) {
    std::fprintf(stderr, "hostsim: host fault: %s\n", what.c_str());
    g_faults.push_back(what);
}

const std::vector<std::string>& hostFaults() { return g_faults; }

}  // namespace hostsim
