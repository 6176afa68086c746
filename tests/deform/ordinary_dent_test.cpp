#include "deform/ordinary_dent.h"

#include <gtest/gtest.h>

#include <limits>

#include "deform/support/dent_cases.h"

namespace {

using dent::Vec;

constexpr float kCap = 1.05f;
constexpr float kPower = 0.65f;

using testdeform::sameBits;

Vec dentOnce(Vec rest, Vec current, float depth, float radius, float prevDepth = 0, float prevRadius = 0,
             float cap = kCap, float power = kPower) {
    return dent::displaceImpact(rest, current, {0, 0, 0}, {0, -1, 0}, depth, radius, prevDepth, prevRadius, cap,
                                power);
}

TEST(OrdinaryDent, FullDepthAtTheHitPoint) {
    Vec moved = dentOnce({0, 0, 0}, {0, 0, 0}, 0.3f, 1.5f);
    EXPECT_EQ(moved.x, 0.0f);
    EXPECT_FLOAT_EQ(moved.y, -0.3f);
    EXPECT_EQ(moved.z, 0.0f);
}

TEST(OrdinaryDent, FalloffFollowsSmoothstepAndPower) {
    // Distance 1 of radius 2: t = 0.5, smoothstep 0.5.
    Vec plain = dentOnce({1, 0, 0}, {1, 0, 0}, 0.4f, 2.0f, 0, 0, kCap, 1.0f);
    EXPECT_FLOAT_EQ(plain.y, -0.2f);
    Vec narrow = dentOnce({1, 0, 0}, {1, 0, 0}, 0.4f, 2.0f, 0, 0, kCap, 2.0f);
    EXPECT_FLOAT_EQ(narrow.y, -0.1f);
    Vec atRadius = dentOnce({2, 0, 0}, {2, 0, 0}, 0.4f, 2.0f);
    EXPECT_TRUE(sameBits(atRadius, {2, 0, 0}));
}

TEST(OrdinaryDent, FalloffIsMeasuredFromRest) {
    // The current position lies inside the radius, the rest position outside:
    // the rest position decides, so nothing moves.
    Vec moved = dentOnce({2.5f, 0, 0}, {1.9f, 0, 0}, 0.4f, 2.0f);
    EXPECT_TRUE(sameBits(moved, {1.9f, 0, 0}));
}

TEST(OrdinaryDent, NoPushKeepsCurrentBitForBit) {
    const Vec rest{1, 0, 0};
    const Vec current{0.1f, 0, 0};  // rest + (current - rest) would round to 0.10000002
    EXPECT_TRUE(sameBits(dentOnce(rest, current, 0.3f, 0.5f), current));            // outside the radius
    EXPECT_TRUE(sameBits(dentOnce(rest, current, 0.3f, 2.0f, 0.3f, 2.0f), current));  // amount 0
    EXPECT_TRUE(sameBits(dent::displaceImpact(rest, current, {0, 0, 0}, {0, 0.00001f, 0}, 0.3f, 2.0f, 0, 0, kCap,
                                              kPower),
                         current));  // direction too short
}

TEST(OrdinaryDent, EpisodeAddsOnlyTheExcess) {
    const Vec rest{0.5f, 0, 0};
    Vec first = dentOnce(rest, rest, 0.2f, 1.5f);
    Vec repeat = dentOnce(rest, first, 0.2f, 1.5f, 0.2f, 1.5f);
    EXPECT_TRUE(sameBits(repeat, first));
    Vec deeper = dentOnce(rest, first, 0.3f, 1.5f, 0.2f, 1.5f);
    Vec direct = dentOnce(rest, rest, 0.3f, 1.5f);
    EXPECT_NEAR(deeper.y, direct.y, 1e-6f);
    // A new episode (previous 0) pushes the whole depth again.
    Vec again = dentOnce(rest, first, 0.2f, 1.5f);
    EXPECT_NEAR(again.y, 2.0f * first.y, 1e-6f);
}

TEST(OrdinaryDent, CapHoldsUnderRepeatedPushes) {
    const Vec rest{0, 0, 0};
    Vec p = rest;
    for (int i = 0; i < 50; ++i) p = dentOnce(rest, p, 0.05f, 1.0f, 0, 0, 0.1f);
    EXPECT_NEAR(dent::length(p - rest), 0.1f, 1e-6f);
    Vec once_more = dentOnce(rest, p, 0.05f, 1.0f, 0, 0, 0.1f);
    EXPECT_NEAR(dent::length(once_more - rest), 0.1f, 1e-6f);
}

TEST(OrdinaryDent, CapPullsBackEvenWithoutPush) {
    const Vec rest{0, 0, 0};
    Vec pulled = dent::displaceImpact(rest, {0, -0.5f, 0}, {9, 9, 9}, {0, 0, 0}, 0.3f, 1.0f, 0, 0, 0.2f, kPower);
    EXPECT_NEAR(pulled.y, -0.2f, 1e-6f);
}

TEST(OrdinaryDent, InvalidInputLeavesCurrentUnchanged) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Vec rest{0, 0, 0}, current{0.25f, -0.125f, 3.0f}, hit{0, 0, 0}, dir{0, -1, 0};
    auto call = [&](Vec r, Vec c, Vec h, Vec d, float depth, float radius, float pd, float pr, float cap,
                    float power) { return dent::displaceImpact(r, c, h, d, depth, radius, pd, pr, cap, power); };
    const Vec results[] = {
        call(rest, current, hit, dir, 0.0f, 1, 0, 0, 1, 1),   call(rest, current, hit, dir, -1, 1, 0, 0, 1, 1),
        call(rest, current, hit, dir, 1, 0.0f, 0, 0, 1, 1),   call(rest, current, hit, dir, 1, 1, 0, 0, 0.0f, 1),
        call(rest, current, hit, dir, 1, 1, 0, 0, 1, 0.0f),   call(rest, current, hit, dir, 1, 1, 0, 0, 1, -1),
        call({nan, 0, 0}, current, hit, dir, 1, 1, 0, 0, 1, 1), call(rest, current, {0, inf, 0}, dir, 1, 1, 0, 0, 1, 1),
        call(rest, current, hit, {0, nan, 0}, 1, 1, 0, 0, 1, 1), call(rest, current, hit, dir, inf, 1, 0, 0, 1, 1),
        call(rest, current, hit, dir, 1, 1, nan, 0, 1, 1),    call(rest, current, hit, dir, 1, 1, 0, inf, 1, 1),
        call(rest, current, hit, dir, 1, 1, 0, 0, nan, 1),    call(rest, current, hit, dir, 1, 1, 0, 0, 1, inf),
    };
    for (const Vec& r : results) EXPECT_TRUE(sameBits(r, current));
    Vec badCurrent{nan, 0, 0};
    EXPECT_TRUE(sameBits(call(rest, badCurrent, hit, dir, 1, 1, 0, 0, 1, 1), badCurrent));
}

}  // namespace

#include "deform/ordinary_path.h"

namespace {

TEST(OrdinaryPath, ReachIsStrictAndStopsAtTheFirstPoint) {
    const dent::Vec points[] = {{5, 0, 0}, {2, 0, 0}, {0, 0, 0}};
    EXPECT_FALSE(dent::reachesAny(points, 2, {0, 0, 0}, 2.0f));  // exactly at the radius
    EXPECT_TRUE(dent::reachesAny(points, 2, {0, 0, 0}, 2.001f));
    EXPECT_TRUE(dent::reachesAny(points, 3, {0, 0, 0}, 0.5f));
    EXPECT_FALSE(dent::reachesAny(points, 0, {0, 0, 0}, 100.0f));
}

TEST(OrdinaryPath, MeshDentMatchesTheVertexDent) {
    const dent::Vec rest[] = {{0, 0, 0}, {0.5f, 0, 0}, {3, 0, 0}};
    dent::Vec positions[] = {{0, 0, 0}, {0.5f, 0.1f, 0}, {3, 0, 0}};
    const dent::DentArguments a{{0, 0, 0}, {0, -2, 0}, 0.3f, 1.5f, 0.1f, 1.0f, 1.05f, 0.65f};
    dent::Vec expected[3];
    for (int i = 0; i < 3; ++i)
        expected[i] = dent::displaceImpact(rest[i], positions[i], a.hit, a.direction, a.depth, a.radius,
                                           a.previousDepth, a.previousRadius, a.cap, a.falloffPower);
    dent::dentMesh(rest, positions, 3, a);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(sameBits(positions[i], expected[i])) << i;
}

TEST(OrdinaryPath, BoundingRadiusNeverShrinks) {
    const dent::Vec points[] = {{1, 0, 0}, {0, 2, 0}};
    EXPECT_EQ(dent::grownBoundingRadius({0, 0, 0}, 5.0f, points, 2), 5.0f);
    EXPECT_EQ(dent::grownBoundingRadius({0, 0, 0}, 1.5f, points, 2), 2.0f);
    EXPECT_EQ(dent::grownBoundingRadius({0, 0, 0}, std::numeric_limits<float>::quiet_NaN(), points, 2), 2.0f);
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(dent::grownBoundingRadius({0, 0, 0}, inf, points, 2), inf);
    EXPECT_EQ(dent::grownBoundingRadius({0, 0, 0}, -inf, points, 2), 2.0f);
}

}  // namespace
