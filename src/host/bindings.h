// The host's functions and fixed addresses ("SA 1.0 US", Hoodlum and Compact builds).
//
// Every host function is reached through one exported pointer, statically
// initialised to its host address; tests point them at doubles. Nothing here
// is valid on another executable: the executable checks guard every use.
#pragma once

#include <cstdint>

#include "foundation/vec.h"

#if defined(_WIN32)
#define KERBMARK_EXPORT __declspec(dllexport)
#define KERBMARK_THISCALL __attribute__((thiscall))
#else
#define KERBMARK_EXPORT
#define KERBMARK_THISCALL
#endif

namespace game {

using AtomicCallback = void* (*)(void* atomic, void* data);

using AtomicsFn = void* (*)(void* clump, AtomicCallback callback, void* data);
using VehicleByRefFn = void* (*)(std::int32_t handle);
using VehicleRefFn = std::int32_t (*)(void* vehicle);
using PlayerVehicleFn = void* (*)(std::int32_t player, std::int32_t includeRemote);
using PlayerPedFn = void* (*)(std::int32_t player);
using SetGeometryFn = void* (*)(void* atomic, void* geometry, std::uint32_t flags);
using DestroyGeometryFn = std::int32_t (*)(void* geometry);
using CreateGeometryFn = void* (*)(std::int32_t vertices, std::int32_t triangles, std::uint32_t format);
using TriangleVerticesFn = void* (*)(void* geometry, void* triangle, std::uint16_t a, std::uint16_t b, std::uint16_t c);
using TriangleMaterialFn = void* (*)(void* geometry, void* triangle, void* material);
using CopyExtensionsFn = std::int32_t (*)(void* registry, void* destination, const void* source);
using GeometrySkinFn = void* (*)(void* geometry);
using LockFn = void* (*)(void* geometry, std::int32_t mode);
using UnlockFn = void* (*)(void* geometry);
using FrameNameFn = const char* (*)(void* frame);
using FrameLTMFn = dent::HostMatrix* (*)(void* frame);
using AtomicFlagsFn = std::uint32_t (*)(void* atomic);
using GetLightStatusFn = std::int32_t(KERBMARK_THISCALL*)(void* damage, std::int32_t light);
using SetLightStatusFn = void(KERBMARK_THISCALL*)(void* damage, std::int32_t light, std::int32_t status);

KERBMARK_EXPORT extern AtomicsFn atomics;
KERBMARK_EXPORT extern VehicleByRefFn vehicleByRef;
KERBMARK_EXPORT extern VehicleRefFn vehicleRef;
KERBMARK_EXPORT extern PlayerVehicleFn playerVehicle;
KERBMARK_EXPORT extern PlayerPedFn playerPed;
KERBMARK_EXPORT extern SetGeometryFn setGeometry;
KERBMARK_EXPORT extern DestroyGeometryFn destroyGeometry;
KERBMARK_EXPORT extern CreateGeometryFn createGeometry;
KERBMARK_EXPORT extern TriangleVerticesFn triangleVertices;
KERBMARK_EXPORT extern TriangleMaterialFn triangleMaterial;
KERBMARK_EXPORT extern CopyExtensionsFn copyExtensions;
KERBMARK_EXPORT extern GeometrySkinFn geometrySkin;
KERBMARK_EXPORT extern LockFn lock;
KERBMARK_EXPORT extern UnlockFn unlock;
KERBMARK_EXPORT extern FrameNameFn frameName;
KERBMARK_EXPORT extern FrameLTMFn frameLTM;
KERBMARK_EXPORT extern AtomicFlagsFn atomicFlags;
KERBMARK_EXPORT extern GetLightStatusFn getLightStatus;
KERBMARK_EXPORT extern SetLightStatusFn setLightStatus;

}  // namespace game

namespace collision {

using ModelFn = void(KERBMARK_THISCALL*)(void* model);
using AssignFn = void(KERBMARK_THISCALL*)(void* destination, const void* source);
using RemoveCachedPlanesFn = void (*)(void* collisionData);
using ColModelLookupFn = void*(KERBMARK_THISCALL*)(void* entity);

KERBMARK_EXPORT extern ModelFn construct;
KERBMARK_EXPORT extern ModelFn destruct;
KERBMARK_EXPORT extern ModelFn allocate;
KERBMARK_EXPORT extern AssignFn assign;
KERBMARK_EXPORT extern RemoveCachedPlanesFn removeCachedPlanes;
// Not a host address: the hooking layer fills it with the way back to the
// host's own lookup once that lookup is diverted; zero until then.
KERBMARK_EXPORT extern ColModelLookupFn original;

}  // namespace collision

// The host engine's instance pointer, exported as the constant address.
extern "C" {
KERBMARK_EXPORT extern const std::uint32_t RwEngineInstance;
}

namespace host {

// Fixed host data and code addresses.
constexpr std::uint32_t kImageBase = 0x400000;
constexpr std::uint32_t kIdentityWord = 0x401000;
constexpr std::uint32_t kIdentityHoodlum = 0x16197BE9;
constexpr std::uint32_t kIdentityCompact = 0x53EC8B55;
constexpr std::uint32_t kFrameCallSite = 0x53E981;
constexpr std::uint32_t kResetCallSiteA = 0x53D910;
constexpr std::uint32_t kResetCallSiteB = 0x53CA5C;
constexpr std::uint32_t kAlphaRenderer = 0x732480;
constexpr std::uint32_t kGetColModel = 0x535300;
constexpr std::uint32_t kVehiclePool = 0xB74494;
constexpr std::uint32_t kStateByteA = 0xB7CB48;
constexpr std::uint32_t kStateByteB = 0xB7CB49;
constexpr std::uint32_t kEngineInstance = 0xC97B24;
constexpr std::uint32_t kClock = 0xB7CB84;
constexpr std::uint32_t kModelInfoTableWord = 0x40CD67;
constexpr std::uint32_t kExtensionRegistry = 0x8D628C;

// Host function addresses, as the binding pointers start out.
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

// Reads host data at a fixed address.
template <typename T>
inline T& at(std::uint32_t address) {
    return *reinterpret_cast<T*>(static_cast<std::uintptr_t>(address));
}

// The host clock, milliseconds.
inline std::uint32_t clockMs() { return at<const volatile std::uint32_t>(kClock); }

}  // namespace host
