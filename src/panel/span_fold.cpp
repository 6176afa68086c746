#include "panel/span_fold.h"

#include "deform/ordinary_dent.h"

namespace dent {

namespace {

unsigned keptSegments(unsigned segments) {
    const unsigned atLeast = segments >= 3 ? segments : 2;
    return atLeast < 12 ? atLeast : 12;
}

// +1 or -1 by the sign bit, so that -0 counts as negative.
float signOf(float u) { return std::signbit(u) ? -1.0f : 1.0f; }

// max(x, 0) that also turns a NaN into 0.
float positivePart(float x) { return x > 0.0f ? x : 0.0f; }

// Where station i's inset point sits at rest: a quarter width toward the
// middle, or on the middle for stations closer than that.
float insetRestX(const SpanFold& fold, unsigned station) {
    const float x = spanStationX(fold, station);
    const float mid = (fold.minX + fold.maxX) * 0.5f;
    const float fromMid = x - mid;
    const float quarter = 0.25f * (fold.maxX - fold.minX);
    const float distance = std::fabs(fromMid);
    const float pull = quarter < distance ? quarter : distance;
    return x - std::copysign(pull, fromMid);
}

}  // namespace

unsigned spanSegments(const SpanFold& fold) { return keptSegments(fold.segments); }

float spanStationX(const SpanFold& fold, unsigned station) {
    return static_cast<float>(station) * (fold.maxX - fold.minX) / static_cast<float>(spanSegments(fold)) +
           fold.minX;
}

void SpanFold::init(float minX_, float maxX_, float z_, unsigned segments_, const PanelShape& shape) {
    minX = minX_;
    maxX = maxX_;
    z = z_;
    segments = keptSegments(segments_);
    for (float& c : compression) c = 0.0f;

    const float hingeY = shape.sign * shape.start;
    const float edgeY = (shape.start + shape.length) * shape.sign;
    for (unsigned i = 0; i <= segments; ++i) {
        const float x = spanStationX(*this, i);
        hinge[i] = Vec{x, hingeY, z};
        edge[i] = Vec{x, edgeY, z};
        inset[i] = Vec{insetRestX(*this, i), edgeY, z};
    }
}

void SpanFold::observe(const PanelShape& shape, Vec hit, Vec direction, float depth, float radius,
                       float previousDepth, float previousRadius, float cap, float falloffPower, bool track,
                       float strength, float minDepth, float maxCompression, float maxLift, bool progressive) {
    shorteningMax = 0.0f;
    demandMax = 0.0f;
    const float settings[] = {depth, radius, previousDepth, previousRadius, cap, falloffPower,
                              strength, minDepth, maxCompression, maxLift};
    for (float value : settings)
        if (!std::isfinite(value)) return;
    if (!isFinite(hit) || !isFinite(direction) || !isFinite(shape)) return;

    const float softness = minDepth > 0.0f ? minDepth : 0.0f;
    const float hingeY = shape.sign * shape.start;
    const float edgeY = (shape.start + shape.length) * shape.sign;
    const float mid = (minX + maxX) * 0.5f;
    const float corner = progressive ? cornerWeight(shape, hit, direction) : 0.0f;
    const unsigned count = spanSegments(*this);

    for (unsigned i = 0; i <= count; ++i) {
        const float x = spanStationX(*this, i);
        hinge[i] = displaceImpact(Vec{x, hingeY, z}, hinge[i], hit, direction, depth, radius, previousDepth,
                                  previousRadius, cap, falloffPower);
        edge[i] = displaceImpact(Vec{x, edgeY, z}, edge[i], hit, direction, depth, radius, previousDepth,
                                 previousRadius, cap, falloffPower);
        const float insetX = insetRestX(*this, i);
        if (progressive)
            inset[i] = displaceImpact(Vec{insetX, edgeY, z}, inset[i], hit, direction, depth, radius,
                                      previousDepth, previousRadius, cap, falloffPower);
        if (!track) continue;

        // Positive when the span from hinge line to free edge became shorter.
        float shortening = ((hinge[i].y - hingeY) - (edge[i].y - edgeY)) * shape.sign;
        float demand;
        if (!progressive) {
            const float excess = positivePart(shortening) - minDepth;
            demand = positivePart(excess) * strength;
        } else {
            const float u = 2.0f * (x - mid) / (maxX - minX);
            if (u * (hit.x - mid) > 0.0f) {
                const float k = 0.5f * clampTo(2.0f * std::fabs(u) - 1.0f, 0.0f, 1.0f) * corner;
                if (k > 0.0f) {
                    // A corner hit shears the free edge sideways; that counts as shortening too.
                    const float shear = positivePart(signOf(u) * ((inset[i].x - insetX) - (edge[i].x - x))) * k;
                    const double along = positivePart(shortening);
                    const double across = shear;
                    shortening = static_cast<float>(std::sqrt(along * along + across * across));
                }
            }
            demand = 0.0f;
            if (shortening > 0.0f) {
                // Grows with the square of small shortenings instead of starting at a threshold.
                const float cc = shortening;
                demand = cc / (softness + cc) * cc * strength;
            }
        }

        if (shortening > shorteningMax) shorteningMax = shortening;
        if (demand > demandMax) demandMax = demand;

        const float limit = maxCompression * shape.length;
        // A NaN demand stays NaN here, so limitedFold makes no fold of it (never the limit).
        const float wanted = limit < demand ? limit : demand;
        const Fold fold = limitedFold(shape.length, shape.crease, wanted, maxLift);
        if (fold.compression > compression[i]) compression[i] = fold.compression;
    }
}

float SpanFold::at(float x) const {
    const unsigned count = spanSegments(*this);
    const float width = maxX - minX;
    if (0.001f > width) return compression[count / 2];

    const float t = clampTo((x - minX) / width, 0.0f, 1.0f);
    const float p = static_cast<float>(count) * t;
    unsigned k = static_cast<unsigned>(p);
    if (k > count - 1) k = count - 1;
    return (p - static_cast<float>(k)) * (compression[k + 1] - compression[k]) + compression[k];
}

float SpanFold::cornerWeight(const PanelShape& shape, Vec hit, Vec direction) const {
    if (!isFinite(hit) || !isFinite(direction) || !isFinite(shape) || !std::isfinite(minX) ||
        !std::isfinite(maxX))
        return 0.0f;

    const float halfWidth = (maxX - minX) * 0.5f;
    if (0.001f > halfWidth) return 0.0f;
    if (0.05f > shape.length) return 0.0f;
    // The push must point from the free edge back toward the hinge line ...
    if (!(-shape.sign * direction.y > 0.15f)) return 0.0f;
    const float mid = (minX + maxX) * 0.5f;
    const float u = (hit.x - mid) / halfWidth;
    // ... and from the hit's side toward the middle.
    if (!(-signOf(u) * direction.x > 0.2f)) return 0.0f;
    const float v = (shape.sign * hit.y - shape.start) / shape.length;

    const float across = clampTo((std::fabs(u) - 0.55f) / 0.45f, 0.0f, 1.0f);
    const float along = clampTo((v - 0.65f) / 0.35f, 0.0f, 1.0f);
    const float weight = across * along;
    return std::isfinite(weight) ? weight : 0.0f;
}

}  // namespace dent
