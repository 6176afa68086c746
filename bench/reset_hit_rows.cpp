// The player's head-on hit the frame after F7, before anything could be
// prepared again, in the frame budget's rows; and later hits on the pile-up's
// car, its copies present.
#include <cstdio>
#include <string>
#include <vector>

#include "bench_cars.h"
#include "budget_frames.h"
#include "budget_scenarios.h"
#include "cpu_clock.h"
#include "crowd_crash.h"
#include "geometry_watch.h"
#include "module_loader.h"

namespace bench {

namespace {

constexpr int kSeatedFrames = 90;
constexpr int kSamples = 7;
constexpr int kWatchedFrames = 31;  // the hit's frame and 30 after it
constexpr int kLaterHits = 15;
constexpr double kHitMs = 2.0;
constexpr double kShowsWithin = 2.0;
constexpr double kLaterHitMs = 1.0;

struct ResetHit {
    FrameCost largest;  // from the hit's frame on
    int shown = 0;      // the frame (1: the hit's) whose end first shows the dent; kWatchedFrames + 1 when none did
    std::vector<FrameCost> later;
};

// The player seated in a fresh car long enough for it to be prepared, F7 for
// a frame, and a head-on hit in the next; then `laterHits` new head-on hits,
// each after a pause longer than a lasting contact's gap.
ResetHit resetHit(const hostsim::VehicleSpec& design, const hostsim::CarModel& model, int laterHits) {
    ResetHit result;
    hostsim::Vehicle* car = hostsim::spawnVehicle(design);
    if (!car) return result;
    hostsim::setPlayerVehicle(car);
    quietFrames(kSeatedFrames);
    hostsim::setKeyDown(hostsim::kKeyF7, true);
    quietFrames(1);
    hostsim::setKeyDown(hostsim::kKeyF7, false);
    const DentWatch watch(car, model);
    hostsim::setContact(car, kImpact, kFront, kHeadOn);
    std::vector<FrameCost> frames;
    result.shown = kWatchedFrames + 1;
    for (int frame = 1; frame <= kWatchedFrames; ++frame) {
        frames.push_back(moduleFrame());
        if (frame == 1) hostsim::clearCollision(car);
        if (result.shown > frame && watch.shows()) result.shown = frame;
    }
    result.largest = largest(frames);
    for (int hit = 0; hit < laterHits; ++hit) {
        quietFrames(10);
        hostsim::setContact(car, kImpact, kFront, kHeadOn);
        result.later.push_back(moduleFrame());
        hostsim::clearCollision(car);
    }
    hostsim::removeVehicle(car);
    settleOnFoot();
    return result;
}

void hitRows(const std::string& key, const char* what, const hostsim::VehicleSpec& design,
             const hostsim::CarModel& model, std::vector<FrameCost>* later) {
    std::vector<FrameCost> largests;
    std::vector<double> shown;
    for (int sample = 0; sample < kSamples; ++sample) {
        ResetHit hit = resetHit(design, model, later && sample == kSamples - 1 ? kLaterHits : 0);
        largests.push_back(hit.largest);
        shown.push_back(hit.shown);
        if (later) later->insert(later->end(), hit.later.begin(), hit.later.end());
    }
    char text[160];
    std::snprintf(text, sizeof text, "player's head-on hit right after F7, %s: largest frame", what);
    frameRows(key, medianCost(largests), kHitMs, text);
    countRow(key + "_shows", median(shown), "frames", kShowsWithin,
             "  frames until the dent shows (body or bonnet moved; 1: the hit's)");
}

}  // namespace

void resetHitRows() {
    hostsim::setPlayerVehicle(nullptr);
    hostsim::VehicleSpec large;
    large.bodyVertices = 29900;
    hitRows("budget_f7_hit", "29900-vertex body", large, hostsim::carModel(large.modelId, large.bodyVertices), nullptr);
    std::vector<FrameCost> later;
    hitRows("budget_f7_crowd_hit", "the pile-up's car", crowdCar(), crowdCarModel(), &later);
    frameRows("budget_crowd_later_hit", medianCost(later), kLaterHitMs,
              "a later head-on hit on the pile-up's car, copies present, log written");
}

}  // namespace bench
