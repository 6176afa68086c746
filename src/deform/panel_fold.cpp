#include "deform/panel_fold.h"

#include "deform/ordinary_dent.h"

namespace dent {

namespace {

bool isFold(const Fold& f) {
    return f.compression > 0.0f && f.length > 0.0f && std::isfinite(f.length) && std::isfinite(f.crease) &&
           std::isfinite(f.compression) && std::isfinite(f.toCrease) && std::isfinite(f.fromCrease) &&
           std::isfinite(f.lift);
}

}  // namespace

Fold foldFor(float length, float crease, float compression) {
    if (!std::isfinite(crease) || !std::isfinite(length) || !std::isfinite(compression) || !(length >= 0.05f))
        return Fold{};
    const float creaseFraction = clampTo(crease, 0.35f, 0.65f);
    const float squeeze = clampTo(compression, 0.0f, 0.45f * length);

    const float hingeSide = length * creaseFraction;
    const float edgeSide = length - hingeSide;
    const float chord = length - squeeze;

    // Law of cosines: the foot of the crease point on the chord, then its height.
    const float toCrease = (chord * chord + hingeSide * hingeSide - edgeSide * edgeSide) / (chord + chord);
    const float rise = hingeSide * hingeSide - toCrease * toCrease;
    const float lift = std::sqrt(rise > 0.0f ? rise : 0.0f);

    // Squares overflow for lengths near the float range; such a panel has no fold.
    if (!std::isfinite(toCrease) || !std::isfinite(lift)) return Fold{};
    return Fold{length, creaseFraction, squeeze, toCrease, chord - toCrease, lift};
}

Fold limitedFold(float length, float crease, float compression, float maxLift) {
    // The bisection below would turn invalid input into a compression-0 fold.
    if (!std::isfinite(maxLift)) return Fold{};
    const Fold full = foldFor(length, crease, compression);
    if (!(full.length > 0.0f)) return Fold{};
    if (maxLift >= full.lift) return full;

    float lo = 0.0f;
    float hi = compression;
    for (int step = 0; step < 24; ++step) {
        const float mid = (lo + hi) * 0.5f;
        if (foldFor(length, crease, mid).lift > maxLift)
            hi = mid;
        else
            lo = mid;
    }
    return foldFor(length, crease, lo);
}

Vec foldOffset(Vec p, const PanelShape& shape, const Fold& fold) {
    const Vec none{0.0f, 0.0f, 0.0f};
    if (!isFold(fold) || !isFinite(p) || !isFinite(shape)) return none;

    const float s = clampTo(panelLengthwise(p, shape), 0.0f, fold.length);
    const float creaseAt = fold.crease * fold.length;
    float along;
    float height;
    if (creaseAt >= s) {
        const float t = s / creaseAt;
        along = fold.toCrease * t;
        height = fold.lift * t;
    } else {
        const float t = (s - creaseAt) / (fold.length - creaseAt);
        along = fold.fromCrease * t + fold.toCrease;
        height = fold.lift * (1.0f - t);
    }
    const Vec offset{0.0f, shape.sign * (along - s), height};
    // A hand-made fold with its crease on the hinge line divides 0 by 0.
    return isFinite(offset) ? offset : none;
}

Vec foldNormal(Vec restNormal, const Fold& fold, float sign, int side) {
    if (!isFold(fold) || !isFinite(restNormal) || !std::isfinite(sign)) return restNormal;

    const bool beyond = side != 0;
    const float segment = fold.length * (beyond ? 1.0f - fold.crease : fold.crease);
    float cosine = (beyond ? fold.fromCrease : fold.toCrease) / segment;
    if (!(cosine >= 0.005f)) cosine = 0.005f;
    const float sine = (beyond ? -fold.lift : fold.lift) / segment;

    // Inverse transpose of the segment's shear in the (s, z) plane.
    const float y = ((restNormal.y * sign - sine * restNormal.z) / cosine) * sign;
    const Vec tilted = normalized(Vec{restNormal.x, y, restNormal.z});
    return isFinite(tilted) ? tilted : restNormal;
}

Vec panelBodyStep(Vec rest, const PanelShape& shape, Vec hit, Vec direction, float depth, float radius,
                  float previousDepth, float previousRadius, float cap, float falloffPower) {
    const Vec none{0.0f, 0.0f, 0.0f};
    if (!isFinite(rest) || !isFinite(shape)) return none;

    const Vec own = displaceImpact(rest, rest, hit, direction, depth, radius, previousDepth, previousRadius, cap,
                                   falloffPower);
    const float hingeY = shape.sign * shape.start;
    const Vec onHinge{rest.x, hingeY, rest.z};
    const Vec hinge = displaceImpact(onHinge, onHinge, hit, direction, depth, radius, previousDepth,
                                     previousRadius, cap, falloffPower);
    const Vec step{own.x - rest.x, hinge.y - hingeY, own.z - rest.z};
    return isFinite(step) ? step : none;
}

float variedCrease(std::uint32_t seed, std::uint32_t kind, float crease, float randomness) {
    std::uint32_t h = (kind * 0x9E3779B9u) ^ seed;
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    const float r = static_cast<float>(h & 0xFFFFFFu) / 16777215.0f;

    // A non-finite crease or randomness still ends inside the range through the clamp.
    const float varied = (2.0f * r - 1.0f) * randomness + crease;
    return clampTo(varied, 0.35f, 0.65f);
}

}  // namespace dent
