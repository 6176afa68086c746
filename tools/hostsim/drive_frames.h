// The frames of a drive under its checks: the drive's events, the host's frame
// with the module's share of it timed (thread CPU time), the host drawing
// every vehicle, then the checks. Reset events between frames go through here
// too, so that each belongs to the frame after it.
#pragma once

#include <cstdint>
#include <vector>

#include "drive_checks.h"
#include "random_drive.h"

namespace hostsim {

class DriveFrames {
public:
    explicit DriveFrames(DriveChecks& checks) : checks_(checks) {}

    // One frame of `drive` (null: a frame without events or contacts, the
    // player on foot). False once a check has failed.
    bool frame(RandomDrive* drive);
    // A reset event before the next frame.
    bool resetEvent(std::uint32_t site);

    std::uint32_t framesRun() const { return frames_; }
    // The module's time in each frame's frame site, seconds.
    const std::vector<float>& moduleSeconds() const { return moduleSeconds_; }

private:
    DriveChecks& checks_;
    std::uint32_t frames_ = 0;
    std::vector<float> moduleSeconds_;
};

}  // namespace hostsim
