// The per-atomic deformation driver: the callback that the hit handler passes
// to the host's atomic enumeration with one dent request.
#pragma once

#include <cstdint>
#include <vector>

#include "deform/geometry_clone.h"
#include "deform/panel_paths.h"
#include "deform/panel_state.h"
#include "foundation/vec.h"
#include "panel/crease_topology.h"

namespace kerbmark {

struct VehicleRecord;

// One dent for every atomic of a vehicle, in world space.
struct DentRequest {
    VehicleRecord* record;   // the hit vehicle's record
    dent::Vec point;         // the episode's contact point
    dent::Vec direction;     // the episode's unit push direction
    float depth;             // the episode's depth
    float radius;            // the episode's radius
    std::uint32_t episode;   // the episode's number
    std::uint32_t meshes;    // out: meshes displaced by this request
    // The record is the player's vehicle's: when the all-vehicles vertex
    // budget refuses one of its meshes, other vehicles' records make room.
    bool player = false;
    // The record stands in for the player's vehicle before its first hit
    // reaches a mesh: a planned dent then only makes the copy and its lists,
    // ahead of the hit, and takes no room from anyone (see player_preparation.h).
    bool preparing = false;
    // out: work units of what deformAtomic did in one go (the reach scans, a
    // prepared copy attached, the displacements), for the frame's budget.
    std::uint64_t units = 0;
};

// A dent taken into one atomic's own frame space.
struct AtomicDent {
    dent::Vec hit;
    dent::Vec direction;  // not normalised
};

// An atomic that a traffic hit reaches later: the atomic, the geometry it
// had, and the dent in its frame as it stood at the hit.
struct PlannedDent {
    void* atomic;
    void* geometry;
    AtomicDent at;
};

// Data of planAtomicDent: the hit's request and where the planned atomics go.
// With `namesLater`, atomics are planned whatever their frames' names say:
// the work that runs the planned dents asks before it begins, so that the
// hit's own frame does not walk the names of a car met for the first time.
struct DentPlan {
    const DentRequest* request;
    std::vector<PlannedDent>* dents;
    bool namesLater = false;
};

// Work a frame may still spend on planned dents, in work units (about 10 ns
// each of the 32-bit module; counted from vertex counts, never timed). The
// frame's first step always runs, so that the work goes on however small the
// budget; every later one must fit what is left.
struct WorkAllowance {
    std::uint64_t left = 0;
    bool started = false;

    static WorkAllowance unlimited() { return WorkAllowance{~std::uint64_t{0}, false}; }
    // Charges `units` when the step may run now.
    bool take(std::uint64_t units) {
        if (started && units > left) return false;
        charge(units);
        started = true;
        return true;
    }
    // Charges work that had to be done anyway (checks, the frame's own work):
    // it leaves less for the steps, but the frame's first step still runs.
    void charge(std::uint64_t units) { left = units >= left ? 0 : left - units; }
};

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

// Panel kinds by frame name; the nearest frame that names a panel decides.
enum PanelKind : int { kNoPanel = 0, kBonnet = 1, kBoot = 2 };

// The frame's whole record lies in readable memory, so that it may be handed
// to the host's frame functions (game::frameName, game::frameLTM).
bool frameRecordReadable(const void* frame);

// The frame or one of its ancestors (24 frames at most) is named after a part
// that is never deformed (wheels, exhaust, ...), in any letter case. Also true
// when the walk meets an unreadable frame: a name that cannot be read may be a
// wheel's.
bool excludedByName(void* frame);

// kBonnet or kBoot for the nearest of the frame and its ancestors whose name
// begins with a panel word, kNoPanel when none does. An unreadable frame ends
// the walk: the nearer frames named no panel, so none is assumed.
int panelKind(void* frame);

// The atomic is still one of the clump's (the host may have destroyed it
// since it was met): asks the host to enumerate the clump.
bool clumpHoldsAtomic(void* clump, const void* atomic);

// Callback of game::atomics with a DentRequest as data: copies the atomic's
// geometry the first time the dent reaches it and dents the copy. Always
// returns the atomic, so that the enumeration goes on.
void* deformAtomic(void* atomic, void* request);

// Callback of game::atomics with a DentPlan as data: the checks of
// deformAtomic up to the frame matrix; every atomic that passes them is
// appended to the plan with the dent in its frame. Changes nothing.
void* planAtomicDent(void* atomic, void* data);

// deformAtomic for an atomic the hit planned in this same frame, nothing
// having changed since: the checks and the dent in its frame are the
// planning's, so they are not made again.
void deformPlannedAtomic(const PlannedDent& planned, DentRequest& request);

// Whether the planned dent, worked out now, would make a copy of its atomic's
// geometry: it reaches a mesh of the record that has no copy and no prepared
// one ready, and the vehicle's own limits would let one be made. The atomic
// and its geometry were checked by the planning in this frame.
bool plannedDentMakesCopy(const PlannedDent& planned, VehicleRecord& record, float radius);

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
