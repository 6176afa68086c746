// Powers of float inputs: the C runtime's double pow of the converted inputs,
// rounded to float, computed with SSE2 double arithmetic instead of the x87.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>  // SSE2; with it, floatPow4 below
#endif

namespace dent {

// (float)pow((double)base, (double)exponent) of the C runtime, called with the
// x87 at 64-bit precision (the 32-bit runtime computes pow on the x87).
float referencePow(float base, float exponent);

namespace power_detail {

// Top 7 mantissa bits i of m in [1, 2): the inverse of the step's centre in 24
// bits (m * inverse is exact in double) and -log2(inverse).
struct LogStep {
    double inverse;
    double minusLog2;
};
extern const LogStep logSteps[128];
// 2^(j/128).
extern const double exp2Steps[128];

// Results within this many double units (of 2^29 per float unit) of the midpoint
// between two floats are left to the reference: at least 2^-37 relative, while
// the error of fastPowDouble stays below 2^-44 and the C runtime's within a
// few double units.
constexpr std::uint32_t kMidpointMargin = 1u << 16;
// Bits of 64.0f. The product exponent * log2(m) errs by up to |exponent| * 2^-52,
// so exponents of magnitude 64 and more (and non-finite ones) go to the reference.
constexpr std::uint32_t kExponentLimitBits = 0x42800000u;

inline std::uint32_t floatBits(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

inline float floatFromBits(std::uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

#if defined(__SSE2__)
// True when rounding `value` to float gives the float nearest the exact power it
// approximates: a normal float result not too close to a rounding midpoint.
inline bool roundsLikeExact(double value) {
    const __m128i bits = _mm_castpd_si128(_mm_set_sd(value));
    const std::uint32_t low = static_cast<std::uint32_t>(_mm_cvtsi128_si32(bits));
    const std::uint32_t high = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_epi64(bits, 32)));
    // Biased double exponent of 2^-126 ... 2^126.
    const std::uint32_t exponent = (high >> 20) & 0x7ffu;
    if (exponent - (1023u - 126u) > 252u) return false;
    const std::uint32_t belowFloat = low & 0x1fffffffu;
    return belowFloat - (0x10000000u - kMidpointMargin) > 2u * kMidpointMargin;
}

// base^exponent in double for a positive normal base and |exponent| < 64, as
// 2^(exponent * log2(base)); relative error below 2^-44 when the result is a
// normal float; 0 when exponent * log2(base) lies outside (-130, 130).
inline double fastPowDouble(std::uint32_t baseBits, float exponent) {
    // log2(base) = e + log2(m) = e - log2(inverse) + log2(1 + r), r = m * inverse - 1 exactly.
    const int e = static_cast<int>(baseBits >> 23) - 127;
    const LogStep& step = logSteps[(baseBits >> 16) & 127u];
    const double m = floatFromBits((baseBits & 0x007fffffu) | 0x3f800000u);
    const double r = m * step.inverse - 1.0;  // |r| < 2^-8 + 2^-23
    // log2(1 + r) to degree 6: truncation below 2^-58.
    const double log2OfOnePlusR =
        r * (0x1.71547652b82fep+0 +
             r * (-0x1.71547652b82fep-1 +
                  r * (0x1.ec709dc3a03fdp-2 +
                       r * (-0x1.71547652b82fep-2 + r * (0x1.2776c50ef9bfep-2 + r * -0x1.ec709dc3a03fdp-3)))));
    const double y = exponent;
    // y * e is exact; the sum errs by at most half a unit of |t| < 130.
    const double t = y * static_cast<double>(e) + y * (step.minusLog2 + log2OfOnePlusR);
    if (!(t > -130.0 && t < 130.0)) return 0.0;

    // 2^t = 2^(k / 128) * 2^f with k = nearest(128 t), |f| <= 1/256; both steps exact.
    const double shifted = t * 128.0 + 0x1.8p52;
    const int k = _mm_cvtsi128_si32(_mm_castpd_si128(_mm_set_sd(shifted)));
    const double f = (t * 128.0 - (shifted - 0x1.8p52)) * (1.0 / 128.0);
    // 2^f to degree 5: truncation below 2^-60.
    const double twoToF =
        1.0 + f * (0x1.62e42fefa39efp-1 +
                   f * (0x1.ebfbdff82c58fp-3 +
                        f * (0x1.c6b08d704a0c0p-5 + f * (0x1.3b2ab6fba4e77p-7 + f * 0x1.5d87fe78a6731p-10))));
    // 2^(k / 128) = 2^(k >> 7) * exp2Steps[k & 127], the power of two added to the exponent field.
    const __m128i step2 = _mm_castpd_si128(_mm_load_sd(&exp2Steps[k & 127]));
    const __m128i whole = _mm_slli_epi64(_mm_cvtsi32_si128(k >> 7), 52);
    const double scale = _mm_cvtsd_f64(_mm_castsi128_pd(_mm_add_epi64(step2, whole)));
    return scale * twoToF;
}
#endif

}  // namespace power_detail

// The power without the x87 where the result is certain to be referencePow's:
// true with `result` set, false for the inputs the reference has to decide:
// non-finite bases; unless the exponent is 1, 2 or 3, bases that are not
// positive normal floats and exponents of magnitude 64 or more (or not finite);
// results outside the normal float range or too close to a rounding midpoint.
inline bool tryFastPow(float base, float exponent, float& result) {
#if defined(__SSE2__)
    using namespace power_detail;
    const std::uint32_t baseBits = floatBits(base);
    if ((baseBits & 0x7fffffffu) >= 0x7f800000u) return false;
    const double x = base;
    if (exponent == 2.0f) {
        // Exact in double (48 bits), so rounded once like the runtime's exact answer.
        result = static_cast<float>(x * x);
        return true;
    }
    if (exponent == 1.0f) {
        result = base;
        return true;
    }
    double power;
    if (exponent == 3.0f) {
        power = x * x * x;  // one rounding: error below 2^-53
        if (power == 0.0) {
            result = static_cast<float>(power);  // a zero base keeps its sign
            return true;
        }
    } else {
        if (baseBits - 0x00800000u >= 0x7f000000u) return false;
        if ((floatBits(exponent) & 0x7fffffffu) >= kExponentLimitBits) return false;
        power = fastPowDouble(baseBits, exponent);
    }
    if (!roundsLikeExact(power)) return false;
    result = static_cast<float>(power);
    return true;
#else
    (void)base;
    (void)exponent;
    (void)result;
    return false;
#endif
}

// Exactly referencePow(base, exponent) for every input, NaN and infinities
// included; the x87 is touched only when the reference has to decide.
inline float floatPow(float base, float exponent) {
    float result;
    if (tryFastPow(base, exponent, result)) return result;
    return referencePow(base, exponent);
}

#if defined(__SSE2__)
namespace power_detail {

// Two lanes of fastPowDouble (same operations in the same order, so the same
// bits) for m, e, y as doubles and the table rows of each lane.
inline __m128d fastPowPair(__m128d m, __m128d e, __m128d y, const LogStep& step0, const LogStep& step1,
                           __m128d& inRange) {
    const __m128d inverse = _mm_set_pd(step1.inverse, step0.inverse);
    const __m128d minusLog2 = _mm_set_pd(step1.minusLog2, step0.minusLog2);
    const __m128d r = _mm_sub_pd(_mm_mul_pd(m, inverse), _mm_set1_pd(1.0));
    __m128d p = _mm_mul_pd(r, _mm_set1_pd(-0x1.ec709dc3a03fdp-3));
    p = _mm_mul_pd(r, _mm_add_pd(_mm_set1_pd(0x1.2776c50ef9bfep-2), p));
    p = _mm_mul_pd(r, _mm_add_pd(_mm_set1_pd(-0x1.71547652b82fep-2), p));
    p = _mm_mul_pd(r, _mm_add_pd(_mm_set1_pd(0x1.ec709dc3a03fdp-2), p));
    p = _mm_mul_pd(r, _mm_add_pd(_mm_set1_pd(-0x1.71547652b82fep-1), p));
    p = _mm_mul_pd(r, _mm_add_pd(_mm_set1_pd(0x1.71547652b82fep+0), p));
    const __m128d t = _mm_add_pd(_mm_mul_pd(y, e), _mm_mul_pd(y, _mm_add_pd(minusLog2, p)));
    inRange = _mm_and_pd(_mm_cmpgt_pd(t, _mm_set1_pd(-130.0)), _mm_cmplt_pd(t, _mm_set1_pd(130.0)));
    // Out-of-range lanes are left to the scalar path; keep their arithmetic harmless.
    const __m128d t128 = _mm_mul_pd(_mm_and_pd(t, inRange), _mm_set1_pd(128.0));
    const __m128d shifted = _mm_add_pd(t128, _mm_set1_pd(0x1.8p52));
    const __m128d f = _mm_mul_pd(_mm_sub_pd(t128, _mm_sub_pd(shifted, _mm_set1_pd(0x1.8p52))), _mm_set1_pd(1.0 / 128.0));
    __m128d q = _mm_mul_pd(f, _mm_set1_pd(0x1.5d87fe78a6731p-10));
    q = _mm_mul_pd(f, _mm_add_pd(_mm_set1_pd(0x1.3b2ab6fba4e77p-7), q));
    q = _mm_mul_pd(f, _mm_add_pd(_mm_set1_pd(0x1.c6b08d704a0c0p-5), q));
    q = _mm_mul_pd(f, _mm_add_pd(_mm_set1_pd(0x1.ebfbdff82c58fp-3), q));
    q = _mm_mul_pd(f, _mm_add_pd(_mm_set1_pd(0x1.62e42fefa39efp-1), q));
    q = _mm_add_pd(_mm_set1_pd(1.0), q);
    const __m128i k = _mm_castpd_si128(shifted);  // k in the low word of each lane
    const int k0 = _mm_cvtsi128_si32(k), k1 = _mm_cvtsi128_si32(_mm_srli_si128(k, 8));
    const __m128i steps = _mm_castpd_si128(_mm_set_pd(exp2Steps[k1 & 127], exp2Steps[k0 & 127]));
    const __m128i whole = _mm_slli_epi64(_mm_srai_epi32(k, 7), 52);
    return _mm_mul_pd(_mm_castsi128_pd(_mm_add_epi64(steps, whole)), q);
}

// roundsLikeExact for two lanes: all ones where it holds.
inline __m128i roundsLikeExactPair(__m128d value) {
    const __m128i bits = _mm_castpd_si128(value);
    const __m128i high = _mm_shuffle_epi32(bits, _MM_SHUFFLE(3, 3, 1, 1));
    const __m128i low = _mm_shuffle_epi32(bits, _MM_SHUFFLE(2, 2, 0, 0));
    const __m128i sign = _mm_set1_epi32(static_cast<int>(0x80000000u));
    // Unsigned a > b as signed (a ^ sign) > (b ^ sign).
    const __m128i exponent =
        _mm_sub_epi32(_mm_and_si128(_mm_srli_epi32(high, 20), _mm_set1_epi32(0x7ff)), _mm_set1_epi32(1023 - 126));
    const __m128i exponentOut = _mm_cmpgt_epi32(_mm_xor_si128(exponent, sign), _mm_xor_si128(_mm_set1_epi32(252), sign));
    const __m128i distance =
        _mm_sub_epi32(_mm_and_si128(low, _mm_set1_epi32(0x1fffffff)), _mm_set1_epi32(0x10000000 - static_cast<int>(kMidpointMargin)));
    const __m128i clear = _mm_cmpgt_epi32(_mm_xor_si128(distance, sign),
                                          _mm_xor_si128(_mm_set1_epi32(static_cast<int>(2u * kMidpointMargin)), sign));
    return _mm_andnot_si128(exponentOut, clear);
}

}  // namespace power_detail

// Four floatPow at once: lane i is floatPow(base[i], exponent[i]), bit for bit.
// Lanes the SSE2 arithmetic cannot decide take the scalar floatPow.
inline __m128 floatPow4(__m128 base, __m128 exponent) {
    using namespace power_detail;
    const __m128i baseBits = _mm_castps_si128(base);
    const __m128i sign = _mm_set1_epi32(static_cast<int>(0x80000000u));
    // Positive normal finite bases: bits - 0x00800000 below 0x7f000000 (unsigned).
    const __m128i normal = _mm_cmplt_epi32(_mm_xor_si128(_mm_sub_epi32(baseBits, _mm_set1_epi32(0x00800000)), sign),
                                           _mm_xor_si128(_mm_set1_epi32(0x7f000000), sign));
    const __m128i boundedExponent = _mm_cmplt_epi32(_mm_and_si128(_mm_castps_si128(exponent), _mm_set1_epi32(0x7fffffff)),
                                                    _mm_set1_epi32(static_cast<int>(kExponentLimitBits)));
    const __m128i eligible = _mm_and_si128(normal, boundedExponent);
    // Ineligible lanes compute on base 1 and exponent 0 and are replaced below.
    const __m128i usable = _mm_or_si128(_mm_and_si128(eligible, baseBits), _mm_andnot_si128(eligible, _mm_set1_epi32(0x3f800000)));
    const __m128 y = _mm_and_ps(exponent, _mm_castsi128_ps(eligible));
    const __m128i e = _mm_sub_epi32(_mm_srli_epi32(usable, 23), _mm_set1_epi32(127));
    const __m128 m = _mm_castsi128_ps(_mm_or_si128(_mm_and_si128(usable, _mm_set1_epi32(0x007fffff)), _mm_set1_epi32(0x3f800000)));
    alignas(16) std::uint32_t index[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(index), _mm_and_si128(_mm_srli_epi32(usable, 16), _mm_set1_epi32(127)));

    __m128d inRangeLow, inRangeHigh;
    const __m128d low = fastPowPair(_mm_cvtps_pd(m), _mm_cvtepi32_pd(e), _mm_cvtps_pd(y), logSteps[index[0]],
                                    logSteps[index[1]], inRangeLow);
    const __m128d high = fastPowPair(_mm_cvtps_pd(_mm_movehl_ps(m, m)), _mm_cvtepi32_pd(_mm_srli_si128(e, 8)),
                                     _mm_cvtps_pd(_mm_movehl_ps(y, y)), logSteps[index[2]], logSteps[index[3]],
                                     inRangeHigh);
    const __m128i decidedLow = _mm_and_si128(roundsLikeExactPair(low), _mm_castpd_si128(inRangeLow));
    const __m128i decidedHigh = _mm_and_si128(roundsLikeExactPair(high), _mm_castpd_si128(inRangeHigh));
    // One mask word per lane (the low word of each double's mask).
    const __m128i decided = _mm_and_si128(
        eligible, _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(decidedLow), _mm_castsi128_ps(decidedHigh),
                                                  _MM_SHUFFLE(2, 0, 2, 0))));
    __m128 result = _mm_movelh_ps(_mm_cvtpd_ps(low), _mm_cvtpd_ps(high));
    const int decidedLanes = _mm_movemask_ps(_mm_castsi128_ps(decided));
    if (decidedLanes == 0xf) return result;
    alignas(16) float lanes[4], bases[4], exponents[4];
    _mm_store_ps(lanes, result);
    _mm_store_ps(bases, base);
    _mm_store_ps(exponents, exponent);
    for (int i = 0; i < 4; ++i)
        if (!(decidedLanes >> i & 1)) lanes[i] = floatPow(bases[i], exponents[i]);
    return _mm_load_ps(lanes);
}
#endif

}  // namespace dent
