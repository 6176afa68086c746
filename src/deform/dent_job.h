// The staged dent of a planned atomic: the immediate dent's work in steps,
// each run in a frame whose work allowance takes it.
#pragma once

#include <cstddef>

#include "deform/atomic_driver.h"
#include "deform/geometry_clone.h"
#include "deform/panel_paths.h"
#include "deform/panel_state.h"
#include "panel/crease_topology.h"

namespace kerbmark {

// What the steps of a planned dent made so far for the next one. A copy made
// but not yet attached, or half made, is released when the progress is dropped.
struct DentProgress {
    enum class Step {
        Reach, Copy, CloneTriangles, CloneFinish, Cut, Build, BuildPieces, BuildFinish, Lists, Attach, Dent, Surface
    };
    Step step = Step::Reach;
    CloneJob clone;  // Step::CloneTriangles and Step::CloneFinish: the copy being made
    void* pendingCopy = nullptr;  // the copy (rebuilt along its crease for a panel), not attached yet
    PanelState pendingPanel;
    CreaseCut cut;  // Step::Cut to Step::BuildFinish: a panel copy's crease cut so far
    void* building = nullptr;  // Step::BuildPieces and Step::BuildFinish: the rebuilt copy being filled in
    std::size_t builtPieces = 0;  // of the cut's pieces, filled in so far
    StagedSurface surface;  // Step::Surface: the surface path worked out so far

    DentProgress() = default;
    ~DentProgress();
    DentProgress(const DentProgress&) = delete;
    DentProgress& operator=(const DentProgress&) = delete;
};

enum class DentStep {
    Done,     // dented, refused or given up: nothing more to do
    Waiting,  // the next step waits for a frame with room for it
};

// The rest of deformAtomic for a planned atomic, in steps while `allowance`
// takes them: the checks again on the atomic as it is now, then reach, the
// clone (its triangles in runs; a source that changed in between drops it),
// crease rebuild and lists, and the displacement with the planned dent (the
// frame's matrix is not read again). A surface path that does not fit is
// worked out over several frames and written in one go. Each step does what
// deformAtomic does, in the same order, so the settled mesh is the same.
DentStep advancePlannedDent(void* atomic, const AtomicDent& at, DentRequest& request, DentProgress& progress,
                            WorkAllowance& allowance);

}  // namespace kerbmark
