#include "budget_frames.h"

#include <algorithm>
#include <cstdio>

#include "cpu_clock.h"
#include "host_functions.h"
#include "host_image.h"
#include "host_world.h"

namespace bench {

namespace {

constexpr double kMs = 1e6;  // nanoseconds

}  // namespace

FrameCost moduleFrame() {
    takeLogWrites();
    const double start = threadSeconds();
    hostsim::callSite(hostsim::kFrameSite);
    FrameCost cost;
    cost.seconds = threadSeconds() - start;
    cost.log = takeLogWrites();
    return cost;
}

void quietFrames(int count) {
    for (int i = 0; i < count; ++i) moduleFrame();
}

void settleOnFoot() {
    hostsim::setPlayerVehicle(nullptr);
    const auto released = [] {
        return hostsim::calls(hostsim::HostFunction::DestroyGeometry) +
               hostsim::calls(hostsim::HostFunction::CollisionDestruct);
    };
    for (int frame = 0, calm = 0; frame < 600 && calm < 10; ++frame) {
        const std::uint32_t before = released();
        moduleFrame();
        calm = released() == before ? calm + 1 : 0;
    }
}

FrameCost largest(const std::vector<FrameCost>& frames) {
    FrameCost most;
    for (const FrameCost& frame : frames)
        if (frame.seconds > most.seconds) most = frame;
    return most;
}

FrameCost medianCost(std::vector<FrameCost> samples) {
    if (samples.empty()) return {};
    std::sort(samples.begin(), samples.end(),
              [](const FrameCost& a, const FrameCost& b) { return a.seconds < b.seconds; });
    return samples[samples.size() / 2];
}

double medianSeconds(const std::vector<FrameCost>& samples) {
    std::vector<double> seconds;
    for (const FrameCost& sample : samples) seconds.push_back(sample.seconds);
    return median(seconds);
}

void frameRow(const std::string& key, double seconds, double targetMs, const std::string& label) {
    bench::row(key.c_str(), seconds * 1e9, 0, "frame", label.c_str(), targetMs * kMs);
}

void frameRows(const std::string& key, const FrameCost& cost, double targetMs, const std::string& label) {
    frameRow(key, cost.seconds, targetMs, label);
    char text[120];
    std::snprintf(text, sizeof text, "  of which log writes (%d lines, %d opens)", cost.log.lines, cost.log.opens);
    frameRow(key + "_log", cost.log.seconds, kLogTargetMs, text);
}

void countRow(const std::string& key, double count, const char* unit, double most, const std::string& label) {
    bench::row(key.c_str(), count, 0, unit, label.c_str(), most);
}

}  // namespace bench
