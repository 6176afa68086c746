#include "drive_frames.h"

#include "host_image.h"
#include "host_layout.h"
#include "host_world.h"
#include "thread_clock.h"

namespace hostsim {

namespace {

// Comparing every drawn vertex with what the last unlock built is the host's
// costliest check; a write after the unlock stays until the next one.
constexpr std::uint32_t kVertexCompareEvery = 64;

}  // namespace

bool DriveFrames::frame(RandomDrive* drive) {
    checks_.startFrame(++frames_);
    // The drive's events call into the module too (reset sites).
    try {
        if (drive) drive->beforeFrame();
    } catch (...) {
        checks_.fail("an exception reached the host in the events before the frame");
    }
    const double start = threadSeconds();
    try {
        callSite(kFrameSite);
    } catch (...) {
        checks_.fail("an exception reached the host's frame");
    }
    moduleSeconds_.push_back(static_cast<float>(threadSeconds() - start));
    renderVehicles(frames_ % kVertexCompareEvery == 0);
    checks_.afterFrame(!drive || drive->quiet());
    return !checks_.failed();
}

bool DriveFrames::resetEvent(std::uint32_t site) {
    checks_.startFrame(frames_ + 1);
    try {
        callSite(site);
    } catch (...) {
        checks_.fail("an exception reached the host's reset event");
    }
    checks_.resetEvent(site);
    return !checks_.failed();
}

}  // namespace hostsim
