#include "drive_checks.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "host_functions.h"
#include "host_geometry.h"
#include "host_world.h"

namespace hostsim {

namespace {

// The heap right after a reset event grows in a few steps while the module's
// work buffers reach their largest (a step of a MB or more); a leak grows it
// at many of the reset events, however little each time. The first eighth of
// the samples is the module warming up.
constexpr std::size_t kLeastHeapSamples = 16;
constexpr std::int64_t kLeakBytes = 64 * 1024;
constexpr std::int64_t kLeakBlocks = 32;

// The calls by which the module makes, fills in, changes, attaches or releases a geometry.
constexpr HostFunction kGeometryCalls[] = {
    HostFunction::CreateGeometry,   HostFunction::CopyExtensions, HostFunction::TriangleVertices,
    HostFunction::TriangleMaterial, HostFunction::Lock,           HostFunction::Unlock,
    HostFunction::SetGeometry,      HostFunction::DestroyGeometry};

std::uint64_t geometryCallCount() {
    std::uint64_t total = 0;
    for (HostFunction function : kGeometryCalls) total += calls(function);
    return total;
}

bool allFinite(const Vec3* vectors, std::int32_t count) {
    if (!vectors) return true;
    for (std::int32_t i = 0; i < count; ++i)
        if (!std::isfinite(vectors[i].x) || !std::isfinite(vectors[i].y) || !std::isfinite(vectors[i].z))
            return false;
    return true;
}

bool samePositions(const Geometry* a, const Geometry* b) {
    if (a->vertexCount != b->vertexCount) return false;
    const Vec3* pa = a->vertexBlock ? a->vertexBlock->positions : nullptr;
    const Vec3* pb = b->vertexBlock ? b->vertexBlock->positions : nullptr;
    if (!pa || !pb) return pa == pb;
    return std::memcmp(pa, pb, sizeof(Vec3) * static_cast<std::size_t>(a->vertexCount)) == 0;
}

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
    char text[512];
    va_list arguments;
    va_start(arguments, pattern);
    std::vsnprintf(text, sizeof text, pattern, arguments);
    va_end(arguments);
    return text;
}

}  // namespace

namespace {

// How often, and by how much, the floor of `use` rises over the samples from
// `first` on: the least use from each sample to the last. A leak raises it
// again and again; work buffers growing to their largest raise it in a few
// steps; buffers kept and given back make the use go up and down above it.
struct FloorRise {
    std::size_t rises = 0;
    std::int64_t by = 0;
};

template <typename Use>
FloorRise floorRise(const std::vector<HeapUse>& samples, std::size_t first, Use use) {
    FloorRise rise;
    std::int64_t floor = use(samples.back());
    for (std::size_t i = samples.size() - 1; i-- > first;) {
        const std::int64_t below = std::min(floor, use(samples[i]));
        if (below < floor) ++rise.rises;
        floor = below;
    }
    // From the floor at `first` to the last sample, its own floor.
    rise.by = use(samples.back()) - floor;
    return rise;
}

}  // namespace

bool heapKeepsGrowing(const std::vector<HeapUse>& afterResets, std::string& why) {
    const std::size_t count = afterResets.size();
    if (count < kLeastHeapSamples) return false;
    const std::size_t first = count / 8;
    const std::size_t often = std::max<std::size_t>(kLeastHeapSamples, count / 8);
    const FloorRise bytes = floorRise(afterResets, first, [](const HeapUse& h) { return h.bytes; });
    const FloorRise blocks = floorRise(afterResets, first, [](const HeapUse& h) { return h.blocks; });
    const bool leaks = (bytes.rises >= often && bytes.by > kLeakBytes) || (blocks.rises >= often && blocks.by > kLeakBlocks);
    if (!leaks) return false;
    const HeapUse from = afterResets[first], to = afterResets.back();
    why = format("the module's heap right after reset events kept growing: its floor rose at %u of the last %u of "
                 "them (bytes) and %u (blocks), from %lld bytes in %lld blocks to %lld bytes in %lld blocks",
                 static_cast<unsigned>(bytes.rises), static_cast<unsigned>(count - first - 1),
                 static_cast<unsigned>(blocks.rises), static_cast<long long>(from.bytes),
                 static_cast<long long>(from.blocks), static_cast<long long>(to.bytes),
                 static_cast<long long>(to.blocks));
    return true;
}

DriveChecks::DriveChecks(int idleFrames) : idleFrames_(idleFrames), faultsSeen_(hostFaults().size()) {}

void DriveChecks::startFrame(std::uint32_t frame) { frame_ = frame; }

void DriveChecks::afterFrame(bool quiet) {
    checkHostFaults();
    // After a host fault a car may draw a geometry that is gone.
    if (!failed()) checkCars();
    checkIdleHolding(quiet);
    mostLiveGeometries_ = std::max(mostLiveGeometries_, liveModuleGeometryCount());
}

void DriveChecks::fail(const std::string& what) {
    if (failed()) return;
    failure_ = what;
    failureFrame_ = frame_;
}

void DriveChecks::checkHostFaults() {
    const std::vector<std::string>& faults = hostFaults();
    if (faults.size() == faultsSeen_) return;
    fail("host fault: " + faults[faultsSeen_]);
    faultsSeen_ = faults.size();
}

void DriveChecks::checkCars() {
    for (auto& [car, watched] : cars_)
        for (WatchedAtomic& atomic : watched.atomics) {
            const Geometry* now = atomic.atomic->geometry;
            if (now == atomic.drawn && (!now || now->hostUnlocks == atomic.drawnUnlocks)) continue;
            ++changedMeshesSeen_;
            checkAtomic(car, watched, atomic);
            atomic.drawn = now;
            atomic.drawnUnlocks = now ? now->hostUnlocks : 0;
        }
}

// The atomic draws another geometry than when last looked at, or its geometry was unlocked since.
void DriveChecks::checkAtomic(const Vehicle* car, const WatchedCar& watched, const WatchedAtomic& atomic) {
    const Geometry* now = atomic.atomic->geometry;
    const char* part = atomic.atomic->frame->hostName;
    const int handle = vehicleHandle(car);
    if (!now) {
        fail(format("car %d: %s draws no geometry", handle, part));
        return;
    }
    if (now == atomic.original) {
        if (now->hostUnlocks != atomic.originalUnlocks)
            fail(format("car %d: the model's shared geometry of %s was changed", handle, part));
        return;
    }
    if (!now->hostMadeByModule) return;
    const Vec3* positions = now->vertexBlock ? now->vertexBlock->positions : nullptr;
    const Vec3* normals = now->vertexBlock ? now->vertexBlock->normals : nullptr;
    if (!allFinite(positions, now->vertexCount) || !allFinite(normals, now->vertexCount))
        fail(format("car %d: %s draws a vertex position or normal that is not finite (geometry %p)", handle, part,
                    static_cast<const void*>(now)));
    const bool contactSinceRestore = watched.lastContact != 0 && watched.lastContact >= watched.lastRestore;
    if (!contactSinceRestore && !samePositions(now, atomic.original))
        fail(format("car %d: %s changed (geometry %p, %d vertices, unlocked %u times) with no contact since its "
                    "restore at frame %u (last contact at frame %u)",
                    handle, part, static_cast<const void*>(now), static_cast<int>(now->vertexCount),
                    static_cast<unsigned>(now->hostUnlocks), static_cast<unsigned>(watched.lastRestore),
                    static_cast<unsigned>(watched.lastContact)));
}

// Only work in progress may hold a geometry undrawn: queued dents, the seated
// player's copies, the records of cars that are gone. With the player on foot,
// no contact, and no geometry call for a long while, none of it is left.
void DriveChecks::checkIdleHolding(bool quiet) {
    const std::uint64_t callsNow = geometryCallCount();
    if (callsNow != geometryCalls_) {
        geometryCalls_ = callsNow;
        lastGeometryCallFrame_ = frame_;
    }
    quietRun_ = quiet ? quietRun_ + 1 : 0;
    if (quietRun_ == 0) idleChecked_ = false;
    const std::uint32_t idleFor = frame_ - lastGeometryCallFrame_;
    if (idleChecked_ || quietRun_ < idleFrames_ || idleFor < static_cast<std::uint32_t>(idleFrames_)) return;
    idleChecked_ = true;
    ++idleChecks_;
    std::size_t undrawn = 0;
    const Geometry* first = nullptr;
    for (const Geometry* geometry : liveModuleGeometries()) {
        if (geometry->hostDrawnBy > 0) continue;
        if (!first) first = geometry;
        ++undrawn;
    }
    if (undrawn == 0) return;
    fail(format("%u module geometries held undrawn after %d frames without a geometry call, the player on foot "
                "and no contact (the oldest %p: %d vertices, %d references, unlocked %u times%s)",
                static_cast<unsigned>(undrawn), idleFrames_, static_cast<const void*>(first),
                static_cast<int>(first->vertexCount), static_cast<int>(first->references),
                static_cast<unsigned>(first->hostUnlocks),
                first->hostRefusedInMaking ? ", a call in its making refused" : ""));
}

void DriveChecks::afterDrive() {
    std::string why;
    if (heapKeepsGrowing(heapAfterResets_, why)) fail(why);
}

HeapUse DriveChecks::firstHeapAfterReset() const {
    return heapAfterResets_.empty() ? HeapUse{} : heapAfterResets_.front();
}

HeapUse DriveChecks::lastHeapAfterReset() const {
    return heapAfterResets_.empty() ? HeapUse{} : heapAfterResets_.back();
}

// ---------------------------------------------------------------- what the drive tells

void DriveChecks::carCame(Vehicle* car) {
    WatchedCar watched;
    for (const Atomic* atomic : clumpAtomics(car->clump)) {
        const Geometry* g = atomic->geometry;
        const std::uint32_t unlocks = g ? g->hostUnlocks : 0;
        watched.atomics.push_back(WatchedAtomic{atomic, g, unlocks, g, unlocks});
    }
    cars_[car] = std::move(watched);
}

void DriveChecks::carGoes(Vehicle* car) { cars_.erase(car); }

void DriveChecks::contact(Vehicle* car) {
    auto found = cars_.find(car);
    if (found != cars_.end()) found->second.lastContact = frame_;
}

void DriveChecks::restored(Vehicle* car) {
    auto found = cars_.find(car);
    if (found != cars_.end()) found->second.lastRestore = frame_;
}

void DriveChecks::resetEvent(std::uint32_t site) {
    for (auto& [car, watched] : cars_) watched.lastRestore = frame_;
    checkHostFaults();
    const std::size_t live = liveModuleGeometryCount();
    if (live != 0)
        fail(format("%u module geometries alive right after the reset event at 0x%X", static_cast<unsigned>(live),
                    static_cast<unsigned>(site)));
    heapAfterResets_.push_back(moduleHeapUse());
}

}  // namespace hostsim
