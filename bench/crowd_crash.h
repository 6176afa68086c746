// The pile-up of one real-looking car: 33 copies of it, the player in the
// first, the rest in rows of eight 10 to 50 metres ahead (all within traffic
// range). All crash in one frame, fronts into rears, the player head-on; the
// contacts go on for 30 frames, reported every frame, pushing 3 % harder in
// each of frames 2 to 5 (so that their dents grow), while every car rolls to
// rest (its matrix changes every frame until it stops).
#pragma once

#include <vector>

#include "car_model.h"
#include "host_world.h"

namespace bench {

constexpr int kCrowdCars = 33;
constexpr int kCrowdContactFrames = 30;

// The car: a 2814-vertex body, rear lights, and a bonnet and a boot whose
// crease rebuild comes to about 6000 vertices each (split along their cells'
// edges: some 1800 and 800 vertices before it).
hostsim::VehicleSpec crowdCar();
const hostsim::CarModel& crowdCarModel();

class CrowdCrash {
public:
    // Spawns the cars and seats the player in the first.
    CrowdCrash();
    // Removes every car.
    ~CrowdCrash();
    CrowdCrash(const CrowdCrash&) = delete;
    CrowdCrash& operator=(const CrowdCrash&) = delete;

    // Contacts and motion before host frame `frame` (1: the first contacts);
    // after the last contact frame, no contact and no motion.
    void beforeFrame(int frame);

    hostsim::Vehicle* player() const { return cars_.front().vehicle; }
    std::vector<hostsim::Vehicle*> vehicles() const;

private:
    struct Car {
        hostsim::Vehicle* vehicle;
        bool front;          // hit at the front (and rolls back), else at the rear (and rolls on)
        hostsim::Vec3 position;
        float heading;
        float speed;         // metres a second at the first contact
        float turn;          // radians a second at the first contact
    };
    std::vector<Car> cars_;
};

}  // namespace bench
