#include "refusal_sweep.h"

#include <algorithm>
#include <cstdio>

#include "host_functions.h"
#include "host_layout.h"

namespace hostsim {

namespace {

// However the drive goes, it ends in this many sweeps.
constexpr int kMostRepetitions = 50000;

// The drive, then its work left to finish with the player on foot, then its cars gone and a reset event.
bool oneDrive(std::uint64_t seed, int framesPerDrive, DriveFrames& frames, DriveChecks& checks) {
    DriveShape shape;
    shape.trafficCars = 2;
    shape.smallCars = true;
    shape.pace = kShortDrivePace;
    RandomDrive drive(seed, shape, checks);
    for (int f = 0; f < framesPerDrive; ++f)
        if (!frames.frame(&drive)) return false;
    drive.settle();
    for (int f = 0; f < kSweepIdleFrames + 5; ++f)
        if (!frames.frame(nullptr)) return false;
    drive.destroyEveryCar();
    for (int f = 0; f < 3; ++f)
        if (!frames.frame(nullptr)) return false;
    return frames.resetEvent(kResetSiteA);
}

}  // namespace

bool refuseEachAllocationInTurn(std::uint64_t seed, int framesPerDrive, DriveFrames& frames, DriveChecks& checks,
                                SweepReport& report) {
    std::uint32_t allocating = 0, refuseAt = 0;
    refuseAllocatingCalls([&allocating, &refuseAt](HostFunction) { return ++allocating == refuseAt; });
    for (int n = 0; n < kMostRepetitions; ++n) {
        allocating = 0;
        refuseAt = static_cast<std::uint32_t>(n);  // 0: nothing refused
        report.refusing = refuseAt;
        const bool held = oneDrive(seed, framesPerDrive, frames, checks);
        ++report.repetitions;
        report.mostCalls = std::max(report.mostCalls, allocating);
        if (n == 0) {
            report.unrefusedCalls = allocating;
            std::printf("hostsim_drive: the drive unrefused makes %u allocating calls\n",
                        static_cast<unsigned>(allocating));
            std::fflush(stdout);
        }
        if (!held) return false;
        if (n > 0 && allocating < refuseAt) break;
    }
    refuseAllocatingCalls(nullptr);
    return true;
}

}  // namespace hostsim
