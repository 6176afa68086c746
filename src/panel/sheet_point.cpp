#include "panel/sheet_point.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

#include "deform/dent_lanes.h"
#include "deform/ordinary_dent.h"

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

// What the two-segment fold makes of a compression c on this panel, before
// any probe's place along it is known.
struct FoldProfile {
    bool usable = false;  // finite shape and c, and a panel no shorter than 0.05
    float squeeze = 0.0f;  // c clamped to [0, 0.45 length]
    float r1 = 0.0f;       // hinge-side segment
    float r2 = 0.0f;       // free-edge segment
    float span = 0.0f;     // distance their ends are brought to
    float apex = 0.0f;     // crease apex along the span
    float height = 0.0f;   // and above the sheet
};

FoldProfile foldProfile(const PanelShape& shape, float c) {
    FoldProfile f;
    const float panelLength = shape.length;
    f.usable = isFinite(shape) && std::isfinite(c) && !(0.05f > panelLength);
    if (!f.usable) return f;
    f.squeeze = clampTo(c, 0.0f, 0.45f * panelLength);
    if (f.squeeze > 0.0f) {
        // Two rigid segments whose ends are brought together to the span.
        const float phi = clampTo(shape.crease, 0.35f, 0.65f);
        f.r1 = phi * panelLength;
        f.r2 = panelLength - f.r1;
        f.span = panelLength - f.squeeze;
        f.apex = (f.span * f.span + f.r1 * f.r1 - f.r2 * f.r2) / (2.0f * f.span);
        const float rise = f.r1 * f.r1 - f.apex * f.apex;
        f.height = std::sqrt(rise > 0.0f ? rise : 0.0f);
    }
    return f;
}

FoldProfile profileAtProbe(const SheetPoint& point, unsigned probe, const PanelShape& shape, const SpanFold& fold) {
    return foldProfile(shape, splineCompression(fold, point.rest[probe].x));
}

// sheetPosition of a probe (0 to 4) with the profile of the compression at its x.
Vec foldedProbe(const SheetPoint& point, unsigned probe, const PanelShape& shape, const FoldProfile& f, bool follow,
                float cap) {
    const Vec unchanged = point.current[probe];
    if (!std::isfinite(cap) || !(cap > 0.0f)) return unchanged;

    const Vec q = point.rest[probe];
    const float s = shape.sign * q.y - shape.start;
    const float panelLength = shape.length;

    float dy = 0.0f;
    float lift = 0.0f;
    const bool usable = f.usable && isFinite(q);
    if (usable && f.squeeze > 0.0f) {
        const float sc = clampTo(s, 0.0f, panelLength);
        float moved;
        if (f.r1 >= sc) {
            moved = f.apex * sc / f.r1;
            lift = f.height * sc / f.r1;
        } else {
            const float tau = (sc - f.r1) / f.r2;
            moved = f.apex + (f.span - f.apex) * tau;
            lift = f.height * (1.0f - tau);
        }
        dy = shape.sign * (moved - sc);
    }
    // Following the body, the free edge keeps where the dents put it; the fold
    // only redistributes and lifts the sheet between hinge line and free edge.
    if (usable && follow && panelLength > 0.05f) dy += f.squeeze * shape.sign * clampTo(s / panelLength, 0.0f, 1.0f);
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

// The central differences of the probe positions.
SheetTangents tangentsOf(const SheetPoint& point, Vec p1, Vec p2, Vec p3, Vec p4) {
    return SheetTangents{(p2 - p1) * (1.0f / point.stepX), (p4 - p3) * (1.0f / point.stepY)};
}

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Tangents that carry every normal through unchanged: NaN makes the carried
// normal non-finite, and a non-finite one falls back to the rest normal.
constexpr SheetTangents kCollapsed{{kNaN, kNaN, kNaN}, {kNaN, kNaN, kNaN}};

bool collapsed(const SheetPoint& point) { return 0.000001f > point.stepX || 0.000001f > point.stepY; }

}  // namespace

// The rest normal through the map whose Jacobian has the columns tx, ty and
// the unit z axis: the sheet has no thickness, so z is carried through unchanged.
Vec carriedNormal(const SheetTangents& tangents, Vec restNormal) {
    const Vec tx = tangents.x;
    const Vec ty = tangents.y;

    // Cofactor of that Jacobian.
    const Vec n = restNormal;
    const Vec r{n.z * (tx.y * ty.z - tx.z * ty.y) + n.x * ty.y - n.y * tx.y,
                n.z * (tx.z * ty.x - tx.x * ty.z) + n.y * tx.x - n.x * ty.x,
                n.z * (tx.x * ty.y - tx.y * ty.x)};
    if (!isFinite(r)) return restNormal;
    const float size = length(r);
    if (!(size > 0.00001f)) return restNormal;
    return r / size;
}

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
    return foldedProbe(point, probe, shape, profileAtProbe(point, probe, shape, fold), follow, cap);
}

Vec sheetNormalReference(const SheetPoint& point, const PanelShape& shape, const SpanFold& fold, bool follow,
                         float cap, Vec restNormal) {
    if (collapsed(point)) return restNormal;

    const Vec p2 = sheetPosition(point, 2, shape, fold, follow, cap);
    const Vec p1 = sheetPosition(point, 1, shape, fold, follow, cap);
    const Vec p4 = sheetPosition(point, 4, shape, fold, follow, cap);
    const Vec p3 = sheetPosition(point, 3, shape, fold, follow, cap);
    return carriedNormal(tangentsOf(point, p1, p2, p3, p4), restNormal);
}

Vec sheetNormal(const SheetPoint& point, const PanelShape& shape, const SpanFold& fold, bool follow, float cap,
                Vec restNormal) {
    Vec n;
    sheetNormals(&point, 1, shape, fold, follow, cap, &restNormal, &n);
    return n;
}

namespace {

// Fold profiles by the bits of the x they were read at. The station profile
// and the fold depend on nothing else during one pass, and a panel's vertices
// (and so their probes) share few distinct x: most lookups find the profile
// already made. Direct mapped; a collision only costs a recomputation.
class ProfileCache {
public:
    ProfileCache(const PanelShape& shape, const SpanFold& fold) : shape_(shape), fold_(fold) {
        std::memset(filled_, 0, sizeof filled_);
    }

    const FoldProfile& at(float x) {
        std::uint32_t bits;
        std::memcpy(&bits, &x, sizeof bits);
        const unsigned slot = (bits * 0x9E3779B1u) >> (32 - kSlotBits);
        if (!filled_[slot] || keys_[slot] != bits) {
            profiles_[slot] = foldProfile(shape_, splineCompression(fold_, x));
            keys_[slot] = bits;
            filled_[slot] = 1;
        }
        return profiles_[slot];
    }

private:
    static constexpr unsigned kSlotBits = 9;
    static constexpr unsigned kSlots = 1u << kSlotBits;
    const PanelShape& shape_;
    const SpanFold& fold_;
    std::uint32_t keys_[kSlots];
    unsigned char filled_[kSlots];
    FoldProfile profiles_[kSlots];
};


// The tangents at every point, each handed to `use` with the point's index.
template <typename Use>
void eachTangents(const SheetPoint* points, std::size_t count, const PanelShape& shape, const SpanFold& fold,
                  bool follow, float cap, Use use) {
    ProfileCache profiles(shape, fold);
    for (std::size_t i = 0; i < count; ++i) {
        const SheetPoint& point = points[i];
        if (collapsed(point)) {
            use(i, kCollapsed);
            continue;
        }
        // Copies: a later lookup may reuse the slot of an earlier one.
        const FoldProfile at1 = profiles.at(point.rest[1].x);
        const FoldProfile at2 = profiles.at(point.rest[2].x);
        const FoldProfile at4 = profiles.at(point.rest[4].x);
        const FoldProfile at3 = profiles.at(point.rest[3].x);
        const Vec p2 = foldedProbe(point, 2, shape, at2, follow, cap);
        const Vec p1 = foldedProbe(point, 1, shape, at1, follow, cap);
        const Vec p4 = foldedProbe(point, 4, shape, at4, follow, cap);
        const Vec p3 = foldedProbe(point, 3, shape, at3, follow, cap);
        use(i, tangentsOf(point, p1, p2, p3, p4));
    }
}

}  // namespace

void sheetNormals(const SheetPoint* points, std::size_t count, const PanelShape& shape, const SpanFold& fold,
                  bool follow, float cap, const Vec* restNormals, Vec* normals) {
    eachTangents(points, count, shape, fold, follow, cap, [&](std::size_t i, const SheetTangents& tangents) {
        normals[i] = carriedNormal(tangents, restNormals[i]);
    });
}

void sheetTangents(const SheetPoint* points, std::size_t count, const PanelShape& shape, const SpanFold& fold,
                   bool follow, float cap, SheetTangents* tangents) {
    eachTangents(points, count, shape, fold, follow, cap,
                 [tangents](std::size_t i, const SheetTangents& at) { tangents[i] = at; });
}

void sharedSheetNormals(const SheetTangents* tangents, const std::uint32_t* sheetOf, std::size_t count,
                        const Vec* restNormals, Vec* normals) {
    for (std::size_t i = 0; i < count; ++i) normals[i] = carriedNormal(tangents[sheetOf[i]], restNormals[i]);
}

void dentSheetProbesReference(SheetPoint* points, std::size_t count, const DentArguments& dent) {
    for (std::size_t i = 0; i < count; ++i) {
        for (unsigned k = 0; k < kProbes; ++k) points[i].current[k] = dentVertex(points[i].rest[k], points[i].current[k], dent);
    }
}

void dentSheetProbes(SheetPoint* points, std::size_t count, const DentArguments& dent) {
    PreparedDent prepared;
    if (!prepareDent(dent, prepared)) return;
    // Four points at a time: probes 0 to 3 of each lie side by side, the four
    // probes 4 are gathered. What the hit cannot move is settled there; the
    // rest is queued and dented four at a time.
    DentQueue queue(prepared);
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        SheetPoint* four = points + i;
        for (unsigned j = 0; j < 4; ++j) {
            queue.pushLanes(four[j].rest, four[j].current, unsettledFour(four[j].rest, four[j].current, prepared));
        }
        const Vec* const rest[4] = {&four[0].rest[4], &four[1].rest[4], &four[2].rest[4], &four[3].rest[4]};
        const Vec* const current[4] = {&four[0].current[4], &four[1].current[4], &four[2].current[4],
                                       &four[3].current[4]};
        const unsigned lanes = unsettledGathered(rest, current, prepared);
        for (unsigned l = 0; l < 4; ++l) {
            if (lanes & (1u << l)) queue.push(&four[l].rest[4], &four[l].current[4]);
        }
    }
    for (; i < count; ++i) {
        for (unsigned k = 0; k < kProbes; ++k) queue.push(&points[i].rest[k], &points[i].current[k]);
    }
    queue.finish();
}

}  // namespace dent
