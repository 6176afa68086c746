// The staged dent of a planned atomic: the immediate dent's work cut into
// steps, each run when the frame's work allowance takes it, so that a hit's
// copies, crease rebuilds, panel lists and surface dents spread over frames.
//
// What may follow each step; any step may instead wait for a later frame or
// end the job, and a step in runs follows itself until its items are done:
//   Reach -> Copy (no entry yet) or Dent (the mesh has one)
//   Copy -> CloneTriangles, or Lists: a copy prepared for the player's car enters here
//   CloneTriangles -> CloneFinish -> Cut (a bonnet or boot) or Lists
//   Cut -> Build -> BuildPieces -> BuildFinish -> Lists; a refused rebuild goes to Lists
//   Lists -> Attach -> Dent; a job that only prepares a copy ends at Attach
//   Dent -> Surface (a panel's surface path) or OrdinaryRuns (an ordinary dent)
//     when the displacement does not fit the frame
#include "deform/dent_job.h"

#include <algorithm>
#include <utility>

#include "deform/atomic_names.h"
#include "deform/geometry_clone.h"
#include "deform/mesh_copies.h"
#include "deform/panel_paths.h"
#include "deform/player_preparation.h"
#include "deform/records.h"
#include "deform/step_costs.h"
#include "foundation/log.h"
#include "foundation/work_meter.h"
#include "host/host_types.h"
#include "host/memory_check.h"

namespace kerbmark {

namespace {

// Buffers of the last staged dent of a kind (StagedSurface, StagedOrdinary),
// kept for the next: a panel's or a large body's are megabytes, and fresh
// memory costs its page faults again.
template <typename Staged>
Staged& spare() {
    static Staged* const kept = new Staged();
    return *kept;
}

// A staged dent of `count` vertices begins with the spare buffers when its own are smaller.
template <typename Staged>
void takeSpareFor(Staged& staged, std::size_t count) {
    if (staged.positions.capacity() < count) std::swap(staged, spare<Staged>());
}

// A finished staged dent leaves its buffers as the spare when they are the larger.
template <typename Staged>
void keepAsSpare(Staged& staged) {
    if (staged.positions.capacity() > spare<Staged>().positions.capacity()) std::swap(staged, spare<Staged>());
}

// The cutting's cost per source triangle: its own and its pieces'.
StepCost cutCost(const CreaseCut& cut) {
    const std::uint64_t piecesPerThousand =
        cut.cutTriangles > 0 ? 1000 * cut.pieces.size() / static_cast<std::uint64_t>(cut.cutTriangles)
                             : 1000 * kFirstPiecesPerTriangle;
    return StepCost{kCutFixed, kCutPerThousandTriangles + kCutPerThousandPieces * piecesPerThousand / 1000};
}

// Items of `remaining` that one step in runs works on at `cost` each: as
// many as the allowance takes, at least kMinVertexStep when it is the
// frame's first step; runs of four, as the probes are dented, but for the
// last. A step in runs waits for a later frame only while something
// remains: with nothing left it goes on at once, so that no step waits for ever.
std::size_t itemStep(std::size_t remaining, StepCost cost, const WorkAllowance& allowance) {
    const std::uint64_t room = allowance.left > cost.fixed ? allowance.left - cost.fixed : 0;
    const std::uint64_t fit = cost.perThousand == 0 ? remaining : room * 1000 / cost.perThousand;
    std::size_t items = static_cast<std::size_t>(std::min<std::uint64_t>(fit, remaining));
    if (items < remaining) items &= ~std::size_t{3};
    if (!allowance.started) items = std::max(items, std::min(kMinVertexStep, remaining));
    return items;
}

// Charges a run of `items` at `cost`; false when there is none or it does not fit.
bool takeRun(WorkAllowance& allowance, StepCost cost, std::size_t items) {
    return items != 0 && allowance.take(unitsOf(cost, items));
}

// The clone's source is still the atomic's geometry as the clone found it;
// otherwise the half-made copy is released and the dent given up.
bool cloneGoesOn(CloneJob& clone, const host::Geometry* geometry) {
    if (clone.source == geometry && cloneSourceUnchanged(clone)) return true;
    releaseClone(clone);
    return false;
}

using Step = DentJob::Step;

// What a step leads to: wait for a frame with room, done, or straight on to `step`.
struct Next {
    enum Kind { Wait, Done, Go } kind;
    Step step;
};
constexpr Next kWait{Next::Wait, Step::Reach};
constexpr Next kDone{Next::Done, Step::Reach};
constexpr Next go(Step step) { return Next{Next::Go, step}; }

// What the steps work on: the atomic as it is now, its planned dent, the
// request and its record, and the meter of the running step.
struct DentTarget {
    host::Atomic& atomic;
    const AtomicDent& at;
    DentRequest& request;
    VehicleRecord& record;
    meter::Scope& metered;
};

std::size_t vertexCountOf(const host::Geometry& geometry) { return static_cast<std::size_t>(geometry.vertexCount); }

// The crease rebuild's end: the rebuilt copy kept in place of the plain one,
// or, when `rebuilt` is null, the plain one kept for the ordinary dent (a
// copy being built is released); the cut's buffers go back.
Next endCreaseRebuild(DentJob& job, void* rebuilt) {
    DentJob::CreaseRebuild& rebuild = job.rebuild;
    if (rebuild.building != rebuilt) releaseGeometry(rebuild.building);
    rebuild.building = nullptr;
    job.made.copy = keepPanelCopy(job.made.copy, rebuilt, job.made.panel);
    returnCutBuffers(rebuild.cut);
    return go(Step::Lists);
}

Next reachStep(const DentTarget& t, DentJob&, WorkAllowance& allowance) {
    const host::Geometry& geometry = *t.atomic.geometry;
    if (!allowance.take(unitsOf(kScan, vertexCountOf(geometry)))) return kWait;
    MeshEntry* entry = nullptr;
    if (!reaches(t.record, geometry, t.at, t.request.radius, entry)) return kDone;
    return go(entry ? Step::Dent : Step::Copy);
}

// What the copy step costs: only its checks when a limit refuses the copy,
// a prepared copy taken over, or a clone's start.
StepCost copyCost(const DentTarget& t, CopyFor who, int kind) {
    host::Geometry* geometry = t.atomic.geometry;
    if (copyRefused(t.record, *geometry, who)) return kCopyRefused;
    const bool takesPrepared =
        who != CopyFor::Preparation && readyPreparedCopy(&t.atomic, geometry, kind, t.record.creaseSeed);
    return takesPrepared ? kTakePrepared : kCopy;
}

// A prepared copy is taken over as it is; a clone begins with the host's create call.
Next copyStep(const DentTarget& t, DentJob& job, WorkAllowance& allowance) {
    host::Geometry* geometry = t.atomic.geometry;
    const CopyFor who = copyFor(t.request);
    const int kind = panelKindOf(t.record, t.atomic);
    if (!allowance.take(unitsOf(copyCost(t, who, kind), vertexCountOf(*geometry)))) return kWait;
    void* prepared = nullptr;
    const CopySource from = copySource(t.atomic, t.record, geometry, who, kind, job.made.panel, prepared);
    if (from == CopySource::Refused) return kDone;
    if (from == CopySource::Prepared) {
        job.made.copy = prepared;
        return go(Step::Lists);
    }
    if (!beginClone(geometry, job.clone)) {
        logCloneFailed();
        return kDone;
    }
    return go(Step::CloneTriangles);
}

// In runs of triangles; the half-made copy stays with the job until it is finished.
Next cloneTrianglesStep(const DentTarget& t, DentJob& job, WorkAllowance& allowance) {
    CloneJob& clone = job.clone;
    if (!cloneGoesOn(clone, t.atomic.geometry)) return kDone;
    const auto left = static_cast<std::size_t>(cloneTrianglesLeft(clone));
    const std::size_t triangles = itemStep(left, kCloneTriangles, allowance);
    if (left > 0 && !takeRun(allowance, kCloneTriangles, triangles)) return kWait;
    if (!continueClone(clone, static_cast<std::int32_t>(triangles))) {
        logCloneFailed();
        return kDone;
    }
    return go(cloneTrianglesLeft(clone) == 0 ? Step::CloneFinish : Step::CloneTriangles);
}

// The finished copy; a bonnet or boot is measured for its crease, and its cut begins.
Next cloneFinishStep(const DentTarget& t, DentJob& job, WorkAllowance& allowance) {
    CloneJob& clone = job.clone;
    if (!cloneGoesOn(clone, t.atomic.geometry)) return kDone;
    const int kind = panelKindOf(t.record, t.atomic);
    const StepCost finish{kCloneFinish.fixed, kCloneFinish.perThousand + (kind != kNoPanel ? kMeasurePerThousand : 0)};
    if (!allowance.take(unitsOf(finish, vertexCountOf(*t.atomic.geometry)))) return kWait;
    DentJob::MadeCopy& made = job.made;
    made.copy = finishClone(clone);
    if (!made.copy) {
        logCloneFailed();
        return kDone;
    }
    if (kind == kNoPanel) return go(Step::Lists);
    startPanel(&t.atomic, kind, t.record.creaseSeed, made.panel);
    borrowCutBuffers(job.rebuild.cut);
    if (beginCreaseCut(made.copy, made.panel, job.rebuild.cut)) return go(Step::Cut);
    made.copy = keepPanelCopy(made.copy, nullptr, made.panel);
    return go(Step::Lists);
}

// In runs of source triangles; the cut stays with the job until it is built.
Next cutStep(const DentTarget&, DentJob& job, WorkAllowance& allowance) {
    DentJob::MadeCopy& made = job.made;
    CreaseCut& cut = job.rebuild.cut;
    const std::size_t left = cutTrianglesLeft(made.copy, cut);
    const StepCost cost = cutCost(cut);
    const std::size_t triangles = itemStep(left, cost, allowance);
    if (left > 0 && !takeRun(allowance, cost, triangles)) return kWait;
    switch (continueCreaseCut(made.copy, made.panel, cut, static_cast<std::int32_t>(triangles))) {
        case CutStep::More:
            return go(Step::Cut);
        case CutStep::Done:
            return go(Step::Build);
        case CutStep::Refused:
            break;
    }
    made.copy = keepPanelCopy(made.copy, nullptr, made.panel);
    returnCutBuffers(cut);
    return go(Step::Lists);
}

// The host's create call for the rebuilt copy; its pieces follow in runs.
Next buildStep(const DentTarget&, DentJob& job, WorkAllowance& allowance) {
    DentJob::CreaseRebuild& rebuild = job.rebuild;
    if (!allowance.take(unitsOf(kBuildCreate, rebuild.cut.pieces.size()))) return kWait;
    rebuild.building = beginCutBuild(job.made.copy, job.made.panel, rebuild.cut);
    rebuild.builtPieces = 0;
    return rebuild.building ? go(Step::BuildPieces) : endCreaseRebuild(job, nullptr);
}

Next buildPiecesStep(const DentTarget&, DentJob& job, WorkAllowance& allowance) {
    DentJob::CreaseRebuild& rebuild = job.rebuild;
    const std::size_t left = cutPiecesLeft(rebuild.cut, rebuild.builtPieces);
    const std::size_t pieces = itemStep(left, kBuildPieces, allowance);
    if (left > 0 && !takeRun(allowance, kBuildPieces, pieces)) return kWait;
    if (!continueCutBuild(rebuild.building, job.made.copy, job.made.panel, rebuild.cut, rebuild.builtPieces, pieces)) {
        return endCreaseRebuild(job, nullptr);
    }
    return go(cutPiecesLeft(rebuild.cut, rebuild.builtPieces) == 0 ? Step::BuildFinish : Step::BuildPieces);
}

Next buildFinishStep(const DentTarget&, DentJob& job, WorkAllowance& allowance) {
    DentJob::CreaseRebuild& rebuild = job.rebuild;
    if (!allowance.take(unitsOf(kBuildFinish, rebuild.cut.pieces.size()))) return kWait;
    return endCreaseRebuild(job, finishCutBuild(rebuild.building) ? rebuild.building : nullptr);
}

// A panel's lists, in runs of sheet points; the copy is not drawn yet.
Next listsStep(const DentTarget&, DentJob& job, WorkAllowance& allowance) {
    const auto* copy = static_cast<const host::Geometry*>(job.made.copy);
    PanelState& panel = job.made.panel;
    // Attach is where a copy is refused, if it is.
    if (panel.kind == kNoPanel || !deformableShape(copy)) return go(Step::Attach);
    const auto count = static_cast<std::size_t>(copy->vertexCount);
    const dent::Vec* rest = copy->vertexBlock->positions;
    if (panel.working.size() != count) {
        if (!allowance.take(unitsOf(kListsBegin, count))) return kWait;
        beginPanelLists(panel, rest, copyNormals(copy), count);
    }
    const std::size_t left = panelListsLeft(panel, count);
    const std::size_t items = itemStep(left, kLists, allowance);
    if (left > 0 && !takeRun(allowance, kLists, items)) return kWait;
    return go(continuePanelLists(panel, rest, count, items) ? Step::Attach : Step::Lists);
}

Next attachStep(const DentTarget& t, DentJob& job, WorkAllowance& allowance) {
    if (t.request.preparing) return kDone;  // the copy waits for the hit
    const auto* copy = static_cast<const host::Geometry*>(job.made.copy);
    const std::size_t count = geometryRecordReadable(copy) ? static_cast<std::uint32_t>(copy->vertexCount) : 0;
    if (!allowance.take(unitsOf(kAttach, count))) return kWait;
    void* const made = job.made.copy;
    job.made.copy = nullptr;  // attachCopy keeps it or releases it
    if (!attachCopy(t.atomic, t.record, t.atomic.geometry, copyFor(t.request), made, job.made.panel)) return kDone;
    return go(Step::Dent);
}

// The displacement in one go, or a surface or an ordinary dent that does not
// fit this frame begun in steps (a fold is always in one go).
Next dentStep(const DentTarget& t, DentJob& job, WorkAllowance& allowance) {
    const std::size_t vertexCount = vertexCountOf(*t.atomic.geometry);
    MeshEntry* entry = entryOfCopy(t.record, t.atomic.geometry);
    if (!entry || entry->restPositions.size() != vertexCount) return kDone;
    const MeshPath path = pathOf(*entry, vertexCount);
    const std::uint64_t units = displacementUnits(*entry);
    t.metered.relabel(path == MeshPath::Surface ? meter::DentSurface
                      : path == MeshPath::Fold  ? meter::DentFold
                                                : meter::DentOrdinary);
    if (path == MeshPath::Fold || units <= allowance.left) {
        if (!allowance.take(units)) return kWait;
        displace(t.atomic, *entry, t.at, t.request);
        return kDone;
    }
    if (path == MeshPath::Ordinary) {
        if (!allowance.take(unitsOf(kOrdinaryBegin, vertexCount))) return kWait;
        takeSpareFor(job.ordinary, vertexCount);
        return beginOrdinary(*entry, t.at, t.request, job.ordinary) ? go(Step::OrdinaryRuns) : kDone;
    }
    if (!allowance.take(kSurfaceBegin)) return kWait;
    StagedSurface& staged = job.surface;
    takeSpareFor(staged, vertexCount);
    beginSurface(entry->panel, vertexCount, dentArguments(*entry, t.at, t.request), staged);
    return go(Step::Surface);
}

// Runs only work out vertices: the copy is locked once, when they are written.
Next surfaceStep(const DentTarget& t, DentJob& job, WorkAllowance& allowance) {
    MeshEntry* entry = entryOfCopy(t.record, t.atomic.geometry);
    StagedSurface& staged = job.surface;
    if (!entry || entry->restPositions.size() != staged.count) return kDone;
    if (staged.done < staged.count) {
        const StepCost cost{0, surfaceCost(entry->panel, staged.count).perThousand};
        const std::size_t vertices = itemStep(staged.count - staged.done, cost, allowance);
        if (!takeRun(allowance, cost, vertices)) return kWait;
        continueSurface(entry->panel, entry->restPositions.data(), vertices, staged);
        return go(Step::Surface);
    }
    t.metered.relabel(meter::SurfaceCommit);
    if (!allowance.take(unitsOf(kCommit, staged.count))) return kWait;
    commitStaged(t.atomic, *entry, t.request, staged);
    keepAsSpare(staged);
    return kDone;
}

// Runs dent staged positions; the copy is locked once, when they are written.
Next ordinaryRunsStep(const DentTarget& t, DentJob& job, WorkAllowance& allowance) {
    MeshEntry* entry = entryOfCopy(t.record, t.atomic.geometry);
    StagedOrdinary& staged = job.ordinary;
    if (!entry || entry->restPositions.size() != staged.positions.size()) return kDone;
    if (staged.done < staged.positions.size()) {
        const StepCost cost{0, kDent.perThousand};
        const std::size_t vertices = itemStep(staged.positions.size() - staged.done, cost, allowance);
        if (!takeRun(allowance, cost, vertices)) return kWait;
        continueOrdinary(*entry, vertices, staged);
        return go(Step::OrdinaryRuns);
    }
    if (!allowance.take(unitsOf(kCommit, staged.positions.size()))) return kWait;
    commitOrdinary(t.atomic, *entry, t.request, staged);
    keepAsSpare(staged);
    return kDone;
}

Next runStep(const DentTarget& target, DentJob& job, WorkAllowance& allowance) {
    switch (job.step) {
        case Step::Reach: return reachStep(target, job, allowance);
        case Step::Copy: return copyStep(target, job, allowance);
        case Step::CloneTriangles: return cloneTrianglesStep(target, job, allowance);
        case Step::CloneFinish: return cloneFinishStep(target, job, allowance);
        case Step::Cut: return cutStep(target, job, allowance);
        case Step::Build: return buildStep(target, job, allowance);
        case Step::BuildPieces: return buildPiecesStep(target, job, allowance);
        case Step::BuildFinish: return buildFinishStep(target, job, allowance);
        case Step::Lists: return listsStep(target, job, allowance);
        case Step::Attach: return attachStep(target, job, allowance);
        case Step::Dent: return dentStep(target, job, allowance);
        case Step::Surface: return surfaceStep(target, job, allowance);
        case Step::OrdinaryRuns: return ordinaryRunsStep(target, job, allowance);
    }
    return kDone;
}

// The meter's kind of a step (a benchmark build's; nothing otherwise).
meter::Kind meteredKind(Step step) {
    static const meter::Kind kinds[] = {meter::Reach,       meter::Copy,        meter::CloneTriangles,
                                        meter::CloneFinish, meter::Cut,         meter::Build,
                                        meter::BuildPieces, meter::BuildFinish, meter::Lists,
                                        meter::Attach,      meter::DentOrdinary, meter::SurfaceRun,
                                        meter::DentOrdinary};
    return kinds[static_cast<int>(step)];
}

// Steps one after the other, each timed on its own, until one waits or the job is done.
DentStep advance(host::Atomic& atomic, const AtomicDent& at, DentRequest& request, DentJob& job,
                 WorkAllowance& allowance) {
    for (;;) {
        meter::Scope metered(meteredKind(job.step), &allowance.left);
        const Next next = runStep(DentTarget{atomic, at, request, *request.record, metered}, job, allowance);
        if (next.kind == Next::Wait) return DentStep::Waiting;
        if (next.kind == Next::Done) return DentStep::Done;
        job.step = next.step;
    }
}

std::uint32_t copyVertices(const void* geometry) {
    const std::int32_t count = static_cast<const host::Geometry*>(geometry)->vertexCount;
    return count > 0 ? static_cast<std::uint32_t>(count) : 0;
}

}  // namespace

DentJob::~DentJob() {
    returnCutBuffers(rebuild.cut);
    if (rebuild.building) releaseGeometry(rebuild.building);
    releaseClone(clone);
    if (made.copy) releaseGeometry(made.copy);
}

host::Atomic* plannedAtomicNow(void* atomic, VehicleRecord& record) {
    try {
        breadcrumb("atomic: begin / inspect frame and geometry");
        return deformableAtomic(atomic, record);
    } catch (...) {
        return nullptr;  // as for deformAtomic: the atomic is left as it is
    }
}

DentStep advanceCheckedDent(host::Atomic& atomic, const AtomicDent& at, DentRequest& request, DentJob& job,
                            WorkAllowance& allowance) {
    try {
        if (request.record) return advance(atomic, at, request, job, allowance);
    } catch (...) {
        // As for deformAtomic: the atomic is left as it is.
    }
    return DentStep::Done;
}

DentStep advancePlannedDent(void* atomicPointer, const AtomicDent& at, DentRequest& request, DentJob& job,
                            WorkAllowance& allowance) {
    if (!request.record) return DentStep::Done;
    host::Atomic* atomic = nullptr;
    {
        ReadableMemoryScope remembered;  // the checks only read
        atomic = plannedAtomicNow(atomicPointer, *request.record);
    }
    return atomic ? advanceCheckedDent(*atomic, at, request, job, allowance) : DentStep::Done;
}

bool copyReady(const DentJob& job) {
    return job.made.copy && (job.step == Step::Lists || job.step == Step::Attach);
}

bool creaseNotBegun(const DentJob& job) {
    return job.step == Step::Copy || job.step == Step::CloneTriangles || job.step == Step::CloneFinish;
}

std::uint64_t verticesHeld(const DentJob& job) {
    const void* copy = job.made.copy ? job.made.copy : job.clone.copy;
    return (copy ? copyVertices(copy) : 0) + (job.rebuild.building ? copyVertices(job.rebuild.building) : 0);
}

}  // namespace kerbmark
