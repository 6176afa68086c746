// Whole frames of the simulated host with the real module loaded (32-bit
// Windows build, run under Wine): what the module costs the host, in the
// thread's CPU time (medians).
//
//   host_frame_bench <Kerbmark.asi> [work folder]
//
// Rows (ROW lines, joined into the table by bench/table.sh):
//   - the host's own frame without the module, and the idle frame with it: the
//     player in a car, a full pool of 10000 vehicles, no contact;
//   - a guarded alpha draw: the added cost per draw of the module's guard;
//   - a head-on hit on the player's 30000-vertex car, first hit (the copies and
//     the crease build are made): a fresh car for every sample, removed after
//     it so that its record goes and the vertex budget stays fresh;
//   - later hits on the same car (copies present), each a new episode;
//   - the first-contact frame of 40 colliding cars near the player, of which
//     MaxNPCPerFrame (32) reach the hit handler (default settings), on fresh
//     cars every sample;
//   - the steady frame of the same pile-up, contacts repeating without growth.
// Hit rows give the frame's time less the idle frame's.
//
//   host_frame_bench <Kerbmark.asi> <work folder> <WorkPerFrame>
//
// With Traffic/WorkPerFrame set instead (0 for none): the same pile-up frame
// by frame, medians per frame over fresh pile-ups: the module's frame work
// (the call at the host's frame site, where the host's own routine does next
// to nothing) in its first and its largest frame, how many frames pass until
// the last dent is done, and the largest frame's drawing (the host's, with the
// module's guards) beside the host's own drawing of the same cars.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_cars.h"
#include "cpu_clock.h"
#include "host_functions.h"
#include "host_image.h"
#include "host_world.h"
#include "module_loader.h"

namespace {

using hostsim::Vec3;

constexpr int kPoolSlots = 10000;
constexpr int kNearby = 40;
const Vec3 kFront{0.0f, 2.3f, 0.5f};
const Vec3 kHeadOn{0.0f, 1.0f, 0.0f};
constexpr float kImpact = 0.3f;

// Median thread CPU seconds of one frame, each prepared by `before` (not timed).
template <typename Before>
double medianFrame(int frames, Before before) {
    return bench::medianSeconds(frames, before, [](int) { hostsim::runFrame(); });
}

double idleFrame(int frames) {
    return medianFrame(frames, [](int) { hostsim::advanceClock(33); });
}

// Median cost of one alpha draw of `atomic` through the host's renderer address.
double alphaDraw(void* atomic) {
    constexpr int kDraws = 2000;
    return bench::medianSeconds(31, [&](int) {
               for (int i = 0; i < kDraws; ++i) hostsim::drawAlpha(atomic, 0);
           }) /
           kDraws;
}

// How many memory regions the guard's three checks of one draw touch (the
// atomic, its geometry, the material table): one region query each at least.
int regionsOfDraw(const hostsim::Atomic* atomic) {
    const void* places[3] = {atomic, atomic->geometry, atomic->geometry->materials};
    std::vector<const void*> bases;
    for (const void* place : places) {
        MEMORY_BASIC_INFORMATION info{};
        VirtualQuery(place, &info, sizeof info);
        if (std::find(bases.begin(), bases.end(), info.BaseAddress) == bases.end()) bases.push_back(info.BaseAddress);
    }
    return static_cast<int>(bases.size());
}

bool copyModule(const std::string& from, const std::string& folder, const char* workPerFrame) {
    CreateDirectoryA(folder.c_str(), nullptr);
    if (!CopyFileA(from.c_str(), (folder + "\\Kerbmark.asi").c_str(), FALSE)) return false;
    // Default settings, without per-hit log lines: the file writes are not what is measured.
    std::FILE* ini = std::fopen((folder + "\\Kerbmark.ini").c_str(), "w");
    if (!ini) return false;
    std::fputs("[General]\nLogHits=0\n", ini);
    if (workPerFrame) std::fprintf(ini, "[Traffic]\nWorkPerFrame=%s\n", workPerFrame);
    return std::fclose(ini) == 0;
}

hostsim::Vehicle* spawnPlayerCar() { return bench::spawnPlayerCar(30000); }

std::vector<hostsim::Vehicle*> spawnNearby() { return bench::spawnNearby(kNearby); }

void removeAll(std::vector<hostsim::Vehicle*>& cars) {
    for (hostsim::Vehicle* car : cars) hostsim::removeVehicle(car);
    cars.clear();
    hostsim::runFrames(2);  // the module drops the records of the gone cars
}

// The pile-up of 40 fresh cars (32 handled per frame), frame by frame until no
// dent has been done for 30 frames: each frame's thread CPU time, and the
// number of frames in which the module unlocked a geometry (dented a mesh).
struct PileUpFrames {
    std::vector<double> seconds;  // the module's frame work (the frame call site)
    std::vector<double> drawing;  // the frame's drawing (the host's, with the module's guards)
    int denting = 0;
};

PileUpFrames pileUpFrames() {
    std::vector<hostsim::Vehicle*> nearby = spawnNearby();
    hostsim::runFrames(2);
    PileUpFrames frames;
    int quiet = 0;
    while (quiet < 30 && frames.seconds.size() < 5000) {
        for (hostsim::Vehicle* car : nearby) hostsim::setContact(car, kImpact, kFront, kHeadOn);
        hostsim::advanceClock(33);
        const std::uint32_t unlocks = hostsim::calls(hostsim::HostFunction::Unlock);
        const double start = bench::threadSeconds();
        hostsim::callSite(hostsim::kFrameSite);
        const double drawn = bench::threadSeconds();
        hostsim::renderVehicles();
        frames.seconds.push_back(drawn - start);
        frames.drawing.push_back(bench::threadSeconds() - drawn);
        const bool dented = hostsim::calls(hostsim::HostFunction::Unlock) != unlocks;
        quiet = dented ? 0 : quiet + 1;
        if (dented) frames.denting = static_cast<int>(frames.seconds.size());
    }
    frames.seconds.resize(static_cast<std::size_t>(frames.denting));
    frames.drawing.resize(static_cast<std::size_t>(frames.denting));
    removeAll(nearby);
    return frames;
}

// Medians per frame over the runs of one of their series.
std::vector<double> perFrameMedians(const std::vector<PileUpFrames>& runs, std::vector<double> PileUpFrames::*series) {
    std::size_t longest = 0;
    for (const PileUpFrames& run : runs) longest = std::max(longest, (run.*series).size());
    std::vector<double> medians;
    for (std::size_t f = 0; f < longest; ++f) {
        std::vector<double> samples;
        for (const PileUpFrames& run : runs)
            if (f < (run.*series).size()) samples.push_back((run.*series)[f]);
        medians.push_back(bench::median(samples));
    }
    return medians;
}

void budgetRows(const char* workPerFrame, double hostDrawing) {
    std::vector<PileUpFrames> runs;
    for (int sample = 0; sample < 5; ++sample) runs.push_back(pileUpFrames());
    const std::vector<double> perFrame = perFrameMedians(runs, &PileUpFrames::seconds);
    const std::vector<double> drawing = perFrameMedians(runs, &PileUpFrames::drawing);
    std::vector<int> drained;
    for (const PileUpFrames& run : runs) drained.push_back(run.denting);
    std::sort(drained.begin(), drained.end());
    const double largest = perFrame.empty() ? 0.0 : *std::max_element(perFrame.begin(), perFrame.end());
    const double largestDrawing = drawing.empty() ? 0.0 : *std::max_element(drawing.begin(), drawing.end());
    const double ns = 1e9;
    char text[160];
    std::snprintf(text, sizeof text, "pile-up, WorkPerFrame=%s: the module's frame work, first frame", workPerFrame);
    bench::row((std::string("pileup_first_") + workPerFrame).c_str(), perFrame.empty() ? 0.0 : perFrame[0] * ns, 0,
               "frame", text);
    std::snprintf(text, sizeof text, "  its largest frame until the last dent (%d-%d frames)", drained.front(),
                  drained.back());
    bench::row((std::string("pileup_max_") + workPerFrame).c_str(), largest * ns, 0, "frame", text);
    std::snprintf(text, sizeof text, "  drawing, largest frame (guards included; the host alone %.3f ms)",
                  hostDrawing * 1e3);
    bench::row((std::string("pileup_drawing_") + workPerFrame).c_str(), largestDrawing * ns, 0, "frame", text);
    std::string frames = std::string(workPerFrame) + " (module's frame work, ms)";
    for (double seconds : perFrame) {
        std::snprintf(text, sizeof text, " %.2f", seconds * 1e3);
        frames += text;
    }
    bench::note("frames", frames.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: host_frame_bench <Kerbmark.asi> [work folder]\n");
        return 1;
    }
    const std::string folder = argc > 2 ? argv[2] : "host_frame_bench";
    hostsim::HostOptions options;
    options.poolSlots = kPoolSlots;
    const char* workPerFrame = argc > 3 ? argv[3] : nullptr;
    if (!hostsim::startHost(options) || !copyModule(argv[1], folder, workPerFrame)) return 2;
    bench::note("clock", bench::clockName());

    hostsim::Vehicle* player = spawnPlayerCar();
    // The rest of the pool: parked box cars out of range (the nearby cars come later).
    for (int i = 1 + kNearby; i < kPoolSlots; ++i) {
        hostsim::VehicleSpec design;
        design.modelId = static_cast<std::int16_t>(401 + i % 3);
        design.boxParts = std::vector<std::string>{"chassis_dummy"};
        design.position = Vec3{5000.0f + static_cast<float>(i), 5000.0f, 0.0f};
        if (!hostsim::spawnVehicle(design)) {
            std::fprintf(stderr, "pool full at %d\n", i);
            return 2;
        }
    }
    void* bodyAtomic = hostsim::atomicNamed(player, "chassis");

    const double hostOnly = idleFrame(150);
    const double drawUnguarded = alphaDraw(bodyAtomic);
    // The host's own drawing of the pile-up's cars, no module.
    double hostDrawing = 0.0;
    if (workPerFrame) {
        std::vector<hostsim::Vehicle*> nearby = spawnNearby();
        hostDrawing = bench::medianSeconds(60, [](int) { hostsim::renderVehicles(); });
        removeAll(nearby);
    }

    if (!hostsim::loadModule(folder + "\\Kerbmark.asi")) return 2;
    hostsim::runFrames(2);  // hooks installed
    if (workPerFrame) {
        budgetRows(workPerFrame, hostDrawing);
        return 0;
    }

    const double idle = idleFrame(150);
    const double drawGuarded = alphaDraw(bodyAtomic);

    // First hits: a fresh car each time; the previous one goes with its record.
    std::vector<double> firstHits;
    for (int sample = 0; sample < 7; ++sample) {
        hostsim::removeVehicle(player);
        hostsim::runFrames(2);
        player = spawnPlayerCar();
        hostsim::runFrames(2);
        hostsim::advanceClock(1000);
        hostsim::setContact(player, kImpact, kFront, kHeadOn);
        firstHits.push_back(medianFrame(1, [](int) {}));
    }
    const double firstHit = bench::median(firstHits);

    // Later hits on the last car: every hit a new episode at the same place.
    const double laterHit = medianFrame(30, [player](int) {
        hostsim::advanceClock(1000);
        hostsim::setContact(player, kImpact, kFront, kHeadOn);
    });
    hostsim::clearCollision(player);
    hostsim::runFrames(2);

    // The pile-up: 40 fresh cars reporting a front contact every frame; the
    // first frame dents 32 of them.
    std::vector<double> firstContacts;
    double traffic = 0.0;
    for (int sample = 0; sample < 5; ++sample) {
        std::vector<hostsim::Vehicle*> nearby = spawnNearby();
        hostsim::runFrames(2);
        for (hostsim::Vehicle* car : nearby) hostsim::setContact(car, kImpact, kFront, kHeadOn);
        firstContacts.push_back(idleFrame(1));
        if (sample == 0) {
            hostsim::runFrames(4);
            traffic = idleFrame(60);
        }
        removeAll(nearby);
    }
    const double firstContact = bench::median(firstContacts);

    const double ns = 1e9;
    bench::row("frame_host", hostOnly * ns, 0, "frame", "host's own frame, without the module (10000 vehicles)");
    bench::row("frame_idle", idle * ns, 0, "frame", "idle frame with the module (full pool, no contact)");
    bench::row("idle_share", (idle - hostOnly) * ns, 0, "frame", "  the module's share of the idle frame");
    char text[120];
    const int regions = regionsOfDraw(static_cast<const hostsim::Atomic*>(bodyAtomic));
    std::snprintf(text, sizeof text, "guarded alpha draw, added per draw (atomic, geometry, table in %d region%s)",
                  regions, regions == 1 ? "" : "s");
    bench::row("alpha_draw", (drawGuarded - drawUnguarded) * ns, 0, "draw", text);
    bench::row("hit_first", (firstHit - idle) * ns, 0, "hit",
               "head-on hit on the player's car, first hit (copies and crease build made)");
    bench::row("hit_later", (laterHit - idle) * ns, 0, "hit", "the same, later hits (copies present)");
    bench::row("pileup_first", firstContact * ns, 0, "frame", "32-car first-contact frame, default INI");
    bench::row("pileup_steady", traffic * ns, 0, "frame", "32-car pile-up, later frames (contacts repeating)");
    return 0;
}
