#include "budget_frames.h"

#include <algorithm>
#include <cstdio>

#include "cpu_clock.h"
#include "host_image.h"

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

void countRow(const std::string& key, double frames, double most, const std::string& label) {
    bench::row(key.c_str(), frames, 0, "frames", label.c_str(), most);
}

}  // namespace bench
