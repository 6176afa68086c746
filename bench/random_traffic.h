// Seeded random traffic around the player for the frame benchmark: cars
// scraping and crashing into each other (lasting contacts of a few frames at
// the front, rear and sides), the player's own hits, cars leaving and coming
// (now and then several at once), repairs, F7, the player getting out, back
// in, and into another car. The same seed gives the same drive, frame by
// frame, so two builds of the module see the same traffic.
#pragma once

#include <cstdint>
#include <vector>

#include "host_world.h"
#include "seeded_random.h"

namespace bench {

struct TrafficEvents {
    int hits = 0;        // contacts begun (traffic and player)
    int playerHits = 0;
    int left = 0;        // cars gone from the pool
    int repairs = 0;
    int resets = 0;      // F7 presses
    int carChanges = 0;  // the player on foot, back in, or in another car
};

class RandomTraffic {
public:
    // `cars` traffic cars around the player's car (a body of `playerBody` vertices).
    RandomTraffic(std::uint64_t seed, int cars, int playerBody);
    // Sets up this frame's contacts and events; call once before each host frame.
    void beforeFrame();
    const TrafficEvents& events() const { return events_; }

private:
    struct Car {
        hostsim::Vehicle* vehicle = nullptr;
        int contactFrames = 0;  // frames the current contact goes on
        hostsim::Vec3 point{0.0f, 0.0f, 0.0f}, normal{0.0f, 0.0f, 0.0f};
        float impact = 0.0f;
    };

    float unit() { return random_.unit(); }
    int below(int n) { return random_.below(n); }
    hostsim::Vehicle* spawnTraffic();
    void startContact(Car& car, float strongest);
    void driveContact(Car& car);
    void replaceCars(int count);
    void changePlayerCar();

    hostsim::SeededRandom random_;
    std::vector<Car> traffic_;
    Car player_;
    bool onFoot_ = false;
    bool f7Held_ = false;
    TrafficEvents events_;
};

}  // namespace bench
