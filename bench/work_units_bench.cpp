// What a work unit costs: a benchmark build of the module that meters its
// own work by kind (KERBMARK_WORK_METER, src/foundation/work_meter.h) driven
// through the situations its work comes from: the player's first hits on a
// car not prepared, a chain crash of 32 cars, and seeded random traffic. Per
// kind of budgeted step: the thread CPU time per unit it was charged, beside
// the 10 ns a unit stands for; per kind of the hit's own frame work: the
// time per call, and per unit where the frame is charged for it.
//
//   work_units_bench <metered Kerbmark.asi> <work folder> <Kerbmark.ini>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_cars.h"
#include "car_model.h"
#include "cpu_clock.h"
#include "foundation/work_meter.h"
#include "host_image.h"
#include "host_world.h"
#include "module_folder.h"
#include "module_loader.h"
#include "random_traffic.h"

namespace {

using hostsim::Vec3;
using kerbmark::meter::Total;

constexpr int kPoolSlots = 110;
constexpr double kAssumedNsPerUnit = 10.0;

struct KindName {
    kerbmark::meter::Kind kind;
    const char* key;
    const char* label;
};

// Budgeted kinds, charged in units.
const KindName kStepKinds[] = {
    {kerbmark::meter::Reach, "reach", "reach scan, per unit"},
    {kerbmark::meter::Copy, "copy", "copy's start (checks, create, vertex arrays), per unit"},
    {kerbmark::meter::CloneTriangles, "clone_triangles", "clone's triangles, per unit"},
    {kerbmark::meter::CloneFinish, "clone_finish", "clone's finish (and a panel's measuring), per unit"},
    {kerbmark::meter::Cut, "cut", "crease cut, per unit"},
    {kerbmark::meter::Build, "build", "crease build's create, per unit"},
    {kerbmark::meter::BuildPieces, "build_pieces", "crease build's pieces, per unit"},
    {kerbmark::meter::BuildFinish, "build_finish", "crease build's finish, per unit"},
    {kerbmark::meter::Lists, "lists", "panel lists, per unit"},
    {kerbmark::meter::Attach, "attach", "recording and attaching a copy, per unit"},
    {kerbmark::meter::DentOrdinary, "dent_ordinary", "ordinary dent, per unit"},
    {kerbmark::meter::DentFold, "dent_fold", "fold path, per unit"},
    {kerbmark::meter::DentSurface, "dent_surface", "surface path in one go, per unit"},
    {kerbmark::meter::SurfaceRun, "surface_run", "surface path in runs, per unit"},
    {kerbmark::meter::SurfaceCommit, "surface_commit", "staged surface written, per unit"},
    {kerbmark::meter::HitFinish, "hit_finish", "hit's finish (collision model, line), per unit"},
    {kerbmark::meter::QueuedChecks, "queued_checks", "a queued item's car and atomic checked again, per unit"},
    {kerbmark::meter::ReleaseEntry, "release_entry", "a gone car's mesh entry released, per unit"},
    {kerbmark::meter::ReleaseCollision, "release_collision", "a gone car's collision model released, per unit"},
};

// The frame's own work, timed per call.
const KindName kFrameKinds[] = {
    {kerbmark::meter::HitResponse, "hit_response", "a car's contact read, response, record, episode"},
    {kerbmark::meter::HitLights, "hit_lights", "its rear lights"},
    {kerbmark::meter::HitPlan, "hit_plan", "its atomics planned and queued"},
    {kerbmark::meter::HitImmediate, "hit_immediate", "a player's hit dented in its frame"},
    {kerbmark::meter::TrafficChoice, "traffic_choice", "the frame's traffic chosen"},
    {kerbmark::meter::RecordsInStep, "records_in_step", "the records kept in step with the host"},
    {kerbmark::meter::PreparationChecks, "preparation_checks", "the seated car's preparation checked"},
};

// The least-squares line ns = fixed + perUnit * units through a kind's steps.
struct Line {
    double unitsEach;
    double fixed;
    double perUnit;
};

Line lineThrough(const Total& t) {
    const double n = static_cast<double>(t.steps), su = static_cast<double>(t.units),
                 sn = static_cast<double>(t.nanoseconds);
    const double spread = n * t.unitsSquared - su * su;
    const double perUnit = spread > 0.0 ? (n * t.unitsTimesNanoseconds - su * sn) / spread : sn / su;
    return Line{su / n, (sn - perUnit * su) / n, perUnit};
}

void frames(int count) {
    for (int i = 0; i < count; ++i) hostsim::callSite(hostsim::kFrameSite);
}

// The player's first head-on hit on a fresh car, before it could be
// prepared, then later hits; then the car leaves.
void firstHits(int bodyVertices) {
    for (int sample = 0; sample < 5; ++sample) {
        hostsim::Vehicle* car = bench::spawnPlayerCar(bodyVertices);
        frames(3);
        for (int hit = 0; hit < 4; ++hit) {
            hostsim::setContact(car, 0.3f, Vec3{0.0f, 2.3f, 0.5f}, Vec3{0.0f, 1.0f, 0.0f});
            frames(1);
            hostsim::clearCollision(car);
            frames(40);
        }
        hostsim::removeVehicle(car);
        frames(40);
    }
}

// 32 cars around the player on foot run into each other, front and rear.
void chainCrash() {
    hostsim::setPlayerVehicle(nullptr);
    std::vector<hostsim::Vehicle*> cars = bench::spawnNearby(32);
    for (int frame = 0; frame < 300; ++frame) {
        for (std::size_t i = 0; i < cars.size() && frame < 30; ++i) {
            if (i % 2) hostsim::setContact(cars[i], 0.3f, Vec3{0.0f, 2.3f, 0.5f}, Vec3{0.0f, 1.0f, 0.0f});
            else hostsim::setContact(cars[i], 0.3f, Vec3{0.0f, -2.3f, 0.4f}, Vec3{0.0f, -1.0f, 0.0f});
        }
        if (frame == 30)
            for (hostsim::Vehicle* car : cars) hostsim::clearCollision(car);
        frames(1);
    }
    for (hostsim::Vehicle* car : cars) hostsim::removeVehicle(car);
    frames(300);
}

// One frame of random traffic: its thread CPU time, and what each kind of
// work took of it.
struct FrameShare {
    double nanoseconds = 0.0;
    int frame = 0;
    Total kinds[kerbmark::meter::KindCount] = {};
};

// Work units a frame was charged, over every kind.
std::uint64_t unitsOf(const FrameShare& share) {
    std::uint64_t units = 0;
    for (const Total& kind : share.kinds) units += kind.units;
    return units;
}

// How much work the traffic asks of its frames: a p99 of the frame time can
// only be below the budget's cost while fewer than 1 % of the frames spend it.
void noteTrafficLoad(std::vector<double> units, int frames) {
    std::sort(units.begin(), units.end());
    double sum = 0.0;
    for (double u : units) sum += u;
    const auto fromNinetyThousand = units.end() - std::lower_bound(units.begin(), units.end(), 90000.0);
    char text[200];
    std::snprintf(text, sizeof text,
                  "random traffic, %d frames: work units charged per frame, mean %.0f, median %.0f, p99 %.0f; "
                  "%.1f %% of the frames at 90000 or more",
                  frames, sum / frames, bench::median(units), units[units.size() * 99 / 100],
                  100.0 * static_cast<double>(fromNinetyThousand) / frames);
    bench::note("load", text);
}

// Random traffic; the largest frames, each with the kinds that took it.
std::vector<FrameShare> randomTraffic(const Total* totals, std::size_t largest) {
    constexpr int kFrames = 6000;
    bench::RandomTraffic traffic(0x556E6974ull, 40, hostsim::kUsualBodyVertices);
    std::vector<FrameShare> kept;
    std::vector<double> units;
    FrameShare share;
    for (int frame = 0; frame < kFrames; ++frame) {
        traffic.beforeFrame();
        std::copy(totals, totals + kerbmark::meter::KindCount, share.kinds);
        const double start = bench::threadSeconds();
        frames(1);
        share.nanoseconds = (bench::threadSeconds() - start) * 1e9;
        share.frame = frame;
        for (int k = 0; k < kerbmark::meter::KindCount; ++k) {
            share.kinds[k].steps = totals[k].steps - share.kinds[k].steps;
            share.kinds[k].units = totals[k].units - share.kinds[k].units;
            share.kinds[k].nanoseconds = totals[k].nanoseconds - share.kinds[k].nanoseconds;
        }
        units.push_back(static_cast<double>(unitsOf(share)));
        kept.push_back(share);
        std::sort(kept.begin(), kept.end(),
                  [](const FrameShare& a, const FrameShare& b) { return a.nanoseconds > b.nanoseconds; });
        if (kept.size() > largest) kept.pop_back();
    }
    noteTrafficLoad(units, kFrames);
    return kept;
}

const char* keyOf(int kind) {
    for (const KindName& k : kStepKinds)
        if (k.kind == kind) return k.key;
    for (const KindName& k : kFrameKinds)
        if (k.kind == kind) return k.key;
    return "?";
}

// A line per frame: its time, then each kind's steps, units and time in it.
void printShares(const std::vector<FrameShare>& frames) {
    for (const FrameShare& frame : frames) {
        std::string line = "random traffic frame " + std::to_string(frame.frame) + ": " +
                           std::to_string(static_cast<int>(frame.nanoseconds / 1000)) + " us;";
        for (int k = 0; k < kerbmark::meter::KindCount; ++k) {
            const Total& t = frame.kinds[k];
            if (t.steps == 0) continue;
            line += " " + std::string(keyOf(k)) + " " + std::to_string(t.steps) + "x/" + std::to_string(t.units) +
                    "u/" + std::to_string(t.nanoseconds / 1000) + "us";
        }
        bench::note("largest", line.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: work_units_bench <metered Kerbmark.asi> <work folder> <Kerbmark.ini>\n");
        return 1;
    }
    const std::string folder = argv[2];
    hostsim::HostOptions options;
    options.poolSlots = kPoolSlots;
    if (!hostsim::startHost(options) || !hostsim::installModule(argv[1], folder, hostsim::readText(argv[3]))) return 2;
    HMODULE module = hostsim::loadModule(folder + "\\Kerbmark.asi");
    if (!module) return 2;
    using MeterFn = Total* (*)(int*);
    const auto meter = reinterpret_cast<MeterFn>(reinterpret_cast<void*>(GetProcAddress(module, "kerbmarkWorkMeter")));
    int kinds = 0;
    Total* totals = meter ? meter(&kinds) : nullptr;
    if (!totals || kinds != kerbmark::meter::KindCount) {
        std::fprintf(stderr, "work_units_bench: %s is not a metered build of the module\n", argv[1]);
        return 2;
    }
    frames(2);  // hooks installed
    firstHits(29900);
    firstHits(hostsim::kUsualBodyVertices);
    chainCrash();
    const std::vector<FrameShare> largest = randomTraffic(totals, 5);

    for (const KindName& k : kStepKinds) {
        const Total& t = totals[k.kind];
        if (t.units == 0) continue;
        const Line line = lineThrough(t);
        char label[200];
        std::snprintf(label, sizeof label, "unit cost: %s (%llu steps, %.0f units each; %.0f ns + %.2f ns/unit)",
                      k.label, static_cast<unsigned long long>(t.steps), line.unitsEach, line.fixed, line.perUnit);
        bench::row((std::string("units_") + k.key).c_str(), static_cast<double>(t.nanoseconds) / t.units, 0.0,
                   "unit", label, kAssumedNsPerUnit);
    }
    for (const KindName& k : kFrameKinds) {
        const Total& t = totals[k.kind];
        if (t.steps == 0) continue;
        char label[160];
        std::snprintf(label, sizeof label, "frame work: %s (%llu calls, %.0f units each)", k.label,
                      static_cast<unsigned long long>(t.steps), static_cast<double>(t.units) / t.steps);
        bench::row((std::string("frame_") + k.key).c_str(), static_cast<double>(t.nanoseconds) / t.steps, 0.0,
                   "call", label);
        if (t.units == 0) continue;
        const Line line = lineThrough(t);
        std::snprintf(label, sizeof label, "  the same, per unit charged to the frame (%.0f ns + %.2f ns/unit)",
                      line.fixed, line.perUnit);
        bench::row((std::string("frame_units_") + k.key).c_str(), static_cast<double>(t.nanoseconds) / t.units, 0.0,
                   "unit", label, kAssumedNsPerUnit);
    }
    printShares(largest);
    return 0;
}
