// A stand-in for the host inside a test executable linked with
// kerbmark_host_image: the fixed host addresses made writable, and the host
// functions the records and the material guard call pointed at doubles that
// keep the host's reference counting of geometries.
#pragma once

#include "host/support/binding_overrides.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "host/host_types.h"
#include "host/support/test_geometry.h"

// Bounds of the host image's uninitialised section (cmake/HostImage.cmake).
extern "C" char host_memory_start[], host_memory_end[];

namespace testhost {

// Makes 0x401000..0xCA1000 read-write (idempotent).
void makeHostMemoryWritable();

struct SetGeometryCall {
    void* atomic;
    void* geometry;
    std::uint32_t flags;
};

class FakeHost {
public:
    // Host memory writable, the vehicle pool present, the clock and state words
    // zero, and game::vehicleByRef, vehicleRef, atomics, setGeometry and
    // destroyGeometry pointed at this host. One FakeHost at a time.
    FakeHost();
    // Puts the previous bindings back and clears the pool word.
    ~FakeHost();
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    // A geometry with one reference (as the host creates it), `materials`
    // aligned material pointers in a table of `capacity` (default: materials)
    // and `vertices` vertices. Kept alive until the host is destroyed, also
    // after its count reaches 0.
    host::Geometry* geometry(std::int32_t materials, std::int32_t vertices = 4, std::int32_t capacity = -1);

    // A live vehicle with its own clump, named by `handle`.
    host::Vehicle* vehicle(std::int32_t handle);
    // Adds an atomic drawing `geometry` to the vehicle's clump; the atomic holds
    // one reference to it.
    host::Atomic* atomic(host::Vehicle* vehicle, host::Geometry* geometry);
    // An atomic that belongs to no vehicle (for the renderer).
    host::Atomic* looseAtomic(host::Geometry* geometry);

    // The handle no longer names a vehicle.
    void removeVehicle(std::int32_t handle);
    // The handle now names a new vehicle (returned); the old one keeps its clump and atomics.
    host::Vehicle* replaceVehicle(std::int32_t handle);
    // The pool pointer at 0xB74494: null while there is no pool.
    void setPoolPresent(bool present);

    // Calls made through the bindings.
    std::vector<SetGeometryCall> setGeometryCalls;
    std::vector<void*> destroyGeometryCalls;  // in call order
    unsigned atomicsCalls = 0;
    unsigned destroyCallsOf(const void* geometry) const;

    host::VehiclePool pool{};

    // The binding doubles' view of the host (used by the static doubles).
    static FakeHost* current;
    void* vehicleByRef(std::int32_t handle) const;
    std::int32_t vehicleRef(const void* vehicle) const;
    void forEachAtomic(void* clump, void* (*callback)(void*, void*), void* data);
    void setAtomicGeometry(void* atomic, void* geometry, std::uint32_t flags);
    void destroyGeometry(void* geometry);

private:
    struct VehicleStore;

    std::deque<std::unique_ptr<TestGeometry>> geometries_;
    std::deque<std::unique_ptr<VehicleStore>> vehicles_;
    std::deque<std::unique_ptr<host::Atomic>> looseAtomics_;
    std::map<std::int32_t, host::Vehicle*> handles_;
    BindingOverrides bindings_;
};

}  // namespace testhost
