// The cars the frame benchmarks put in the simulated host: the player's car
// with a large body, cars around it close enough to be traffic, and where
// they are hit.
#pragma once

#include <string>
#include <vector>

#include "host_world.h"

namespace bench {

// Contacts in the model frame: a head-on hit at the front, a hit from behind
// at the rear, and the speed change of a crash.
const hostsim::Vec3 kFront{0.0f, 2.3f, 0.5f};
const hostsim::Vec3 kHeadOn{0.0f, 1.0f, 0.0f};
const hostsim::Vec3 kRear{0.0f, -2.3f, 0.4f};
const hostsim::Vec3 kRearOn{0.0f, -1.0f, 0.0f};
constexpr float kImpact = 0.3f;

// A fresh car with a body of `bodyVertices` vertices, the player in it.
inline hostsim::Vehicle* spawnPlayerCar(int bodyVertices) {
    hostsim::VehicleSpec design;
    design.bodyVertices = bodyVertices;
    hostsim::Vehicle* car = hostsim::spawnVehicle(design);
    if (car) hostsim::setPlayerVehicle(car);
    return car;
}

// `count` cars of the three usual models in rows of eight, 10 to 50 metres
// ahead of the origin; with `boxParts`, box cars of those parts instead.
inline std::vector<hostsim::Vehicle*> spawnNearby(int count, const std::vector<std::string>& boxParts = {}) {
    std::vector<hostsim::Vehicle*> cars;
    for (int i = 1; i <= count; ++i) {
        hostsim::VehicleSpec design;
        design.modelId = static_cast<std::int16_t>(401 + i % 3);
        design.position =
            hostsim::Vec3{static_cast<float>(i % 8) * 6.0f - 21.0f, static_cast<float>(i / 8) * 8.0f + 10.0f, 0.0f};
        design.boxParts = boxParts;
        if (hostsim::Vehicle* car = hostsim::spawnVehicle(design)) cars.push_back(car);
    }
    return cars;
}

}  // namespace bench
