#include "foundation/power.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "foundation/fpu.h"
#include "support/lcg.h"

namespace {

using dent::power_detail::floatBits;
using dent::power_detail::floatFromBits;
using dent::x87WithPrecision;

float plainPow(float base, float exponent) {
    return static_cast<float>(std::pow(static_cast<double>(base), static_cast<double>(exponent)));
}

// Counts of one differential run: floatPow as the x87 stands and at 24-bit precision.
struct PowRun {
    unsigned inputs = 0, fast = 0, mismatches = 0, mismatches24 = 0;
    void check(float x, float y) {
        const float want = plainPow(x, y);
        float unused;
        fast += dent::tryFastPow(x, y, unused) ? 1 : 0;
        mismatches += floatBits(dent::floatPow(x, y)) != floatBits(want) ? 1 : 0;
        const std::uint16_t start = dent::x87ControlWord();
        dent::setX87ControlWord(x87WithPrecision(start, dent::kX87Precision24));
        const float single = dent::floatPow(x, y);
        dent::setX87ControlWord(start);
        mismatches24 += floatBits(single) != floatBits(want) ? 1 : 0;
        ++inputs;
    }
};

TEST(FloatPow, SpecialValuesMatchTheRuntimeBitForBit) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float denormalMin = floatFromBits(1), denormalMax = floatFromBits(0x007fffff), normalMin = floatFromBits(0x00800000);
    const float bases[] = {0.0f,       -0.0f,     denormalMin, -denormalMin, denormalMax, normalMin, -normalMin,
                           0.5f,       1.0f,      -1.0f,       2.0f,         -2.0f,       0.99999994f, 1.00000012f,
                           3.0e38f,    -3.0e38f,  inf,         -inf,         nan,         -nan,       1e-30f,
                           floatFromBits(0x3f800001)};
    const float exponents[] = {0.0f, -0.0f, 1.0f, -1.0f, 2.0f, -2.0f, 3.0f, -3.0f, 0.5f, 0.35f, 0.65f, 1.15f,
                               5.0f, 2.5f, 1e-30f, 1e30f, -1e30f, 3.0e38f, 128.0f, -149.0f, inf, -inf, nan};
    PowRun run;
    for (float x : bases) {
        for (float y : exponents) {
            run.check(x, y);
            EXPECT_EQ(floatBits(dent::referencePow(x, y)), floatBits(plainPow(x, y))) << x << "^" << y;
        }
    }
    EXPECT_EQ(0u, run.mismatches);
    EXPECT_EQ(0u, run.mismatches24);
}

// The module's inputs (bases in [0, 1]: falloff weights, the impact response,
// spline cubes; exponents of FalloffPower and ImpactExponent) and a share of
// arbitrary bit patterns.
void sampleInput(Lcg& lcg, unsigned i, float& x, float& y) {
    const std::uint32_t one = floatBits(1.0f);
    const std::uint32_t randomBits =
        static_cast<std::uint32_t>(lcg.unit() * 16777216.0f) << 8 ^ static_cast<std::uint32_t>(lcg.unit() * 256.0f);
    switch (i % 8) {
        case 0:
        case 1: x = lcg.unit(); y = lcg.between(0.35f, 2.0f); break;
        case 2:
        case 3: x = floatFromBits(randomBits % (one + 1)); y = lcg.between(0.35f, 2.0f); break;
        case 4: {
            const float t = lcg.unit();
            x = t * t * (3.0f - 2.0f * t);
            y = lcg.between(0.35f, 2.0f);
            break;
        }
        case 5: x = lcg.unit(); y = 3.0f; break;
        case 6: x = 1.0f - lcg.unit(); y = i % 16 < 8 ? 2.0f : 3.0f; break;
        default: x = floatFromBits(randomBits ^ static_cast<std::uint32_t>(lcg.unit() * 16777216.0f) << 24);
                 y = floatFromBits(randomBits * 2654435761u);
    }
}

// Both the fast path and the reference must have been used.
TEST(FloatPow, SampledInputsMatchTheRuntimeBitForBit) {
    Lcg lcg{20260612};
    PowRun run;
    for (unsigned i = 0; i < 3000000; ++i) {
        float x, y;
        sampleInput(lcg, i, x, y);
        run.check(x, y);
    }
    EXPECT_EQ(0u, run.mismatches);
    EXPECT_EQ(0u, run.mismatches24);
    EXPECT_GT(run.fast, run.inputs * 3 / 4);
    EXPECT_GT(run.inputs - run.fast, 100u);
}

// Bases next to 1 with large exponents: the product of exponent and logarithm
// cancels there, which the fast path must not be trusted with.
TEST(FloatPow, LargeExponentsOnBasesNearOneMatchTheRuntime) {
    Lcg lcg{99};
    PowRun run;
    for (unsigned i = 0; i < 200000; ++i) {
        const std::uint32_t step = 1 + static_cast<std::uint32_t>(lcg.unit() * 4096.0f);
        const float x = floatFromBits(i % 2 ? floatBits(1.0f) - step : floatBits(1.0f) + step);
        const float y = (i % 4 < 2 ? 1.0f : -1.0f) * lcg.between(8.0f, 1.0e7f);
        run.check(x, y);
    }
    EXPECT_EQ(0u, run.mismatches);
    EXPECT_EQ(0u, run.mismatches24);
}

#if defined(__SSE2__)
// Four lanes of mixed inputs (each lane its own kind), lane for lane the scalar result.
TEST(FloatPow4, EveryLaneMatchesTheRuntimeBitForBit) {
    Lcg lcg{4242};
    unsigned mismatches = 0;
    for (unsigned i = 0; i < 1000000; ++i) {
        alignas(16) float x[4], y[4], got[4];
        for (unsigned lane = 0; lane < 4; ++lane) sampleInput(lcg, i * 3 + lane * 5, x[lane], y[lane]);
        _mm_store_ps(got, dent::floatPow4(_mm_load_ps(x), _mm_load_ps(y)));
        for (unsigned lane = 0; lane < 4; ++lane) mismatches += floatBits(got[lane]) != floatBits(plainPow(x[lane], y[lane]));
    }
    EXPECT_EQ(0u, mismatches);
}
#endif

TEST(X87ExtendedPrecision, SetsFullPrecisionAndRestoresTheCallersWord) {
    const std::uint16_t start = dent::x87ControlWord();
    const std::uint16_t single = x87WithPrecision(start, dent::kX87Precision24) | 0x0c00;  // and round toward zero
    dent::setX87ControlWord(single);
    std::uint16_t inside;
    {
        const dent::X87ExtendedPrecision extended;
        inside = dent::x87ControlWord();
    }
    const std::uint16_t after = dent::x87ControlWord();
    dent::setX87ControlWord(start);
#if defined(__i386__) || defined(__x86_64__)
    EXPECT_EQ(x87WithPrecision(single, dent::kX87Precision64), inside);
    EXPECT_EQ(single, after);
#endif
}

TEST(RoundHalfAway, MatchesLlround) {
    const double values[] = {0.0,  -0.0, 0.5,  -0.5,  1.5,  -1.5, 2.5, -2.5, 0.49999999999999994, -0.49999999999999994,
                             1e9,  -1e9, 2147483646.5, -2147483646.5, 2147483647.5, -2147483648.5, 1e15 + 0.5, -3e18};
    for (double v : values) EXPECT_EQ(std::llround(v), dent::roundHalfAway(v)) << v;
    Lcg lcg{7};
    for (int i = 0; i < 200000; ++i) {
        // Grid coordinates as the rest normals make them: a float times 100000.
        const double v = static_cast<double>(lcg.between(-10000.0f, 10000.0f) * lcg.unit()) * 100000.0;
        ASSERT_EQ(std::llround(v), dent::roundHalfAway(v)) << v;
    }
}

}  // namespace
