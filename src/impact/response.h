// Impact response and contact episodes.
#pragma once

#include <cstdint>

#include "foundation/vec.h"

namespace dent {

// The seven impact settings, in INI order; the settings record starts with them.
struct ImpactConfig {
    float MinImpact;
    float ReferenceImpact;
    float Strength;
    float ImpactExponent;
    float MaxDentPerHit;
    float MinRadius;
    float MaxRadius;
};

struct Response {
    float impact;  // impulse / mass
    float depth;   // push at the contact point, metres; 0 means no dent
    float radius;  // radius of influence, metres
};

// Impulse and mass to a dent; the zero response for unusable input.
DENT_API Response response(float impulse, float mass, const ImpactConfig& config);

// The contact history of one vehicle: lasting contacts grow one episode
// instead of pushing again every frame.
struct DENT_API Episode {
    Vec point;        // first contact of the episode, vehicle model frame
    Vec direction;    // unit push direction of that contact
    float depth;      // largest depth seen in the episode
    float radius;     // largest radius seen in the episode
    std::uint32_t number;         // episodes begun on this record
    std::uint32_t lastContactMs;  // host clock of the latest valid contact
    bool active;

    // Feeds one contact; true when it deepens or widens the current episode.
    bool observe(Vec contactPoint, Vec pushDirection, Response r, std::uint32_t nowMs, std::uint32_t gapMs);
};

}  // namespace dent
