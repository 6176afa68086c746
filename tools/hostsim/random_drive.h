// A seeded random drive of the simulated host, frame by frame: traffic and
// the player's car in single and lasting contacts of random strength and
// place; the player sitting a random while in a fresh or taken car before a
// head-on or other hit; F7, repairs, both reset events; the settings file
// rewritten and the reload key pressed; the player taking a traffic car just
// hit, a fresh car, or leaving on foot; cars destroyed and others coming; now
// and then a long quiet stretch with the player on foot.
// Every decision comes from the seed and the drive's own state, never from
// what the module did, so one seed drives any build of the module the same way.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host_records.h"
#include "seeded_random.h"

namespace hostsim {

// What the drive tells whoever watches it, as it happens.
class DriveObserver {
public:
    virtual void carCame(Vehicle* car) = 0;
    // Before the host destroys it.
    virtual void carGoes(Vehicle* car) = 0;
    // The host reports a contact of the car in the coming frame.
    virtual void contact(Vehicle* car) = 0;
    // F7 on the player's car or a repair, seen by the module in the coming frame.
    virtual void restored(Vehicle* car) = 0;
    // Right after the host ran one of its reset sites.
    virtual void resetEvent(std::uint32_t site) = 0;

protected:
    ~DriveObserver() = default;
};

// Chances per frame, each one in this many (0: never).
struct DrivePace {
    int trafficContactIn;  // a traffic car without a contact begins one
    int playerContactIn;   // the seated player's car begins one besides its planned hit
    int f7In;
    int repairIn;
    int resetIn;
    int carChangeIn;    // on foot, into a traffic car just hit, or into a fresh car
    int carLeavesIn;    // a traffic car is destroyed and another comes
    int crowdLeavesIn;  // half the traffic at once
    int quietIn;        // the player on foot and no contact for 600 to 1500 frames
    int reloadIn;       // the settings file rewritten, then the reload key
};
// Every event many times in ten thousand frames.
extern const DrivePace kLongDrivePace;
// Most events within a drive of a few hundred frames.
extern const DrivePace kShortDrivePace;

struct DriveShape {
    int trafficCars = 16;
    // Coarse cars (smallCarModel): copies take few host calls.
    bool smallCars = false;
    DrivePace pace = kLongDrivePace;
    // The module's settings file and the text it began with: a reload writes
    // it with settings drawn anew (now and then switched off, or cut inside a
    // line as an editor leaves it half saved). No reloads without it.
    std::string settingsFile;
    std::string baseIni;
};

struct DriveCounts {
    int playerHits = 0;
    int trafficHits = 0;
    int f7 = 0;
    int repairs = 0;
    int resets = 0;
    int carChanges = 0;
    int carsGone = 0;
    int quietStretches = 0;
    int reloads = 0;
};

class RandomDrive {
public:
    // Spawns the traffic and the player's car, the player seated in it.
    RandomDrive(std::uint64_t seed, const DriveShape& shape, DriveObserver& observer);

    // This frame's events and contacts; once before each host frame.
    void beforeFrame();
    // The frame about to run has the player on foot and no contact anywhere.
    bool quiet() const;
    // The player on foot, every contact ended; beforeFrame is not called again.
    void settle();
    // Every car destroyed, the player on foot.
    void destroyEveryCar();

    const DriveCounts& counts() const { return counts_; }

    // From the drive's frame `frame` on (its first is 1), one line per event to `out`.
    void traceFrom(std::uint32_t frame, std::FILE* out);

private:
    struct Car {
        Vehicle* vehicle = nullptr;
        int contactFrames = 0;  // frames the current contact goes on
        Vec3 point{0.0f, 0.0f, 0.0f}, normal{0.0f, 0.0f, 0.0f};
        float impact = 0.0f;
        float growth = 1.0f;      // of the impact, per frame of a lasting contact
        int sinceContact = 1 << 20;  // frames since its last contact began
        bool repairedNow = false;
    };

    Vehicle* spawnTraffic();
    Vehicle* spawnFreshPlayerCar();
    Car arrived(Vehicle* vehicle);

    void hostEvents();
    void resetEvent();
    void pressF7();
    void pressReloadKey();
    void releaseKeys();
    void restoreEveryCar();
    void repair();
    void changeCar();
    void stepOut();
    void takeTrafficCar(std::size_t index);
    void takeFreshCar();
    void seat(const Car& car);
    void planSeatedHit();
    void carLeaves(Car& car);
    void crowdLeaves();
    void trimTraffic();
    void beginQuiet();
    void continueQuiet();

    void contacts();
    float drawImpact();
    void startContact(Car& car);
    void startHeadOn(Car& car);
    void driveContact(Car& car);
    void endContact(Car& car);
    std::size_t trafficJustHit();
    std::size_t anyTraffic();
    void trace(const char* pattern, ...) __attribute__((format(printf, 2, 3)));
    void traceContact(const char* whose, const Car& car);

    SeededRandom random_;
    // Reloads draw from their own stream: the other events stay as they were.
    SeededRandom reloadRandom_;
    DriveShape shape_;
    DriveObserver& observer_;
    std::vector<Car> traffic_;
    Car player_;  // vehicle null: on foot
    int seatWait_ = -1;  // frames until the seated player's planned hit; -1: none planned
    bool f7Held_ = false;
    bool reloadHeld_ = false;
    bool reloadTaken_ = false;  // the file written for the held key is whole
    bool keysWereHeld_ = false;
    int quietLeft_ = 0;
    bool contactThisFrame_ = false;
    DriveCounts counts_;
    std::uint32_t frame_ = 0;
    std::uint32_t traceFrom_ = 0;
    std::FILE* trace_ = nullptr;
};

}  // namespace hostsim
