// Where a mesh's copy comes from and whether it may be kept: the vehicle's own
// limits and the all-vehicles budget (evicting other cars for the player's),
// a copy prepared ahead for the player's car or a clone made now, and its attaching.
#include "deform/mesh_copies.h"

#include <utility>
#include <vector>

#include "deform/atomic_driver.h"
#include "deform/atomic_names.h"
#include "deform/geometry_clone.h"
#include "deform/panel_paths.h"
#include "deform/player_preparation.h"
#include "deform/records.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "host/bindings.h"
#include "host/host_types.h"
#include "host/memory_check.h"

namespace kerbmark {

namespace {

constexpr std::size_t kMaxMeshesPerVehicle = 64;
constexpr std::uint64_t kMaxVerticesPerVehicle = 200000;

// Whether the copies prepared for the player's vehicle, when in the way of a
// hit's `vertices`, are released as the budget is looked at, or only left out.
enum class InTheWay { Release, LeaveOut };

// The records' vertices under the all-vehicles budget, with the copies
// prepared for the player's vehicle unless they would keep a hit's
// `vertices` from fitting: those go first, so that a hit finds the room it
// would find without them.
std::uint64_t verticesHeld(CopyFor who, std::uint64_t vertices, InTheWay preparation) {
    const std::uint64_t records = totalVerticesOfAllRecords(*recordList);
    const std::uint64_t prepared = preparedVertices();
    // Only copies in the way go: a preparation that holds none keeps its place.
    if (who != CopyFor::Preparation && prepared > 0 && records + prepared + vertices > settings.MaxTotalVertices) {
        if (preparation == InTheWay::Release) releasePreparation();
        return records;
    }
    return records + prepared;
}

// Whether `vertices` more could fit under the all-vehicles budget, evicting
// nothing: for the player's vehicle, whose copies other vehicles' records
// make room for, as long as its own record leaves room.
bool mayFitAllVehiclesBudget(const VehicleRecord& record, std::uint64_t vertices, CopyFor who, InTheWay preparation) {
    const std::uint64_t budget = settings.MaxTotalVertices;
    if (!recordList) return record.totalVertices + vertices <= budget;
    const std::uint64_t held = verticesHeld(who, vertices, preparation);
    if (who == CopyFor::Player) return record.totalVertices + vertices <= budget;
    return held + vertices <= budget;
}

// Whether `vertices` more fit under the all-vehicles budget. The player's
// vehicle comes first: other vehicles' records are evicted to make room for
// it. Called only with the final copy in hand, so that no record is evicted
// for a copy that is then not kept.
bool withinAllVehiclesBudget(const VehicleRecord& record, std::uint64_t vertices, CopyFor who) {
    const std::uint64_t budget = settings.MaxTotalVertices;
    if (!recordList) return record.totalVertices + vertices <= budget;
    const std::uint64_t held = verticesHeld(who, vertices, InTheWay::Release);
    // Now, not the hit's time: a queued hit's copy is attached frames later,
    // and a car hit since then has been idle the shortest.
    if (who == CopyFor::Player) return makeVertexRoom(*recordList, record, vertices, budget, host::clockMs());
    return held + vertices <= budget;
}

bool copyWithinLimits(const host::Geometry* copy, const VehicleRecord& record, CopyFor who) {
    // The same shape test as for the atomic's own geometry, flag 0x01000000
    // included: a copy that every later hit would refuse is not kept.
    if (!deformableShape(copy)) return false;
    const auto vertices = static_cast<std::uint64_t>(copy->vertexCount);
    if (record.totalVertices + vertices > kMaxVerticesPerVehicle) return false;
    return withinAllVehiclesBudget(record, vertices, who);
}

// The first half of an entry, in one go: the copy of the atomic's geometry,
// for a bonnet or boot rebuilt along its crease. Null when a limit or the
// clone refuses.
void* copyMesh(host::Atomic& atomic, VehicleRecord& record, host::Geometry* original, CopyFor who, int kind,
               PanelState& panel) {
    void* prepared = nullptr;
    const CopySource from = copySource(atomic, record, original, who, kind, panel, prepared);
    if (from != CopySource::Clone) return prepared;
    void* copy = cloneGeometry(original);
    if (!copy) {
        logCloneFailed();
        return nullptr;
    }
    if (kind == kNoPanel) return copy;
    return preparePanel(&atomic, kind, record.creaseSeed, copy, panel);
}

}  // namespace

MeshEntry* entryOfCopy(VehicleRecord& record, const void* geometry) {
    for (MeshEntry& entry : record.meshes) {
        if (entry.copy == geometry) return &entry;
    }
    return nullptr;
}

CopyFor copyFor(const DentRequest& request) {
    if (request.preparing) return CopyFor::Preparation;
    return request.player ? CopyFor::Player : CopyFor::Traffic;
}

bool vehicleLimitsAllowCopy(const VehicleRecord& record, std::uint64_t originalVertices) {
    return record.meshes.size() < kMaxMeshesPerVehicle && record.totalVertices + originalVertices <= kMaxVerticesPerVehicle;
}

bool copyRefused(const VehicleRecord& record, const host::Geometry& original, CopyFor who) {
    // Taking a prepared copy first changes nothing here: the prepared copies
    // are left out of a hit's room whenever they are in its way.
    const auto originalVertices = static_cast<std::uint64_t>(original.vertexCount);
    return !vehicleLimitsAllowCopy(record, originalVertices) ||
           !mayFitAllVehiclesBudget(record, originalVertices, who, InTheWay::LeaveOut);
}

CopySource copySource(host::Atomic& atomic, VehicleRecord& record, host::Geometry* original, CopyFor who, int kind,
                      PanelState& panel, void*& prepared) {
    const auto originalVertices = static_cast<std::uint64_t>(original->vertexCount);
    if (!vehicleLimitsAllowCopy(record, originalVertices)) return CopySource::Refused;
    PreparedCopy taken;
    if (who != CopyFor::Preparation) taken = takePreparedCopy(&atomic, original, kind, record.creaseSeed, panel);
    // Before the copy is made, a copy that could never fit is not made; room
    // is made only once the copy (rebuilt along its crease for a panel, with
    // more vertices) is known, when it is attached.
    if (!mayFitAllVehiclesBudget(record, originalVertices, who, InTheWay::Release)) {
        releaseGeometry(taken.copy);
        return CopySource::Refused;
    }
    if (!taken.copy) {
        breadcrumb("atomic: clone geometry");
        return CopySource::Clone;
    }
    // The lines its making wrote belong to this hit.
    for (const DivertedLine& line : taken.lines) logLine(line.text.c_str());
    prepared = taken.copy;
    return CopySource::Prepared;
}

void logCloneFailed() { logLine("Geometry clone failed; mesh skipped."); }

const dent::Vec* copyNormals(const host::Geometry* copy) {
    const dent::Vec* normals = copy->vertexBlock->normals;
    if (normals && !readableRange(normals, positionBytes(copy->vertexCount))) return nullptr;
    return normals;
}

MeshEntry* attachCopy(host::Atomic& atomic, VehicleRecord& record, host::Geometry* original, CopyFor who,
                      void* copy, PanelState& panel) {
    MeshEntry* entry = nullptr;
    const auto* copied = static_cast<const host::Geometry*>(copy);
    if (copyWithinLimits(copied, record, who)) {
        try {
            const dent::Vec* positions = copied->vertexBlock->positions;
            const auto count = static_cast<std::size_t>(copied->vertexCount);
            std::vector<dent::Vec> rest(positions, positions + count);
            if (panel.kind != kNoPanel && panel.working.size() != count) {
                fillPanelLists(panel, rest.data(), copyNormals(copied), count);
            }
            entry = addMeshEntry(record, original, copy, std::move(rest));
            if (entry) entry->panel = std::move(panel);
        } catch (...) {
            entry = nullptr;  // out of memory: the entry was never stored
        }
    }
    if (!entry) {
        releaseGeometry(copy);
        return nullptr;
    }
    breadcrumb("atomic: attach copied geometry");
    game::setGeometry(&atomic, copy, 0);
    return entry;
}

MeshEntry* makeEntry(host::Atomic& atomic, VehicleRecord& record, host::Geometry* original, CopyFor who) {
    PanelState panel;
    void* copy = copyMesh(atomic, record, original, who, panelKindOf(record, atomic), panel);
    return copy ? attachCopy(atomic, record, original, who, copy, panel) : nullptr;
}

}  // namespace kerbmark
