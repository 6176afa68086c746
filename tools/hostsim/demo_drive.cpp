#include "demo_drive.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "car_model.h"
#include "host_functions.h"
#include "host_image.h"
#include "host_world.h"
#include "module_loader.h"
#include "vehicle_view.h"

namespace hostsim {

namespace {

constexpr float kFrameSeconds = 0.033f;

struct Car {
    Vehicle* vehicle;
    Vec3 position;
    float heading;
};

Vec3 forwardOf(float heading) { return {-std::sin(heading), std::cos(heading), 0.0f}; }

// Moves the car along its heading at `speed` (m/s) for one frame.
void drive(Car& car, float speed, float turnRate = 0.0f) {
    car.heading += turnRate * kFrameSeconds;
    const Vec3 forward = forwardOf(car.heading);
    car.position = {car.position.x + forward.x * speed * kFrameSeconds,
                    car.position.y + forward.y * speed * kFrameSeconds, car.position.z};
    placeVehicle(car.vehicle, car.position, car.heading);
    car.vehicle->velocity = {forward.x * speed, forward.y * speed, 0.0f};
}

void frames(int count) {
    for (int i = 0; i < count; ++i) runFrame();
}

std::string joinPath(const std::string& folder, const std::string& name) { return folder + "/" + name; }

bool makeFolders(const std::string& path) {
    for (std::size_t at = 0; at != std::string::npos;) {
        at = path.find_first_of("/\\", at + 1);
        const std::string prefix = path.substr(0, at);
        if (prefix.empty() || prefix.back() == ':') continue;
        if (!CreateDirectoryA(prefix.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    return true;
}

std::vector<std::string> readLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

int countStarting(const std::vector<std::string>& lines, const std::string& prefix) {
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.compare(0, prefix.size(), prefix) == 0;
    }));
}

// The largest move of the body's vertices that lie where `inside` says.
template <typename Inside>
float largestBodyMove(const VehicleSnapshot& now, const VehicleSnapshot& rest, Inside inside) {
    float largest = 0.0f;
    for (std::size_t p = 0; p < now.size(); ++p) {
        if (now[p].name != "chassis") continue;
        const std::vector<float> moved = movedFrom(now[p], rest[p]);
        for (std::size_t i = 0; i < moved.size(); ++i)
            if (inside(rest[p].positions[i])) largest = std::max(largest, moved[i]);
    }
    return largest;
}

class Checks {
public:
    void expect(bool ok, const std::string& what) {
        if (!ok) failures_.push_back(what);
    }
    const std::vector<std::string>& failures() const { return failures_; }

private:
    std::vector<std::string> failures_;
};

}  // namespace

int runDemo(const DemoOptions& options) {
    const DWORD started = GetTickCount();
    const std::string& folder = options.folder;
    if (!makeFolders(folder)) {
        std::fprintf(stderr, "hostsim: cannot make the folder %s\n", folder.c_str());
        return 2;
    }
    const std::string module = joinPath(folder, "Kerbmark.asi");
    const std::string log = joinPath(folder, "Kerbmark.log");
    DeleteFileA(log.c_str());
    if (!CopyFileA(options.module.c_str(), module.c_str(), FALSE) ||
        !CopyFileA(options.ini.c_str(), joinPath(folder, "Kerbmark.ini").c_str(), FALSE)) {
        std::fprintf(stderr, "hostsim: cannot copy %s and %s into %s\n", options.module.c_str(), options.ini.c_str(),
                     folder.c_str());
        return 2;
    }

    if (!startHost()) return 2;
    VehicleSpec playerSpec;
    Car player{spawnVehicle(playerSpec), {0.0f, 0.0f, 0.0f}, 0.0f};
    setPlayerVehicle(player.vehicle);
    VehicleSpec trafficSpec;
    trafficSpec.modelId = 401;
    trafficSpec.position = {0.0f, -40.0f, 0.0f};
    Car traffic{spawnVehicle(trafficSpec), trafficSpec.position, 0.0f};
    const VehicleSnapshot playerRest = snapshotVehicle(player.vehicle);
    const VehicleSnapshot trafficRest = snapshotVehicle(traffic.vehicle);
    const ReferenceLedger ledger = referenceLedger();

    if (!loadModule(module)) return 2;
    std::printf("Kerbmark demo: the module %s with the default settings %s\n", module.c_str(),
                joinPath(folder, "Kerbmark.ini").c_str());

    // Drive up to a wall and hit it head-on.
    for (int i = 0; i < 15; ++i) {
        drive(player, 14.0f);
        runFrame();
    }
    std::printf("  %6u ms  head-on into a wall at 50 km/h\n", fixed<std::uint32_t>(kClock));
    for (int i = 0; i < 5; ++i) {  // the car rests against the wall
        player.vehicle->velocity = {0.0f, 0.0f, 0.0f};
        setContact(player.vehicle, 0.55f, {0.0f, 2.3f, -0.05f}, {0.0f, 1.0f, 0.0f});
        runFrame();
    }
    clearCollision(player.vehicle);

    // Back off, turn left and scrape the left side along a barrier.
    for (int i = 0; i < 12; ++i) {
        drive(player, -5.0f, -0.6f);
        runFrame();
    }
    for (int i = 0; i < 8; ++i) {
        drive(player, 6.0f);
        runFrame();
    }
    std::printf("  %6u ms  the left side scrapes along a barrier\n", fixed<std::uint32_t>(kClock));
    const int scrapeFrames = 24;
    for (int i = 0; i < scrapeFrames; ++i) {
        drive(player, 6.0f);
        const float along = 1.9f - 3.8f * static_cast<float>(i) / (scrapeFrames - 1);
        setContact(player.vehicle, 0.16f, {-0.92f, along, 0.05f}, {1.0f, 0.0f, 0.0f});
        runFrame();
    }
    clearCollision(player.vehicle);
    for (int i = 0; i < 10; ++i) {
        player.vehicle->velocity = {0.0f, 0.0f, 0.0f};
        runFrame();
    }

    // Traffic comes up from behind and runs into the right rear corner.
    std::printf("  %6u ms  rear-ended by traffic\n", fixed<std::uint32_t>(kClock));
    const Vec3 back = forwardOf(player.heading);
    traffic.heading = player.heading;
    traffic.position = {player.position.x - back.x * 14.0f + back.y * 0.45f,
                        player.position.y - back.y * 14.0f - back.x * 0.45f, 0.0f};
    for (int i = 0; i < 15; ++i) {
        drive(traffic, 18.0f);
        runFrame();
    }
    for (int i = 0; i < 3; ++i) {
        setContact(player.vehicle, 0.25f, kRearLightPosition, {0.0f, -1.0f, 0.0f});
        setContact(traffic.vehicle, 0.25f, {0.2f, 2.28f, 0.0f}, {0.0f, 1.0f, 0.0f});
        runFrame();
    }
    clearCollision(player.vehicle);
    clearCollision(traffic.vehicle);
    traffic.vehicle->velocity = {0.0f, 0.0f, 0.0f};
    frames(5);
    const VehicleSnapshot playerDented = snapshotVehicle(player.vehicle);
    const VehicleSnapshot trafficDented = snapshotVehicle(traffic.vehicle);

    // F7 puts the player's car back.
    std::printf("  %6u ms  F7\n", fixed<std::uint32_t>(kClock));
    setKeyDown(kKeyF7, true);
    frames(2);
    setKeyDown(kKeyF7, false);
    frames(2);
    const VehicleSnapshot playerRestored = snapshotVehicle(player.vehicle);

    // What a person looks at.
    struct Output {
        std::string name;
        bool written;
    };
    std::vector<Output> outputs = {
        {"player-before-after.png",
         writeVehiclePicture(joinPath(folder, "player-before-after.png"), playerRest, playerDented, "after the drive")},
        {"player-restored.png",
         writeVehiclePicture(joinPath(folder, "player-restored.png"), playerRest, playerRestored, "after F7")},
        {"traffic-before-after.png", writeVehiclePicture(joinPath(folder, "traffic-before-after.png"), trafficRest,
                                                         trafficDented, "after the rear-end")},
        {"player-before.obj", writeObj(joinPath(folder, "player-before.obj"), objMeshes(playerRest))},
        {"player-dented.obj", writeObj(joinPath(folder, "player-dented.obj"), objMeshes(playerDented))},
        {"player-restored.obj", writeObj(joinPath(folder, "player-restored.obj"), objMeshes(playerRestored))},
        {"traffic-dented.obj", writeObj(joinPath(folder, "traffic-dented.obj"), objMeshes(trafficDented))},
    };

    const std::vector<std::string> lines = readLines(log);
    std::printf("\nThe module's log (%s):\n", log.c_str());
    for (const std::string& line : lines) std::printf("  %s\n", line.c_str());

    Checks checks;
    checks.expect(countStarting(lines, "Hit: actor=player") >= 5, "the wall, the barrier and the rear hit each dent");
    checks.expect(countStarting(lines, "Hit: actor=npc") >= 1, "the traffic car dents");
    checks.expect(countStarting(lines, "RearLight: actor=player side=right model=400 smashed") == 1,
                  "the player's right rear light breaks, logged once");
    checks.expect(lightStatus(player.vehicle, kRearLightRight) == 1, "the right rear light is broken in the host");
    checks.expect(countStarting(lines, "Player deformation reset.") == 1, "F7 resets once");
    checks.expect(largestBodyMove(playerDented, playerRest, [](Vec3 p) { return p.y > 1.8f; }) > 0.3f,
                  "the front is pushed in");
    checks.expect(
        largestBodyMove(playerDented, playerRest, [](Vec3 p) { return p.x < -0.7f && std::fabs(p.y) < 1.2f; }) > 0.05f,
        "the left side is scraped");
    checks.expect(largestBodyMove(playerDented, playerRest, [](Vec3 p) { return p.y < -2.0f && p.x > 0.3f; }) > 0.1f,
                  "the right rear corner is pushed in");
    bool restored = playerRestored.size() == playerRest.size();
    for (std::size_t i = 0; restored && i < playerRest.size(); ++i) {
        restored = playerRestored[i].geometry == playerRest[i].geometry &&
                   playerRestored[i].positions.size() == playerRest[i].positions.size() &&
                   std::equal(playerRestored[i].positions.begin(), playerRestored[i].positions.end(),
                              playerRest[i].positions.begin(), [](Vec3 a, Vec3 b) {
                                  // The car moved: the model frame is reached through other matrices now.
                                  return std::fabs(a.x - b.x) < 1e-4f && std::fabs(a.y - b.y) < 1e-4f &&
                                         std::fabs(a.z - b.z) < 1e-4f;
                              });
        const Geometry* original = playerRest[i].geometry;
        restored = restored && original->references == ledger.geometries.at(original);
        for (std::int32_t m = 0; restored && m < original->materialCount; ++m)
            restored = original->materials[m]->references == ledger.materials.at(original->materials[m]);
    }
    checks.expect(restored, "F7 puts every original back, with every reference count as before");
    std::size_t trafficCopies = 0;
    for (const PartSnapshot& part : trafficDented) trafficCopies += part.geometry->hostMadeByModule ? 1 : 0;
    checks.expect(trafficCopies > 0 && liveModuleGeometries().size() == trafficCopies,
                  "only the traffic car's copies are left");
    for (const Output& output : outputs) checks.expect(output.written, "writing " + output.name);
    checks.expect(hostFaults().empty(), "the host saw no misuse");

    std::printf("\nPictures (before above, after below; moved metal is red):\n");
    for (const Output& output : outputs)
        if (output.name.find(".png") != std::string::npos) std::printf("  %s\n", joinPath(folder, output.name).c_str());
    std::printf("Meshes (OBJ, the car's model frame in metres):\n");
    for (const Output& output : outputs)
        if (output.name.find(".obj") != std::string::npos) std::printf("  %s\n", joinPath(folder, output.name).c_str());
    std::printf("\n%u frames of the host in %.1f s.\n", calls(HostFunction::FrameWork),
                static_cast<double>(GetTickCount() - started) / 1000.0);
    if (!checks.failures().empty()) {
        std::printf("\nThe drive did not go as expected:\n");
        for (const std::string& failure : checks.failures()) std::printf("  not so: %s\n", failure.c_str());
        return 5;
    }
    std::printf("The drive dented the car, broke its right rear light, and F7 restored it.\n");
    return 0;
}

}  // namespace hostsim
