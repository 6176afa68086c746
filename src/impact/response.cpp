#include "impact/response.h"

namespace dent {

Response response(float impulse, float mass, const ImpactConfig& config) {
    const Response none{0.0f, 0.0f, 0.0f};
    if (!std::isfinite(impulse) || !(impulse > 0.0f)) return none;
    if (!std::isfinite(mass) || !(mass > 1.0f)) return none;
    const float impact = impulse / mass;
    if (std::isinf(impact)) return none;
    if (!(impact > config.MinImpact)) return none;
    if (!(config.MinImpact < config.ReferenceImpact)) return none;

    float t = (impact - config.MinImpact) / (config.ReferenceImpact - config.MinImpact);
    t = t < 1.0f ? t : 1.0f;
    if (t < 0.0f) t = 0.0f;
    const float shaped = floatPow(t, config.ImpactExponent);
    const float strength = clampTo(config.Strength * shaped, 0.0f, 1.0f);

    return {impact, config.MaxDentPerHit * strength,
            config.MinRadius + (config.MaxRadius - config.MinRadius) * std::sqrt(strength)};
}

bool Episode::observe(Vec contactPoint, Vec pushDirection, Response r, std::uint32_t nowMs, std::uint32_t gapMs) {
    if (!isFinite(contactPoint) || !isFinite(pushDirection)) return false;
    if (length(pushDirection) < 0.001f) return false;
    if (!std::isfinite(r.depth) || !std::isfinite(r.radius)) return false;
    if (!(r.depth > 0.0f) || !(r.radius > 0.0f)) return false;

    const Vec unit = normalized(pushDirection);
    const bool continues = active && nowMs - lastContactMs <= gapMs &&
                           length(contactPoint - point) <= 0.85f && dot(unit, direction) >= 0.65f;
    lastContactMs = nowMs;

    float priorDepth = 0.0f;
    float priorRadius = 0.0f;
    if (continues) {
        priorDepth = depth;
        priorRadius = radius;
    } else {
        point = contactPoint;
        direction = unit;
        number += 1;
        active = true;
    }
    const bool grew = r.depth > priorDepth + 0.00001f || r.radius > priorRadius + 0.00001f;
    depth = r.depth > priorDepth ? r.depth : priorDepth;
    radius = r.radius > priorRadius ? r.radius : priorRadius;
    return grew;
}

}  // namespace dent
