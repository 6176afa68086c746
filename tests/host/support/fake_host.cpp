#include "host/support/fake_host.h"

#include <windows.h>

#include "host/bindings.h"

namespace testhost {

FakeHost* FakeHost::current = nullptr;

void makeHostMemoryWritable() {
    static bool done = false;
    if (done) return;
    DWORD old = 0;
    VirtualProtect(host_memory_start, static_cast<SIZE_T>(host_memory_end - host_memory_start), PAGE_READWRITE, &old);
    done = true;
}


struct FakeHost::VehicleStore {
    host::Vehicle vehicle{};
    host::Clump clump{};
    std::vector<std::unique_ptr<host::Atomic>> atomics;
};

namespace {

void* vehicleByRefDouble(std::int32_t handle) { return FakeHost::current->vehicleByRef(handle); }
std::int32_t vehicleRefDouble(void* vehicle) { return FakeHost::current->vehicleRef(vehicle); }
void* atomicsDouble(void* clump, game::AtomicCallback callback, void* data) {
    FakeHost::current->forEachAtomic(clump, callback, data);
    return clump;
}
void* setGeometryDouble(void* atomic, void* geometry, std::uint32_t flags) {
    FakeHost::current->setAtomicGeometry(atomic, geometry, flags);
    return atomic;
}
std::int32_t destroyGeometryDouble(void* geometry) {
    FakeHost::current->destroyGeometry(geometry);
    return 1;
}

void clearHostWords() {
    host::at<void*>(host::kVehiclePool) = nullptr;
    host::at<std::uint8_t>(host::kStateByteA) = 0;
    host::at<std::uint8_t>(host::kStateByteB) = 0;
    host::at<void*>(host::kEngineInstance) = nullptr;
    host::at<std::uint32_t>(host::kClock) = 0;
}

}  // namespace

FakeHost::FakeHost() {
    makeHostMemoryWritable();
    clearHostWords();
    current = this;
    bindings_.set(game::vehicleByRef, vehicleByRefDouble);
    bindings_.set(game::vehicleRef, vehicleRefDouble);
    bindings_.set(game::atomics, atomicsDouble);
    bindings_.set(game::setGeometry, setGeometryDouble);
    bindings_.set(game::destroyGeometry, destroyGeometryDouble);
    setPoolPresent(true);
}

FakeHost::~FakeHost() {
    clearHostWords();
    current = nullptr;
}

host::Geometry* FakeHost::geometry(std::int32_t materials, std::int32_t vertices, std::int32_t capacity) {
    geometries_.push_back(std::make_unique<TestGeometry>(materials, vertices, capacity));
    return geometries_.back()->get();
}

host::Vehicle* FakeHost::vehicle(std::int32_t handle) {
    auto store = std::make_unique<VehicleStore>();
    store->vehicle.clump = &store->clump;
    store->vehicle.health = 1000.0f;
    host::Vehicle* vehicle = &store->vehicle;
    vehicles_.push_back(std::move(store));
    handles_[handle] = vehicle;
    return vehicle;
}

host::Atomic* FakeHost::atomic(host::Vehicle* vehicle, host::Geometry* geometry) {
    for (auto& store : vehicles_) {
        if (&store->vehicle != vehicle) continue;
        auto atomic = std::make_unique<host::Atomic>();
        atomic->geometry = geometry;
        if (geometry) ++geometry->references;
        store->atomics.push_back(std::move(atomic));
        return store->atomics.back().get();
    }
    return nullptr;
}

host::Atomic* FakeHost::looseAtomic(host::Geometry* geometry) {
    auto atomic = std::make_unique<host::Atomic>();
    atomic->geometry = geometry;
    if (geometry) ++geometry->references;
    looseAtomics_.push_back(std::move(atomic));
    return looseAtomics_.back().get();
}

void FakeHost::removeVehicle(std::int32_t handle) { handles_.erase(handle); }

host::Vehicle* FakeHost::replaceVehicle(std::int32_t handle) { return vehicle(handle); }

void FakeHost::setPoolPresent(bool present) { host::at<void*>(host::kVehiclePool) = present ? &pool : nullptr; }

unsigned FakeHost::destroyCallsOf(const void* geometry) const {
    unsigned calls = 0;
    for (const void* g : destroyGeometryCalls) calls += g == geometry ? 1u : 0u;
    return calls;
}

void* FakeHost::vehicleByRef(std::int32_t handle) const {
    const auto found = handles_.find(handle);
    return found == handles_.end() ? nullptr : found->second;
}

std::int32_t FakeHost::vehicleRef(const void* vehicle) const {
    for (const auto& [handle, v] : handles_) {
        if (v == vehicle) return handle;
    }
    return -1;
}

void FakeHost::forEachAtomic(void* clump, void* (*callback)(void*, void*), void* data) {
    ++atomicsCalls;
    for (auto& store : vehicles_) {
        if (&store->clump != clump) continue;
        for (auto& atomic : store->atomics) {
            if (!callback(atomic.get(), data)) return;  // the host stops at a null answer
        }
        return;
    }
}

void FakeHost::setAtomicGeometry(void* atomic, void* geometry, std::uint32_t flags) {
    setGeometryCalls.push_back({atomic, geometry, flags});
    auto* a = static_cast<host::Atomic*>(atomic);
    auto* g = static_cast<host::Geometry*>(geometry);
    if (a->geometry == g) return;
    // The atomic takes a reference to the new geometry and gives back the old one.
    if (g) ++g->references;
    if (a->geometry) --a->geometry->references;
    a->geometry = g;
}

void FakeHost::destroyGeometry(void* geometry) {
    destroyGeometryCalls.push_back(geometry);
    --static_cast<host::Geometry*>(geometry)->references;
}

}  // namespace testhost
