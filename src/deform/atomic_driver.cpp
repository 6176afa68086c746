// The immediate dent of one atomic: the dent taken into the atomic's frame,
// whether it reaches the mesh, the copy on the first reach, and the
// displacement of the copy by its path (ordinary, fold or surface), in one go.
#include "deform/atomic_driver.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "deform/atomic_names.h"
#include "deform/mesh_copies.h"
#include "deform/ordinary_path.h"
#include "deform/panel_paths.h"
#include "deform/player_preparation.h"
#include "deform/records.h"
#include "deform/step_costs.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "host/bindings.h"
#include "host/host_types.h"
#include "host/memory_check.h"

namespace kerbmark {

namespace {

constexpr std::int32_t kLockPositions = 2;
constexpr std::int32_t kLockPositionsAndNormals = 6;  // panels write their normals too
constexpr std::uint8_t kAtomicDeformedBit = 0x01;

// Unlocks a geometry the host has locked when the scope ends, however it
// ends: an exception from a panel path must not leave the copy locked.
class LockedGeometry {
public:
    explicit LockedGeometry(void* geometry) : geometry_(geometry) {}
    ~LockedGeometry() { unlock(); }
    LockedGeometry(const LockedGeometry&) = delete;
    LockedGeometry& operator=(const LockedGeometry&) = delete;

    void unlock() {
        if (!geometry_) return;
        void* geometry = geometry_;
        geometry_ = nullptr;
        game::unlock(geometry);
    }

private:
    void* geometry_;
};

// The request's point and direction in the atomic's frame, from the frame's
// world matrix as it is now.
bool dentInFrame(const host::Atomic& atomic, const DentRequest& request, AtomicDent& out) {
    breadcrumb("atomic: get frame matrix");
    if (!frameRecordReadable(atomic.frame)) return false;
    const dent::HostMatrix* worldMatrix = game::frameLTM(atomic.frame);
    if (!worldMatrix || !readableRange(worldMatrix, sizeof *worldMatrix)) return false;
    const dent::HostMatrix m = *worldMatrix;
    if (!dent::isOrthonormal(m)) return false;
    out.hit = dent::toAxes(m, request.point - m.position);
    out.direction = dent::toAxes(m, request.direction);
    return true;
}

// The copy's vertex block when its positions (and the entry's count of them)
// can be written; null otherwise.
host::VertexBlock* writableBlock(host::Geometry* geometry, std::size_t count) {
    host::VertexBlock* block = geometry->vertexBlock;
    if (!block || !readableRange(block, sizeof *block) || !block->positions ||
        !readableRange(block->positions, positionBytes(static_cast<std::int32_t>(count)))) {
        return nullptr;
    }
    return block;
}

dent::Vec* writableNormals(host::VertexBlock* block, std::size_t count) {
    dent::Vec* normals = block->normals;
    if (normals && !readableRange(normals, positionBytes(static_cast<std::int32_t>(count)))) return nullptr;
    return normals;
}

std::int32_t lockModeOf(const MeshEntry& entry) {
    return entry.panel.kind != kNoPanel && !entry.panel.restNormals.empty() ? kLockPositionsAndNormals
                                                                           : kLockPositions;
}

// What follows every displacement while the copy is still locked, and after.
void closeDisplacement(host::Atomic& atomic, MeshEntry& entry, host::VertexBlock* block, std::size_t count,
                       LockedGeometry& locked, DentRequest& request) {
    entry.lastEpisode = request.episode;
    entry.lastDepth = request.depth;
    entry.lastRadius = request.radius;
    // The centre stays; the radius never shrinks.
    float* sphere = block->boundingSphere;
    sphere[3] = dent::grownBoundingRadius({sphere[0], sphere[1], sphere[2]}, sphere[3], block->positions, count);

    breadcrumb("atomic: unlock geometry");
    locked.unlock();
    std::memcpy(atomic.boundingSphere, block->boundingSphere, sizeof atomic.boundingSphere);
    atomic.flags |= kAtomicDeformedBit;
    request.meshes += 1;

    breadcrumb("atomic: complete");
}

// Locks the entry's copy, hands its writable vertex block to `write` (false:
// nothing was written) and closes the displacement.
template <typename Write>
void displaceLocked(host::Atomic& atomic, MeshEntry& entry, DentRequest& request, Write write) {
    auto* geometry = static_cast<host::Geometry*>(entry.copy);
    breadcrumb("atomic: lock vertices");
    if (!game::lock(geometry, lockModeOf(entry))) return;
    LockedGeometry locked(geometry);

    breadcrumb("atomic: displace vertices");
    const std::size_t count = entry.restPositions.size();
    host::VertexBlock* block = writableBlock(geometry, count);
    if (!block || !write(*block, count)) return;
    closeDisplacement(atomic, entry, block, count, locked, request);
}

}  // namespace

dent::DentArguments dentArguments(const MeshEntry& entry, const AtomicDent& at, const DentRequest& request) {
    const bool sameEpisode = entry.lastEpisode == request.episode;
    return dent::DentArguments{at.hit,
                               at.direction,
                               request.depth,
                               request.radius,
                               sameEpisode ? entry.lastDepth : 0.0f,
                               sameEpisode ? entry.lastRadius : 0.0f,
                               settings.MaxTotalDisplacement,
                               settings.FalloffPower};
}

MeshPath pathOf(const PanelState& panel, std::size_t count) {
    if (panel.kind == kNoPanel || !panelListsFit(panel, count)) return MeshPath::Ordinary;
    return settings.PanelAsymmetry ? MeshPath::Surface : MeshPath::Fold;
}

MeshPath pathOf(const MeshEntry& entry, std::size_t count) { return pathOf(entry.panel, count); }

void displace(host::Atomic& atomic, MeshEntry& entry, const AtomicDent& at, DentRequest& request) {
    displaceLocked(atomic, entry, request, [&](host::VertexBlock& block, std::size_t count) {
        const dent::DentArguments arguments = dentArguments(entry, at, request);
        const dent::Vec* rest = entry.restPositions.data();
        switch (pathOf(entry, count)) {
            case MeshPath::Surface:
                surfacePath(entry.panel, rest, block.positions, writableNormals(&block, count), count, arguments);
                break;
            case MeshPath::Fold: {
                const bool newEpisode = entry.lastEpisode != request.episode;
                foldPath(entry.panel, newEpisode, rest, block.positions, writableNormals(&block, count), count,
                         arguments);
                break;
            }
            case MeshPath::Ordinary:
                dent::dentMesh(rest, block.positions, count, arguments);
                break;
        }
        return true;
    });
}

void commitStaged(host::Atomic& atomic, MeshEntry& entry, DentRequest& request, StagedSurface& staged) {
    displaceLocked(atomic, entry, request, [&](host::VertexBlock& block, std::size_t count) {
        if (staged.count != count || !panelListsFit(entry.panel, count)) return false;
        commitSurface(entry.panel, staged, block.positions, writableNormals(&block, count));
        return true;
    });
}

bool reaches(VehicleRecord& record, const host::Geometry& geometry, const AtomicDent& at, float radius,
             MeshEntry*& entry) {
    entry = entryOfCopy(record, &geometry);
    const auto vertexCount = static_cast<std::size_t>(geometry.vertexCount);
    if (entry && entry->restPositions.size() != vertexCount) return false;
    const dent::Vec* reachFrom = entry ? entry->restPositions.data() : geometry.vertexBlock->positions;
    return dent::reachesAny(reachFrom, vertexCount, at.hit, radius);
}

bool beginOrdinary(const MeshEntry& entry, const AtomicDent& at, const DentRequest& request, StagedOrdinary& staged) {
    const std::size_t count = entry.restPositions.size();
    const host::VertexBlock* block = writableBlock(static_cast<host::Geometry*>(entry.copy), count);
    if (!block) return false;
    staged.dent = dentArguments(entry, at, request);
    staged.positions.assign(block->positions, block->positions + count);
    staged.done = 0;
    return true;
}

void continueOrdinary(const MeshEntry& entry, std::size_t vertices, StagedOrdinary& staged) {
    const std::size_t begin = std::min(staged.done, staged.positions.size());
    const std::size_t run = std::min(vertices, staged.positions.size() - begin);
    dent::dentMesh(entry.restPositions.data() + begin, staged.positions.data() + begin, run, staged.dent);
    staged.done = begin + run;
}

void commitOrdinary(host::Atomic& atomic, MeshEntry& entry, DentRequest& request, const StagedOrdinary& staged) {
    displaceLocked(atomic, entry, request, [&](host::VertexBlock& block, std::size_t count) {
        if (staged.positions.size() != count || staged.done != count) return false;
        std::memcpy(block.positions, staged.positions.data(), count * sizeof(dent::Vec));
        return true;
    });
}

StepCost surfaceCost(const PanelState& panel, std::size_t vertices) {
    const std::uint64_t points = vertices == 0 ? 0 : (kSheetPointPerThousand * panel.sheet.size()) / vertices;
    return StepCost{kSurfaceFixed, kSurfacePerThousand + points};
}

namespace {

StepCost displacementCost(const PanelState& panel, std::size_t count) {
    switch (pathOf(panel, count)) {
        case MeshPath::Surface:
            return surfaceCost(panel, count);
        case MeshPath::Fold:
            return kFold;
        case MeshPath::Ordinary:
            break;
    }
    return kDent;
}

}  // namespace

std::uint64_t displacementUnits(const PanelState& panel, std::size_t count) {
    return unitsOf(displacementCost(panel, count), count);
}

std::uint64_t displacementUnits(const MeshEntry& entry) {
    return displacementUnits(entry.panel, entry.restPositions.size());
}

namespace {

// Reach, the copy on the first reach, and the displacement of one atomic,
// with the units they cost counted in the request (a copy made here is
// counted as attached: with a work budget, one that had to be cloned waits
// in the queue instead).
void dentAtomic(host::Atomic& atomic, const AtomicDent& at, DentRequest& request) {
    VehicleRecord& record = *request.record;
    host::Geometry* geometry = atomic.geometry;
    const auto count = static_cast<std::size_t>(geometry->vertexCount);
    request.units += unitsOf(kScan, count);
    MeshEntry* entry = nullptr;
    if (!reaches(record, *geometry, at, request.radius, entry)) return;
    if (!entry) {
        entry = makeEntry(atomic, record, geometry, copyFor(request));
        if (!entry) return;
        request.units += unitsOf(kAttach, entry->restPositions.size());
    }
    request.units += displacementUnits(*entry);
    displace(atomic, *entry, at, request);
}

void deform(void* atomicPointer, DentRequest* request) {
    breadcrumb("atomic: begin / inspect frame and geometry");
    if (!request || !request->record) return;
    host::Atomic* atomic = nullptr;
    AtomicDent at{};
    {
        // The checks only read: the atomic's frames and geometry are asked about once per region.
        ReadableMemoryScope remembered;
        atomic = deformableAtomic(atomicPointer, *request->record);
        if (!atomic || !dentInFrame(*atomic, *request, at)) return;
    }
    dentAtomic(*atomic, at, *request);
}

void plan(void* atomicPointer, DentPlan* plan) {
    if (!plan || !plan->request || !plan->request->record || !plan->dents) return;
    host::Atomic* atomic = deformableAtomic(atomicPointer, *plan->request->record,
                                            plan->namesLater ? Names::Later : Names::Checked);
    if (!atomic) return;
    PlannedDent planned{atomicPointer, atomic->geometry, {}};
    if (!dentInFrame(*atomic, *plan->request, planned.at)) return;
    plan->dents->push_back(planned);
}

}  // namespace

void* planAtomicDent(void* atomic, void* data) {
    try {
        plan(atomic, static_cast<DentPlan*>(data));
    } catch (...) {
        // Out of memory: this atomic is not planned; the enumeration goes on.
    }
    return atomic;
}

bool plannedDentMakesCopy(const PlannedDent& planned, VehicleRecord& record, float radius) {
    const auto& atomic = *static_cast<host::Atomic*>(planned.atomic);
    const auto& geometry = *static_cast<const host::Geometry*>(planned.geometry);
    const auto vertices = static_cast<std::uint64_t>(geometry.vertexCount);
    if (entryOfCopy(record, &geometry) || !vehicleLimitsAllowCopy(record, vertices) ||
        record.totalVertices + vertices > settings.MaxTotalVertices) {
        return false;
    }
    if (readyPreparedCopy(planned.atomic, planned.geometry, panelKindOf(record, atomic), record.creaseSeed)) return false;
    MeshEntry* entry = nullptr;
    return reaches(record, geometry, planned.at, radius, entry);
}

std::uint64_t plannedDentUnits(const PlannedDent& planned, VehicleRecord& record) {
    const auto& geometry = *static_cast<const host::Geometry*>(planned.geometry);
    std::uint64_t units = unitsOf(kScan, static_cast<std::size_t>(geometry.vertexCount));
    if (const MeshEntry* entry = entryOfCopy(record, &geometry)) return units + displacementUnits(*entry);
    const int kind = panelKindOf(record, *static_cast<host::Atomic*>(planned.atomic));
    if (const DentJob::MadeCopy* prepared = readyPreparedCopy(planned.atomic, planned.geometry, kind, record.creaseSeed)) {
        // Attached as it is; lists it did not finish are made in one go.
        const std::size_t count = static_cast<std::size_t>(static_cast<const host::Geometry*>(prepared->copy)->vertexCount);
        units += unitsOf(kAttach, count) + displacementUnits(prepared->panel, count);
        if (prepared->panel.kind != kNoPanel && !panelListsFit(prepared->panel, count)) {
            units += unitsOf(kListsBegin, count) + unitsOf(kLists, count);
        }
    }
    return units;
}

void* deformAtomic(void* atomic, void* request) {
    try {
        deform(atomic, static_cast<DentRequest*>(request));
    } catch (...) {
        // Nothing may reach the host's enumeration; the atomic is left as it is.
    }
    return atomic;
}

void deformPlannedAtomic(const PlannedDent& planned, DentRequest& request) {
    try {
        breadcrumb("atomic: begin / inspect frame and geometry");
        if (request.record) dentAtomic(*static_cast<host::Atomic*>(planned.atomic), planned.at, request);
    } catch (...) {
        // As for deformAtomic: the atomic is left as it is.
    }
}

}  // namespace kerbmark
