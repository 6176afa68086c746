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

// The lanes (bits 0 to 3) of four points that the dent may move: valid points
// that are not clearly outside both radii or not clearly within the cap. The
// others keep their current position. Four consecutive points, or any four.
unsigned unsettledFour(const Vec* rest, const Vec* current, const PreparedDent& prepared);
unsigned unsettledGathered(const Vec* const rest[4], const Vec* const current[4], const PreparedDent& prepared);

// Points queued one by one and dented in blocks of four, so that the points a
// hit moves fill whole lanes wherever they lie in the mesh. A point that keeps
// its position is not written.
class DentQueue {
public:
    explicit DentQueue(const PreparedDent& prepared) : prepared_(prepared) {}
    DentQueue(const DentQueue&) = delete;
    DentQueue& operator=(const DentQueue&) = delete;

    void push(const Vec* rest, Vec* current) {
        rest_[filled_] = rest;
        current_[filled_] = current;
        if (++filled_ == kPoints) flush();
    }
    // The lanes set in `lanes` of four consecutive points.
    void pushLanes(const Vec* rest, Vec* current, unsigned lanes) {
        for (unsigned l = 0; l < 4; ++l) {
            if (lanes & (1u << l)) push(rest + l, current + l);
        }
    }
    // Dents what is still queued.
    void finish() {
        if (filled_ != 0) flush();
    }

private:
    static constexpr unsigned kBlocks = 8;
    static constexpr unsigned kPoints = 4 * kBlocks;
    void flush();

    const PreparedDent& prepared_;
    const Vec* rest_[kPoints] = {};
    Vec* current_[kPoints] = {};
    unsigned filled_ = 0;
};

// Squared-distance bounds that decide a comparison of a correctly rounded float
// square root with `limit` without taking the root: sqrt(x) >= limit for every
// x > above(limit), sqrt(x) < limit for every x < below(limit).
// Limits outside [2^-60, 2^60] give +inf and 0 (no decision).
float squaredAbove(float limit);
float squaredBelow(float limit);

}  // namespace dent
