// The plain per-vertex loops: the reference for the four-wide versions in
// ordinary_path_sse2.cpp.
#include "deform/ordinary_path.h"

#include <cmath>

#include "deform/ordinary_dent.h"

namespace dent {

bool reachesAnyReference(const Vec* points, std::size_t count, Vec hit, float radius) {
    for (std::size_t i = 0; i < count; ++i) {
        if (length(points[i] - hit) < radius) return true;
    }
    return false;
}

Vec dentVertex(Vec rest, Vec current, const DentArguments& a) {
    return displaceImpact(rest, current, a.hit, a.direction, a.depth, a.radius, a.previousDepth, a.previousRadius,
                          a.cap, a.falloffPower);
}

void dentMeshReference(const Vec* rest, Vec* positions, std::size_t count, const DentArguments& dent) {
    for (std::size_t i = 0; i < count; ++i) positions[i] = dentVertex(rest[i], positions[i], dent);
}

float grownBoundingRadiusReference(Vec centre, float radius, const Vec* points, std::size_t count) {
    // A NaN radius bounds nothing; an infinite one stays, so the sphere never shrinks.
    float grown = std::isnan(radius) ? 0.0f : radius;
    for (std::size_t i = 0; i < count; ++i) {
        const float distance = length(points[i] - centre);
        if (distance > grown) grown = distance;
    }
    return grown;
}

}  // namespace dent
