#include "random_traffic.h"

#include <algorithm>
#include <cmath>

#include "bench_cars.h"
#include "module_loader.h"

namespace bench {

namespace {

// Chances per frame.
constexpr int kTrafficContactIn = 300;  // a traffic car without contact begins one
constexpr int kPlayerContactIn = 200;   // the player's car begins one
constexpr int kOneLeavesIn = 150;       // a car leaves and another comes
constexpr int kCrowdLeavesIn = 2500;    // 8 to 32 cars leave at once
constexpr int kRepairIn = 1200;
constexpr int kResetIn = 1500;
constexpr int kCarChangeIn = 1500;

constexpr float kHealthPerImpact = 300.0f;
constexpr float kLowestHealth = 50.0f;

}  // namespace

RandomTraffic::RandomTraffic(std::uint64_t seed, int cars, int playerBody) : random_(seed) {
    player_.vehicle = spawnPlayerCar(playerBody);
    for (int i = 0; i < cars; ++i) traffic_.push_back(Car{spawnTraffic()});
}

// A usual car somewhere 5 to 60 metres around the player, facing anywhere.
hostsim::Vehicle* RandomTraffic::spawnTraffic() {
    hostsim::VehicleSpec design;
    design.modelId = static_cast<std::int16_t>(400 + below(3));
    const float angle = 6.2831853f * unit();
    const float distance = 5.0f + 55.0f * unit();
    design.position = hostsim::Vec3{distance * std::cos(angle), distance * std::sin(angle), 0.0f};
    design.heading = 6.2831853f * unit();
    return hostsim::spawnVehicle(design);
}

// A contact at the front, rear or a side, lasting 1 to 8 frames.
void RandomTraffic::startContact(Car& car, float strongest) {
    const float along = unit() * 2.0f - 1.0f, height = 0.1f + 0.5f * unit();
    switch (below(4)) {
        case 0:
            car.point = {0.7f * along, 2.3f, height}, car.normal = {0.2f * along, 1.0f, 0.0f};
            break;
        case 1:
            car.point = {0.7f * along, -2.3f, height}, car.normal = {0.2f * along, -1.0f, 0.0f};
            break;
        case 2:
            car.point = {-0.9f, 2.0f * along, height}, car.normal = {-1.0f, 0.2f * along, 0.0f};
            break;
        default:
            car.point = {0.9f, 2.0f * along, height}, car.normal = {1.0f, 0.2f * along, 0.0f};
            break;
    }
    car.impact = 0.05f + (strongest - 0.05f) * unit();
    car.contactFrames = 1 + below(8);
    car.vehicle->health = std::max(kLowestHealth, car.vehicle->health - kHealthPerImpact * car.impact);
    ++events_.hits;
}

// A lasting contact pushes a little harder every frame until it ends.
void RandomTraffic::driveContact(Car& car) {
    if (car.contactFrames == 0) {
        hostsim::clearCollision(car.vehicle);
        return;
    }
    --car.contactFrames;
    car.impact *= 1.04f;
    hostsim::setContact(car.vehicle, car.impact, car.point, car.normal);
}

void RandomTraffic::replaceCars(int count) {
    for (int i = 0; i < count; ++i) {
        Car& car = traffic_[static_cast<std::size_t>(below(static_cast<int>(traffic_.size())))];
        hostsim::removeVehicle(car.vehicle);
        car = Car{spawnTraffic()};
        ++events_.left;
    }
}

// On foot, or from foot back into the car, or straight into a traffic car
// (which may still have traffic work waiting); the car left behind joins the traffic.
void RandomTraffic::changePlayerCar() {
    ++events_.carChanges;
    if (!onFoot_ && below(2) == 0) {
        onFoot_ = true;
        hostsim::setPlayerVehicle(nullptr);
        return;
    }
    onFoot_ = false;
    if (below(2) == 0) std::swap(player_, traffic_[static_cast<std::size_t>(below(static_cast<int>(traffic_.size())))]);
    hostsim::setPlayerVehicle(player_.vehicle);
}

void RandomTraffic::beforeFrame() {
    if (f7Held_) hostsim::setKeyDown(hostsim::kKeyF7, false);
    f7Held_ = false;
    for (Car& car : traffic_) {
        if (car.contactFrames == 0 && below(kTrafficContactIn) == 0) startContact(car, 0.5f);
        driveContact(car);
    }
    if (player_.contactFrames == 0 && !onFoot_ && below(kPlayerContactIn) == 0) {
        startContact(player_, 0.6f);
        ++events_.playerHits;
    }
    driveContact(player_);
    if (below(kOneLeavesIn) == 0) replaceCars(1);
    if (below(kCrowdLeavesIn) == 0) replaceCars(8 + below(25));
    if (below(kRepairIn) == 0) {
        traffic_[static_cast<std::size_t>(below(static_cast<int>(traffic_.size())))].vehicle->health = 1000.0f;
        ++events_.repairs;
    }
    if (below(kResetIn) == 0 && !onFoot_) {
        hostsim::setKeyDown(hostsim::kKeyF7, true);
        f7Held_ = true;
        ++events_.resets;
    }
    if (below(kCarChangeIn) == 0) changePlayerCar();
}

}  // namespace bench
