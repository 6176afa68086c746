#include "foundation/vec.h"

namespace dent {

float falloffWeight(float distance, float radius, float power) {
    // Written so that a NaN distance or radius also gives 0: past this test the
    // clamp would turn the NaN into a full weight.
    if (!(distance < radius)) return 0.0f;
    float t = clampTo(1.0f - distance / radius, 0.0f, 1.0f);
    float s = t * t * (3.0f - 2.0f * t);
    return floatPow(s, power);
}

bool isOrthonormal(const HostMatrix& m) {
    if (!isFinite(m.right) || !isFinite(m.forward) || !isFinite(m.up) || !isFinite(m.position)) return false;
    const Vec axes[3] = {m.right, m.forward, m.up};
    for (const Vec& axis : axes) {
        if (!(std::fabs(lengthSquared(axis) - 1.0f) < 0.02f)) return false;
    }
    return std::fabs(dot(m.right, m.forward)) < 0.02f && std::fabs(dot(m.right, m.up)) < 0.02f &&
           std::fabs(dot(m.forward, m.up)) < 0.02f;
}

}  // namespace dent
