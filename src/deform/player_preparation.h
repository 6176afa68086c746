// The player's vehicle made ready for its first hit. While the player sits in
// a car, frames with work to spare make each deformable mesh's copy (a bonnet
// or boot rebuilt along its crease) and its panel lists, a step at a time in
// the work units of traffic work. The copies stay unattached, so the host
// draws and collides with what it did before; a hit that reaches a mesh takes
// its copy as the clone would have made it, and writes the lines its making
// wrote then. A record made at the first hit takes the crease seed the copies
// were made with.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "deform/atomic_driver.h"
#include "deform/dent_job.h"
#include "deform/panel_state.h"
#include "foundation/log.h"

namespace kerbmark {

struct VehicleRecord;

// One frame's preparation, with what `allowance` has left after the frame's
// traffic work. `vehicle`: the player's vehicle, null on foot. Whatever was
// prepared goes when the player leaves the car or takes another, when the car
// is gone, its clump changes or it is repaired, and on `resetRequested` (F7);
// it is made again afterwards. Nothing is prepared without a work budget, in
// a frame in which the car had a contact, or where it would not fit.
void preparePlayerVehicle(void* vehicle, bool resetRequested, WorkAllowance& allowance);

// Releases every prepared copy (the reset events, and room a hit needs).
void releasePreparation();

// Vertices of the prepared copies, half-made clones included; they count
// against MaxTotalVertices.
std::uint64_t preparedVertices();

// A prepared copy of `original` for `atomic`, with its panel state and the
// log lines its making wrote, when it is what a copy made now would be: the
// same panel kind, crease seed and atomic flags. Taken out of the
// preparation; an unfitting one is released. No copy when there is none.
struct PreparedCopy {
    void* copy = nullptr;
    std::vector<DivertedLine> lines;
};
PreparedCopy takePreparedCopy(void* atomic, void* original, int kind, std::uint32_t creaseSeed, PanelState& panel);

// The copy and panel takePreparedCopy would give now; null when it would give none.
const DentJob::MadeCopy* readyPreparedCopy(void* atomic, void* original, int kind, std::uint32_t creaseSeed);

// A record just made for the prepared vehicle takes the crease seed its
// copies were made with, once one was made.
void takePreparedSeed(VehicleRecord& record);

}  // namespace kerbmark
