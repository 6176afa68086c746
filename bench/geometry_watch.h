// What the cars' atomics draw, watched from the host's side: whether a car's
// dent shows, and whether anything the cars draw changed since the last look.
#pragma once

#include <cstdint>
#include <vector>

#include "car_model.h"
#include "host_world.h"

namespace bench {

// Whether the car's body ("chassis") or bonnet now draws vertices moved from
// the model's: index by index, or, for a panel rebuilt with vertices of its
// own (another count), by its bounds.
class DentWatch {
public:
    DentWatch(const hostsim::Vehicle* car, const hostsim::CarModel& model);
    bool shows() const;

private:
    struct Part {
        const hostsim::Atomic* atomic;
        const hostsim::Geometry* original;
    };
    std::vector<Part> parts_;
};

// Whether any atomic of the cars draws another geometry, or the same one
// unlocked again, since the previous call (or since it was made).
class DrawWatch {
public:
    explicit DrawWatch(const std::vector<hostsim::Vehicle*>& cars);
    bool changed();

private:
    struct Drawn {
        const hostsim::Geometry* geometry;
        std::uint32_t unlocks;
        bool operator==(const Drawn& other) const { return geometry == other.geometry && unlocks == other.unlocks; }
    };
    std::vector<Drawn> look() const;

    std::vector<const hostsim::Vehicle*> cars_;
    std::vector<Drawn> seen_;
};

}  // namespace bench
