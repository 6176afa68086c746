#include "collision/sphere_fit.h"

#include <cmath>

namespace dent {

namespace {

bool isFixedPiece(const ColSphere& sphere) {
    std::uint8_t piece = sphere.surface[1];
    return piece >= 13 && piece <= 16;
}

ColSphere withCenterAndRadius(const ColSphere& source, Vec center, float radius) {
    ColSphere sphere = source;
    sphere.center = center;
    sphere.radius = radius;
    return sphere;
}

}  // namespace

std::vector<ColSphere> fitSpheres(const std::vector<ColSphere>& rest, const Crush& crush, float minY, float maxY,
                                  bool refine) {
    std::vector<ColSphere> fitted;
    fitted.reserve(kMaxFittedSpheres);
    if (!std::isfinite(minY) || !std::isfinite(maxY) || !std::isfinite(crush.front) || !std::isfinite(crush.rear)) {
        fitted.assign(rest.begin(), rest.end());
        return fitted;
    }

    for (std::size_t i = 0; i < rest.size(); ++i) {
        const ColSphere& sphere = rest[i];
        if (isFixedPiece(sphere) || !isFinite(sphere.center) || !std::isfinite(sphere.radius)) {
            fitted.push_back(sphere);
            continue;
        }
        const Vec c = sphere.center;
        const float r = sphere.radius;
        const float lo = crushY(c.y - r, crush, minY, maxY);
        const float hi = crushY(c.y + r, crush, minY, maxY);
        const float cy = (lo + hi) * 0.5f;
        const float fittedRadius = (hi - lo) * 0.5f;
        fitted.push_back(withCenterAndRadius(sphere, {c.x, cy, c.z}, fittedRadius));

        if (!refine) continue;
        float shrink = r - fittedRadius;
        if (shrink < 0.0f) shrink = 0.0f;
        // Keep one slot for every later rest sphere: a short budget skips this
        // sphere's refinement rather than dropping a later sphere.
        const std::size_t later = rest.size() - i - 1;
        if (!(shrink > 0.005f) || fitted.size() + 4 + later > kMaxFittedSpheres) continue;
        fitted.push_back(withCenterAndRadius(sphere, {c.x + shrink, cy, c.z}, fittedRadius));
        fitted.push_back(withCenterAndRadius(sphere, {c.x - shrink, cy, c.z}, fittedRadius));
        fitted.push_back(withCenterAndRadius(sphere, {c.x, cy, c.z + shrink}, fittedRadius));
        fitted.push_back(withCenterAndRadius(sphere, {c.x, cy, c.z - shrink}, fittedRadius));
    }
    return fitted;
}

}  // namespace dent
