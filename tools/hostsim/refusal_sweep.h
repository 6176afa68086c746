// Every allocating host call refused in turn: one short drive of coarse cars
// (fixed by its seed) runs again and again in one process, each time with
// fresh cars and ended by a reset event, and the n-th time the n-th
// allocating call from its start (createGeometry, copyExtensions,
// triangleVertices and triangleMaterial counted together) is refused; the
// drive's checks hold throughout. The first time nothing is refused; the
// sweep ends once a drive makes fewer allocating calls than the one it was
// to refuse.
#pragma once

#include <cstdint>

#include "drive_frames.h"

namespace hostsim {

struct SweepReport {
    std::uint32_t refusing = 0;  // the allocating call the running drive refuses (0: none)
    int repetitions = 0;
    std::uint32_t unrefusedCalls = 0;  // allocating calls of the first, unrefused drive
    std::uint32_t mostCalls = 0;       // of any drive
};

// False when a check failed (the checks tell what and when).
bool refuseEachAllocationInTurn(std::uint64_t seed, int framesPerDrive, DriveFrames& frames, DriveChecks& checks,
                                SweepReport& report);

// Frames the checks wait, with the player on foot and no geometry call, before an undrawn copy is a leak:
// coarse cars' work is done within a few frames.
constexpr int kSweepIdleFrames = 20;

}  // namespace hostsim
