// The per-atomic deformation driver: the callback that the hit handler passes
// to the host's atomic enumeration with one dent request, and the dent of one
// mesh's copy that the staged dent job runs step by step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "deform/ordinary_path.h"
#include "deform/step_costs.h"
#include "foundation/vec.h"
#include "host/host_types.h"

namespace kerbmark {

struct MeshEntry;
struct PanelState;
struct StagedSurface;
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

// The most work units the planned dent costs worked out now, when it makes no
// copy: its reach scan and, for a mesh that has its copy or a prepared one
// ready, the displacement (and the attaching) as if the dent reached it. The
// atomic and its geometry were checked by the planning in this frame.
std::uint64_t plannedDentUnits(const PlannedDent& planned, VehicleRecord& record);

// The dent of an entry's copy, as the staged dent job runs it in steps.

// The entry's dent arguments for this request: the previous depth and radius
// only within the same episode.
dent::DentArguments dentArguments(const MeshEntry& entry, const AtomicDent& at, const DentRequest& request);

enum class MeshPath { Ordinary, Fold, Surface };

// How the entry's copy of `count` vertices is dented: a panel whose lists fit
// folds (across its width with PanelAsymmetry), anything else dents vertex by vertex.
MeshPath pathOf(const PanelState& panel, std::size_t count);
MeshPath pathOf(const MeshEntry& entry, std::size_t count);

// The displacement of an entry's copy, all in one go.
void displace(host::Atomic& atomic, MeshEntry& entry, const AtomicDent& at, DentRequest& request);

// Writes a fully worked-out staged surface into the copy and the panel.
void commitStaged(host::Atomic& atomic, MeshEntry& entry, DentRequest& request, StagedSurface& staged);

// An ordinary dent too large for one frame: the copy's positions as the dent
// found them, dented in runs, then written into the copy in one go.
struct StagedOrdinary {
    dent::DentArguments dent{};
    std::vector<dent::Vec> positions;
    std::size_t done = 0;  // vertices dented so far
};

// Takes the copy's positions and the dent's arguments; false when the
// positions cannot be read.
bool beginOrdinary(const MeshEntry& entry, const AtomicDent& at, const DentRequest& request, StagedOrdinary& staged);
// Dents up to `vertices` more of the staged positions.
void continueOrdinary(const MeshEntry& entry, std::size_t vertices, StagedOrdinary& staged);
// Writes the staged positions, every one dented, into the copy.
void commitOrdinary(host::Atomic& atomic, MeshEntry& entry, DentRequest& request, const StagedOrdinary& staged);

// Whether the dent reaches any point of the atomic's geometry: of its entry's
// rest positions once it has one (`entry`; null before the first copy).
// False when the entry no longer fits the geometry.
bool reaches(VehicleRecord& record, const host::Geometry& geometry, const AtomicDent& at, float radius,
             MeshEntry*& entry);

// The surface path's cost on a panel: its copy locked and unlocked, and per
// thousand vertices the vertices' own and an even share of the sheet points'.
StepCost surfaceCost(const PanelState& panel, std::size_t vertices);

// The displacement's work units, all in one go, of a copy of `count` vertices
// with this panel state / of the entry's copy, by its path.
std::uint64_t displacementUnits(const PanelState& panel, std::size_t count);
std::uint64_t displacementUnits(const MeshEntry& entry);

}  // namespace kerbmark
