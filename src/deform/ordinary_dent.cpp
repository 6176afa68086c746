#include "deform/ordinary_dent.h"

namespace dent {

bool dentArgumentsValid(Vec hit, Vec direction, float depth, float radius, float previousDepth, float previousRadius,
                        float cap, float falloffPower) {
    if (!isFinite(hit) || !isFinite(direction)) return false;
    if (!std::isfinite(depth) || !std::isfinite(radius) || !std::isfinite(previousDepth) ||
        !std::isfinite(previousRadius) || !std::isfinite(cap) || !std::isfinite(falloffPower))
        return false;
    return depth > 0.0f && radius > 0.0f && cap > 0.0f && falloffPower > 0.0f;
}

Vec displaceImpact(Vec rest, Vec current, Vec hit, Vec direction, float depth, float radius,
                   float previousDepth, float previousRadius, float cap, float falloffPower) {
    if (!isFinite(rest) || !isFinite(current) ||
        !dentArgumentsValid(hit, direction, depth, radius, previousDepth, previousRadius, cap, falloffPower))
        return current;

    const float distance = length(rest - hit);
    const float weight = falloffWeight(distance, radius, falloffPower);
    const float episodeWeight =
        previousRadius > 0.0f ? falloffWeight(distance, previousRadius, falloffPower) : 0.0f;

    float amount = depth * weight - previousDepth * episodeWeight;
    if (!(amount > 0.0f)) amount = 0.0f;

    const Vec unit = normalized(direction);
    const bool pushed = amount > 0.0f && (unit.x != 0.0f || unit.y != 0.0f || unit.z != 0.0f);

    Vec delta;
    if (!pushed) {
        // No push: keep the current position bit for bit unless it lies beyond
        // the cap (rest + (current - rest) need not round back to current).
        delta = current - rest;
        if (!(length(delta) > cap)) return current;
    } else {
        delta = (current + unit * amount) - rest;
    }
    const float deltaLength = length(delta);
    if (deltaLength > cap) delta = delta * (cap / deltaLength);
    return rest + delta;
}

}  // namespace dent
