// Whole frames of the simulated host with the real module loaded (32-bit
// Windows build, run under Wine): what the module costs the host per frame.
//
//   host_frame_bench <Kerbmark.asi> [work folder]
//
// Reports the median over many frames of:
//   - an idle frame: the player in a car, a full pool of 10000 vehicles, no contact;
//   - a traffic frame: the same pool with 40 colliding cars in range, of which
//     MaxNPCPerFrame (32) reach the hit handler, repeating contacts that no
//     longer grow their episodes (the steady state of a pile-up);
//   - a hit frame: the player's 30000-vertex body dented by a new episode
//     (reach test, displacement, bounding sphere; the copy already exists).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "deform/ordinary_path.h"
#include "host_image.h"
#include "host_world.h"
#include "module_loader.h"

namespace {

using hostsim::Vec3;

double now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Median wall time of `frames` frames, each prepared by `before` (not timed).
template <typename Before>
double medianFrame(int frames, Before before) {
    std::vector<double> times;
    for (int i = 0; i < frames; ++i) {
        before(i);
        const double start = now();
        hostsim::runFrame();
        times.push_back(now() - start);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

bool copyModule(const std::string& from, const std::string& folder) {
    CreateDirectoryA(folder.c_str(), nullptr);
    if (!CopyFileA(from.c_str(), (folder + "\\Kerbmark.asi").c_str(), FALSE)) return false;
    // Default settings, without per-hit log lines: the file writes are not what is measured.
    std::FILE* ini = std::fopen((folder + "\\Kerbmark.ini").c_str(), "w");
    if (!ini) return false;
    std::fputs("[General]\nLogHits=0\n", ini);
    return std::fclose(ini) == 0;
}

// The driver's ordinary path (reach test, displacement, bounding sphere) on a
// 30000-vertex sheet, in this 32-bit build: median of 50 hits.
double driverPath() {
    std::vector<dent::Vec> rest;
    for (int i = 0; i < 30000; ++i)
        rest.push_back({static_cast<float>(i % 100) * 0.018f - 0.9f, static_cast<float>(i / 100) * 0.0147f - 2.2f, 0.6f});
    std::vector<dent::Vec> positions = rest;
    const dent::DentArguments hit{{0.0f, 0.0f, 0.9f}, {0.0f, 0.0f, -1.0f}, 0.3f, 1.8f, 0.0f, 0.0f, 1.05f, 0.65f};
    std::vector<double> times;
    float radius = 0.0f;
    for (int i = 0; i < 50; ++i) {
        const double start = now();
        if (dent::reachesAny(rest.data(), rest.size(), hit.hit, hit.radius)) {
            dent::dentMesh(rest.data(), positions.data(), positions.size(), hit);
            radius = dent::grownBoundingRadius({0, 0, 0.6f}, radius, positions.data(), positions.size());
        }
        times.push_back(now() - start);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: host_frame_bench <Kerbmark.asi> [work folder]\n");
        return 1;
    }
    const std::string folder = argc > 2 ? argv[2] : "host_frame_bench";
    hostsim::HostOptions options;
    options.poolSlots = 10000;
    if (!hostsim::startHost(options) || !copyModule(argv[1], folder)) return 2;

    hostsim::VehicleSpec playerSpec;
    playerSpec.bodyVertices = 30000;
    hostsim::Vehicle* player = hostsim::spawnVehicle(playerSpec);
    hostsim::setPlayerVehicle(player);

    // The pool filled with parked cars out of range; 40 colliding cars near the player.
    std::vector<hostsim::Vehicle*> nearby;
    for (int i = 1; i < 10000; ++i) {
        hostsim::VehicleSpec design;
        design.modelId = static_cast<std::int16_t>(401 + i % 3);
        const bool inRange = i <= 40;
        design.boxParts = inRange ? std::vector<std::string>{} : std::vector<std::string>{"chassis_dummy"};
        design.position = inRange ? Vec3{static_cast<float>(i % 8) * 6.0f - 21.0f, static_cast<float>(i / 8) * 8.0f + 10.0f, 0.0f}
                             : Vec3{5000.0f + static_cast<float>(i), 5000.0f, 0.0f};
        hostsim::Vehicle* vehicle = hostsim::spawnVehicle(design);
        if (!vehicle) {
            std::fprintf(stderr, "pool full at %d\n", i);
            return 2;
        }
        if (inRange) nearby.push_back(vehicle);
    }

    // The host's own frame (its frame work and its drawing checks) before the module is there.
    const double hostOnly = medianFrame(100, [](int) { hostsim::advanceClock(33); });

    if (!hostsim::loadModule(folder + "\\Kerbmark.asi")) return 2;
    hostsim::runFrames(2);  // hooks installed

    const double idle = medianFrame(200, [](int) { hostsim::advanceClock(33); });

    // Every nearby car reports a front contact each frame; the first frames
    // dent them (32 per frame), later ones repeat the same contact.
    for (hostsim::Vehicle* car : nearby) hostsim::setContact(car, 0.3f, {0.0f, 2.3f, 0.5f}, {0.0f, 1.0f, 0.0f});
    const double firstHits = medianFrame(1, [](int) { hostsim::advanceClock(33); });
    hostsim::runFrames(4);
    const double traffic = medianFrame(200, [](int) { hostsim::advanceClock(33); });
    for (hostsim::Vehicle* car : nearby) hostsim::clearCollision(car);

    // The player's body: the first hit makes the copy; every timed hit is a new
    // episode (the gap has passed) at the same place.
    hostsim::setContact(player, 0.3f, {0.0f, 2.3f, 0.5f}, {0.0f, 1.0f, 0.0f});
    hostsim::runFrame();
    const double hit = medianFrame(50, [player](int) {
        hostsim::advanceClock(1000);
        hostsim::setContact(player, 0.3f, {0.0f, 2.3f, 0.5f}, {0.0f, 1.0f, 0.0f});
    });

    std::printf("host's own frame, without the module:              %8.3f ms\n", hostOnly * 1e3);
    std::printf("frame, idle (full pool of 10000, no contact):      %8.3f ms\n", idle * 1e3);
    std::printf("frame, 32 new traffic dents (clones included):     %8.3f ms\n", firstHits * 1e3);
    std::printf("frame, 32 traffic candidates, repeating contacts:  %8.3f ms\n", traffic * 1e3);
    std::printf("frame, one new hit on the 30000-vertex body:       %8.3f ms\n", hit * 1e3);
    std::printf("module's share of the idle frame (traffic walk):   %8.3f ms\n", (idle - hostOnly) * 1e3);
    std::printf("one hit (hit frame - idle; host unlock included):  %8.3f ms\n", (hit - idle) * 1e3);
    std::printf("ordinary path alone, 30000 vertices, 32-bit:       %8.3f ms\n", driverPath() * 1e3);
    return 0;
}
