#include "deform/records.h"

#include <utility>

#include "deform/atomic_driver.h"
#include "deform/work_queue.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "foundation/work_meter.h"
#include "host/bindings.h"
#include "host/host_types.h"
#include "host/memory_check.h"

namespace kerbmark {

RecordList* recordList = nullptr;

namespace {

constexpr std::uint32_t kEvictionIdleMs = 1000;
constexpr std::uint32_t kCreaseSeedFactor = 0x9E3779B9u;

// Work units (10 ns each, as the work meter of the benchmarks measures them)
// of releasing a leaving record's parts: a mesh entry (the memory and
// material checks of its two geometries, and the copy's memory given back,
// which grows with its vertices), the private collision model.
constexpr std::uint64_t kEntryReleaseUnits = 1300;
constexpr std::uint64_t kEntryReleasePerThousandVertices = 200;
constexpr std::uint64_t kCollisionReleaseUnits = 550;

bool vehiclePoolExists() { return host::at<void* const volatile>(host::kVehiclePool) != nullptr; }

// Callback of game::atomics: puts the original back on every atomic that draws
// one of the record's copies. Always hands the atomic back so that the host
// goes on with the next one.
void* restoreOriginal(void* atomic, void* data) {
    if (!atomic || !data) return atomic;
    const auto& record = *static_cast<const VehicleRecord*>(data);
    void* attached = static_cast<host::Atomic*>(atomic)->geometry;
    if (!attached) return atomic;
    for (const MeshEntry& entry : record.meshes) {
        if (entry.copy == attached) {
            game::setGeometry(atomic, entry.original, 0);
            break;
        }
    }
    return atomic;
}

void destroyEntry(MeshEntry& entry) {
    releaseGeometry(entry.copy);
    releaseGeometry(entry.original);
    entry.copy = nullptr;
    entry.original = nullptr;
    std::vector<dent::Vec>().swap(entry.restPositions);
}

void destroyEntries(VehicleRecord& record) {
    while (!record.meshes.empty()) {
        destroyEntry(record.meshes.back());
        record.meshes.pop_back();
    }
    record.totalVertices = 0;
}

// The next part of a leaving record, as destroyRecord releases them: the
// collision state, then the entries from the last to the first. False when
// the allowance does not take it, or nothing is left.
bool releaseNextPart(VehicleRecord& record, WorkAllowance& allowance) {
    if (record.collisionState) {
        const meter::Scope metered(meter::ReleaseCollision, &allowance.left);
        if (!allowance.take(kCollisionReleaseUnits)) return false;
        record.collisionState.reset();
        return true;
    }
    if (record.meshes.empty()) return false;
    const meter::Scope metered(meter::ReleaseEntry, &allowance.left);
    const std::uint64_t vertices = record.meshes.back().restPositions.size();
    if (!allowance.take(kEntryReleaseUnits + vertices * kEntryReleasePerThousandVertices / 1000)) return false;
    destroyEntry(record.meshes.back());
    record.meshes.pop_back();
    return true;
}

// Releases the record's parts while the allowance takes them; true once nothing is left.
bool releaseParts(VehicleRecord& record, WorkAllowance& allowance) {
    while (releaseNextPart(record, allowance)) {
    }
    return !record.collisionState && record.meshes.empty();
}

// Index of the record idle longest (now - last hit, at least `minIdleMs`)
// among those `candidate` admits; on equal ages the earlier one in the list.
// The list's size when there is none.
template <typename Candidate>
std::size_t longestIdle(const RecordList& list, std::uint32_t nowMs, std::uint32_t minIdleMs, Candidate candidate) {
    std::size_t chosen = list.records.size();
    std::uint32_t chosenAge = 0;
    for (std::size_t i = 0; i < list.records.size(); ++i) {
        const VehicleRecord* record = list.records[i].get();
        if (!record || !candidate(*record)) continue;
        const std::uint32_t age = nowMs - record->lastHit;
        if (age < minIdleMs) continue;
        // Strictly greater: on equal ages the earlier record stays chosen.
        if (chosen == list.records.size() || age > chosenAge) {
            chosen = i;
            chosenAge = age;
        }
    }
    return chosen;
}

std::unique_ptr<VehicleRecord> takeOut(RecordList& list, std::size_t index) {
    std::unique_ptr<VehicleRecord> record = std::move(list.records[index]);
    list.records.erase(list.records.begin() + static_cast<std::ptrdiff_t>(index));
    return record;
}

// Eviction: the vehicle gets its originals back, then the record goes.
void evict(RecordList& list, std::size_t index) {
    resetRecord(*list.records[index]);
    eraseRecord(list, index);
}

}  // namespace

VehicleRecord* findRecord(RecordList& list, const void* vehicle) {
    for (const auto& record : list.records) {
        if (record && record->vehicle == vehicle) return record.get();
    }
    return nullptr;
}

std::uint32_t creaseSeedFor(std::int32_t vehicleRef, std::uint32_t nowMs) {
    return (static_cast<std::uint32_t>(vehicleRef) * kCreaseSeedFactor) ^ nowMs;
}

VehicleRecord& appendRecord(RecordList& list, void* vehicle, std::int32_t vehicleRef, void* clump, float health,
                            std::uint32_t nowMs) {
    auto record = std::make_unique<VehicleRecord>();
    record->vehicle = vehicle;
    record->vehicleRef = vehicleRef;
    record->clump = clump;
    record->health = health;
    record->lastHit = nowMs;
    record->creaseSeed = creaseSeedFor(vehicleRef, nowMs);
    list.records.push_back(std::move(record));
    return *list.records.back();
}

MeshEntry* addMeshEntry(VehicleRecord& record, void* original, void* copy, std::vector<dent::Vec> restPositions) {
    if (!readableRange(original, sizeof(host::Geometry)) || !readableRange(copy, sizeof(host::Geometry))) {
        return nullptr;
    }
    MeshEntry entry;
    entry.original = original;
    entry.copy = copy;
    entry.restPositions = std::move(restPositions);
    record.meshes.push_back(std::move(entry));
    // The reference is taken only once the entry that gives it back exists.
    ++static_cast<host::Geometry*>(original)->references;
    const std::int32_t vertices = static_cast<const host::Geometry*>(copy)->vertexCount;
    if (vertices > 0) record.totalVertices += static_cast<std::uint32_t>(vertices);
    return &record.meshes.back();
}

bool vehicleStillSame(const VehicleRecord& record) {
    if (!vehiclePoolExists() || !record.vehicle) return false;
    if (game::vehicleByRef(record.vehicleRef) != record.vehicle) return false;
    const auto* vehicle = static_cast<const host::Vehicle*>(record.vehicle);
    if (!readableRange(&vehicle->clump, sizeof vehicle->clump)) return false;
    return vehicle->clump == record.clump;
}

bool makeRecordRoom(RecordList& list, const void* protectedVehicle, std::uint32_t nowMs) {
    if (list.records.size() < settings.MaxTrackedVehicles) return true;
    if (list.records.empty()) return false;
    const std::size_t chosen = longestIdle(list, nowMs, kEvictionIdleMs, [protectedVehicle](const VehicleRecord& r) {
        return r.vehicle != protectedVehicle;
    });
    if (chosen == list.records.size()) return false;
    evict(list, chosen);
    return true;
}

bool makeVertexRoom(RecordList& list, const VehicleRecord& kept, std::uint64_t vertices, std::uint64_t budget,
                    std::uint32_t nowMs) {
    std::uint64_t total = totalVerticesOfAllRecords(list);
    if (total + vertices <= budget) return true;
    // Emptying the others would not be enough: keep them as they are.
    if (kept.totalVertices + vertices > budget) return false;

    // Only records that hold vertices free any; the kept record is the one
    // being dented and is never touched.
    const auto holdsVertices = [&kept](const VehicleRecord& r) { return &r != &kept && r.totalVertices != 0; };
    while (total + vertices > budget) {
        const std::size_t chosen = longestIdle(list, nowMs, 0, holdsVertices);
        if (chosen == list.records.size()) return false;
        total -= list.records[chosen]->totalVertices;
        evict(list, chosen);
    }
    return true;
}

void resetRecord(VehicleRecord& record) {
    // Queued traffic work of the record goes before anything else happens to it.
    dropQueuedWork(record);
    if (!record.meshes.empty() && vehicleStillSame(record)) {
        game::atomics(record.clump, restoreOriginal, &record);
    }
    record.collisionState.reset();
    destroyEntries(record);
    record.episode = dent::Episode{};
}

void destroyRecord(std::unique_ptr<VehicleRecord> record) {
    if (!record) return;
    dropQueuedWork(*record);
    WorkAllowance unlimited = WorkAllowance::unlimited();
    releaseParts(*record, unlimited);
}

void eraseRecord(RecordList& list, std::size_t index) {
    if (index >= list.records.size()) return;
    // Out of the list first, so the list never holds a half-destroyed record.
    destroyRecord(takeOut(list, index));
}

void retireRecord(RecordList& list, std::size_t index) {
    if (index >= list.records.size()) return;
    dropQueuedWork(*list.records[index]);
    list.leaving.push_back(takeOut(list, index));
}

void releaseLeavingRecords(RecordList& list, WorkAllowance& allowance) {
    while (!list.leaving.empty()) {
        if (!releaseParts(*list.leaving.front(), allowance)) return;  // the rest waits for the next frame
        list.leaving.pop_front();
    }
}

void releaseAllLeavingRecords(RecordList& list) {
    WorkAllowance unlimited = WorkAllowance::unlimited();
    releaseLeavingRecords(list, unlimited);
}

void clearAllRecords(RecordList& list) {
    releaseAllLeavingRecords(list);
    dropAllQueuedWork();
    for (const auto& record : list.records) {
        if (record) resetRecord(*record);
    }
    while (!list.records.empty()) {
        std::unique_ptr<VehicleRecord> record = std::move(list.records.back());
        list.records.pop_back();
        destroyRecord(std::move(record));
    }
}

void releaseGeometry(void* geometry) {
    if (!geometry) return;
    if (geometryRecordReadable(geometry)) {
        const std::int32_t materials = static_cast<const host::Geometry*>(geometry)->materialCount;
        if (materials == 0 || materialTableValid(geometry)) {
            game::destroyGeometry(geometry);
            return;
        }
    }
    logLine("MaterialGuard: invalid geometry retained; unsafe material release skipped.");
}

std::uint32_t totalVerticesOfAllRecords(const RecordList& list) {
    std::uint32_t total = 0;
    for (const auto& record : list.records) {
        if (record) total += record->totalVertices;
    }
    return total;
}

}  // namespace kerbmark
