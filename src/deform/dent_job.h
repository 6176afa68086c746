// The staged dent of a planned atomic: the immediate dent's work in steps,
// each run in a frame whose work allowance takes it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "deform/atomic_driver.h"
#include "deform/geometry_clone.h"
#include "deform/panel_paths.h"
#include "deform/panel_state.h"
#include "panel/crease_topology.h"

namespace kerbmark {

// What the steps of a planned dent made so far for the next one, each part
// with the steps that own it. A copy made but not yet attached, or half made,
// is released when the job is dropped.
struct DentJob {
    enum class Step {
        Reach, Copy, CloneTriangles, CloneFinish, Cut, Build, BuildPieces, BuildFinish, Lists, Attach, Dent, Surface,
        OrdinaryRuns
    };
    // The copy made (rebuilt along its crease for a panel) and its panel's
    // state, not attached yet: from CloneFinish, or Copy when a prepared copy
    // is taken, to Attach; the crease rebuild replaces the copy.
    struct MadeCopy {
        void* copy = nullptr;
        PanelState panel;
    };
    // Cut to BuildFinish: a panel copy's crease cut so far, and the rebuilt
    // copy being filled in with the cut's pieces.
    struct CreaseRebuild {
        CreaseCut cut;
        void* building = nullptr;
        std::size_t builtPieces = 0;
    };

    Step step;
    CloneJob clone;         // Copy to CloneFinish: the copy being made
    MadeCopy made;
    CreaseRebuild rebuild;
    StagedSurface surface;  // Dent and Surface: the surface path worked out so far
    StagedOrdinary ordinary;  // Dent and OrdinaryRuns: the ordinary dent worked out so far

    explicit DentJob(Step first = Step::Reach) : step(first) {}
    ~DentJob();
    DentJob(const DentJob&) = delete;
    DentJob& operator=(const DentJob&) = delete;
};

enum class DentStep {
    Done,     // dented, refused or given up: nothing more to do
    Waiting,  // the next step waits for a frame with room for it
};

// The rest of deformAtomic for a planned atomic, in steps while `allowance`
// takes them: the checks again on the atomic as it is now, then reach, the
// clone (its triangles in runs; a source that changed in between drops it),
// crease rebuild and lists, and the displacement with the planned dent (the
// frame's matrix is not read again). A surface path or an ordinary dent that
// does not fit is worked out over several frames and written in one go. Each
// step does what deformAtomic does, in the same order, so the settled mesh is
// the same.
DentStep advancePlannedDent(void* atomic, const AtomicDent& at, DentRequest& request, DentJob& job,
                            WorkAllowance& allowance);
// The same in two parts, for a caller that checks more of the host in the
// same ReadableMemoryScope: the checks on the atomic as it is now (null when
// it may not be dented), then the steps on the atomic they passed.
host::Atomic* plannedAtomicNow(void* atomic, VehicleRecord& record);
DentStep advanceCheckedDent(host::Atomic& atomic, const AtomicDent& at, DentRequest& request, DentJob& job,
                            WorkAllowance& allowance);

// For jobs that only make a copy ahead of a hit (begun at Step::Copy, with a
// preparing request): they end at Attach.

// The copy is what a hit's copy would be: cloned and, for a bonnet or boot,
// rebuilt along its crease (while it is cut and built, it is the plain clone).
bool copyReady(const DentJob& job);

// The panel's crease has not been begun: its seed and the atomic's flags are
// taken as they are now.
bool creaseNotBegun(const DentJob& job);

// Vertices of the copies the job holds: made or half made, and a rebuilt
// copy being filled in.
std::uint64_t verticesHeld(const DentJob& job);

}  // namespace kerbmark
