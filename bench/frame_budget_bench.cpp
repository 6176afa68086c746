// The largest frames a player feels: the module's work at the host's frame
// site (the frame hook), in the thread's CPU time, with the shipped settings
// and the log really written, in the situations the large frames come from.
// 32-bit Windows build, run under Wine; medians of repeats; the game's pool
// of 110 vehicle slots.
//
//   frame_budget_bench <Kerbmark.asi> <work folder> <Kerbmark.ini> <scenario>
//
// The INI given is copied beside the module (a scenario may change one key).
// Each scenario runs in its own process, so each starts with a fresh module:
//   seat     the player sits 90 quiet frames in a fresh car with a 29900-vertex
//            body, then hits a wall head-on: that first hit, the largest quiet
//            frame; then later head-on hits on the same car (copies present);
//            then the same first hit 3 frames after taking a fresh car
//   pileup   after 90 quiet frames in the seat, the player hits head-on and
//            40 cars around crash into each other (every other one rear-ended,
//            its rear lights smashed), every car reporting its contact every
//            frame until the last dent is done: the first and the largest
//            frame; then the dented cars leave at once: the largest frame after
//   leaving  32 cars around the seated player, dented at the side (body and
//            doors), leave in one frame once their dents are done
//   steps    the pile-up with Traffic/WorkPerFrame=1, the player's car not hit,
//            so that each frame runs one step of traffic work (after quiet
//            frames enough to prepare the player's car one step a frame): the
//            largest frame after the first
//            beside the frame's fixed work (the drained pile-up's frames,
//            contacts still repeating)
//   traffic  long seeded random traffic (bench/random_traffic.h): every
//            frame's time, p99, p99.9 and max
//   log      one frame in which 30 cars are hit again, with LogHits one
//            "Hit:" line each: the time from each open of the log to its close
//   crowd    33 copies of one car crash in one frame and roll to rest
//            (bench/crowd_crash.h), the player's car not prepared and
//            prepared: the largest frame, frames 2-5, frames 31-230
//   f7hit    the player's head-on hit the frame after F7, in the 29900-vertex
//            car and in the crowd's car: the largest frame and the frames
//            until the dent shows; later hits on the crowd's car
//
// Every time of a frame's log writes is the time from each open of the log to
// its close (bench/log_writes.h).
// ROW lines as bench/cpu_clock.h prints them, with the target per row.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "bench_cars.h"
#include "budget_frames.h"
#include "budget_scenarios.h"
#include "car_model.h"
#include "cpu_clock.h"
#include "host_functions.h"
#include "host_image.h"
#include "host_world.h"
#include "ini_text.h"
#include "log_writes.h"
#include "module_folder.h"
#include "module_loader.h"
#include "random_traffic.h"

namespace {

using bench::FrameCost;
using bench::frameRow;
using bench::frameRows;
using bench::kFront;
using bench::kHeadOn;
using bench::kImpact;
using bench::kLogTargetMs;
using bench::kRear;
using bench::kRearOn;
using bench::largest;
using bench::medianCost;
using bench::medianSeconds;
using bench::moduleFrame;
using bench::quietFrames;
using hostsim::Vec3;

// The game's vehicle pool: 110 slots.
constexpr int kPoolSlots = 110;
constexpr int kPlayerBody = 29900;
constexpr int kQuietFrames = 90;
constexpr int kStepQuietFrames = 2000;
constexpr int kNearby = 40;
constexpr int kLeaving = 32;
const Vec3 kSide{-0.9f, -0.2f, 0.0f};
const Vec3 kSideOn{-1.0f, 0.0f, 0.0f};
// A knock just over MinImpact at the side: its dent stays on the body and the
// doors (no panel fold), so that 32 such cars fit MaxTotalVertices together.
constexpr float kKnock = 0.05f;
// ---------------------------------------------------------------- setup

hostsim::Vehicle* spawnPlayerCar() { return bench::spawnPlayerCar(kPlayerBody); }

// Some atomic of the car draws a geometry its model does not share: a copy of the module's.
bool dented(const hostsim::Vehicle* car) {
    std::set<const hostsim::Geometry*> shared;
    for (const hostsim::ModelFrame& frame : hostsim::carModel(car->modelId).frames) shared.insert(frame.geometry);
    for (const hostsim::Atomic* atomic : hostsim::clumpAtomics(car->clump))
        if (!shared.count(atomic->geometry)) return true;
    return false;
}

void removeCars(std::vector<hostsim::Vehicle*>& cars) {
    for (hostsim::Vehicle* car : cars) hostsim::removeVehicle(car);
    cars.clear();
}

// ---------------------------------------------------------------- scenarios

// The same head-on hit 3 frames after the player took the car, before it
// could be prepared: the largest frame from the hit until its work is done,
// and the frames until its last line (the "Hit:" line) is written.
void earlyHit() {
    std::vector<FrameCost> largests;
    std::vector<double> framesToShow;
    for (int sample = 0; sample < 7; ++sample) {
        hostsim::Vehicle* car = spawnPlayerCar();
        quietFrames(3);
        hostsim::setContact(car, kImpact, kFront, kHeadOn);
        std::vector<FrameCost> frames{moduleFrame()};
        hostsim::clearCollision(car);
        for (int i = 0; i < 30; ++i) frames.push_back(moduleFrame());
        std::size_t shown = 0;
        for (std::size_t i = 0; i < frames.size(); ++i)
            if (frames[i].log.lines > 0) shown = i + 1;
        largests.push_back(largest(frames));
        framesToShow.push_back(static_cast<double>(shown));
        hostsim::removeVehicle(car);
        quietFrames(40);
    }
    char text[120];
    std::snprintf(text, sizeof text, "the same first hit 3 frames after taking the car: largest frame (done in %.0f)",
                  bench::median(framesToShow));
    frameRows("budget_early_hit", medianCost(largests), 2.0, text);
}

void seat() {
    std::vector<FrameCost> firstHits, quietest, laterHits;
    for (int sample = 0; sample < 7; ++sample) {
        hostsim::Vehicle* car = spawnPlayerCar();
        std::vector<FrameCost> quiet;
        for (int i = 0; i < kQuietFrames; ++i) quiet.push_back(moduleFrame());
        quietest.push_back(largest(quiet));
        hostsim::setContact(car, kImpact, kFront, kHeadOn);
        firstHits.push_back(moduleFrame());
        hostsim::clearCollision(car);
        // Later hits: each a new contact after a pause longer than a lasting contact's gap.
        for (int hit = 0; sample == 6 && hit < 15; ++hit) {
            quietFrames(10);
            hostsim::setContact(car, kImpact, kFront, kHeadOn);
            laterHits.push_back(moduleFrame());
            hostsim::clearCollision(car);
        }
        hostsim::removeVehicle(car);
        quietFrames(40);  // whatever the module does with the gone car's record
    }
    frameRows("budget_first_hit", medianCost(firstHits), 4.0,
              "player's first head-on hit after 90 quiet frames in the seat, log written");
    frameRows("budget_seat_max", medianCost(quietest), 4.0, "  the largest of those 90 quiet frames");
    frameRows("budget_later_hit", medianCost(laterHits), 1.0, "a later head-on hit, copies present, log written");
    earlyHit();
}

struct PileUp {
    std::vector<FrameCost> frames;        // until the last dent
    std::vector<FrameCost> drained;       // the frames after it, contacts still repeating
    std::vector<FrameCost> afterLeaving;  // the 30 frames after the 40 cars left at once
    int dentedCars = 0;                   // of them
};

// A chain crash: every other car runs into the one ahead (a front contact),
// the others are run into (a rear contact, their rear lights smashed).
void chainContacts(const std::vector<hostsim::Vehicle*>& cars) {
    for (std::size_t i = 0; i < cars.size(); ++i) {
        if (i % 2) hostsim::setContact(cars[i], kImpact, kFront, kHeadOn);
        else hostsim::setContact(cars[i], kImpact, kRear, kRearOn);
    }
}

// The player seated in a fresh car among 40 cars, `quiet` quiet frames, then
// the player hits head-on (with `playerHits`) and the 40 cars crash into each
// other, every car reporting its contact every frame until no mesh has been
// dented for 30 frames.
PileUp pileUp(int quiet = kQuietFrames, bool playerHits = true) {
    hostsim::Vehicle* player = spawnPlayerCar();
    std::vector<hostsim::Vehicle*> nearby = bench::spawnNearby(kNearby);
    quietFrames(quiet);
    std::vector<FrameCost> frames;
    std::size_t lastDent = 0;
    while (frames.size() < lastDent + 30 && frames.size() < 6000) {
        if (playerHits) hostsim::setContact(player, kImpact, kFront, kHeadOn);
        chainContacts(nearby);
        const std::uint32_t unlocks = hostsim::calls(hostsim::HostFunction::Unlock);
        frames.push_back(moduleFrame());
        if (hostsim::calls(hostsim::HostFunction::Unlock) != unlocks) lastDent = frames.size();
    }
    PileUp run;
    run.frames.assign(frames.begin(), frames.begin() + static_cast<std::ptrdiff_t>(lastDent));
    run.drained.assign(frames.begin() + static_cast<std::ptrdiff_t>(lastDent), frames.end());
    for (hostsim::Vehicle* car : nearby) hostsim::clearCollision(car);
    hostsim::clearCollision(player);
    quietFrames(10);
    run.dentedCars = static_cast<int>(std::count_if(nearby.begin(), nearby.end(), dented));
    removeCars(nearby);
    for (int i = 0; i < 30; ++i) run.afterLeaving.push_back(moduleFrame());
    hostsim::removeVehicle(player);
    quietFrames(30);
    return run;
}

void pileUpRows() {
    std::vector<FrameCost> firsts, largests, leaving;
    std::vector<double> counts, dentedCars;
    for (int sample = 0; sample < 5; ++sample) {
        const PileUp run = pileUp();
        if (run.frames.empty()) continue;
        firsts.push_back(run.frames.front());
        largests.push_back(largest(run.frames));
        leaving.push_back(largest(run.afterLeaving));
        counts.push_back(static_cast<double>(run.frames.size()));
        dentedCars.push_back(run.dentedCars);
    }
    char text[160];
    std::snprintf(text, sizeof text, "32-car pile-up with the player's car: largest frame, log written (%.0f frames)",
                  bench::median(counts));
    frameRows("budget_pileup_max", medianCost(largests), 2.0, text);
    frameRows("budget_pileup_first", medianCost(firsts), 2.0, "  its first frame (player's first hit, 32 cars' hits)");
    std::snprintf(text, sizeof text, "  then its %.0f dented cars (folded panels) leave at once: largest frame after",
                  bench::median(dentedCars));
    frameRow("budget_pileup_leaving", medianCost(leaving).seconds, 1.0, text);
}

// 32 cars around the seated player, each hit once at the side; once every
// dent is done, all 32 leave in one frame: that frame and the largest of the
// 30 after it.
void leavingRows() {
    hostsim::Vehicle* player = spawnPlayerCar();
    quietFrames(kQuietFrames);
    std::vector<FrameCost> firsts, largests;
    int fewest = kLeaving;
    for (int sample = 0; sample < 5; ++sample) {
        std::vector<hostsim::Vehicle*> cars = bench::spawnNearby(kLeaving);
        for (hostsim::Vehicle* car : cars) hostsim::setContact(car, kKnock, kSide, kSideOn);
        quietFrames(1);
        for (hostsim::Vehicle* car : cars) hostsim::clearCollision(car);
        quietFrames(300);
        fewest = std::min(fewest, static_cast<int>(std::count_if(cars.begin(), cars.end(), dented)));
        removeCars(cars);
        std::vector<FrameCost> after;
        for (int i = 0; i < 30; ++i) after.push_back(moduleFrame());
        firsts.push_back(after.front());
        largests.push_back(largest(after));
    }
    hostsim::removeVehicle(player);
    char text[160];
    std::snprintf(text, sizeof text, "%d cars dented at the side leave in one frame: largest of the 30 frames after",
                  fewest);
    frameRow("budget_leaving_max", medianCost(largests).seconds, 1.0, text);
    frameRow("budget_leaving_first", medianCost(firsts).seconds, 1.0, "  the frame they are gone in");
}

void stepRows() {
    std::vector<double> largests, fixedWork, counts;
    for (int sample = 0; sample < 3; ++sample) {
        // Traffic only: the player's own hit would go first with its larger
        // share of a frame. Quiet frames enough to prepare the player's car
        // one step a frame, so that no preparation is left to do.
        const PileUp run = pileUp(kStepQuietFrames, false);
        if (run.frames.size() < 2) continue;
        const std::vector<FrameCost> later(run.frames.begin() + 1, run.frames.end());
        largests.push_back(largest(later).seconds);
        fixedWork.push_back(medianSeconds(run.drained));
        counts.push_back(static_cast<double>(run.frames.size()));
    }
    const double most = bench::median(largests), fixed = bench::median(fixedWork);
    char text[160];
    std::snprintf(text, sizeof text, "pile-up, WorkPerFrame=1: largest frame after the first (%.0f frames)",
                  bench::median(counts));
    frameRow("budget_step_frame", most, 0.0, text);
    frameRow("budget_step_fixed", fixed, 0.0, "  the frame's fixed work (drained pile-up, contacts repeating)");
    frameRow("budget_step_max", most - fixed, 1.0, "  the largest single step of traffic work (the difference)");
}

double percentile(std::vector<double> values, double share) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t rank = static_cast<std::size_t>(share * static_cast<double>(values.size()));
    return values[std::min(rank, values.size() - 1)];
}

void trafficRows() {
    constexpr int kFrames = 12000;
    bench::RandomTraffic traffic(0x4B65726Dull, kNearby, kPlayerBody);
    quietFrames(kQuietFrames);
    std::vector<double> seconds, logSeconds;
    int lines = 0;
    for (int frame = 0; frame < kFrames; ++frame) {
        traffic.beforeFrame();
        const FrameCost cost = moduleFrame();
        seconds.push_back(cost.seconds);
        logSeconds.push_back(cost.log.seconds);
        lines = std::max(lines, cost.log.lines);
    }
    const bench::TrafficEvents& e = traffic.events();
    char text[200];
    std::snprintf(text, sizeof text,
                  "%d frames of random traffic: %d hits (%d player's), %d cars left, %d repairs, %d F7, %d car changes",
                  kFrames, e.hits, e.playerHits, e.left, e.repairs, e.resets, e.carChanges);
    bench::note("traffic", text);
    std::snprintf(text, sizeof text, "random traffic, %d frames, log written: every frame, p99", kFrames);
    frameRow("budget_traffic_p99", percentile(seconds, 0.99), 0.75, text);
    frameRow("budget_traffic_p999", percentile(seconds, 0.999), 0.0, "  p99.9");
    frameRow("budget_traffic_max", percentile(seconds, 1.0), 2.0, "  max");
    std::snprintf(text, sizeof text, "  log writes of a frame, p99.9 (most lines in a frame: %d)", lines);
    frameRow("budget_traffic_log", percentile(logSeconds, 0.999), kLogTargetMs, text);
}

// 30 box cars around the player on foot, dented once; then, repeatedly, all
// 30 hit again in one frame after a pause (a new contact each).
void logRows() {
    hostsim::setPlayerVehicle(nullptr);
    std::vector<hostsim::Vehicle*> cars = bench::spawnNearby(30, {"chassis"});
    auto hitAll = [&cars] {
        for (hostsim::Vehicle* car : cars) hostsim::setContact(car, kImpact, Vec3{0.0f, 0.5f, 0.0f}, kHeadOn);
    };
    hitAll();
    quietFrames(30);
    std::vector<FrameCost> frames;
    for (int sample = 0; sample < 15; ++sample) {
        for (hostsim::Vehicle* car : cars) hostsim::clearCollision(car);
        quietFrames(10);
        hitAll();
        frames.push_back(moduleFrame());
    }
    std::vector<double> logSeconds;
    int lines = 0;
    for (const FrameCost& frame : frames) {
        logSeconds.push_back(frame.log.seconds);
        lines = std::max(lines, frame.log.lines);
    }
    char text[160];
    std::snprintf(text, sizeof text, "log writes of one frame with %d lines (30 traffic hits)", lines);
    frameRow("budget_log_frame", bench::median(logSeconds), kLogTargetMs, text);
    frameRow("budget_log_whole", medianSeconds(frames), 0.0, "  the whole frame");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: frame_budget_bench <Kerbmark.asi> <work folder> <Kerbmark.ini> "
                             "seat|pileup|leaving|steps|traffic|log|crowd|f7hit\n");
        return 1;
    }
    const std::string folder = argv[2], scenario = argv[4];
    std::string ini = hostsim::readText(argv[3]);
    if (ini.empty()) {
        std::fprintf(stderr, "frame_budget_bench: cannot read %s\n", argv[3]);
        return 1;
    }
    if (scenario == "steps") ini = hostsim::withSetting(ini, "Traffic", "WorkPerFrame", "1");
    if (scenario == "crowd") {
        ini = hostsim::withSetting(hostsim::withSetting(ini, "Traffic", "MaxNPCPerFrame", "32"), "Traffic",
                                   "WorkPerFrame", "100000");
    }
    hostsim::HostOptions options;
    options.poolSlots = kPoolSlots;
    if (!hostsim::startHost(options) || !hostsim::installModule(argv[1], folder, ini)) return 2;
    HMODULE module = hostsim::loadModule(folder + "\\Kerbmark.asi");
    if (!module) return 2;
    if (!bench::watchLogWrites(module, folder + "\\Kerbmark.log")) {
        std::fprintf(stderr, "frame_budget_bench: the module imports none of the log functions\n");
        return 2;
    }
    bench::note("clock", bench::clockName());
    quietFrames(2);  // hooks installed
    if (scenario == "seat") seat();
    else if (scenario == "pileup") pileUpRows();
    else if (scenario == "leaving") leavingRows();
    else if (scenario == "steps") stepRows();
    else if (scenario == "traffic") trafficRows();
    else if (scenario == "log") logRows();
    else if (scenario == "crowd") bench::crowdRows();
    else if (scenario == "f7hit") bench::resetHitRows();
    else return 1;
    for (const std::string& fault : hostsim::hostFaults()) std::fprintf(stderr, "host fault: %s\n", fault.c_str());
    return hostsim::hostFaults().empty() ? 0 : 3;
}
