#include "deform/panel_fold.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "deform/ordinary_dent.h"

namespace {

using dent::Fold;
using dent::PanelShape;
using dent::Vec;

const float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kUlp = 1.0f / 8388608.0f;  // 2^-23: one ulp at 1

bool isZeroFold(const Fold& f) {
    return f.length == 0.0f && f.crease == 0.0f && f.compression == 0.0f && f.toCrease == 0.0f &&
           f.fromCrease == 0.0f && f.lift == 0.0f;
}

bool sameFold(const Fold& a, const Fold& b) {
    return a.length == b.length && a.crease == b.crease && a.compression == b.compression &&
           a.toCrease == b.toCrease && a.fromCrease == b.fromCrease && a.lift == b.lift;
}

bool sameVec(Vec a, Vec b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

Vec cross(Vec a, Vec b) { return Vec{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }

// The worked fold: length 1, crease 0.5, compression 0.2.
const Fold kWorked = dent::foldFor(1.0f, 0.5f, 0.2f);

TEST(FoldFor, WorkedExamples) {
    const Fold flat = dent::foldFor(1.0f, 0.5f, 0.0f);
    EXPECT_EQ(flat.length, 1.0f);
    EXPECT_EQ(flat.compression, 0.0f);
    EXPECT_FLOAT_EQ(flat.toCrease, 0.5f);
    EXPECT_FLOAT_EQ(flat.fromCrease, 0.5f);
    EXPECT_NEAR(flat.lift, 0.0f, 4 * kUlp);

    EXPECT_EQ(kWorked.length, 1.0f);
    EXPECT_EQ(kWorked.crease, 0.5f);
    EXPECT_EQ(kWorked.compression, 0.2f);
    EXPECT_FLOAT_EQ(kWorked.toCrease + kWorked.fromCrease, 0.8f);
    EXPECT_FLOAT_EQ(kWorked.toCrease, 0.4f);
    EXPECT_FLOAT_EQ(kWorked.fromCrease, 0.4f);
    EXPECT_FLOAT_EQ(kWorked.lift, 0.3f);
}

TEST(FoldFor, ClampsCreaseAndCompression) {
    EXPECT_TRUE(isZeroFold(dent::foldFor(0.04f, 0.5f, 0.01f)));
    EXPECT_FALSE(isZeroFold(dent::foldFor(0.05f, 0.5f, 0.01f)));
    EXPECT_EQ(dent::foldFor(1.0f, 0.1f, 0.2f).crease, 0.35f);
    EXPECT_EQ(dent::foldFor(1.0f, 0.9f, 0.2f).crease, 0.65f);
    EXPECT_TRUE(sameFold(dent::foldFor(1.0f, 0.1f, 0.2f), dent::foldFor(1.0f, 0.35f, 0.2f)));
    EXPECT_EQ(dent::foldFor(1.0f, 0.5f, 0.6f).compression, 0.45f);
    EXPECT_TRUE(sameFold(dent::foldFor(1.0f, 0.5f, 0.6f), dent::foldFor(1.0f, 0.5f, 0.45f)));
    EXPECT_TRUE(sameFold(dent::foldFor(1.0f, 0.5f, -0.3f), dent::foldFor(1.0f, 0.5f, 0.0f)));
}

TEST(FoldFor, UnusableInputGivesNoFold) {
    for (float bad : {kInf, -kInf, kNaN}) {
        EXPECT_TRUE(isZeroFold(dent::foldFor(bad, 0.5f, 0.2f)));
        EXPECT_TRUE(isZeroFold(dent::foldFor(1.0f, bad, 0.2f)));
        EXPECT_TRUE(isZeroFold(dent::foldFor(1.0f, 0.5f, bad)));
    }
    EXPECT_TRUE(isZeroFold(dent::foldFor(-1.0f, 0.5f, 0.2f)));
    // Squares overflow float for a length this large.
    EXPECT_TRUE(isZeroFold(dent::foldFor(1e30f, 0.5f, 1e29f)));
}

// The two segments keep their lengths: hinge side a, edge side L - a.
TEST(FoldFor, SegmentsKeepTheirLengthsOverGeneratedCases) {
    std::mt19937 rng(4501);
    std::uniform_real_distribution<float> lengths(0.05f, 3.5f), creases(0.0f, 1.0f), squeezes(-0.1f, 0.6f);
    for (int i = 0; i < 4000; ++i) {
        const float length = lengths(rng), crease = creases(rng), squeeze = squeezes(rng) * length;
        const Fold f = dent::foldFor(length, crease, squeeze);
        ASSERT_GE(f.crease, 0.35f);
        ASSERT_LE(f.crease, 0.65f);
        ASSERT_GE(f.compression, 0.0f);
        ASSERT_LE(f.compression, 0.45f * length);
        ASSERT_GE(f.lift, 0.0f);
        const double a = double(length) * f.crease, b = double(length) - a;
        const double tolerance = 2e-3 * length;
        EXPECT_NEAR(f.toCrease + f.fromCrease, length - f.compression, 1e-5 * length);
        EXPECT_NEAR(std::hypot(double(f.toCrease), double(f.lift)), a, tolerance) << length << " " << crease;
        EXPECT_NEAR(std::hypot(double(f.fromCrease), double(f.lift)), b, tolerance) << length << " " << crease;
    }
}

TEST(LimitedFold, WithinTheLimitItIsTheFullFold) {
    EXPECT_TRUE(sameFold(dent::limitedFold(1.0f, 0.5f, 0.2f, 0.5f), kWorked));
    EXPECT_TRUE(sameFold(dent::limitedFold(1.0f, 0.5f, 0.2f, kWorked.lift), kWorked));
}

TEST(LimitedFold, FindsTheLargestCompressionWithinTheLift) {
    const Fold f = dent::limitedFold(1.0f, 0.5f, 0.2f, 0.1f);
    EXPECT_LE(f.lift, 0.1f);
    EXPECT_GT(f.compression, 0.0f);
    EXPECT_LT(f.compression, 0.2f);
    EXPECT_TRUE(sameFold(f, dent::foldFor(1.0f, 0.5f, f.compression)));
    // The other end of the last bisection interval already rises too far.
    const float step = 0.2f / 16777216.0f;
    EXPECT_GT(dent::foldFor(1.0f, 0.5f, f.compression + step).lift, 0.1f);
    // Exact: lift 0.1 on half-segments of 0.5 needs a chord of 2 * sqrt(0.24).
    EXPECT_NEAR(f.compression, 1.0 - 2.0 * std::sqrt(0.24), 1e-6);
}

TEST(LimitedFold, NegativeLimitGivesNoCompression) {
    const Fold f = dent::limitedFold(1.0f, 0.5f, 0.2f, -0.01f);
    EXPECT_EQ(f.compression, 0.0f);
    EXPECT_EQ(f.lift, 0.0f);
}

TEST(LimitedFold, InvalidInputGivesTheZeroFold) {
    EXPECT_TRUE(isZeroFold(dent::limitedFold(1.0f, 0.5f, kNaN, 0.1f)));
    EXPECT_TRUE(isZeroFold(dent::limitedFold(1.0f, 0.5f, kInf, -0.1f)));
    EXPECT_TRUE(isZeroFold(dent::limitedFold(0.01f, 0.5f, 0.2f, -0.1f)));
    EXPECT_TRUE(isZeroFold(dent::limitedFold(kNaN, 0.5f, 0.2f, 0.1f)));
    EXPECT_TRUE(isZeroFold(dent::limitedFold(1.0f, kNaN, 0.2f, 0.1f)));
    EXPECT_TRUE(isZeroFold(dent::limitedFold(1.0f, 0.5f, 0.2f, kNaN)));
}

TEST(FoldOffset, HingeCreaseAndFreeEdge) {
    for (float sign : {1.0f, -1.0f}) {
        const PanelShape shape{sign, 0.25f, 1.0f, 0.5f};
        auto at = [&](float s, float x) { return Vec{x, (s + shape.start) * sign, 0.7f}; };
        const Vec hinge = dent::foldOffset(at(0.0f, 0.3f), shape, kWorked);
        EXPECT_TRUE(sameVec(hinge, Vec{0.0f, 0.0f, 0.0f})) << sign;

        const Vec crease = dent::foldOffset(at(0.5f, -0.2f), shape, kWorked);
        EXPECT_EQ(crease.x, 0.0f);
        EXPECT_FLOAT_EQ(crease.y, sign * (kWorked.toCrease - 0.5f));
        EXPECT_FLOAT_EQ(crease.z, kWorked.lift);

        for (float s : {1.0f, 1.3f}) {  // beyond the free edge it moves as the free edge
            const Vec edge = dent::foldOffset(at(s, 0.1f), shape, kWorked);
            EXPECT_EQ(edge.x, 0.0f);
            EXPECT_NEAR(edge.y, -sign * kWorked.compression, 4 * kUlp) << sign << " " << s;
            EXPECT_NEAR(edge.z, 0.0f, 4 * kUlp);
        }

        const Vec quarter = dent::foldOffset(at(0.25f, 0.0f), shape, kWorked);
        EXPECT_FLOAT_EQ(quarter.y, sign * (0.2f - 0.25f));
        EXPECT_FLOAT_EQ(quarter.z, 0.15f);
        EXPECT_TRUE(sameVec(dent::foldOffset(at(-0.2f, 0.0f), shape, kWorked), Vec{0.0f, 0.0f, 0.0f}));
    }
}

TEST(FoldOffset, NoFoldOrBadInputGivesNoOffset) {
    const PanelShape shape;
    const Vec zero{0.0f, 0.0f, 0.0f};
    EXPECT_TRUE(sameVec(dent::foldOffset(Vec{0, 0.5f, 0}, shape, Fold{}), zero));
    EXPECT_TRUE(sameVec(dent::foldOffset(Vec{0, 0.5f, 0}, shape, dent::foldFor(1.0f, 0.5f, 0.0f)), zero));
    EXPECT_TRUE(sameVec(dent::foldOffset(Vec{0, kNaN, 0}, shape, kWorked), zero));
    EXPECT_TRUE(sameVec(dent::foldOffset(Vec{0, 0.5f, 0}, PanelShape{kNaN, 0, 1, 0.5f}, kWorked), zero));
    Fold creaseOnHinge = kWorked;
    creaseOnHinge.crease = 0.0f;
    EXPECT_TRUE(isFinite(dent::foldOffset(Vec{0, 0.0f, 0}, shape, creaseOnHinge)));
}

TEST(FoldNormal, TiltsWithItsSegment) {
    const Vec up{0.0f, 0.0f, 1.0f};
    const Vec before = dent::foldNormal(up, kWorked, 1.0f, 0);
    EXPECT_EQ(before.x, 0.0f);
    EXPECT_NEAR(before.y, -0.6f, 1e-6f);
    EXPECT_NEAR(before.z, 0.8f, 1e-6f);
    const Vec beyond = dent::foldNormal(up, kWorked, 1.0f, 1);
    EXPECT_NEAR(beyond.y, 0.6f, 1e-6f);
    EXPECT_NEAR(beyond.z, 0.8f, 1e-6f);
    // The boot runs the other way along y.
    const Vec boot = dent::foldNormal(up, kWorked, -1.0f, 0);
    EXPECT_NEAR(boot.y, 0.6f, 1e-6f);
    EXPECT_NEAR(boot.z, 0.8f, 1e-6f);
}

// A tangent of the sheet carried by the segment's shear stays perpendicular to
// the carried normal.
TEST(FoldNormal, StaysPerpendicularToTheTiltedSheet) {
    std::mt19937 rng(4502);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f), squeezes(0.01f, 0.45f), creases(0.35f, 0.65f);
    for (int i = 0; i < 3000; ++i) {
        const float sign = (i & 1) ? 1.0f : -1.0f;
        const int side = (i >> 1) & 1;
        const Fold f = dent::foldFor(1.0f, creases(rng), squeezes(rng));
        const Vec n = dent::normalized(Vec{unit(rng), unit(rng), unit(rng)});
        const Vec t = cross(n, Vec{unit(rng), unit(rng), unit(rng)});  // a tangent of the rest sheet
        const float g = f.length * (side ? 1.0f - f.crease : f.crease);
        const float u = (side ? f.fromCrease : f.toCrease) / g;
        const float v = (side ? -f.lift : f.lift) / g;
        const float ts = t.y * sign;
        const Vec mapped{t.x, sign * (u * ts), v * ts + t.z};
        const Vec m = dent::foldNormal(n, f, sign, side);
        EXPECT_NEAR(dent::length(m), 1.0f, 1e-5f);
        EXPECT_NEAR(dent::dot(m, mapped), 0.0f, 1e-5f * dent::length(mapped)) << i;
    }
}

TEST(FoldNormal, NoFoldOrBadInputKeepsTheNormal) {
    const Vec n{0.1f, 0.2f, 0.9f};
    EXPECT_TRUE(sameVec(dent::foldNormal(n, Fold{}, 1.0f, 0), n));
    EXPECT_TRUE(sameVec(dent::foldNormal(n, kWorked, kNaN, 1), n));
    const Vec bad{kNaN, 0.0f, 1.0f};
    const Vec out = dent::foldNormal(bad, kWorked, 1.0f, 0);
    EXPECT_TRUE(std::isnan(out.x));
    EXPECT_EQ(out.z, 1.0f);
}

TEST(PanelBodyStep, FollowsTheDentAcrossButTheHingeLengthwise) {
    const float depth = 0.2f, radius = 0.5f, cap = 0.5f, power = 1.0f;
    for (float sign : {1.0f, -1.0f}) {
        const PanelShape shape{sign, 0.3f, 1.2f, 0.5f};
        const float hingeY = sign * 0.3f;
        const Vec hit{0.1f, sign * 1.4f, 0.5f};
        const Vec direction{0.3f, -sign, -0.4f};
        // Near the free edge: full dent across and up, nothing lengthwise (the hinge is out of reach).
        const Vec nearEdge{0.05f, sign * 1.35f, 0.48f};
        const Vec step = dent::panelBodyStep(nearEdge, shape, hit, direction, depth, radius, 0, 0, cap, power);
        const Vec dented = dent::displaceImpact(nearEdge, nearEdge, hit, direction, depth, radius, 0, 0, cap, power);
        EXPECT_EQ(step.x, dented.x - nearEdge.x);
        EXPECT_EQ(step.z, dented.z - nearEdge.z);
        EXPECT_NE(step.z, 0.0f);
        EXPECT_EQ(step.y, 0.0f);

        // A vertex on the hinge line follows the plain dent in every direction.
        const Vec hitNearHinge{0.0f, hingeY, 0.5f};
        const Vec onHinge{0.1f, hingeY, 0.45f};
        const Vec hingeStep =
            dent::panelBodyStep(onHinge, shape, hitNearHinge, direction, depth, radius, 0, 0, cap, power);
        const Vec plain =
            dent::displaceImpact(onHinge, onHinge, hitNearHinge, direction, depth, radius, 0, 0, cap, power);
        EXPECT_EQ(hingeStep.x, plain.x - onHinge.x);
        EXPECT_EQ(hingeStep.y, plain.y - onHinge.y);
        EXPECT_EQ(hingeStep.z, plain.z - onHinge.z);
        EXPECT_NE(hingeStep.y, 0.0f);
    }
}

TEST(PanelBodyStep, BadInputGivesNoStep) {
    const PanelShape shape;
    const Vec p{0.0f, 0.5f, 0.0f};
    for (const Vec& step : {dent::panelBodyStep(p, shape, Vec{kNaN, 0, 0}, Vec{0, -1, 0}, 0.2f, 1, 0, 0, 1, 1),
                            dent::panelBodyStep(p, shape, p, Vec{0, -1, 0}, 0.2f, 1, 0, 0, 1, kNaN),
                            dent::panelBodyStep(p, PanelShape{1, kInf, 1, 0.5f}, p, Vec{0, -1, 0}, 0.2f, 1, 0, 0, 1, 1),
                            dent::panelBodyStep(Vec{kNaN, 0, 0}, shape, p, Vec{0, -1, 0}, 0.2f, 1, 0, 0, 1, 1)})
        EXPECT_TRUE(sameVec(step, Vec{0.0f, 0.0f, 0.0f}));
}

TEST(VariedCrease, WithoutRandomnessIsTheClampedCrease) {
    for (std::uint32_t seed : {0u, 1u, 0xDEADBEEFu}) {
        EXPECT_EQ(dent::variedCrease(seed, 1, 0.5f, 0.0f), 0.5f);
        EXPECT_EQ(dent::variedCrease(seed, 2, 0.2f, 0.0f), 0.35f);
        EXPECT_EQ(dent::variedCrease(seed, 2, 0.8f, 0.0f), 0.65f);
    }
}

TEST(VariedCrease, KnownHashes) {
    // Seed 12345: the low 24 hash bits are 6505697 for the bonnet and 4570701 for the boot.
    EXPECT_NEAR(dent::variedCrease(12345u, 1u, 0.5f, 0.1f), 0.47755396f, 1e-6f);
    EXPECT_NEAR(dent::variedCrease(12345u, 2u, 0.5f, 0.1f), 0.45448700f, 1e-6f);
}

TEST(VariedCrease, SpreadsOverTheRangeAndRepeats) {
    float lowest = 1.0f, highest = 0.0f;
    int differ = 0;
    for (std::uint32_t seed = 0; seed < 3000; ++seed) {
        const float bonnet = dent::variedCrease(seed * 2654435761u, 1, 0.5f, 0.12f);
        const float boot = dent::variedCrease(seed * 2654435761u, 2, 0.5f, 0.12f);
        ASSERT_EQ(bonnet, dent::variedCrease(seed * 2654435761u, 1, 0.5f, 0.12f));
        ASSERT_GE(bonnet, 0.38f - 1e-6f);
        ASSERT_LE(bonnet, 0.62f + 1e-6f);
        lowest = std::fmin(lowest, bonnet);
        highest = std::fmax(highest, bonnet);
        differ += bonnet != boot;
        const float wide = dent::variedCrease(seed, seed % 3, 0.5f, 3.0f);
        ASSERT_GE(wide, 0.35f);
        ASSERT_LE(wide, 0.65f);
    }
    EXPECT_LT(lowest, 0.39f);
    EXPECT_GT(highest, 0.61f);
    EXPECT_GT(differ, 2900);
}

// Non-finite values go through the clamp like any other: a NaN ends at the
// upper bound, an infinite variation at one bound or the other.
TEST(VariedCrease, NonFiniteValuesEndAtABound) {
    EXPECT_EQ(dent::variedCrease(7u, 1, kNaN, 0.1f), 0.65f);
    EXPECT_EQ(dent::variedCrease(7u, 1, 0.45f, kNaN), 0.65f);
    EXPECT_EQ(dent::variedCrease(7u, 1, kInf, 0.1f), 0.65f);
    EXPECT_EQ(dent::variedCrease(7u, 1, -kInf, 0.1f), 0.35f);
    const float up = dent::variedCrease(7u, 1, 0.45f, kInf), down = dent::variedCrease(7u, 1, 0.45f, -kInf);
    EXPECT_TRUE(up == 0.35f || up == 0.65f) << up;
    EXPECT_TRUE(down == 0.35f || down == 0.65f) << down;
    EXPECT_NE(up, down);
}

}  // namespace
