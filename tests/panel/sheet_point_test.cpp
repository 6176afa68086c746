#include "panel/sheet_point.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "deform/ordinary_dent.h"

namespace {

using dent::PanelShape;
using dent::SheetPoint;
using dent::SpanFold;
using dent::Vec;

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const Vec kUp{0.0f, 0.0f, 1.0f};

bool sameVec(Vec a, Vec b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

void expectNear(Vec actual, Vec expected, float tolerance, const char* what = "") {
    EXPECT_NEAR(actual.x, expected.x, tolerance) << what;
    EXPECT_NEAR(actual.y, expected.y, tolerance) << what;
    EXPECT_NEAR(actual.z, expected.z, tolerance) << what;
}

SpanFold uniformFold(const PanelShape& shape, float compression) {
    SpanFold fold;
    fold.init(-0.6f, 0.6f, 0.3f, 6, shape);
    for (float& c : fold.compression) c = compression;
    return fold;
}

// The sheet point at lateral x and lengthwise s of the panel, on the side of the
// crease that s lies on.
SheetPoint pointAt(const PanelShape& shape, float x, float s, float z = 0.3f) {
    SheetPoint point;
    const int beyond = s > shape.start + shape.length * shape.crease ? 1 : 0;
    point.init(Vec{x, shape.sign * s, 9.0f}, z, shape, beyond);
    return point;
}

Vec offsetOf(const SheetPoint& point, unsigned probe, const PanelShape& shape, const SpanFold& fold, bool follow,
             float cap = 10.0f) {
    return dent::sheetPosition(point, probe, shape, fold, follow, cap) - point.current[probe];
}

TEST(SheetPointInit, ProbesAroundThePoint) {
    const PanelShape shape;
    SheetPoint point;
    point.init(Vec{0.1f, 0.2f, 5.0f}, 0.3f, shape, 0);
    EXPECT_TRUE(sameVec(point.rest[0], Vec{0.1f, 0.2f, 0.3f}));
    EXPECT_TRUE(sameVec(point.rest[1], Vec{0.1f - 0.002f, 0.2f, 0.3f}));
    EXPECT_TRUE(sameVec(point.rest[2], Vec{0.1f + 0.002f, 0.2f, 0.3f}));
    EXPECT_TRUE(sameVec(point.rest[3], Vec{0.1f, 0.2f - 0.002f, 0.3f}));
    EXPECT_TRUE(sameVec(point.rest[4], Vec{0.1f, 0.2f + 0.002f, 0.3f}));
    EXPECT_EQ(point.stepX, 0.004f);
    EXPECT_NEAR(point.stepY, 0.004f, 1e-7f);
    for (int k = 0; k < 5; ++k) EXPECT_TRUE(sameVec(point.current[k], point.rest[k]));
}

TEST(SheetPointInit, ProbesStayOnTheirSideOfTheCrease) {
    const PanelShape bonnet{1.0f, 0.0f, 1.0f, 0.5f};
    SheetPoint onCrease;
    onCrease.init(Vec{0.0f, 0.5f, 0.0f}, 0.0f, bonnet, 0);
    EXPECT_EQ(onCrease.rest[4].y, 0.5f);
    EXPECT_NEAR(onCrease.stepY, 0.002f, 1e-7f);

    SheetPoint justBeyond;
    justBeyond.init(Vec{0.0f, 0.501f, 0.0f}, 0.0f, bonnet, 1);
    EXPECT_EQ(justBeyond.rest[3].y, 0.5f);
    EXPECT_NEAR(justBeyond.stepY, 0.003f, 1e-7f);

    // The boot runs toward -y: before its crease means above the crease y.
    const PanelShape boot{-1.0f, 0.2f, 1.0f, 0.5f};
    SheetPoint bootBefore;
    bootBefore.init(Vec{0.0f, -0.699f, 0.0f}, 0.0f, boot, 0);
    EXPECT_EQ(bootBefore.rest[3].y, -0.7f);
    EXPECT_NEAR(bootBefore.rest[4].y, -0.697f, 1e-7f);
    SheetPoint bootBeyond;
    bootBeyond.init(Vec{0.0f, -0.701f, 0.0f}, 0.0f, boot, 1);
    EXPECT_EQ(bootBeyond.rest[4].y, -0.7f);
    EXPECT_NEAR(bootBeyond.rest[3].y, -0.703f, 1e-7f);
}

TEST(SheetPosition, WorkedFold) {
    const PanelShape shape{1.0f, 0.0f, 1.0f, 0.5f};
    const SpanFold fold = uniformFold(shape, 0.2f);
    expectNear(offsetOf(pointAt(shape, 0.1f, 0.5f), 0, shape, fold, false), Vec{0.0f, -0.1f, 0.3f}, 1e-6f, "crease");
    expectNear(offsetOf(pointAt(shape, 0.1f, 1.0f), 0, shape, fold, false), Vec{0.0f, -0.2f, 0.0f}, 1e-6f, "edge");
    expectNear(offsetOf(pointAt(shape, 0.1f, 0.25f), 0, shape, fold, false), Vec{0.0f, -0.05f, 0.15f}, 1e-6f,
               "hinge side");
    expectNear(offsetOf(pointAt(shape, 0.1f, 0.0f), 0, shape, fold, false), Vec{0.0f, 0.0f, 0.0f}, 1e-6f, "hinge");
    // Following the body: the free edge stays, the crease only rises.
    expectNear(offsetOf(pointAt(shape, 0.1f, 0.5f), 0, shape, fold, true), Vec{0.0f, 0.0f, 0.3f}, 1e-6f,
               "crease follow");
    expectNear(offsetOf(pointAt(shape, 0.1f, 1.0f), 0, shape, fold, true), Vec{0.0f, 0.0f, 0.0f}, 1e-6f, "edge follow");

    const PanelShape boot{-1.0f, 0.2f, 1.0f, 0.5f};
    const SpanFold bootFold = uniformFold(boot, 0.2f);
    expectNear(offsetOf(pointAt(boot, 0.1f, 0.7f), 0, boot, bootFold, false), Vec{0.0f, 0.1f, 0.3f}, 1e-6f, "boot");
}

// The sheet's fold offset is the panel fold of the same compression.
TEST(SheetPosition, AgreesWithFoldOffsetOverGeneratedCases) {
    std::mt19937 rng(5201);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int i = 0; i < 3000; ++i) {
        const PanelShape shape{(i & 1) ? 1.0f : -1.0f, unit(rng) - 0.5f, 0.25f + 3.0f * unit(rng),
                               0.3f + 0.4f * unit(rng)};
        const float compression = 0.5f * shape.length * unit(rng);
        const SpanFold fold = uniformFold(shape, compression);
        const float s = shape.length * (1.2f * unit(rng) - 0.1f);
        const SheetPoint point = pointAt(shape, 1.4f * unit(rng) - 0.7f, s + shape.start);
        const float spline = compression;  // a uniform profile reads back as itself, to rounding
        const Vec expected = dent::foldOffset(point.rest[0], shape, dent::foldFor(shape.length, shape.crease, spline));
        expectNear(offsetOf(point, 0, shape, fold, false), expected, 4e-6f * shape.length, "generated");
    }
}

TEST(SheetPosition, ReadsTheStationsAsACubicBSpline) {
    const PanelShape shape{1.0f, 0.0f, 1.0f, 0.5f};
    SpanFold fold = uniformFold(shape, 0.0f);
    fold.compression[3] = 0.3f;
    auto edgeShift = [&](float x) { return offsetOf(pointAt(shape, x, 1.0f), 0, shape, fold, false).y; };
    EXPECT_NEAR(edgeShift(dent::spanStationX(fold, 3)), -0.2f, 1e-6f);      // 4/6 of the station
    EXPECT_NEAR(edgeShift(dent::spanStationX(fold, 2)), -0.05f, 1e-6f);     // 1/6 of its neighbour
    EXPECT_NEAR(edgeShift(-0.1f), -0.14375f, 1e-6f);                         // halfway: 2.875/6
    EXPECT_NEAR(edgeShift(dent::spanStationX(fold, 0)), 0.0f, 1e-7f);

    // The end stations repeat beyond the ends.
    fold.compression[3] = 0.0f;
    fold.compression[6] = 0.3f;
    EXPECT_NEAR(edgeShift(0.6f), -0.25f, 1e-6f);
    EXPECT_NEAR(edgeShift(5.0f), -0.25f, 1e-6f);
    fold.compression[6] = 0.0f;
    fold.compression[0] = 0.3f;
    EXPECT_NEAR(edgeShift(-0.6f), -0.25f, 1e-6f);

    // A span narrower than a millimetre uses the middle station.
    SpanFold narrow = uniformFold(shape, 0.0f);
    narrow.init(0.2f, 0.2005f, 0.3f, 6, shape);
    narrow.compression[3] = 0.2f;
    EXPECT_NEAR(offsetOf(pointAt(shape, 5.0f, 1.0f), 0, shape, narrow, false).y, -0.2f, 1e-6f);
}

// The spline's cubes and squares are powers: evaluated in double on the float
// inputs and rounded to float, not as chained float products.
float splineWithPowers(const SpanFold& fold, float x) {
    const float t = dent::clampTo((x - fold.minX) / (fold.maxX - fold.minX), 0.0f, 1.0f);
    const float p = static_cast<float>(fold.segments) * t;
    unsigned j = static_cast<unsigned>(p);
    if (j > fold.segments - 1) j = fold.segments - 1;
    const float f = p - static_cast<float>(j);
    const float p0 = fold.compression[j == 0 ? 0 : j - 1], p1 = fold.compression[j], p2 = fold.compression[j + 1];
    const float p3 = fold.compression[j + 2 > fold.segments ? fold.segments : j + 2];
    const float f2 = dent::floatPow(f, 2.0f), f3 = dent::floatPow(f, 3.0f);
    return (dent::floatPow(1.0f - f, 3.0f) * p0 + (3.0f * f3 - 6.0f * f2 + 4.0f) * p1 +
            (-3.0f * f3 + 3.0f * f2 + 3.0f * f + 1.0f) * p2 + f3 * p3) /
           6.0f;
}

// On the free edge of a panel 0.7 long with its crease at 0.6, the edge moves
// back by exactly the spline compression (every step of the fold is exact
// there for compressions between 0.25 and 0.315).
TEST(SheetPosition, SplinePowersAreEvaluatedInDouble) {
    const PanelShape shape{1.0f, 0.0f, 0.7f, 0.6f};
    SpanFold fold;
    fold.init(-0.6f, 0.6f, 0.3f, 6, shape);
    const float profile[] = {0.26f, 0.31f, 0.27f, 0.2875f, 0.305f, 0.262f, 0.299f};
    for (unsigned i = 0; i <= 6; ++i) fold.compression[i] = profile[i];
    for (int i = 0; i <= 600; ++i) {
        const float x = -0.6f + 0.002f * static_cast<float>(i) + 0.0001234f;
        const float expected = splineWithPowers(fold, x);
        ASSERT_GE(expected, 0.25f);
        ASSERT_LE(expected, 0.315f);
        EXPECT_EQ(-offsetOf(pointAt(shape, x, 0.7f), 0, shape, fold, false).y, expected) << x;
    }
}

TEST(SheetPosition, ClampsCompressionAndCrease) {
    const PanelShape shape{1.0f, 0.0f, 1.0f, 0.5f};
    const SheetPoint point = pointAt(shape, 0.0f, 0.4f);
    EXPECT_TRUE(sameVec(dent::sheetPosition(point, 0, shape, uniformFold(shape, 0.6f), false, 1.0f),
                        dent::sheetPosition(point, 0, shape, uniformFold(shape, 0.45f), false, 1.0f)));
    const SpanFold fold = uniformFold(shape, 0.2f);
    auto withCrease = [&](float crease) {
        return dent::sheetPosition(point, 0, PanelShape{1.0f, 0.0f, 1.0f, crease}, fold, false, 1.0f);
    };
    EXPECT_TRUE(sameVec(withCrease(0.2f), withCrease(0.35f)));
    EXPECT_TRUE(sameVec(withCrease(0.9f), withCrease(0.65f)));
    EXPECT_FALSE(sameVec(withCrease(0.35f), withCrease(0.5f)));
}

TEST(SheetPosition, WithoutCompressionItIsTheDentedPointCapped) {
    const PanelShape shape;
    const SpanFold flat = uniformFold(shape, 0.0f);
    SheetPoint point = pointAt(shape, 0.0f, 0.8f);
    for (int k = 0; k < 5; ++k)
        point.current[k] = dent::displaceImpact(point.rest[k], point.current[k], Vec{0.0f, 0.9f, 0.3f},
                                                Vec{0.0f, -1.0f, -1.0f}, 0.1f, 0.5f, 0, 0, 1.0f, 1.0f);
    for (unsigned k = 0; k < 5; ++k) {
        EXPECT_TRUE(sameVec(dent::sheetPosition(point, k, shape, flat, true, 1.0f), point.current[k]));
        EXPECT_TRUE(sameVec(dent::sheetPosition(point, k, shape, flat, false, 1.0f), point.current[k]));
    }

    // Farther than the cap from rest: pulled back onto the cap sphere, same direction.
    const Vec far = point.current[0] - point.rest[0];
    const Vec capped = dent::sheetPosition(point, 0, shape, flat, false, 0.05f) - point.rest[0];
    EXPECT_NEAR(dent::length(capped), 0.05f, 1e-7f);
    expectNear(dent::normalized(capped), dent::normalized(far), 1e-6f);

    // The cap also bounds the fold.
    const SpanFold deep = uniformFold(shape, 0.4f);
    EXPECT_LE(dent::length(dent::sheetPosition(point, 0, shape, deep, false, 0.05f) - point.rest[0]), 0.05f + 1e-7f);
}

TEST(SheetPosition, BadInputKeepsTheProbe) {
    const PanelShape shape;
    const SpanFold fold = uniformFold(shape, 0.2f);
    SheetPoint point = pointAt(shape, 0.0f, 0.5f);
    point.current[2] = Vec{0.5f, 0.5f, 0.5f};
    for (float cap : {kNaN, 0.0f, -1.0f})
        EXPECT_TRUE(sameVec(dent::sheetPosition(point, 2, shape, fold, true, cap), point.current[2]));
    EXPECT_TRUE(sameVec(dent::sheetPosition(point, 7, shape, fold, true, 1.0f), point.current[0]));
    for (const PanelShape& bad : {PanelShape{kNaN, 0, 1, 0.5f}, PanelShape{1, 0, kNaN, 0.5f},
                                  PanelShape{1, 0, 0.04f, 0.5f},
                                  PanelShape{1, kNaN, 1, 0.5f}})
        EXPECT_TRUE(sameVec(dent::sheetPosition(point, 0, bad, fold, true, 1.0f), point.current[0]));
    SpanFold broken = fold;
    broken.compression[3] = kNaN;
    EXPECT_TRUE(sameVec(dent::sheetPosition(point, 0, shape, broken, false, 1.0f), point.current[0]));
}

TEST(SheetNormal, FlatSheetKeepsTheRestNormal) {
    const PanelShape shape;
    const SpanFold flat = uniformFold(shape, 0.0f);
    std::mt19937 rng(5202);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (int i = 0; i < 200; ++i) {
        const Vec n = dent::normalized(Vec{unit(rng), unit(rng), unit(rng)});
        const SheetPoint point = pointAt(shape, 0.6f * unit(rng), 0.5f + 0.5f * unit(rng));
        expectNear(dent::sheetNormal(point, shape, flat, true, 1.0f, n), n, 1e-4f);
    }
}

TEST(SheetNormal, TiltsWithTheFoldSegment) {
    const PanelShape shape{1.0f, 0.0f, 1.0f, 0.5f};
    const SpanFold fold = uniformFold(shape, 0.2f);
    expectNear(dent::sheetNormal(pointAt(shape, 0.0f, 0.25f), shape, fold, false, 1.0f, kUp), Vec{0.0f, -0.6f, 0.8f},
               1e-4f);
    expectNear(dent::sheetNormal(pointAt(shape, 0.0f, 0.75f), shape, fold, false, 1.0f, kUp), Vec{0.0f, 0.6f, 0.8f},
               1e-4f);
    // Following the body the hinge segment is stretched lengthwise: tangent (0, 1, 0.6).
    const float norm = std::sqrt(1.36f);
    expectNear(dent::sheetNormal(pointAt(shape, 0.0f, 0.25f), shape, fold, true, 1.0f, kUp),
               Vec{0.0f, -0.6f / norm, 1.0f / norm}, 1e-4f);
}

// Next to the crease the probes see one side only, so the normal is that of
// the vertex's own segment.
TEST(SheetNormal, MatchesFoldNormalOnEachSideOverGeneratedCases) {
    std::mt19937 rng(5203);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f), spread(-1.0f, 1.0f);
    for (int i = 0; i < 2000; ++i) {
        const PanelShape shape{(i & 1) ? 1.0f : -1.0f, 0.3f * spread(rng), 0.5f + 2.0f * unit(rng),
                               0.35f + 0.3f * unit(rng)};
        const float compression = 0.3f * shape.length * unit(rng);
        const SpanFold fold = uniformFold(shape, compression);
        const float creaseS = shape.start + shape.length * shape.crease;
        float s = shape.start + 0.01f + (shape.length - 0.02f) * unit(rng);
        if (i % 4 < 2) s = creaseS + ((i % 4) ? 0.0015f : -0.0015f);  // probes clipped at the crease
        const SheetPoint point = pointAt(shape, 0.5f * spread(rng), s);
        const int side = s > creaseS ? 1 : 0;
        const Vec n = dent::normalized(Vec{spread(rng), spread(rng), 0.2f + unit(rng)});
        const dent::Fold folded = dent::foldFor(shape.length, shape.crease, compression);
        const Vec expected = dent::foldNormal(n, folded, shape.sign, side);
        expectNear(dent::sheetNormal(point, shape, fold, false, 1.0f, n), expected, 2e-3f, "generated");
    }
}

TEST(SheetNormal, DegenerateProbesGiveTheRestNormal) {
    const PanelShape shape{1.0f, 0.0f, 1.0f, 0.5f};
    const SpanFold fold = uniformFold(shape, 0.2f);
    const Vec n{0.0f, 0.28f, 0.96f};
    SheetPoint contradicting;  // claims to lie beyond the crease but sits 0.01 before it
    contradicting.init(Vec{0.0f, 0.49f, 0.0f}, 0.3f, shape, 1);
    EXPECT_LT(contradicting.stepY, 0.0f);
    EXPECT_TRUE(sameVec(dent::sheetNormal(contradicting, shape, fold, true, 1.0f, n), n));

    SheetPoint collapsed = pointAt(shape, 0.0f, 0.3f);
    collapsed.stepX = 0.0f;
    EXPECT_TRUE(sameVec(dent::sheetNormal(collapsed, shape, fold, true, 1.0f, n), n));

    SheetPoint broken = pointAt(shape, 0.0f, 0.3f);
    broken.current[4] = Vec{kNaN, 0.0f, 0.0f};
    EXPECT_TRUE(sameVec(dent::sheetNormal(broken, shape, fold, true, 1.0f, n), n));
    const Vec zero{0.0f, 0.0f, 0.0f};
    EXPECT_TRUE(sameVec(dent::sheetNormal(pointAt(shape, 0.0f, 0.3f), shape, fold, true, 1.0f, zero), zero));

    // A NaN sign is on neither side: the upper probe takes the crease line's NaN
    // and the point falls back to its rest normal.
    SheetPoint signless;
    signless.init(Vec{0.0f, 0.3f, 0.0f}, 0.3f, PanelShape{kNaN, 0.0f, 1.0f, 0.5f}, 0);
    EXPECT_EQ(signless.rest[3].y, 0.3f - 0.002f);
    EXPECT_TRUE(std::isnan(signless.rest[4].y));
    EXPECT_TRUE(std::isnan(signless.stepY));
    EXPECT_TRUE(sameVec(dent::sheetNormal(signless, shape, fold, true, 1.0f, n), n));
}

}  // namespace
