#include "panel/span_fold.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

using dent::PanelShape;
using dent::SpanFold;
using dent::Vec;

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kUlp = 1.0f / 8388608.0f;

// Settings of one observe call apart from the hit itself.
struct Push {
    float depth = 0.1f, radius = 0.3f, previousDepth = 0.0f, previousRadius = 0.0f, cap = 1.0f, power = 1.0f;
    bool track = true;
    float strength = 1.0f, minDepth = 0.06f, maxCompression = 0.4f, maxLift = 0.55f;
    bool progressive = false;
};

void observe(SpanFold& fold, const PanelShape& shape, Vec hit, Vec direction, const Push& p) {
    fold.observe(shape, hit, direction, p.depth, p.radius, p.previousDepth, p.previousRadius, p.cap, p.power,
                 p.track, p.strength, p.minDepth, p.maxCompression, p.maxLift, p.progressive);
}

bool samePoints(const SpanFold& a, const SpanFold& b) {
    return std::memcmp(a.hinge, b.hinge, sizeof a.hinge) == 0 && std::memcmp(a.edge, b.edge, sizeof a.edge) == 0 &&
           std::memcmp(a.inset, b.inset, sizeof a.inset) == 0 &&
           std::memcmp(a.compression, b.compression, sizeof a.compression) == 0;
}

TEST(SpanFoldInit, KeepsSegmentsInRange) {
    const PanelShape shape;
    for (unsigned asked : {0u, 1u, 2u, 3u, 6u, 12u, 13u, 1000u}) {
        SpanFold fold;
        fold.init(-0.5f, 0.5f, 0.0f, asked, shape);
        const unsigned expected = asked < 2 ? 2 : (asked > 12 ? 12 : asked);
        EXPECT_EQ(fold.segments, expected) << asked;
        EXPECT_EQ(dent::spanSegments(fold), expected);
    }
}

TEST(SpanFoldInit, StationsAndInsetPoints) {
    const float stations[] = {-0.6f, -0.4f, -0.2f, 0.0f, 0.2f, 0.4f, 0.6f};
    const float insets[] = {-0.3f, -0.1f, 0.0f, 0.0f, 0.0f, 0.1f, 0.3f};
    for (float sign : {1.0f, -1.0f}) {
        const PanelShape shape{sign, 0.1f, 1.2f, 0.5f};
        SpanFold fold;
        for (float& c : fold.compression) c = 0.3f;
        fold.init(-0.6f, 0.6f, 0.25f, 6, shape);
        for (unsigned i = 0; i <= 6; ++i) {
            EXPECT_NEAR(fold.hinge[i].x, stations[i], 2e-7f) << i;
            EXPECT_EQ(fold.edge[i].x, fold.hinge[i].x);
            EXPECT_NEAR(fold.inset[i].x, insets[i], 2e-7f) << i;
            EXPECT_FLOAT_EQ(fold.hinge[i].y, sign * 0.1f);
            EXPECT_FLOAT_EQ(fold.edge[i].y, sign * 1.3f);
            EXPECT_EQ(fold.inset[i].y, fold.edge[i].y);
            EXPECT_EQ(fold.hinge[i].z, 0.25f);
            EXPECT_EQ(fold.inset[i].z, 0.25f);
        }
        for (float c : fold.compression) EXPECT_EQ(c, 0.0f);
    }
}

class SpanFoldObserve : public ::testing::Test {
protected:
    const PanelShape shape{1.0f, 0.0f, 1.0f, 0.5f};
    SpanFold fold;
    void SetUp() override { fold.init(-0.6f, 0.6f, 0.0f, 6, shape); }
};

TEST_F(SpanFoldObserve, UntrackedMovesPointsOnly) {
    for (float& c : fold.compression) c = 0.05f;
    fold.shorteningMax = 1.0f;
    fold.demandMax = 1.0f;
    const SpanFold before = fold;
    Push push;
    push.track = false;
    push.progressive = true;
    observe(fold, shape, Vec{0.0f, 1.0f, 0.0f}, Vec{0.0f, -1.0f, 0.0f}, push);
    EXPECT_LT(fold.edge[3].y, before.edge[3].y);
    EXPECT_LT(fold.inset[3].y, before.inset[3].y);
    for (unsigned i = 0; i <= 6; ++i) EXPECT_EQ(fold.compression[i], 0.05f);
    EXPECT_EQ(fold.shorteningMax, 0.0f);
    EXPECT_EQ(fold.demandMax, 0.0f);
}

// The free edge at the middle station pushed back by exactly minDepth.
TEST_F(SpanFoldObserve, ThresholdAndProgressiveDemand) {
    Push push;
    push.depth = 0.0625f;
    push.radius = 0.05f;
    push.minDepth = 0.0625f;
    const Vec hit{dent::spanStationX(fold, 3), 1.0f, 0.0f};
    const Vec back{0.0f, -1.0f, 0.0f};

    SpanFold plain = fold;
    observe(plain, shape, hit, back, push);
    EXPECT_EQ(plain.shorteningMax, 0.0625f);
    EXPECT_EQ(plain.demandMax, 0.0f);
    for (unsigned i = 0; i <= 6; ++i) EXPECT_EQ(plain.compression[i], 0.0f);
    EXPECT_EQ(std::memcmp(plain.inset, fold.inset, sizeof fold.inset), 0);  // insets only move when progressive

    push.progressive = true;
    push.strength = 2.0f;
    observe(fold, shape, hit, back, push);
    EXPECT_EQ(fold.shorteningMax, 0.0625f);
    EXPECT_EQ(fold.demandMax, 0.0625f);  // minDepth / 2 * strength
    for (unsigned i = 0; i <= 6; ++i) EXPECT_EQ(fold.compression[i], i == 3 ? 0.0625f : 0.0f) << i;
}

TEST_F(SpanFoldObserve, CompressionOnlyGrowsAndStaysLimited) {
    Push push;
    push.depth = 0.3f;
    push.radius = 0.5f;
    fold.compression[3] = 0.35f;
    observe(fold, shape, Vec{0.0f, 1.0f, 0.0f}, Vec{0.0f, -1.0f, 0.0f}, push);
    EXPECT_GT(fold.demandMax, 0.2f);
    EXPECT_EQ(fold.compression[3], 0.35f);  // larger than this hit demands
    EXPECT_GT(fold.compression[2], 0.1f);
    EXPECT_EQ(fold.compression[0], 0.0f);  // out of reach

    SpanFold limited;
    limited.init(-0.6f, 0.6f, 0.0f, 6, shape);
    push.maxCompression = 0.1f;
    observe(limited, shape, Vec{0.0f, 1.0f, 0.0f}, Vec{0.0f, -1.0f, 0.0f}, push);
    EXPECT_EQ(limited.compression[3], 0.1f);

    SpanFold low;
    low.init(-0.6f, 0.6f, 0.0f, 6, shape);
    push.maxCompression = 0.4f;
    push.maxLift = 0.2f;
    observe(low, shape, Vec{0.0f, 1.0f, 0.0f}, Vec{0.0f, -1.0f, 0.0f}, push);
    EXPECT_GT(low.compression[3], 0.0f);
    EXPECT_LE(dent::foldFor(1.0f, 0.5f, low.compression[3]).lift, 0.2f);
}

// A boot corner pushed back and inward: the free edge shears sideways against
// its inset point, and that shear adds to the shortening at the corner station.
TEST(SpanFoldProgressive, CornerShearAddsToTheShortening) {
    const PanelShape boot{-1.0f, 0.2f, 1.0f, 0.5f};
    SpanFold fold;
    fold.init(-0.6f, 0.6f, 0.0f, 6, boot);
    const SpanFold rest = fold;
    const Vec hit{0.6f, -1.2f, 0.0f};
    const Vec direction{-0.5f, 1.0f, 0.0f};
    const float corner = fold.cornerWeight(boot, hit, direction);
    EXPECT_NEAR(corner, 1.0f, 1e-6f);

    Push push;
    push.depth = 0.1f;
    push.radius = 0.5f;
    push.progressive = true;
    observe(fold, boot, hit, direction, push);

    const float shortening = ((fold.hinge[6].y - rest.hinge[6].y) - (fold.edge[6].y - rest.edge[6].y)) * -1.0f;
    const float shear = ((fold.inset[6].x - rest.inset[6].x) - (fold.edge[6].x - rest.edge[6].x)) * 0.5f * corner;
    EXPECT_GT(shortening, 0.05f);
    EXPECT_GT(shear, 0.01f);
    EXPECT_NEAR(fold.shorteningMax, std::hypot(shortening, shear), 1e-6f);
    EXPECT_GT(fold.compression[6], fold.compression[4]);
}

TEST(SpanFoldAt, LinearBetweenStationsAndHeldAtTheEnds) {
    SpanFold fold;
    fold.init(-0.6f, 0.6f, 0.0f, 6, PanelShape{});
    const float profile[] = {0.0f, 0.1f, 0.3f, 0.2f, 0.2f, 0.05f, 0.15f};
    std::memcpy(fold.compression, profile, sizeof profile);
    EXPECT_EQ(fold.at(-5.0f), 0.0f);
    EXPECT_EQ(fold.at(-0.6f), 0.0f);
    EXPECT_NEAR(fold.at(0.6f), 0.15f, 2 * kUlp);
    EXPECT_NEAR(fold.at(7.0f), 0.15f, 2 * kUlp);
    EXPECT_NEAR(fold.at(-0.4f), 0.1f, 1e-6f);
    EXPECT_NEAR(fold.at(-0.3f), 0.2f, 1e-6f);
    EXPECT_NEAR(fold.at(0.45f), 0.075f, 1e-6f);
    EXPECT_TRUE(std::isfinite(fold.at(kNaN)));

    fold.init(0.3f, 0.3005f, 0.0f, 5, PanelShape{});
    std::memcpy(fold.compression, profile, sizeof profile);
    EXPECT_EQ(fold.at(0.3f), profile[2]);
    EXPECT_EQ(fold.at(-1.0f), profile[2]);
}

TEST(SpanFoldCornerWeight, RisesTowardTheFreeEdgeCorners) {
    SpanFold fold;
    const PanelShape bonnet{1.0f, 0.0f, 1.0f, 0.5f};
    fold.init(-0.6f, 0.6f, 0.0f, 6, bonnet);
    EXPECT_NEAR(fold.cornerWeight(bonnet, Vec{-0.6f, 1.0f, 0.0f}, Vec{0.5f, -1.0f, 0.0f}), 1.0f, 1e-6f);
    EXPECT_NEAR(fold.cornerWeight(bonnet, Vec{0.6f, 1.0f, 0.3f}, Vec{-0.5f, -1.0f, -2.0f}), 1.0f, 1e-6f);
    // Halfway out of the middle 55 % and halfway along the last 35 %.
    EXPECT_NEAR(fold.cornerWeight(bonnet, Vec{0.465f, 0.825f, 0.0f}, Vec{-0.5f, -1.0f, 0.0f}), 0.25f, 1e-5f);

    EXPECT_EQ(fold.cornerWeight(bonnet, Vec{0.0f, 1.0f, 0.0f}, Vec{-0.5f, -1.0f, 0.0f}), 0.0f);  // the middle
    EXPECT_EQ(fold.cornerWeight(bonnet, Vec{0.6f, 1.0f, 0.0f}, Vec{0.0f, -1.0f, 0.0f}), 0.0f);   // no lateral part
    EXPECT_EQ(fold.cornerWeight(bonnet, Vec{0.6f, 1.0f, 0.0f}, Vec{0.5f, -1.0f, 0.0f}), 0.0f);   // pushing outward
    EXPECT_EQ(fold.cornerWeight(bonnet, Vec{0.6f, 1.0f, 0.0f}, Vec{-0.5f, 0.1f, 0.0f}), 0.0f);   // not pushing back
    EXPECT_EQ(fold.cornerWeight(bonnet, Vec{0.6f, 0.6f, 0.0f}, Vec{-0.5f, -1.0f, 0.0f}), 0.0f);  // first 65 %
    EXPECT_EQ(fold.cornerWeight(PanelShape{1.0f, 0.0f, 0.04f, 0.5f}, Vec{0.6f, 0.04f, 0.0f},
                                Vec{-0.5f, -1.0f, 0.0f}), 0.0f);  // too short

    const PanelShape boot{-1.0f, 0.0f, 1.0f, 0.5f};
    EXPECT_NEAR(fold.cornerWeight(boot, Vec{-0.6f, -1.0f, 0.0f}, Vec{0.5f, 1.0f, 0.0f}), 1.0f, 1e-6f);
    EXPECT_EQ(fold.cornerWeight(boot, Vec{-0.6f, -1.0f, 0.0f}, Vec{0.5f, -1.0f, 0.0f}), 0.0f);

    SpanFold narrow;
    narrow.init(0.0f, 0.0015f, 0.0f, 6, bonnet);
    EXPECT_EQ(narrow.cornerWeight(bonnet, Vec{0.0015f, 1.0f, 0.0f}, Vec{-0.5f, -1.0f, 0.0f}), 0.0f);
    EXPECT_EQ(fold.cornerWeight(bonnet, Vec{kNaN, 1.0f, 0.0f}, Vec{-0.5f, -1.0f, 0.0f}), 0.0f);
    EXPECT_EQ(fold.cornerWeight(bonnet, Vec{0.6f, kNaN, 0.0f}, Vec{-0.5f, -1.0f, 0.0f}), 0.0f);
}

TEST(SpanFoldBadInput, LeavesTheRecordAlone) {
    const PanelShape shape;
    SpanFold fold;
    fold.init(-0.6f, 0.6f, 0.0f, 6, shape);
    observe(fold, shape, Vec{0.0f, 1.0f, 0.0f}, Vec{0.0f, -1.0f, 0.0f}, Push{});
    ASSERT_GT(fold.compression[3], 0.0f);
    const SpanFold before = fold;

    const Vec hit{0.0f, 1.0f, 0.0f}, back{0.0f, -1.0f, 0.0f};
    observe(fold, shape, Vec{kNaN, 1.0f, 0.0f}, back, Push{});
    observe(fold, shape, hit, Vec{0.0f, kNaN, 0.0f}, Push{});
    observe(fold, PanelShape{1.0f, kNaN, 1.0f, 0.5f}, hit, back, Push{});
    Push bad;
    bad.depth = kNaN;
    observe(fold, shape, hit, back, bad);
    bad = Push{};
    bad.strength = std::numeric_limits<float>::infinity();
    observe(fold, shape, hit, back, bad);
    EXPECT_TRUE(samePoints(fold, before));
    EXPECT_EQ(fold.shorteningMax, 0.0f);
    EXPECT_EQ(fold.demandMax, 0.0f);
}

TEST(SpanFoldBadInput, SegmentsChangedByHandStayInsideTheArrays) {
    const PanelShape shape;
    SpanFold fold;
    fold.init(-0.6f, 0.6f, 0.0f, 12, shape);
    for (float& c : fold.compression) c = 0.1f;
    fold.segments = 4000;
    Push push;
    push.progressive = true;
    observe(fold, shape, Vec{0.6f, 1.0f, 0.0f}, Vec{-0.5f, -1.0f, 0.0f}, push);
    EXPECT_FLOAT_EQ(fold.at(10.0f), 0.1f);
    fold.segments = 0;
    EXPECT_FLOAT_EQ(fold.at(0.3f), 0.1f);
}

}  // namespace
