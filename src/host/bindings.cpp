#include "host/bindings.h"

namespace {

template <typename Fn>
Fn hostFunction(std::uint32_t address) {
    return reinterpret_cast<Fn>(static_cast<std::uintptr_t>(address));
}

}  // namespace

namespace game {

AtomicsFn atomics = hostFunction<AtomicsFn>(host::kAtomics);
VehicleByRefFn vehicleByRef = hostFunction<VehicleByRefFn>(host::kVehicleByRef);
VehicleRefFn vehicleRef = hostFunction<VehicleRefFn>(host::kVehicleRef);
PlayerVehicleFn playerVehicle = hostFunction<PlayerVehicleFn>(host::kPlayerVehicle);
PlayerPedFn playerPed = hostFunction<PlayerPedFn>(host::kPlayerPed);
SetGeometryFn setGeometry = hostFunction<SetGeometryFn>(host::kSetGeometry);
DestroyGeometryFn destroyGeometry = hostFunction<DestroyGeometryFn>(host::kDestroyGeometry);
CreateGeometryFn createGeometry = hostFunction<CreateGeometryFn>(host::kCreateGeometry);
TriangleVerticesFn triangleVertices = hostFunction<TriangleVerticesFn>(host::kTriangleVertices);
TriangleMaterialFn triangleMaterial = hostFunction<TriangleMaterialFn>(host::kTriangleMaterial);
CopyExtensionsFn copyExtensions = hostFunction<CopyExtensionsFn>(host::kCopyExtensions);
GeometrySkinFn geometrySkin = hostFunction<GeometrySkinFn>(host::kGeometrySkin);
LockFn lock = hostFunction<LockFn>(host::kLock);
UnlockFn unlock = hostFunction<UnlockFn>(host::kUnlock);
FrameNameFn frameName = hostFunction<FrameNameFn>(host::kFrameName);
FrameLTMFn frameLTM = hostFunction<FrameLTMFn>(host::kFrameLTM);
AtomicFlagsFn atomicFlags = hostFunction<AtomicFlagsFn>(host::kAtomicFlags);
GetLightStatusFn getLightStatus = hostFunction<GetLightStatusFn>(host::kGetLightStatus);
SetLightStatusFn setLightStatus = hostFunction<SetLightStatusFn>(host::kSetLightStatus);

}  // namespace game

namespace collision {

ModelFn construct = hostFunction<ModelFn>(host::kCollisionConstruct);
ModelFn destruct = hostFunction<ModelFn>(host::kCollisionDestruct);
ModelFn allocate = hostFunction<ModelFn>(host::kCollisionAllocate);
AssignFn assign = hostFunction<AssignFn>(host::kCollisionAssign);
RemoveCachedPlanesFn removeCachedPlanes = hostFunction<RemoveCachedPlanesFn>(host::kCollisionRemoveCachedPlanes);
ColModelLookupFn original = nullptr;

}  // namespace collision

extern "C" const std::uint32_t RwEngineInstance = host::kEngineInstance;
