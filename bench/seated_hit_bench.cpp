// The player's first head-on hit after 90 quiet frames in the driver's seat,
// with the real module loaded in the simulated host (32-bit, under Wine), the
// default settings (per-hit log lines included) but for WorkPerFrame, in the
// thread's CPU time of the module's frame work (the host's frame call site).
//
//   seated_hit_bench <Kerbmark.asi> <work folder> <WorkPerFrame>
//
// WorkPerFrame 0 prepares nothing ahead: the hit makes every copy itself.
// Rows: the hit frame, and the largest of the 90 seated frames before it,
// medians over fresh 30000-vertex cars (each removed after its hit).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cpu_clock.h"
#include "host_functions.h"
#include "host_image.h"
#include "host_world.h"
#include "module_loader.h"

namespace {

constexpr int kSamples = 7;
constexpr int kSeatedFrames = 90;
const hostsim::Vec3 kFront{0.0f, 2.3f, 0.5f};
const hostsim::Vec3 kHeadOn{0.0f, 1.0f, 0.0f};
constexpr float kImpact = 0.3f;

double moduleFrame() {
    hostsim::advanceClock(33);
    const double start = bench::threadSeconds();
    hostsim::callSite(hostsim::kFrameSite);
    const double seconds = bench::threadSeconds() - start;
    hostsim::renderVehicles();
    return seconds;
}

bool installModule(const std::string& from, const std::string& folder, const char* workPerFrame) {
    CreateDirectoryA(folder.c_str(), nullptr);
    if (!CopyFileA(from.c_str(), (folder + "\\Kerbmark.asi").c_str(), FALSE)) return false;
    std::FILE* ini = std::fopen((folder + "\\Kerbmark.ini").c_str(), "w");
    if (!ini) return false;
    std::fprintf(ini, "[Traffic]\nWorkPerFrame=%s\n", workPerFrame);
    return std::fclose(ini) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: seated_hit_bench <Kerbmark.asi> <work folder> <WorkPerFrame>\n");
        return 1;
    }
    const std::string folder = argv[2];
    if (!hostsim::startHost({}) || !installModule(argv[1], folder, argv[3])) return 2;
    if (!hostsim::loadModule(folder + "\\Kerbmark.asi")) return 2;
    hostsim::runFrames(2);  // hooks installed

    std::vector<double> hits, seated, copiesByHit;
    for (int sample = 0; sample < kSamples; ++sample) {
        hostsim::VehicleSpec largeBody;
        largeBody.bodyVertices = 30000;
        hostsim::Vehicle* player = hostsim::spawnVehicle(largeBody);
        if (!player) return 2;
        hostsim::setPlayerVehicle(player);
        double largest = 0.0;
        std::string slow;
        for (int f = 0; f < kSeatedFrames; ++f) {
            const double seconds = moduleFrame();
            largest = std::max(largest, seconds);
            if (sample == 0 && seconds > 2e-4) slow += " " + std::to_string(f) + ":" + std::to_string(seconds * 1e3);
        }
        if (sample == 0 && !slow.empty()) bench::note("seated_frames_over_0.2ms", slow.c_str());
        seated.push_back(largest);
        hostsim::setContact(player, kImpact, kFront, kHeadOn);
        const std::uint32_t created = hostsim::calls(hostsim::HostFunction::CreateGeometry);
        hits.push_back(moduleFrame());
        copiesByHit.push_back(static_cast<double>(hostsim::calls(hostsim::HostFunction::CreateGeometry) - created));
        hostsim::clearCollision(player);
        hostsim::setPlayerVehicle(nullptr);
        hostsim::removeVehicle(player);
        hostsim::runFrames(2);  // the record goes with the car
    }
    const std::string work = argv[3];
    const std::string hitLabel = "first head-on hit after 90 seated frames, WorkPerFrame=" + work;
    const std::string seatedLabel = "  largest of the 90 seated frames before it";
    bench::row(("seated_hit_" + work).c_str(), bench::median(hits) * 1e9, 0, "frame", hitLabel.c_str());
    bench::row(("seated_max_" + work).c_str(), bench::median(seated) * 1e9, 0, "frame", seatedLabel.c_str());
    char copies[64];
    std::snprintf(copies, sizeof copies, "%.0f geometries created in the hit's frame", bench::median(copiesByHit));
    bench::note(("seated_copies_" + work).c_str(), copies);
    return 0;
}
