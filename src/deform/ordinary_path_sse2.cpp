// The ordinary path four vertices at a time (SSE2, which both builds have).
// Every lane performs displaceImpact's float operations in its order, so each
// vertex gets the bits of the plain loops in ordinary_path.cpp.
#include "deform/dent_lanes.h"

#include <emmintrin.h>

#include <cstring>
#include <limits>

#include "deform/ordinary_dent.h"
#include "deform/ordinary_path.h"
#include "foundation/power.h"

namespace dent {

static_assert(sizeof(Vec) == 12, "points are read and written as packed floats");

namespace {

struct Lanes {
    __m128 x, y, z;
};

Lanes gather(const Vec* const* p) {
    return {_mm_setr_ps(p[0]->x, p[1]->x, p[2]->x, p[3]->x), _mm_setr_ps(p[0]->y, p[1]->y, p[2]->y, p[3]->y),
            _mm_setr_ps(p[0]->z, p[1]->z, p[2]->z, p[3]->z)};
}

// Four consecutive points: three loads of 48 bytes' worth and a transpose.
Lanes loadFour(const Vec* p) {
    const float* f = &p->x;
    const __m128 a = _mm_loadu_ps(f);      // x0 y0 z0 x1
    const __m128 b = _mm_loadu_ps(f + 4);  // y1 z1 x2 y2
    const __m128 c = _mm_loadu_ps(f + 8);  // z2 x3 y3 z3
    const __m128 x23 = _mm_shuffle_ps(b, c, _MM_SHUFFLE(1, 1, 2, 2));
    const __m128 x = _mm_shuffle_ps(a, x23, _MM_SHUFFLE(2, 0, 3, 0));
    const __m128 y01 = _mm_shuffle_ps(a, b, _MM_SHUFFLE(0, 0, 1, 1));
    const __m128 y23 = _mm_shuffle_ps(b, c, _MM_SHUFFLE(2, 2, 3, 3));
    const __m128 y = _mm_shuffle_ps(y01, y23, _MM_SHUFFLE(2, 0, 2, 0));
    const __m128 z01 = _mm_shuffle_ps(a, b, _MM_SHUFFLE(1, 1, 2, 2));
    const __m128 z23 = _mm_shuffle_ps(c, c, _MM_SHUFFLE(3, 3, 0, 0));
    const __m128 z = _mm_shuffle_ps(z01, z23, _MM_SHUFFLE(2, 0, 2, 0));
    return {x, y, z};
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

}  // namespace

// The bounds leave a relative margin of 2^-11 on the square, far more than the
// rounding of the bound (2^-24) and of the root (half a unit, 2^-24 relative):
// x > above means sqrt(x) > limit * (1 + 2^-12.x), which rounds to no less than
// limit; x < below means sqrt(x) < limit * (1 - 2^-12), which rounds to a float
// below limit. The range keeps limit^2 a normal float.
namespace {

inline bool decidableBySquares(float limit) { return limit >= 0x1p-60f && limit <= 0x1p60f; }

}  // namespace

float squaredAbove(float limit) {
    if (!decidableBySquares(limit)) return std::numeric_limits<float>::infinity();
    const double l = limit;
    return static_cast<float>(l * l * (1.0 + 0x1p-10));
}

float squaredBelow(float limit) {
    if (!decidableBySquares(limit)) return 0.0f;
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

namespace {

// Outside both radii nothing pushes (the amount is +0); within the cap the
// point then keeps its current position. Invalid points keep it too.
unsigned unsettled(Lanes rest, Lanes current, const PreparedDent& p) {
    const __m128 valid = _mm_and_ps(finite(rest), finite(current));
    const __m128 outside = _mm_cmpgt_ps(squared(minus(rest, broadcast(p.hit))), _mm_set1_ps(p.outsideBeyond));
    const __m128 within = _mm_cmplt_ps(squared(minus(current, rest)), _mm_set1_ps(p.capWithin));
    return static_cast<unsigned>(_mm_movemask_ps(_mm_andnot_ps(_mm_and_ps(outside, within), valid)));
}

}  // namespace

unsigned unsettledFour(const Vec* rest, const Vec* current, const PreparedDent& p) {
    return unsettled(loadFour(rest), loadFour(current), p);
}

unsigned unsettledGathered(const Vec* const rest[4], const Vec* const current[4], const PreparedDent& p) {
    return unsettled(gather(rest), gather(current), p);
}

namespace {

// weight[listed[k]] = floatPow(base[listed[k]], exponent) for each of the
// `count` listed lanes: four at a time through floatPow4, which gives the same
// bits, and the last few one by one.
void raiseListed(const float* base, const unsigned* listed, unsigned count, float exponent, float* weight) {
    const __m128 power = _mm_set1_ps(exponent);
    unsigned k = 0;
    for (; k + 4 <= count; k += 4) {
        alignas(16) float four[4] = {base[listed[k]], base[listed[k + 1]], base[listed[k + 2]], base[listed[k + 3]]};
        _mm_store_ps(four, floatPow4(_mm_load_ps(four), power));
        for (unsigned l = 0; l < 4; ++l) weight[listed[k + l]] = four[l];
    }
    for (; k < count; ++k) weight[listed[k]] = floatPow(base[listed[k]], exponent);
}

// The third pass: the push and the cap of each block's valid lanes, from
// their weights; the points that move are written to `out`.
void pushBlocks(const PreparedDent& p, unsigned blocks, const Lanes* rest, const Lanes* current, const unsigned* valid,
                const float* weight, const float* weightPrevious, Vec* const* out) {
    const __m128 zero = _mm_setzero_ps();
    const __m128 depth = _mm_set1_ps(p.depth);
    const __m128 previousDepth = _mm_set1_ps(p.previousDepth);
    const __m128 cap = _mm_set1_ps(p.cap);
    const Lanes unit = broadcast(p.unit);
    for (unsigned b = 0; b < blocks; ++b) {
        if (!valid[b]) continue;
        // amount = depth * w - previousDepth * w'; not above 0 (NaN too) becomes 0.
        const __m128 rawAmount = _mm_sub_ps(_mm_mul_ps(depth, _mm_load_ps(weight + 4 * b)),
                                            _mm_mul_ps(previousDepth, _mm_load_ps(weightPrevious + 4 * b)));
        const __m128 positive = _mm_cmpgt_ps(rawAmount, zero);
        const __m128 amount = _mm_and_ps(positive, rawAmount);
        const __m128 pushed = p.pushes ? positive : zero;

        const Lanes pushedDelta = minus(plus(current[b], times(unit, amount)), rest[b]);
        Lanes delta = select(pushed, pushedDelta, minus(current[b], rest[b]));
        const __m128 deltaLength = _mm_sqrt_ps(squared(delta));
        const __m128 over = _mm_cmpgt_ps(deltaLength, cap);
        if (_mm_movemask_ps(over)) delta = select(over, times(delta, _mm_div_ps(cap, deltaLength)), delta);

        // An unpushed point within the cap keeps its current position bit for bit.
        const unsigned moved = static_cast<unsigned>(_mm_movemask_ps(_mm_or_ps(pushed, over))) & valid[b];
        if (moved) scatter(plus(rest[b], delta), out + 4 * b, moved);
    }
}

}  // namespace

// The queue dents its points in three passes over up to kBlocks blocks of four,
// so that the long chain of one block (root, division, power, root, division)
// overlaps with the others' instead of being waited out block by block:
// distances and smoothsteps, then the powers four lanes at a time, then the push and
// the cap.
void DentQueue::flush() {
    const PreparedDent& p = prepared_;
    const unsigned count = filled_;
    filled_ = 0;
    const unsigned blocks = (count + 3) / 4;
    for (unsigned i = count; i < blocks * 4; ++i) {
        rest_[i] = rest_[0];
        current_[i] = current_[0];
    }

    Lanes rest[kBlocks], current[kBlocks];
    unsigned valid[kBlocks];
    alignas(16) float base[4 * kBlocks], basePrevious[4 * kBlocks];
    alignas(16) float weight[4 * kBlocks] = {}, weightPrevious[4 * kBlocks] = {};
    // The lanes within each radius, listed without a branch per lane.
    unsigned powered[4 * kBlocks], poweredPrevious[4 * kBlocks];
    unsigned powers = 0, powersPrevious = 0;
    const __m128 radius = _mm_set1_ps(p.radius);
    const __m128 previousRadius = _mm_set1_ps(p.previousRadius);

    for (unsigned b = 0; b < blocks; ++b) {
        const unsigned lanes = count - 4 * b >= 4 ? 0xFu : (1u << (count - 4 * b)) - 1u;
        rest[b] = gather(rest_ + 4 * b);
        current[b] = gather(current_ + 4 * b);
        valid[b] = static_cast<unsigned>(_mm_movemask_ps(_mm_and_ps(finite(rest[b]), finite(current[b])))) & lanes;
        const __m128 distance = _mm_sqrt_ps(squared(minus(rest[b], broadcast(p.hit))));
        const unsigned inside = static_cast<unsigned>(_mm_movemask_ps(_mm_cmplt_ps(distance, radius))) & valid[b];
        _mm_store_ps(base + 4 * b, smoothstep(distance, radius));
        for (unsigned l = 0; l < 4; ++l) {
            powered[powers] = 4 * b + l;
            powers += (inside >> l) & 1u;
        }
        if (p.episode) {
            const unsigned insidePrevious =
                static_cast<unsigned>(_mm_movemask_ps(_mm_cmplt_ps(distance, previousRadius))) & valid[b];
            _mm_store_ps(basePrevious + 4 * b, smoothstep(distance, previousRadius));
            for (unsigned l = 0; l < 4; ++l) {
                poweredPrevious[powersPrevious] = 4 * b + l;
                powersPrevious += (insidePrevious >> l) & 1u;
            }
        }
    }

    // falloffWeight's power, only where the point lies within the radius; 0 elsewhere.
    raiseListed(base, powered, powers, p.falloffPower, weight);
    raiseListed(basePrevious, poweredPrevious, powersPrevious, p.falloffPower, weightPrevious);

    pushBlocks(p, blocks, rest, current, valid, weight, weightPrevious, current_);
}

bool reachesAny(const Vec* points, std::size_t count, Vec hit, float radius) {
    if (!decidableBySquares(radius)) return reachesAnyReference(points, count, hit, radius);
    const __m128 inside = _mm_set1_ps(squaredBelow(radius));
    const __m128 outside = _mm_set1_ps(squaredAbove(radius));
    const Lanes centre = broadcast(hit);
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 distanceSquared = squared(minus(loadFour(points + i), centre));
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
    // Settle what the hit cannot move four at a time; queue the rest.
    DentQueue queue(prepared);
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        queue.pushLanes(rest + i, positions + i, unsettledFour(rest + i, positions + i, prepared));
    }
    for (; i < count; ++i) queue.push(rest + i, positions + i);
    queue.finish();
}

float grownBoundingRadius(Vec centre, float radius, const Vec* points, std::size_t count) {
    float grown = std::isnan(radius) ? 0.0f : radius;
    // The rounded root is monotonic, so the largest root is the root of the
    // largest square: one root per mesh. maxps keeps its second operand for a NaN
    // square, as the scalar comparison skips a NaN distance.
    const Lanes middle = broadcast(centre);
    __m128 largest = _mm_set1_ps(-std::numeric_limits<float>::infinity());
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) largest = _mm_max_ps(squared(minus(loadFour(points + i), middle)), largest);
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
