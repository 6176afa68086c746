#include "demo_drive.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <vector>

#include "car_model.h"
#include "file_names.h"
#include "host_functions.h"
#include "host_image.h"
#include "host_world.h"
#include "module_loader.h"
#include "obj_car.h"
#include "scene_file.h"
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

// Frames until the module's work on the dents is done, as a player waits a
// moment for them to show: ten frames in a row without a geometry made or
// unlocked (two seconds at the most).
void framesUntilDentsShow() {
    int still = 0;
    for (int i = 0; i < 60 && still < 10; ++i) {
        const std::uint32_t before = calls(HostFunction::CreateGeometry) + calls(HostFunction::Unlock);
        runFrame();
        still = calls(HostFunction::CreateGeometry) + calls(HostFunction::Unlock) == before ? still + 1 : 0;
    }
}

std::string joinPath(const std::string& folder, const std::string& name) { return folder + "/" + name; }

bool makeFolders(const std::string& path) {
    for (std::size_t at = 0; at != std::string::npos;) {
        at = path.find_first_of("/\\", at + 1);
        const std::string prefix = path.substr(0, at);
        if (prefix.empty() || prefix.back() == ':') continue;
        if (!CreateDirectoryW(wideName(prefix).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    return true;
}

std::vector<std::string> readLines(const std::string& path) {
    std::string bytes;
    readWholeFile(path, bytes);
    std::istringstream in(bytes);
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

// Where the drive touches the player's car and where it looks for the
// dents, in the car's model frame.
struct DriveTargets {
    Vec3 front;                   // the head-on contact
    Vec3 scrapeStart, scrapeEnd;  // the barrier's contact runs along the left side
    Vec3 rear;                    // the rear hit, at the right rear light
    float frontFrom;              // the front: y above this
    float leftBelow, leftSpan;    // the left side: x below, |y - middle| within
    float middle;
    float rearBelow, rearRightOf;  // the right rear corner: y below, x beyond
};

// The generated car's.
DriveTargets generatedCarTargets() {
    return {{0.0f, 2.3f, -0.05f},
            {-0.92f, 1.9f, 0.05f},
            {-0.92f, -1.9f, 0.05f},
            kRearLightPosition,
            1.8f,
            -0.7f,
            1.2f,
            0.0f,
            -2.0f,
            0.3f};
}

// The same places on any car, from the bounds of its vertices.
DriveTargets targetsWithin(Vec3 low, Vec3 high) {
    const float width = high.x - low.x, length = high.y - low.y, height = high.z - low.z;
    const float middleX = (low.x + high.x) * 0.5f, middleY = (low.y + high.y) * 0.5f;
    const float scrapeZ = low.z + 0.46f * height;
    const Vec3 rear{middleX + 0.34f * width, low.y + 0.046f * length, low.z + 0.52f * height};
    return {{middleX, high.y, low.z + 0.4f * height},
            {low.x, middleY + 0.41f * length, scrapeZ},
            {low.x, middleY - 0.41f * length, scrapeZ},
            rear,
            high.y - 0.5f,
            low.x + 0.22f,
            0.26f * length,
            middleY,
            rear.y + 0.22f,
            middleX + 0.17f * width};
}

Vec3 between(Vec3 a, Vec3 b, float t) { return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.z + (b.z - a.z) * t}; }

class Checks {
public:
    // `required` false: reported in a preview without failing it.
    void expect(bool ok, const std::string& what, bool required = true) {
        if (!ok) (required ? failures_ : misses_).push_back(what);
    }
    const std::vector<std::string>& failures() const { return failures_; }
    const std::vector<std::string>& misses() const { return misses_; }

private:
    std::vector<std::string> failures_;
    std::vector<std::string> misses_;
};

// The player's car (the generated one, or built from an OBJ model) and a
// traffic car behind it, in a host just started; where the drive touches the
// player's car. A model that cannot be used: false with one line naming it.
struct DriveCars {
    Car player;
    Car traffic;
    DriveTargets targets;
};

ObjCar objCar;  // the player's model lives as long as the host

bool setUpCars(const std::string& model, DriveCars& cars) {
    VehicleSpec playerSpec;
    cars.targets = generatedCarTargets();
    if (!model.empty()) {
        std::string error;
        if (!loadObjCar(model, paintOf(playerSpec.modelId), objCar, error)) {
            std::fprintf(stderr, "hostsim: %s\n", error.c_str());
            return false;
        }
        playerSpec.model = &objCar.model;
        cars.targets = targetsWithin(objCar.low, objCar.high);
        modelInfo(playerSpec.modelId)->hostStructure.rearLight = cars.targets.rear;
    }
    cars.player = {spawnVehicle(playerSpec), {0.0f, 0.0f, 0.0f}, 0.0f};
    setPlayerVehicle(cars.player.vehicle);
    VehicleSpec trafficSpec;
    trafficSpec.modelId = 401;
    trafficSpec.position = {0.0f, -40.0f, 0.0f};
    cars.traffic = {spawnVehicle(trafficSpec), trafficSpec.position, 0.0f};
    return true;
}

// Drive up to a wall and hit it head-on.
void hitWall(DriveCars& cars) {
    Car& player = cars.player;
    for (int i = 0; i < 15; ++i) {
        drive(player, 14.0f);
        runFrame();
    }
    std::printf("  %6u ms  %s\n", fixed<std::uint32_t>(kClock), driveStory(Drive::Front));
    for (int i = 0; i < 5; ++i) {  // the car rests against the wall
        player.vehicle->velocity = {0.0f, 0.0f, 0.0f};
        setContact(player.vehicle, 0.55f, cars.targets.front, {0.0f, 1.0f, 0.0f});
        runFrame();
    }
    clearCollision(player.vehicle);
}

// Back off, turn left and scrape the left side along a barrier.
void scrapeBarrier(DriveCars& cars) {
    Car& player = cars.player;
    for (int i = 0; i < 12; ++i) {
        drive(player, -5.0f, -0.6f);
        runFrame();
    }
    for (int i = 0; i < 8; ++i) {
        drive(player, 6.0f);
        runFrame();
    }
    std::printf("  %6u ms  %s\n", fixed<std::uint32_t>(kClock), driveStory(Drive::Side));
    const int scrapeFrames = 24;
    for (int i = 0; i < scrapeFrames; ++i) {
        drive(player, 6.0f);
        const float along = static_cast<float>(i) / (scrapeFrames - 1);
        setContact(player.vehicle, 0.16f, between(cars.targets.scrapeStart, cars.targets.scrapeEnd, along),
                   {1.0f, 0.0f, 0.0f});
        runFrame();
    }
    clearCollision(player.vehicle);
    for (int i = 0; i < 10; ++i) {
        player.vehicle->velocity = {0.0f, 0.0f, 0.0f};
        runFrame();
    }
}

// Traffic comes up from behind and runs into the right rear corner.
void rearEnded(DriveCars& cars) {
    Car& player = cars.player;
    Car& traffic = cars.traffic;
    std::printf("  %6u ms  %s\n", fixed<std::uint32_t>(kClock), driveStory(Drive::Rear));
    const Vec3 back = forwardOf(player.heading);
    traffic.heading = player.heading;
    traffic.position = {player.position.x - back.x * 14.0f + back.y * 0.45f,
                        player.position.y - back.y * 14.0f - back.x * 0.45f, 0.0f};
    for (int i = 0; i < 15; ++i) {
        drive(traffic, 18.0f);
        runFrame();
    }
    for (int i = 0; i < 3; ++i) {
        setContact(player.vehicle, 0.25f, cars.targets.rear, {0.0f, -1.0f, 0.0f});
        setContact(traffic.vehicle, 0.25f, {0.2f, 2.28f, 0.0f}, {0.0f, 1.0f, 0.0f});
        runFrame();
    }
    clearCollision(player.vehicle);
    clearCollision(traffic.vehicle);
    traffic.vehicle->velocity = {0.0f, 0.0f, 0.0f};
    framesUntilDentsShow();
}

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
    if (GetFileAttributesW(wideName(options.ini).c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::fprintf(stderr, "hostsim: %s: cannot read the settings\n", options.ini.c_str());
        return 1;
    }
    DeleteFileW(wideName(log).c_str());
    if (!CopyFileW(wideName(options.module).c_str(), wideName(module).c_str(), FALSE) ||
        !CopyFileW(wideName(options.ini).c_str(), wideName(joinPath(folder, "Kerbmark.ini")).c_str(), FALSE)) {
        std::fprintf(stderr, "hostsim: cannot copy %s and %s into %s\n", options.module.c_str(), options.ini.c_str(),
                     folder.c_str());
        return 2;
    }

    if (!startHost()) return 2;
    DriveCars cars;
    if (!setUpCars(options.model, cars)) return 1;
    const Car& player = cars.player;
    const Car& traffic = cars.traffic;
    const DriveTargets& targets = cars.targets;
    const VehicleSnapshot playerRest = snapshotVehicle(player.vehicle);
    const VehicleSnapshot trafficRest = snapshotVehicle(traffic.vehicle);
    const ReferenceLedger ledger = referenceLedger();

    if (!loadModule(module)) return 2;
    std::printf("Kerbmark demo: the module %s with the settings %s (from %s)\n", module.c_str(),
                joinPath(folder, "Kerbmark.ini").c_str(), options.ini.c_str());
    if (!options.model.empty()) {
        std::printf("The player's car from %s:\n", options.model.c_str());
        for (const std::string& note : objCar.notes) std::printf("  %s\n", note.c_str());
    }

    hitWall(cars);
    scrapeBarrier(cars);
    rearEnded(cars);
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

    // What the default drive does to the generated car; a preview of other
    // settings or another car reports it instead of requiring it.
    Checks checks;
    const bool drive = !options.preview && options.model.empty();
    checks.expect(countStarting(lines, "Hit: actor=player") >= 5, "the wall, the barrier and the rear hit each dent",
                  drive);
    checks.expect(countStarting(lines, "Hit: actor=npc") >= 1, "the traffic car dents", drive);
    checks.expect(countStarting(lines, "RearLight: actor=player side=right model=400 smashed") == 1,
                  "the player's right rear light breaks, logged once", drive);
    checks.expect(lightStatus(player.vehicle, kRearLightRight) == 1, "the right rear light is broken in the host",
                  drive);
    checks.expect(countStarting(lines, "Player deformation reset.") == 1, "F7 resets once", drive);
    checks.expect(largestBodyMove(playerDented, playerRest, [&](Vec3 p) { return p.y > targets.frontFrom; }) > 0.3f,
                  "the front is pushed in", drive);
    checks.expect(largestBodyMove(playerDented, playerRest,
                                  [&](Vec3 p) {
                                      return p.x < targets.leftBelow &&
                                             std::fabs(p.y - targets.middle) < targets.leftSpan;
                                  }) > 0.05f,
                  "the left side is scraped", drive);
    checks.expect(largestBodyMove(playerDented, playerRest,
                                  [&](Vec3 p) { return p.y < targets.rearBelow && p.x > targets.rearRightOf; }) > 0.1f,
                  "the right rear corner is pushed in", drive);
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
    if (!checks.misses().empty()) {
        std::printf("\nWith these settings and this car, not as in the default drive:\n");
        for (const std::string& miss : checks.misses()) std::printf("  not so: %s\n", miss.c_str());
    }
    if (!checks.failures().empty()) {
        std::printf("\nThe drive did not go as expected:\n");
        for (const std::string& failure : checks.failures()) std::printf("  not so: %s\n", failure.c_str());
        return 5;
    }
    if (checks.misses().empty())
        std::printf("The drive dented the car, broke its right rear light, and F7 restored it.\n");
    else
        std::printf("F7 restored the car, and the host saw no misuse.\n");
    return 0;
}

namespace {

struct DriveText {
    Drive drive;
    const char* name;
    const char* story;
};

constexpr DriveText kDriveTexts[] = {
    {Drive::Front, "front", "head-on into a wall at 50 km/h"},
    {Drive::Side, "side", "the left side scrapes along a barrier"},
    {Drive::Rear, "rear", "rear-ended by traffic"},
};

const DriveText& textOf(Drive drive) {
    for (const DriveText& text : kDriveTexts)
        if (text.drive == drive) return text;
    return kDriveTexts[0];
}

}  // namespace

bool parseDrive(const std::string& name, Drive& drive) {
    for (const DriveText& text : kDriveTexts)
        if (name == text.name) {
            drive = text.drive;
            return true;
        }
    return false;
}

std::vector<Drive> everyDrive() {
    std::vector<Drive> drives;
    for (const DriveText& text : kDriveTexts) drives.push_back(text.drive);
    return drives;
}

const char* driveName(Drive drive) { return textOf(drive).name; }
const char* driveStory(Drive drive) { return textOf(drive).story; }

int runPreviewDrive(const PreviewDriveOptions& options) {
    if (!startHost()) return 2;
    DriveCars cars;
    if (!setUpCars(options.model, cars)) return 1;
    const VehicleSnapshot rest = snapshotVehicle(cars.player.vehicle);
    if (!loadModule(joinPath(options.folder, "Kerbmark.asi"))) return 2;
    switch (options.drive) {
        case Drive::Front:
            hitWall(cars);
            break;
        case Drive::Side:
            scrapeBarrier(cars);
            break;
        case Drive::Rear:
            rearEnded(cars);
            break;
    }
    const VehicleSnapshot dented = snapshotVehicle(cars.player.vehicle);
    if (!writeSceneFile(joinPath(options.folder, kBeforeScene), pictureScene(rest, rest)) ||
        !writeSceneFile(joinPath(options.folder, kAfterScene), pictureScene(dented, rest))) {
        std::fprintf(stderr, "hostsim: cannot write the scenes into %s\n", options.folder.c_str());
        return 2;
    }
    return hostFaults().empty() ? 0 : 4;
}

}  // namespace hostsim
