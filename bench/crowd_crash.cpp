#include "crowd_crash.h"

#include <algorithm>
#include <cmath>

#include "bench_cars.h"
#include "host_functions.h"

namespace bench {

namespace {

constexpr float kGrowth = 1.03f;
constexpr int kLastGrowingFrame = 5;
constexpr float kFrameSeconds = hostsim::kFrameMs / 1000.0f;

}  // namespace

hostsim::VehicleSpec crowdCar() {
    hostsim::VehicleSpec design;
    design.modelId = 404;
    design.bodyVertices = 2814;
    // Grids whose rebuilds come to 5300 - 6600 vertices with the shipped settings.
    design.panels = hostsim::PanelDetail{17, 13, 14, 7, true};
    return design;
}

const hostsim::CarModel& crowdCarModel() {
    const hostsim::VehicleSpec design = crowdCar();
    return hostsim::carModel(design.modelId, design.bodyVertices, design.panels);
}

CrowdCrash::CrowdCrash() {
    for (int i = 0; i < kCrowdCars; ++i) {
        hostsim::VehicleSpec design = crowdCar();
        if (i > 0)
            design.position = hostsim::Vec3{static_cast<float>(i % 8) * 6.0f - 21.0f,
                                            static_cast<float>(i / 8) * 8.0f + 10.0f, 0.0f};
        hostsim::Vehicle* vehicle = hostsim::spawnVehicle(design);
        if (!vehicle) continue;
        const float speed = 2.0f + 0.25f * static_cast<float>(i % 5);
        const float turn = (i % 2 ? 0.15f : -0.15f) * static_cast<float>(1 + i % 3);
        cars_.push_back(Car{vehicle, i == 0 || i % 2 == 1, design.position, design.heading, speed, turn});
    }
    if (!cars_.empty()) hostsim::setPlayerVehicle(player());
}

CrowdCrash::~CrowdCrash() {
    for (const Car& car : cars_) hostsim::removeVehicle(car.vehicle);
}

std::vector<hostsim::Vehicle*> CrowdCrash::vehicles() const {
    std::vector<hostsim::Vehicle*> vehicles;
    for (const Car& car : cars_) vehicles.push_back(car.vehicle);
    return vehicles;
}

void CrowdCrash::beforeFrame(int frame) {
    const bool contact = frame >= 1 && frame <= kCrowdContactFrames;
    const float impact = kImpact * std::pow(kGrowth, static_cast<float>(std::clamp(frame, 1, kLastGrowingFrame) - 1));
    // Slowing evenly from the first contact on, to a stop after the last.
    const float slowing = contact ? 1.0f - static_cast<float>(frame - 1) / kCrowdContactFrames : 0.0f;
    for (Car& car : cars_) {
        const float speed = (car.front ? -car.speed : car.speed) * slowing;
        const hostsim::Vec3 forward{-std::sin(car.heading), std::cos(car.heading), 0.0f};
        car.position = {car.position.x + forward.x * speed * kFrameSeconds,
                        car.position.y + forward.y * speed * kFrameSeconds, car.position.z};
        car.heading += car.turn * slowing * kFrameSeconds;
        car.vehicle->velocity = {forward.x * speed, forward.y * speed, 0.0f};
        if (slowing > 0.0f) hostsim::placeVehicle(car.vehicle, car.position, car.heading);
        if (!contact) hostsim::clearCollision(car.vehicle);
        else if (car.front) hostsim::setContact(car.vehicle, impact, kFront, kHeadOn);
        else hostsim::setContact(car.vehicle, impact, kRear, kRearOn);
    }
}

}  // namespace bench
