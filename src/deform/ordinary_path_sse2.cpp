// The ordinary path four vertices at a time (SSE2, which both builds have).
// Every lane performs displaceImpact's float operations in its order, so each
// vertex gets the bits of the plain loops in ordinary_path.cpp.
#include "deform/dent_lanes.h"

#include <emmintrin.h>

#include "deform/ordinary_dent.h"
#include "deform/ordinary_path.h"

#include <cstring>
#include <limits>

namespace dent {

namespace {

struct Lanes {
    __m128 x, y, z;
};

Lanes gather(const Vec* const p[4]) {
    return {_mm_setr_ps(p[0]->x, p[1]->x, p[2]->x, p[3]->x), _mm_setr_ps(p[0]->y, p[1]->y, p[2]->y, p[3]->y),
            _mm_setr_ps(p[0]->z, p[1]->z, p[2]->z, p[3]->z)};
}

// Stores lane l of v into *out[l] for the lanes set; the bytes are copied, so a
// NaN keeps its payload.
void scatter(Lanes v, Vec* const out[4], unsigned lanes) {
    __m128 w = _mm_setzero_ps();
    _MM_TRANSPOSE4_PS(v.x, v.y, v.z, w);
    alignas(16) float rows[4][4];
    _mm_store_ps(rows[0], v.x);
    _mm_store_ps(rows[1], v.y);
    _mm_store_ps(rows[2], v.z);
    _mm_store_ps(rows[3], w);
    for (unsigned l = 0; l < 4; ++l) {
        if (lanes & (1u << l)) std::memcpy(out[l], rows[l], sizeof(Vec));
    }
}

inline __m128 select(__m128 mask, __m128 yes, __m128 no) {
    return _mm_or_ps(_mm_and_ps(mask, yes), _mm_andnot_ps(mask, no));
}

inline Lanes select(__m128 mask, Lanes yes, Lanes no) {
    return {select(mask, yes.x, no.x), select(mask, yes.y, no.y), select(mask, yes.z, no.z)};
}

inline Lanes minus(Lanes a, Lanes b) { return {_mm_sub_ps(a.x, b.x), _mm_sub_ps(a.y, b.y), _mm_sub_ps(a.z, b.z)}; }
inline Lanes plus(Lanes a, Lanes b) { return {_mm_add_ps(a.x, b.x), _mm_add_ps(a.y, b.y), _mm_add_ps(a.z, b.z)}; }
inline Lanes times(Lanes a, __m128 s) { return {_mm_mul_ps(a.x, s), _mm_mul_ps(a.y, s), _mm_mul_ps(a.z, s)}; }
inline Lanes broadcast(Vec v) { return {_mm_set1_ps(v.x), _mm_set1_ps(v.y), _mm_set1_ps(v.z)}; }

// lengthSquared: (x*x + y*y) + z*z.
inline __m128 squared(Lanes a) {
    return _mm_add_ps(_mm_add_ps(_mm_mul_ps(a.x, a.x), _mm_mul_ps(a.y, a.y)), _mm_mul_ps(a.z, a.z));
}

// All ones where x is finite (x - x is 0 only then).
inline __m128 finite(__m128 x) { return _mm_cmpeq_ps(_mm_sub_ps(x, x), _mm_setzero_ps()); }
inline __m128 finite(Lanes a) { return _mm_and_ps(_mm_and_ps(finite(a.x), finite(a.y)), finite(a.z)); }

// The smoothstep of falloffWeight before the power: t = clampTo(1 - d / r, 0, 1),
// t * t * (3 - 2 * t).
inline __m128 smoothstep(__m128 distance, __m128 radius) {
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 t0 = _mm_sub_ps(one, _mm_div_ps(distance, radius));
    // clampTo: lo when t < lo, else (t < hi ? t : hi), which is what minps does.
    const __m128 t = select(_mm_cmplt_ps(t0, _mm_setzero_ps()), _mm_setzero_ps(), _mm_min_ps(t0, one));
    return _mm_mul_ps(_mm_mul_ps(t, t), _mm_sub_ps(_mm_set1_ps(3.0f), _mm_mul_ps(_mm_set1_ps(2.0f), t)));
}

// floatPow of each lane set in `lanes`, 0 elsewhere.
inline __m128 powered(__m128 base, unsigned lanes, float power) {
    alignas(16) float in[4];
    alignas(16) float out[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    _mm_store_ps(in, base);
    for (unsigned l = 0; l < 4; ++l) {
        if (lanes & (1u << l)) out[l] = floatPow(in[l], power);
    }
    return _mm_load_ps(out);
}

}  // namespace

// The bounds leave a relative margin of 2^-11 on the square, far more than the
// rounding of the bound (2^-24) and of the root (half a unit, 2^-24 relative):
// x > above means sqrt(x) > limit * (1 + 2^-12.x), which rounds to no less than
// limit; x < below means sqrt(x) < limit * (1 - 2^-12), which rounds to a float
// below limit. The range keeps limit^2 a normal float.
float squaredAbove(float limit) {
    if (!(limit >= 0x1p-60f && limit <= 0x1p60f)) return std::numeric_limits<float>::infinity();
    const double l = limit;
    return static_cast<float>(l * l * (1.0 + 0x1p-10));
}

float squaredBelow(float limit) {
    if (!(limit >= 0x1p-60f && limit <= 0x1p60f)) return 0.0f;
    const double l = limit;
    return static_cast<float>(l * l * (1.0 - 0x1p-10));
}

bool prepareDent(const DentArguments& a, PreparedDent& p) {
    if (!dentArgumentsValid(a.hit, a.direction, a.depth, a.radius, a.previousDepth, a.previousRadius, a.cap,
                            a.falloffPower))
        return false;

    p.hit = a.hit;
    p.unit = normalized(a.direction);
    p.pushes = p.unit.x != 0.0f || p.unit.y != 0.0f || p.unit.z != 0.0f;
    p.episode = a.previousRadius > 0.0f;
    p.depth = a.depth;
    p.radius = a.radius;
    p.previousDepth = a.previousDepth;
    p.previousRadius = a.previousRadius;
    p.cap = a.cap;
    p.falloffPower = a.falloffPower;
    p.outsideBeyond = squaredAbove(a.radius);
    if (p.episode) {
        const float previous = squaredAbove(a.previousRadius);
        if (previous > p.outsideBeyond) p.outsideBeyond = previous;
    }
    p.capWithin = squaredBelow(a.cap);
    return true;
}

void dentLanes(const Vec* const restAt[4], Vec* const currentAt[4], unsigned lanes, const PreparedDent& p) {
    const Lanes rest = gather(restAt);
    const Lanes current = gather(currentAt);
    const __m128 zero = _mm_setzero_ps();

    const __m128 valid = _mm_and_ps(finite(rest), finite(current));
    const __m128 distanceSquared = squared(minus(rest, broadcast(p.hit)));
    const Lanes kept = minus(current, rest);
    const __m128 keptSquared = squared(kept);

    // Outside both radii nothing pushes; within the cap the point then stays put.
    const __m128 settled =
        _mm_or_ps(_mm_cmpeq_ps(valid, zero),
                  _mm_and_ps(_mm_cmpgt_ps(distanceSquared, _mm_set1_ps(p.outsideBeyond)),
                             _mm_cmplt_ps(keptSquared, _mm_set1_ps(p.capWithin))));
    const unsigned validLanes = static_cast<unsigned>(_mm_movemask_ps(valid)) & lanes;
    if ((static_cast<unsigned>(_mm_movemask_ps(settled)) & lanes) == lanes) return;

    const __m128 distance = _mm_sqrt_ps(distanceSquared);
    const __m128 radius = _mm_set1_ps(p.radius);
    const unsigned inside = static_cast<unsigned>(_mm_movemask_ps(_mm_cmplt_ps(distance, radius))) & validLanes;
    const __m128 weight = inside ? powered(smoothstep(distance, radius), inside, p.falloffPower) : zero;

    __m128 episodeWeight = zero;
    if (p.episode) {
        const __m128 previousRadius = _mm_set1_ps(p.previousRadius);
        const unsigned insidePrevious =
            static_cast<unsigned>(_mm_movemask_ps(_mm_cmplt_ps(distance, previousRadius))) & validLanes;
        if (insidePrevious) episodeWeight = powered(smoothstep(distance, previousRadius), insidePrevious, p.falloffPower);
    }

    // amount = depth * w - previousDepth * w'; not above 0 (NaN too) becomes 0.
    const __m128 rawAmount =
        _mm_sub_ps(_mm_mul_ps(_mm_set1_ps(p.depth), weight), _mm_mul_ps(_mm_set1_ps(p.previousDepth), episodeWeight));
    const __m128 positive = _mm_cmpgt_ps(rawAmount, zero);
    const __m128 amount = _mm_and_ps(positive, rawAmount);
    const __m128 pushed = p.pushes ? positive : zero;

    const Lanes unit = broadcast(p.unit);
    const Lanes pushedDelta = minus(plus(current, Lanes{_mm_mul_ps(unit.x, amount), _mm_mul_ps(unit.y, amount),
                                                        _mm_mul_ps(unit.z, amount)}),
                                    rest);
    Lanes delta = select(pushed, pushedDelta, kept);
    const __m128 deltaLength = _mm_sqrt_ps(squared(delta));
    const __m128 cap = _mm_set1_ps(p.cap);
    const __m128 over = _mm_cmpgt_ps(deltaLength, cap);
    delta = select(over, times(delta, _mm_div_ps(cap, deltaLength)), delta);
    const Lanes moved = plus(rest, delta);

    // An unpushed point within the cap keeps its current position bit for bit.
    const __m128 keep = _mm_or_ps(_mm_cmpeq_ps(valid, zero), _mm_andnot_ps(_mm_or_ps(pushed, over), valid));
    const unsigned write = lanes & ~static_cast<unsigned>(_mm_movemask_ps(keep));
    if (write) scatter(moved, currentAt, write);
}

namespace {

inline bool decidableBySquares(float limit) { return limit >= 0x1p-60f && limit <= 0x1p60f; }

// The four points from `first` on.
inline Lanes gatherFrom(const Vec* first) {
    const Vec* const p[4] = {first, first + 1, first + 2, first + 3};
    return gather(p);
}

}  // namespace

bool reachesAny(const Vec* points, std::size_t count, Vec hit, float radius) {
    if (!decidableBySquares(radius)) return reachesAnyReference(points, count, hit, radius);
    const __m128 inside = _mm_set1_ps(squaredBelow(radius));
    const __m128 outside = _mm_set1_ps(squaredAbove(radius));
    const Lanes centre = broadcast(hit);
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 distanceSquared = squared(minus(gatherFrom(points + i), centre));
        const int clearlyIn = _mm_movemask_ps(_mm_cmplt_ps(distanceSquared, inside));
        if (clearlyIn) return true;
        // Only between the two bounds (and for NaN) does the root decide.
        if (_mm_movemask_ps(_mm_cmpgt_ps(distanceSquared, outside)) != 0xF &&
            _mm_movemask_ps(_mm_cmplt_ps(_mm_sqrt_ps(distanceSquared), _mm_set1_ps(radius))))
            return true;
    }
    return reachesAnyReference(points + i, count - i, hit, radius);
}

void dentMesh(const Vec* rest, Vec* positions, std::size_t count, const DentArguments& dent) {
    PreparedDent prepared;
    if (!prepareDent(dent, prepared)) return;
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const Vec* const r[4] = {rest + i, rest + i + 1, rest + i + 2, rest + i + 3};
        Vec* const c[4] = {positions + i, positions + i + 1, positions + i + 2, positions + i + 3};
        dentLanes(r, c, 0xF, prepared);
    }
    if (i < count) {
        // The missing lanes repeat the first point and are neither powered nor written.
        const Vec* r[4];
        Vec* c[4];
        for (std::size_t l = 0; l < 4; ++l) {
            const std::size_t k = i + l < count ? i + l : i;
            r[l] = rest + k;
            c[l] = positions + k;
        }
        dentLanes(r, c, (1u << (count - i)) - 1u, prepared);
    }
}

float grownBoundingRadius(Vec centre, float radius, const Vec* points, std::size_t count) {
    float grown = std::isnan(radius) ? 0.0f : radius;
    // The rounded root is monotonic, so the largest root is the root of the
    // largest square: one root per mesh. maxps keeps its second operand for a NaN
    // square, as the scalar comparison skips a NaN distance.
    const Lanes middle = broadcast(centre);
    __m128 largest = _mm_set1_ps(-std::numeric_limits<float>::infinity());
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) largest = _mm_max_ps(squared(minus(gatherFrom(points + i), middle)), largest);
    alignas(16) float lanes[4];
    _mm_store_ps(lanes, largest);
    float square = -std::numeric_limits<float>::infinity();
    for (float lane : lanes) {
        if (lane > square) square = lane;
    }
    for (; i < count; ++i) {
        const float tail = lengthSquared(points[i] - centre);
        if (tail > square) square = tail;
    }
    if (square >= 0.0f) {
        const float distance = std::sqrt(square);
        if (distance > grown) grown = distance;
    }
    return grown;
}

}  // namespace dent
