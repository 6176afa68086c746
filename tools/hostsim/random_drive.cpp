#include "random_drive.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <fstream>
#include <iterator>
#include <string>

#include "car_model.h"
#include "drive_settings.h"
#include "host_image.h"
#include "host_layout.h"
#include "host_world.h"
#include "ini_text.h"
#include "module_loader.h"

namespace hostsim {

//                                  traffic player  F7  repair reset change leaves crowd quiet reload
const DrivePace kLongDrivePace = {300, 250, 80, 300, 800, 200, 120, 3000, 5000, 1500};
const DrivePace kShortDrivePace = {150, 100, 100, 100, 400, 150, 100, 0, 0, 0};

namespace {

constexpr float kTwoPi = 6.2831853f;
// The player's seated time before the planned hit: mostly up to 5 s of 33 ms
// frames, across the module's preparation of the car (after 1 s seated);
// sometimes up to 30 s, across a preparation a step a frame (WorkPerFrame=1).
constexpr int kLongestSeatWait = 150;
constexpr int kLongestSlowSeatWait = 900;
constexpr int kShortestQuiet = 600;
constexpr int kLongestQuiet = 1500;
constexpr int kLongestContact = 12;
// Frames since a traffic car's contact began for it to count as just hit.
constexpr int kJustHit = 8;
constexpr float kHealthPerImpact = 300.0f;
constexpr float kLowestHealth = 50.0f;
// The module's repair: a health rise of more than 25 between two frames.
constexpr float kLeastRepair = 30.0f;
constexpr float kMostRepair = 400.0f;
// Reloads draw from their own stream, so that the other events stay as they were.
constexpr std::uint64_t kReloadStream = 0x7E10AD5Eull;
constexpr int kShiftKey = 0x10;
// The largest body most often: its preparation takes the most frames.
const int kPlayerBodies[] = {kUsualBodyVertices, kUsualBodyVertices, 12000, 20000, 29900, 29900, 29900, 29900};

VehicleSpec carDesign(std::int16_t modelId, bool smallCars) {
    VehicleSpec design;
    design.modelId = modelId;
    if (smallCars) design.model = &smallCarModel(modelId);
    return design;
}

}  // namespace

RandomDrive::RandomDrive(std::uint64_t seed, const DriveShape& shape, DriveObserver& observer)
    : random_(seed), reloadRandom_(seed ^ kReloadStream), shape_(shape), observer_(observer) {
    for (int i = 0; i < shape_.trafficCars; ++i) traffic_.push_back(arrived(spawnTraffic()));
    seat(arrived(spawnFreshPlayerCar()));
}

// ---------------------------------------------------------------- cars

// A usual car somewhere 5 to 60 metres around the origin, facing anywhere.
Vehicle* RandomDrive::spawnTraffic() {
    VehicleSpec design = carDesign(static_cast<std::int16_t>(400 + random_.below(3)), shape_.smallCars);
    const float angle = kTwoPi * random_.unit();
    const float distance = random_.between(5.0f, 60.0f);
    design.position = Vec3{distance * std::cos(angle), distance * std::sin(angle), 0.0f};
    design.heading = kTwoPi * random_.unit();
    return spawnVehicle(design);
}

// The usual body or a large one, near the origin.
Vehicle* RandomDrive::spawnFreshPlayerCar() {
    VehicleSpec design = carDesign(static_cast<std::int16_t>(400 + random_.below(3)), shape_.smallCars);
    design.bodyVertices = kPlayerBodies[random_.below(static_cast<int>(std::size(kPlayerBodies)))];
    design.position = Vec3{random_.between(-3.0f, 3.0f), random_.between(-3.0f, 3.0f), 0.0f};
    design.heading = kTwoPi * random_.unit();
    return spawnVehicle(design);
}

RandomDrive::Car RandomDrive::arrived(Vehicle* vehicle) {
    Car car;
    car.vehicle = vehicle;
    if (vehicle) observer_.carCame(vehicle);
    return car;
}

// ---------------------------------------------------------------- frames

void RandomDrive::beforeFrame() {
    ++frame_;
    releaseKeys();
    for (Car& car : traffic_) car.repairedNow = false;
    player_.repairedNow = false;
    contactThisFrame_ = false;
    if (quietLeft_ > 0) {
        continueQuiet();
        return;
    }
    if (shape_.pace.quietIn && random_.oneIn(shape_.pace.quietIn)) {
        beginQuiet();
        return;
    }
    hostEvents();
    contacts();
}

bool RandomDrive::quiet() const { return !player_.vehicle && !contactThisFrame_; }

void RandomDrive::settle() {
    releaseKeys();
    if (player_.vehicle) stepOut();
    for (Car& car : traffic_) endContact(car);
    contactThisFrame_ = false;
}

void RandomDrive::destroyEveryCar() {
    settle();
    for (Car& car : traffic_) {
        observer_.carGoes(car.vehicle);
        destroyVehicle(car.vehicle);
    }
    traffic_.clear();
}

// ---------------------------------------------------------------- events

void RandomDrive::hostEvents() {
    const DrivePace& pace = shape_.pace;
    // The seated player sits out the wait before the planned hit: F7 and
    // another car come after it, so that the hit lands at the stage it was planned for.
    const bool waiting = player_.vehicle && seatWait_ >= 0;
    if (random_.oneIn(pace.resetIn)) resetEvent();
    if (random_.oneIn(pace.carChangeIn) && !waiting) changeCar();
    if (random_.oneIn(pace.f7In) && player_.vehicle && !waiting && !keysWereHeld_) pressF7();
    const bool reload = pace.reloadIn && reloadRandom_.oneIn(pace.reloadIn);
    if (reload && !shape_.settingsFile.empty() && !f7Held_ && !keysWereHeld_) pressReloadKey();
    if (random_.oneIn(pace.repairIn)) repair();
    // Often the car just hit, while its work may still wait.
    if (random_.oneIn(pace.carLeavesIn) && !traffic_.empty())
        carLeaves(traffic_[random_.oneIn(2) ? trafficJustHit() : anyTraffic()]);
    if (pace.crowdLeavesIn && random_.oneIn(pace.crowdLeavesIn)) crowdLeaves();
}

void RandomDrive::resetEvent() {
    const std::uint32_t site = random_.oneIn(2) ? kResetSiteA : kResetSiteB;
    trace("reset event at 0x%X", static_cast<unsigned>(site));
    callSite(site);
    ++counts_.resets;
    observer_.resetEvent(site);
    // The module prepares the seated car again from now.
    if (player_.vehicle) planSeatedHit();
}

void RandomDrive::pressF7() {
    trace("F7");
    setKeyDown(kKeyF7, true);
    f7Held_ = true;
    ++counts_.f7;
    observer_.restored(player_.vehicle);
    planSeatedHit();
}

// The file rewritten with settings drawn anew, then Shift+F7 for one frame:
// the module reloads at the start of the next.
void RandomDrive::pressReloadKey() {
    const DriveSettings drawn = drawSettings(static_cast<std::uint64_t>(reloadRandom_.below(1 << 24)));
    std::string ini = settingsIni(shape_.baseIni, drawn);
    if (reloadRandom_.oneIn(6)) ini = withSetting(ini, "General", "Enabled", "0");
    reloadTaken_ = !reloadRandom_.oneIn(8);
    if (!reloadTaken_) ini.resize(ini.rfind('=') + 1);  // cut inside its last line
    trace("reload key with %s%s", describeSettings(drawn).c_str(), reloadTaken_ ? "" : " (cut short)");
    std::ofstream(shape_.settingsFile, std::ios::binary | std::ios::trunc) << ini;
    setKeyDown(kShiftKey, true);
    setKeyDown(kKeyF7, true);
    reloadHeld_ = true;
    ++counts_.reloads;
}

// One frame down: the module sees each press once. A reload runs in the frame after its press.
void RandomDrive::releaseKeys() {
    keysWereHeld_ = f7Held_ || reloadHeld_;
    if (f7Held_ || reloadHeld_) setKeyDown(kKeyF7, false);
    if (reloadHeld_) {
        setKeyDown(kShiftKey, false);
        if (reloadTaken_) restoreEveryCar();
    }
    f7Held_ = false;
    reloadHeld_ = false;
}

void RandomDrive::restoreEveryCar() {
    for (const Car& car : traffic_) observer_.restored(car.vehicle);
    if (player_.vehicle) observer_.restored(player_.vehicle);
}

void RandomDrive::repair() {
    const bool player = player_.vehicle && (traffic_.empty() || random_.oneIn(3));
    if (!player && traffic_.empty()) return;
    Car& car = player ? player_ : traffic_[anyTraffic()];
    car.vehicle->health += random_.between(kLeastRepair, kMostRepair);
    trace("repair of car %d%s", vehicleHandle(car.vehicle), player ? " (the player's)" : "");
    car.repairedNow = true;  // no contact begins in its frame, so that the rise is whole
    ++counts_.repairs;
    observer_.restored(car.vehicle);
}

void RandomDrive::changeCar() {
    ++counts_.carChanges;
    if (player_.vehicle && random_.oneIn(3)) {
        stepOut();
        return;
    }
    if (!traffic_.empty() && random_.oneIn(2))
        takeTrafficCar(trafficJustHit());
    else
        takeFreshCar();
    trimTraffic();
}

// The car left behind joins the traffic.
void RandomDrive::stepOut() {
    trace("the player steps out of car %d", vehicleHandle(player_.vehicle));
    traffic_.push_back(player_);
    player_ = Car{};
    seatWait_ = -1;
    setPlayerVehicle(nullptr);
}

void RandomDrive::takeTrafficCar(std::size_t index) {
    const Car taken = traffic_[index];
    traffic_.erase(traffic_.begin() + static_cast<std::ptrdiff_t>(index));
    if (player_.vehicle) traffic_.push_back(player_);
    seat(taken);
}

void RandomDrive::takeFreshCar() {
    if (player_.vehicle) traffic_.push_back(player_);
    seat(arrived(spawnFreshPlayerCar()));
}

void RandomDrive::seat(const Car& car) {
    player_ = car;
    setPlayerVehicle(player_.vehicle);
    trace("the player sits in car %d (body of %d vertices)", vehicleHandle(player_.vehicle),
          static_cast<int>(atomicNamed(player_.vehicle, "chassis")->geometry->vertexCount));
    planSeatedHit();
}

void RandomDrive::planSeatedHit() {
    seatWait_ = random_.oneIn(8) ? random_.between(kLongestSeatWait, kLongestSlowSeatWait)
                                 : random_.between(0, kLongestSeatWait);
    trace("the player's hit planned in %d frames", seatWait_ + 1);
}

void RandomDrive::carLeaves(Car& car) {
    trace("car %d destroyed", vehicleHandle(car.vehicle));
    observer_.carGoes(car.vehicle);
    destroyVehicle(car.vehicle);
    ++counts_.carsGone;
    car = arrived(spawnTraffic());
}

void RandomDrive::crowdLeaves() {
    for (Car& car : traffic_)
        if (random_.oneIn(2)) carLeaves(car);
}

// Cars the player left behind beyond the drive's traffic are destroyed.
void RandomDrive::trimTraffic() {
    while (static_cast<int>(traffic_.size()) > shape_.trafficCars) {
        const std::size_t index = anyTraffic();
        trace("car %d destroyed", vehicleHandle(traffic_[index].vehicle));
        observer_.carGoes(traffic_[index].vehicle);
        destroyVehicle(traffic_[index].vehicle);
        ++counts_.carsGone;
        traffic_.erase(traffic_.begin() + static_cast<std::ptrdiff_t>(index));
    }
}

void RandomDrive::beginQuiet() {
    ++counts_.quietStretches;
    settle();
    quietLeft_ = random_.between(kShortestQuiet, kLongestQuiet);
    trace("quiet for %d frames", quietLeft_);
}

void RandomDrive::continueQuiet() {
    if (--quietLeft_ > 0) return;
    if (random_.oneIn(2) && !traffic_.empty())
        takeTrafficCar(anyTraffic());
    else
        takeFreshCar();
    trimTraffic();
}

// ---------------------------------------------------------------- contacts

void RandomDrive::contacts() {
    for (Car& car : traffic_) {
        if (car.contactFrames == 0 && !car.repairedNow && random_.oneIn(shape_.pace.trafficContactIn)) {
            startContact(car);
            traceContact("traffic", car);
            ++counts_.trafficHits;
        }
        driveContact(car);
    }
    if (!player_.vehicle) return;
    if (seatWait_ == 0 && !player_.repairedNow) {
        // Head-on into the bonnet and the body half the time.
        if (random_.oneIn(2))
            startHeadOn(player_);
        else
            startContact(player_);
        traceContact("the player's planned", player_);
        ++counts_.playerHits;
    } else if (player_.contactFrames == 0 && !player_.repairedNow && random_.oneIn(shape_.pace.playerContactIn)) {
        startContact(player_);
        traceContact("the player's", player_);
        ++counts_.playerHits;
    }
    if (seatWait_ >= 0) --seatWait_;
    driveContact(player_);
}

// Below MinImpact now and then, most of them medium, some hard.
float RandomDrive::drawImpact() {
    const int kind = random_.below(20);
    if (kind < 5) return random_.between(0.01f, 0.12f);
    if (kind < 15) return random_.between(0.12f, 0.45f);
    return random_.between(0.45f, 1.0f);
}

// At the front, rear, a side or a corner, at any height of the body; a single
// frame half the time, else lasting up to 12 frames and growing a little.
void RandomDrive::startContact(Car& car) {
    const float along = random_.between(-1.0f, 1.0f);
    const float height = random_.between(-0.3f, 0.8f);
    const float sx = random_.oneIn(2) ? 1.0f : -1.0f, sy = random_.oneIn(2) ? 1.0f : -1.0f;
    switch (random_.below(4)) {
        case 0:  // front or rear
            car.point = {0.7f * along, 2.3f * sy, height};
            car.normal = {0.2f * along, sy, 0.0f};
            break;
        case 1:  // a side
            car.point = {0.9f * sx, 2.0f * along, height};
            car.normal = {sx, 0.2f * along, 0.0f};
            break;
        default:  // a corner
            car.point = {0.85f * sx, 2.2f * sy, height};
            car.normal = {0.7f * sx, 0.7f * sy, 0.0f};
            break;
    }
    car.impact = drawImpact();
    car.contactFrames = random_.oneIn(2) ? 1 : random_.between(2, kLongestContact);
    car.growth = random_.between(1.0f, 1.08f);
    car.sinceContact = 0;
    car.vehicle->health = std::max(kLowestHealth, car.vehicle->health - kHealthPerImpact * car.impact);
}

// Straight into a wall ahead, hard enough to reach the bonnet and the body.
void RandomDrive::startHeadOn(Car& car) {
    car.point = {random_.between(-0.3f, 0.3f), 2.3f, random_.between(0.0f, 0.5f)};
    car.normal = {0.0f, 1.0f, 0.0f};
    car.impact = random_.between(0.3f, 0.9f);
    car.contactFrames = random_.between(1, 6);
    car.growth = random_.between(1.0f, 1.05f);
    car.sinceContact = 0;
    car.vehicle->health = std::max(kLowestHealth, car.vehicle->health - kHealthPerImpact * car.impact);
}

void RandomDrive::driveContact(Car& car) {
    ++car.sinceContact;
    if (car.contactFrames == 0) {
        clearCollision(car.vehicle);
        return;
    }
    --car.contactFrames;
    setContact(car.vehicle, car.impact, car.point, car.normal);
    car.impact *= car.growth;
    contactThisFrame_ = true;
    observer_.contact(car.vehicle);
}

void RandomDrive::endContact(Car& car) {
    car.contactFrames = 0;
    clearCollision(car.vehicle);
}

// The traffic car whose contact began last (when within a few frames), else any.
std::size_t RandomDrive::trafficJustHit() {
    std::size_t latest = 0;
    for (std::size_t i = 1; i < traffic_.size(); ++i)
        if (traffic_[i].sinceContact < traffic_[latest].sinceContact) latest = i;
    if (traffic_[latest].sinceContact <= kJustHit) return latest;
    return anyTraffic();
}

std::size_t RandomDrive::anyTraffic() {
    return static_cast<std::size_t>(random_.below(static_cast<int>(traffic_.size())));
}

void RandomDrive::traceFrom(std::uint32_t frame, std::FILE* out) {
    traceFrom_ = frame;
    trace_ = out;
}

void RandomDrive::trace(const char* pattern, ...) {
    if (!trace_ || frame_ < traceFrom_) return;
    std::fprintf(trace_, "frame %u: ", static_cast<unsigned>(frame_));
    va_list arguments;
    va_start(arguments, pattern);
    std::vfprintf(trace_, pattern, arguments);
    va_end(arguments);
    std::fputc('\n', trace_);
}

void RandomDrive::traceContact(const char* whose, const Car& car) {
    trace("%s contact on car %d at (%.2f %.2f %.2f) toward (%.2f %.2f %.2f), impact %.3f for %d frames", whose,
          vehicleHandle(car.vehicle), car.point.x, car.point.y, car.point.z, car.normal.x, car.normal.y,
          car.normal.z, car.impact, car.contactFrames);
}

}  // namespace hostsim
