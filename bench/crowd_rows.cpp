// The pile-up of 33 copies of one car (crowd_crash.h), in the frame budget's
// rows: each run twice, the player's car not prepared and prepared.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "budget_frames.h"
#include "budget_scenarios.h"
#include "cpu_clock.h"
#include "crowd_crash.h"
#include "geometry_watch.h"
#include "host_functions.h"
#include "module_loader.h"

namespace bench {

namespace {

constexpr int kSeatedFrames = 90;
constexpr int kAfterFrames = 200;  // frames 31 - 230
constexpr int kRuns = 7;
constexpr double kLargestMs = 2.0;
constexpr double kAfterMs = 1.25;

struct CrowdRun {
    std::vector<FrameCost> frames;  // from the first contacts on
    int lastWork = 0;               // the last frame that changed what a car draws or wrote a line
    int dentedCars = 0;
    int preparedCopies = 0;         // the module's copies no atomic draws, as the contacts begin
    std::uint32_t collisionModels = 0;
    std::vector<int> rebuiltPanels;  // vertices of each rebuilt bonnet and boot drawn after the run
};

int unattachedCopies() {
    int copies = 0;
    for (const hostsim::Geometry* geometry : hostsim::liveModuleGeometries()) copies += geometry->hostDrawnBy == 0;
    return copies;
}

// What the car draws that its model does not hold: copies of the module's.
void countCopies(const hostsim::Vehicle* car, CrowdRun& run) {
    const hostsim::CarModel& model = crowdCarModel();
    bool dented = false;
    for (const hostsim::Atomic* atomic : hostsim::clumpAtomics(car->clump)) {
        const auto shared =
            std::find_if(model.frames.begin(), model.frames.end(),
                         [atomic](const hostsim::ModelFrame& f) { return f.geometry == atomic->geometry; });
        if (shared != model.frames.end()) continue;
        dented = true;
        const std::string name = atomic->frame->hostName;
        const auto original = std::find_if(model.frames.begin(), model.frames.end(),
                                           [&name](const hostsim::ModelFrame& f) { return f.name == name; });
        if ((name == "bonnet_hi_ok" || name == "boot_hi_ok") && original != model.frames.end() &&
            original->geometry->vertexCount != atomic->geometry->vertexCount)
            run.rebuiltPanels.push_back(atomic->geometry->vertexCount);
    }
    run.dentedCars += dented;
}

// One run: the player seated 90 quiet frames (a car not prepared has F7 in
// the last), the 230 frames from the first contacts on, then the cars gone
// and the module settled.
CrowdRun crowdRun(bool prepared) {
    CrowdRun run;
    {
        CrowdCrash crash;
        quietFrames(kSeatedFrames);
        if (!prepared) {
            hostsim::setKeyDown(hostsim::kKeyF7, true);
            quietFrames(1);
            hostsim::setKeyDown(hostsim::kKeyF7, false);
        }
        run.preparedCopies = unattachedCopies();
        const std::uint32_t models = hostsim::calls(hostsim::HostFunction::CollisionConstruct);
        DrawWatch drawn(crash.vehicles());
        for (int frame = 1; frame <= kCrowdContactFrames + kAfterFrames; ++frame) {
            crash.beforeFrame(frame);
            run.frames.push_back(moduleFrame());
            if (drawn.changed() || run.frames.back().log.lines > 0) run.lastWork = frame;
        }
        run.collisionModels = hostsim::calls(hostsim::HostFunction::CollisionConstruct) - models;
        for (const hostsim::Vehicle* car : crash.vehicles()) countCopies(car, run);
    }
    settleOnFoot();
    return run;
}

FrameCost largestOf(const std::vector<FrameCost>& frames, int first, int last) {
    return largest(std::vector<FrameCost>(frames.begin() + (first - 1), frames.begin() + last));
}

void variantRows(const std::string& key, const std::string& what, const std::vector<CrowdRun>& runs) {
    std::vector<FrameCost> largests, growing, after;
    std::vector<double> lastWork, dented, models, copies;
    int firstLargest = 0;
    for (const CrowdRun& run : runs) {
        const FrameCost most = largest(run.frames);
        largests.push_back(most);
        firstLargest += most.seconds == run.frames.front().seconds;
        growing.push_back(largestOf(run.frames, 2, 5));
        after.push_back(largestOf(run.frames, kCrowdContactFrames + 1, kCrowdContactFrames + kAfterFrames));
        lastWork.push_back(run.lastWork);
        dented.push_back(run.dentedCars);
        models.push_back(run.collisionModels);
        copies.push_back(run.preparedCopies);
    }
    char text[200];
    std::snprintf(text, sizeof text, "%s: largest frame (1st in %d/%zu)", what.c_str(), firstLargest, runs.size());
    frameRows(key + "_max", medianCost(largests), kLargestMs, text);
    frameRows(key + "_2to5", medianCost(growing), kLargestMs,
              "  the largest of frames 2-5 (contacts pushing 3 % harder)");
    frameRows(key + "_after", medianCost(after), kAfterMs,
              "  the largest of frames 31-230 (contacts over: queued work only)");
    std::snprintf(text, sizeof text,
                  "  frames until the queue is empty (%.0f dented, %.0f collision models, %.0f ready)",
                  median(dented), median(models), median(copies));
    countRow(key + "_empty", median(lastWork), "frames", 0.0, text);
}

}  // namespace

void crowdRows() {
    hostsim::setPlayerVehicle(nullptr);
    std::vector<CrowdRun> cold, ready;
    for (int run = 0; run < kRuns; ++run) {
        cold.push_back(crowdRun(false));
        ready.push_back(crowdRun(true));
    }
    std::vector<int> panels;
    for (const std::vector<CrowdRun>* runs : {&cold, &ready})
        for (const CrowdRun& run : *runs)
            panels.insert(panels.end(), run.rebuiltPanels.begin(), run.rebuiltPanels.end());
    std::sort(panels.begin(), panels.end());
    std::vector<double> sizes(panels.begin(), panels.end());
    char text[200];
    std::snprintf(text, sizeof text, "pile-up's car: 2814-vertex body; rebuilt bonnet/boot, median (%d to %d)",
                  panels.empty() ? 0 : panels.front(), panels.empty() ? 0 : panels.back());
    countRow("budget_crowd_panels", median(sizes), "vertices", 0.0, text);
    variantRows("budget_crowd_cold", "33-car pile-up, player's car not prepared (F7)", cold);
    variantRows("budget_crowd_ready", "33-car pile-up, player's car prepared (seated)", ready);
}

}  // namespace bench
