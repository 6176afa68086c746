#include "collision/crush_map.h"

#include <cmath>

namespace dent {

namespace {

// min(1, t) first, then 0 for a negative t.
float rampShare(float t) {
    t = t < 1.0f ? t : 1.0f;
    return t < 0.0f ? 0.0f : t;
}

}  // namespace

float crushY(float y, const Crush& crush, float minY, float maxY) {
    if (!std::isfinite(y) || !std::isfinite(minY) || !std::isfinite(maxY) || !std::isfinite(crush.front) ||
        !std::isfinite(crush.rear)) {
        return y;
    }
    if (y > 0.0f && maxY > 0.5f) {
        float t = rampShare((y - 0.35f * maxY) / (0.65f * maxY));
        return y - t * crush.front;
    }
    if (y < 0.0f && minY < -0.5f) {
        float t = rampShare((0.35f * minY - y) / (-0.65f * minY));
        return y + t * crush.rear;
    }
    return y;
}

}  // namespace dent
