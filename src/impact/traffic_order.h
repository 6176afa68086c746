// Ordering of the non-player vehicles worth denting in one frame.
#pragma once

#include <cstdint>

#include "foundation/vec.h"

namespace dent {

// One vehicle that passed the traffic filter.
struct TrafficCandidate {
    void* vehicle;            // the host vehicle
    float distanceSquared;    // from the reference position
    bool linkedToPlayer;      // the entity the player's vehicle points to
    std::int32_t handle;      // the host's handle of the vehicle
};

// |a - b| <= range, tested squared (dz^2 + (dx^2 + dy^2)); false for
// non-finite coordinates and for a range that is not finite and positive.
DENT_API bool inTrafficRange(Vec a, Vec b, float range);

// Whether a comes before b: the vehicle linked to the player's first, then
// nearer first, then the lower handle.
DENT_API bool trafficPriority(const TrafficCandidate& a, const TrafficCandidate& b);

}  // namespace dent
