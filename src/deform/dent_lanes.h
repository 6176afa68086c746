// The ordinary dent four points at a time (SSE2), bit for bit what
// displaceImpact gives each point: the same float operations in the same
// order in every lane, masks where the scalar code branches, and the falloff
// power through floatPow once per lane that lies within a radius.
#pragma once

#include "deform/ordinary_path.h"
#include "foundation/vec.h"

namespace dent {

// What one hit's dent arguments give every point alike, worked out once.
struct PreparedDent {
    Vec hit;
    Vec unit;  // the normalised direction
    bool pushes;  // the unit direction is not zero
    bool episode;  // previous radius > 0
    float depth;
    float radius;
    float previousDepth;
    float previousRadius;
    float cap;
    float falloffPower;
    // A squared rest distance from the hit above this lies outside both radii
    // (+inf where no such bound is safe).
    float outsideBeyond;
    // A squared displacement from rest below this is within the cap (0 where no
    // such bound is safe).
    float capWithin;
};

// False when the arguments are not valid for any point: every point then keeps
// its current position.
bool prepareDent(const DentArguments& arguments, PreparedDent& prepared);

// Dents the points rest[l] / current[l] for each lane l set in `lanes` (bits 0
// to 3); the other lanes' pointers must still be readable. A point that does
// not move is not written.
void dentLanes(const Vec* const rest[4], Vec* const current[4], unsigned lanes, const PreparedDent& prepared);

// Squared-distance bounds that decide a comparison of a correctly rounded float
// square root with `limit` without taking the root: sqrt(x) >= limit for every
// x > above(limit), sqrt(x) < limit for every x < below(limit).
// Limits outside [2^-60, 2^60] give +inf and 0 (no decision).
float squaredAbove(float limit);
float squaredBelow(float limit);

}  // namespace dent
