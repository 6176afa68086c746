// The staged dent of a planned atomic: the immediate dent's work cut into
// steps, each run when the frame's work allowance takes it, so that a hit's
// copies, crease rebuilds, panel lists and surface dents spread over frames.
#include "deform/dent_job.h"

#include <algorithm>
#include <utility>

#include "deform/atomic_names.h"
#include "deform/geometry_clone.h"
#include "deform/mesh_copies.h"
#include "deform/panel_paths.h"
#include "deform/records.h"
#include "deform/step_costs.h"
#include "foundation/log.h"
#include "foundation/work_meter.h"
#include "host/host_types.h"
#include "host/memory_check.h"

namespace kerbmark {

namespace {

// Buffers of the last staged surface, kept for the next: a panel's are a few
// megabytes, and fresh memory costs its page faults again.
StagedSurface& spareSurface() {
    static StagedSurface* const spare = new StagedSurface();
    return *spare;
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

// The crease rebuild's end: the rebuilt copy kept in place of the plain one,
// or, when `rebuilt` is null, the plain one kept for the ordinary dent (a
// copy being built is released); the cut's buffers go back.
void endCreaseRebuild(DentProgress& progress, void* rebuilt) {
    if (progress.building != rebuilt) releaseGeometry(progress.building);
    progress.building = nullptr;
    progress.pendingCopy = keepPanelCopy(progress.pendingCopy, rebuilt, progress.pendingPanel);
    returnCutBuffers(progress.cut);
    progress.step = DentProgress::Step::Lists;
}

// The meter's kind of a step (a benchmark build's; nothing otherwise).
meter::Kind meteredKind(DentProgress::Step step) {
    static const meter::Kind kinds[] = {meter::Reach,       meter::Copy,        meter::CloneTriangles,
                                        meter::CloneFinish, meter::Cut,         meter::Build,
                                        meter::BuildPieces, meter::BuildFinish, meter::Lists,
                                        meter::Attach,      meter::DentOrdinary, meter::SurfaceRun};
    return kinds[static_cast<int>(step)];
}

DentStep advance(host::Atomic& atomic, const AtomicDent& at, DentRequest& request, DentProgress& progress,
                 WorkAllowance& allowance) {
    using Step = DentProgress::Step;
    VehicleRecord& record = *request.record;
    for (;;) {
        meter::Scope metered(meteredKind(progress.step), &allowance.left);
        auto* geometry = atomic.geometry;
        const auto vertexCount = static_cast<std::size_t>(geometry->vertexCount);
        switch (progress.step) {
            case Step::Reach: {
                if (!allowance.take(unitsOf(kScan, vertexCount))) return DentStep::Waiting;
                MeshEntry* entry = nullptr;
                if (!reaches(record, *geometry, at, request.radius, entry)) return DentStep::Done;
                progress.step = entry ? Step::Dent : Step::Copy;
                break;
            }
            case Step::Copy: {
                if (!allowance.take(unitsOf(kCopy, vertexCount))) return DentStep::Waiting;
                void* prepared = nullptr;
                const CopySource from = copySource(atomic, record, geometry, copyFor(request), panelKindOf(record, atomic),
                                                   progress.pendingPanel, prepared);
                if (from == CopySource::Refused) return DentStep::Done;
                if (from == CopySource::Prepared) {
                    progress.pendingCopy = prepared;
                    progress.step = Step::Lists;
                    break;
                }
                if (!beginClone(geometry, progress.clone)) {
                    logCloneFailed();
                    return DentStep::Done;
                }
                progress.step = Step::CloneTriangles;
                break;
            }
            case Step::CloneTriangles: {
                // In runs of triangles; the half-made copy stays with the progress until it is finished.
                CloneJob& clone = progress.clone;
                if (!cloneGoesOn(clone, geometry)) return DentStep::Done;
                const auto left = static_cast<std::size_t>(cloneTrianglesLeft(clone));
                const std::size_t triangles = itemStep(left, kCloneTriangles, allowance);
                if (left > 0 && !takeRun(allowance, kCloneTriangles, triangles)) return DentStep::Waiting;
                if (!continueClone(clone, static_cast<std::int32_t>(triangles))) {
                    logCloneFailed();
                    return DentStep::Done;
                }
                if (cloneTrianglesLeft(clone) == 0) progress.step = Step::CloneFinish;
                break;
            }
            case Step::CloneFinish: {
                CloneJob& clone = progress.clone;
                if (!cloneGoesOn(clone, geometry)) return DentStep::Done;
                const int kind = panelKindOf(record, atomic);
                const StepCost finish{kCloneFinish.fixed,
                                      kCloneFinish.perThousand + (kind != kNoPanel ? kMeasurePerThousand : 0)};
                if (!allowance.take(unitsOf(finish, vertexCount))) return DentStep::Waiting;
                progress.pendingCopy = finishClone(clone);
                if (!progress.pendingCopy) {
                    logCloneFailed();
                    return DentStep::Done;
                }
                progress.step = Step::Lists;
                if (kind != kNoPanel) {
                    startPanel(&atomic, kind, record.creaseSeed, progress.pendingPanel);
                    borrowCutBuffers(progress.cut);
                    if (beginCreaseCut(progress.pendingCopy, progress.pendingPanel, progress.cut)) {
                        progress.step = Step::Cut;
                    } else {
                        progress.pendingCopy = keepPanelCopy(progress.pendingCopy, nullptr, progress.pendingPanel);
                    }
                }
                break;
            }
            case Step::Cut: {
                // In runs of source triangles; the cut stays with the progress until it is built.
                const std::size_t left = cutTrianglesLeft(progress.pendingCopy, progress.cut);
                const StepCost cost = cutCost(progress.cut);
                const std::size_t triangles = itemStep(left, cost, allowance);
                if (left > 0 && !takeRun(allowance, cost, triangles)) return DentStep::Waiting;
                const CutStep cut = continueCreaseCut(progress.pendingCopy, progress.pendingPanel, progress.cut,
                                                      static_cast<std::int32_t>(triangles));
                if (cut == CutStep::Done) progress.step = Step::Build;
                if (cut == CutStep::Refused) {
                    progress.pendingCopy = keepPanelCopy(progress.pendingCopy, nullptr, progress.pendingPanel);
                    returnCutBuffers(progress.cut);
                    progress.step = Step::Lists;
                }
                break;
            }
            case Step::Build: {
                // The host's create call for the rebuilt copy; its pieces follow in runs.
                const std::size_t pieces = progress.cut.pieces.size();
                if (!allowance.take(unitsOf(kBuildCreate, pieces))) return DentStep::Waiting;
                progress.building = beginCutBuild(progress.pendingCopy, progress.pendingPanel, progress.cut);
                progress.builtPieces = 0;
                if (progress.building) progress.step = Step::BuildPieces;
                else endCreaseRebuild(progress, nullptr);
                break;
            }
            case Step::BuildPieces: {
                const std::size_t left = cutPiecesLeft(progress.cut, progress.builtPieces);
                const std::size_t pieces = itemStep(left, kBuildPieces, allowance);
                if (left > 0 && !takeRun(allowance, kBuildPieces, pieces)) return DentStep::Waiting;
                if (!continueCutBuild(progress.building, progress.pendingCopy, progress.pendingPanel, progress.cut,
                                      progress.builtPieces, pieces)) {
                    endCreaseRebuild(progress, nullptr);
                } else if (cutPiecesLeft(progress.cut, progress.builtPieces) == 0) {
                    progress.step = Step::BuildFinish;
                }
                break;
            }
            case Step::BuildFinish: {
                if (!allowance.take(unitsOf(kBuildFinish, progress.cut.pieces.size()))) return DentStep::Waiting;
                endCreaseRebuild(progress, finishCutBuild(progress.building) ? progress.building : nullptr);
                break;
            }
            case Step::Lists: {
                // A panel's lists, in runs of sheet points; the copy is not drawn yet.
                const auto* copy = static_cast<const host::Geometry*>(progress.pendingCopy);
                PanelState& panel = progress.pendingPanel;
                if (panel.kind == kNoPanel || !deformableShape(copy)) {
                    progress.step = Step::Attach;  // where the copy is refused, if it is
                    break;
                }
                const auto count = static_cast<std::size_t>(copy->vertexCount);
                const dent::Vec* rest = copy->vertexBlock->positions;
                if (panel.working.size() != count) {
                    if (!allowance.take(unitsOf(kListsBegin, count))) return DentStep::Waiting;
                    beginPanelLists(panel, rest, copyNormals(copy), count);
                }
                const std::size_t left = panelListsLeft(panel, count);
                const std::size_t items = itemStep(left, kLists, allowance);
                if (left > 0 && !takeRun(allowance, kLists, items)) return DentStep::Waiting;
                if (continuePanelLists(panel, rest, count, items)) progress.step = Step::Attach;
                break;
            }
            case Step::Attach: {
                if (request.preparing) return DentStep::Done;  // the copy waits for the hit
                const auto* copy = static_cast<const host::Geometry*>(progress.pendingCopy);
                const std::size_t count = geometryRecordReadable(copy) ? static_cast<std::uint32_t>(copy->vertexCount) : 0;
                if (!allowance.take(unitsOf(kAttach, count))) return DentStep::Waiting;
                void* const made = progress.pendingCopy;
                progress.pendingCopy = nullptr;  // attachCopy keeps it or releases it
                if (!attachCopy(atomic, record, geometry, copyFor(request), made, progress.pendingPanel)) {
                    return DentStep::Done;
                }
                progress.step = Step::Dent;
                break;
            }
            case Step::Dent: {
                MeshEntry* entry = entryOfCopy(record, geometry);
                if (!entry || entry->restPositions.size() != vertexCount) return DentStep::Done;
                const MeshPath path = pathOf(*entry, vertexCount);
                const bool surface = path == MeshPath::Surface;
                const std::uint64_t units = unitsOf(displacementCost(*entry, vertexCount), vertexCount);
                metered.relabel(surface ? meter::DentSurface : path == MeshPath::Fold ? meter::DentFold
                                                                                      : meter::DentOrdinary);
                // A surface that does not fit this frame is worked out in steps.
                if (!surface || units <= allowance.left) {
                    if (!allowance.take(units)) return DentStep::Waiting;
                    displace(atomic, *entry, at, request);
                    return DentStep::Done;
                }
                StagedSurface& staged = progress.surface;
                if (staged.positions.capacity() < vertexCount) std::swap(staged, spareSurface());
                beginSurface(entry->panel, vertexCount, dentArguments(*entry, at, request), staged);
                progress.step = Step::Surface;
                break;
            }
            case Step::Surface: {
                MeshEntry* entry = entryOfCopy(record, geometry);
                StagedSurface& staged = progress.surface;
                if (!entry || entry->restPositions.size() != staged.count) return DentStep::Done;
                if (staged.done < staged.count) {
                    // Runs only work out vertices: the copy is locked once, when they are written.
                    const StepCost cost{0, surfaceCost(entry->panel, staged.count).perThousand};
                    const std::size_t vertices = itemStep(staged.count - staged.done, cost, allowance);
                    if (!takeRun(allowance, cost, vertices)) return DentStep::Waiting;
                    continueSurface(entry->panel, entry->restPositions.data(), vertices, staged);
                    break;
                }
                metered.relabel(meter::SurfaceCommit);
                if (!allowance.take(unitsOf(kCommit, staged.count))) return DentStep::Waiting;
                commitStaged(atomic, *entry, request, staged);
                if (staged.positions.capacity() > spareSurface().positions.capacity()) std::swap(staged, spareSurface());
                return DentStep::Done;
            }
        }
    }
}

}  // namespace

DentProgress::~DentProgress() {
    returnCutBuffers(cut);
    if (building) releaseGeometry(building);
    releaseClone(clone);
    if (pendingCopy) releaseGeometry(pendingCopy);
}

DentStep advancePlannedDent(void* atomicPointer, const AtomicDent& at, DentRequest& request, DentProgress& progress,
                            WorkAllowance& allowance) {
    try {
        breadcrumb("atomic: begin / inspect frame and geometry");
        if (!request.record) return DentStep::Done;
        host::Atomic* atomic = nullptr;
        {
            ReadableMemoryScope remembered;  // the checks only read
            atomic = deformableAtomic(atomicPointer, *request.record);
        }
        if (atomic) return advance(*atomic, at, request, progress, allowance);
    } catch (...) {
        // As for deformAtomic: the atomic is left as it is.
    }
    return DentStep::Done;
}

}  // namespace kerbmark
