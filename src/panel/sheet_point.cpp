#include "panel/sheet_point.h"

#include <algorithm>

namespace dent {

namespace {

constexpr unsigned kProbes = 5;

// Station compressions read back as a uniform cubic B-spline; the end stations
// repeat beyond the ends. Smooth across stations, so it misses the station values.
float splineCompression(const SpanFold& fold, float x) {
    const unsigned count = spanSegments(fold);
    const float width = fold.maxX - fold.minX;
    if (0.001f > width) return fold.compression[count / 2];

    const float t = clampTo((x - fold.minX) / width, 0.0f, 1.0f);
    const float p = static_cast<float>(count) * t;
    unsigned j = static_cast<unsigned>(p);
    if (j > count - 1) j = count - 1;
    const float f = p - static_cast<float>(j);

    const float p0 = fold.compression[j > 0 ? j - 1 : 0];
    const float p1 = fold.compression[j];
    const float p2 = fold.compression[j + 1];
    const float p3 = fold.compression[j + 2 < count ? j + 2 : count];

    // Powers go through double and are rounded once, like every power here.
    const float f2 = floatPow(f, 2.0f);
    const float f3 = floatPow(f, 3.0f);
    const float b0 = floatPow(1.0f - f, 3.0f);
    const float b1 = 3.0f * f3 - 6.0f * f2 + 4.0f;
    const float b2 = -3.0f * f3 + 3.0f * f2 + 3.0f * f + 1.0f;
    return (b0 * p0 + b1 * p1 + b2 * p2 + f3 * p3) / 6.0f;
}

}  // namespace

void SheetPoint::init(Vec p, float z, const PanelShape& shape, int beyondCrease) {
    rest[0] = Vec{p.x, p.y, z};
    rest[1] = Vec{p.x - 0.002f, p.y, z};
    rest[2] = Vec{p.x + 0.002f, p.y, z};

    float low = p.y - 0.002f;
    float high = p.y + 0.002f;
    const float creaseY = (shape.length * shape.crease + shape.start) * shape.sign;
    const bool highSide = (beyondCrease != 0 && shape.sign > 0.0f) || (beyondCrease == 0 && shape.sign <= 0.0f);
    // Keep the lengthwise probes on the point's own side of the crease line.
    if (highSide)
        low = std::max(creaseY, low);
    else
        high = std::min(creaseY, high);

    rest[3] = Vec{p.x, low, z};
    rest[4] = Vec{p.x, high, z};
    stepX = 0.004f;
    stepY = high - low;
    for (unsigned k = 0; k < kProbes; ++k) current[k] = rest[k];
}

Vec sheetPosition(const SheetPoint& point, unsigned probe, const PanelShape& shape, const SpanFold& fold,
                  bool follow, float cap) {
    if (probe >= kProbes) return point.current[0];
    const Vec unchanged = point.current[probe];
    if (!std::isfinite(cap) || !(cap > 0.0f)) return unchanged;

    const Vec q = point.rest[probe];
    const float s = shape.sign * q.y - shape.start;
    const float panelLength = shape.length;
    const float c = splineCompression(fold, q.x);

    float dy = 0.0f;
    float lift = 0.0f;
    float squeeze = 0.0f;
    const bool usable = isFinite(shape) && isFinite(q) && std::isfinite(c) && !(0.05f > panelLength);
    if (usable) {
        squeeze = clampTo(c, 0.0f, 0.45f * panelLength);
        if (squeeze > 0.0f) {
            // Two rigid segments whose ends are brought together to the span.
            const float phi = clampTo(shape.crease, 0.35f, 0.65f);
            const float r1 = phi * panelLength;
            const float r2 = panelLength - r1;
            const float span = panelLength - squeeze;
            const float apex = (span * span + r1 * r1 - r2 * r2) / (2.0f * span);
            const float rise = r1 * r1 - apex * apex;
            const float height = std::sqrt(rise > 0.0f ? rise : 0.0f);

            const float sc = clampTo(s, 0.0f, panelLength);
            float moved;
            if (r1 >= sc) {
                moved = apex * sc / r1;
                lift = height * sc / r1;
            } else {
                const float tau = (sc - r1) / r2;
                moved = apex + (span - apex) * tau;
                lift = height * (1.0f - tau);
            }
            dy = shape.sign * (moved - sc);
        }
    }
    // Following the body, the free edge keeps where the dents put it; the fold
    // only redistributes and lifts the sheet between hinge line and free edge.
    if (usable && follow && panelLength > 0.05f) dy += squeeze * shape.sign * clampTo(s / panelLength, 0.0f, 1.0f);
    if (!std::isfinite(dy) || !std::isfinite(lift)) {
        dy = 0.0f;
        lift = 0.0f;
    }

    const Vec target = unchanged + Vec{0.0f, dy, lift};
    const Vec fromRest = target - q;
    const float distance = length(fromRest);
    const Vec result = distance > cap ? q + fromRest * (cap / distance) : target;
    return isFinite(result) ? result : unchanged;
}

Vec sheetNormal(const SheetPoint& point, const PanelShape& shape, const SpanFold& fold, bool follow, float cap,
                Vec restNormal) {
    if (0.000001f > point.stepX || 0.000001f > point.stepY) return restNormal;

    const Vec p2 = sheetPosition(point, 2, shape, fold, follow, cap);
    const Vec p1 = sheetPosition(point, 1, shape, fold, follow, cap);
    const Vec p4 = sheetPosition(point, 4, shape, fold, follow, cap);
    const Vec p3 = sheetPosition(point, 3, shape, fold, follow, cap);
    const Vec tx = (p2 - p1) * (1.0f / point.stepX);
    const Vec ty = (p4 - p3) * (1.0f / point.stepY);

    // Cofactor of the Jacobian with columns tx, ty and the unit z axis: the sheet
    // has no thickness, so z is carried through unchanged.
    const Vec n = restNormal;
    const Vec r{n.z * (tx.y * ty.z - tx.z * ty.y) + n.x * ty.y - n.y * tx.y,
                n.z * (tx.z * ty.x - tx.x * ty.z) + n.y * tx.x - n.x * ty.x,
                n.z * (tx.x * ty.y - tx.y * ty.x)};
    if (!isFinite(r)) return restNormal;
    const float size = length(r);
    if (!(size > 0.00001f)) return restNormal;
    return r / size;
}

}  // namespace dent
