#include "impact/response.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

using dent::Episode;
using dent::ImpactConfig;
using dent::Response;
using dent::Vec;

const ImpactConfig kDefaults{0.04f, 0.65f, 1.0f, 1.15f, 0.65f, 1.1f, 2.25f};

bool isZero(Response r) { return r.impact == 0.0f && r.depth == 0.0f && r.radius == 0.0f; }

TEST(Response, WorkedExampleHalfway) {
    Response r = dent::response(345.0f, 1000.0f, kDefaults);
    EXPECT_FLOAT_EQ(r.impact, 0.345f);
    EXPECT_NEAR(r.depth, 0.2929f, 0.0001f);
    EXPECT_NEAR(r.radius, 1.8720f, 0.0001f);
}

TEST(Response, SaturatesAtReferenceImpactAndAbove) {
    for (float impulse : {650.0f, 2000.0f}) {
        Response r = dent::response(impulse, 1000.0f, kDefaults);
        EXPECT_EQ(r.depth, 0.65f) << impulse;
        EXPECT_EQ(r.radius, 2.25f) << impulse;
    }
}

TEST(Response, ThresholdIsStrict) {
    EXPECT_TRUE(isZero(dent::response(40.0f, 1000.0f, kDefaults)));
    Response r = dent::response(41.0f, 1000.0f, kDefaults);
    EXPECT_FLOAT_EQ(r.impact, 0.041f);
    EXPECT_GT(r.depth, 0.0f);
    EXPECT_LT(r.depth, 0.01f);
}

TEST(Response, UnusableInputGivesZero) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float impulse : {0.0f, -5.0f, inf, nan}) EXPECT_TRUE(isZero(dent::response(impulse, 1000.0f, kDefaults)));
    for (float mass : {1.0f, 0.5f, -3.0f, inf, nan}) EXPECT_TRUE(isZero(dent::response(500.0f, mass, kDefaults)));
    ImpactConfig inverted = kDefaults;
    inverted.ReferenceImpact = inverted.MinImpact;
    EXPECT_TRUE(isZero(dent::response(600.0f, 1000.0f, inverted)));
}

TEST(Response, StrengthAboveOneSaturatesEarly) {
    ImpactConfig strong = kDefaults;
    strong.Strength = 3.0f;
    Response r = dent::response(345.0f, 1000.0f, strong);
    EXPECT_EQ(r.depth, 0.65f);
    EXPECT_EQ(r.radius, 2.25f);
}

Response hit(float depth, float radius) { return {0.1f, depth, radius}; }

TEST(Episode, FirstContactBeginsEpisodeOne) {
    Episode e{};
    EXPECT_TRUE(e.observe({1, 2, 0}, {0, -3, 0}, hit(0.2f, 1.5f), 1000, 180));
    EXPECT_EQ(e.number, 1u);
    EXPECT_TRUE(e.active);
    EXPECT_EQ(e.depth, 0.2f);
    EXPECT_EQ(e.radius, 1.5f);
    EXPECT_EQ(e.direction.y, -1.0f);
    EXPECT_EQ(e.lastContactMs, 1000u);
}

TEST(Episode, ContinuationAddsOnlyGrowth) {
    Episode e{};
    e.observe({0, 2, 0}, {0, -1, 0}, hit(0.2f, 1.5f), 1000, 180);
    // Nearby, same direction, smaller: nothing new, but the time moves.
    EXPECT_FALSE(e.observe({0.5f, 2, 0}, {0, -1, 0}, hit(0.1f, 1.2f), 1100, 180));
    EXPECT_EQ(e.number, 1u);
    EXPECT_EQ(e.depth, 0.2f);
    EXPECT_EQ(e.lastContactMs, 1100u);
    // Deeper: grows, keeps the first point and direction.
    EXPECT_TRUE(e.observe({0.5f, 2, 0}, {0.3f, -1, 0}, hit(0.3f, 1.5f), 1200, 180));
    EXPECT_EQ(e.number, 1u);
    EXPECT_EQ(e.depth, 0.3f);
    EXPECT_EQ(e.point.x, 0.0f);
    EXPECT_EQ(e.direction.x, 0.0f);
    // Growth within 0.00001 does not count.
    EXPECT_FALSE(e.observe({0, 2, 0}, {0, -1, 0}, hit(0.30001f, 1.5f), 1250, 180));
    EXPECT_TRUE(e.observe({0, 2, 0}, {0, -1, 0}, hit(0.30005f, 1.5f), 1260, 180));
}

TEST(Episode, GapDistanceAndAngleEndTheEpisode) {
    Episode e{};
    e.observe({0, 2, 0}, {0, -1, 0}, hit(0.2f, 1.5f), 1000, 180);
    EXPECT_FALSE(e.observe({0, 2, 0}, {0, -1, 0}, hit(0.2f, 1.5f), 1180, 180));  // exactly the gap
    EXPECT_EQ(e.number, 1u);
    EXPECT_TRUE(e.observe({0, 2, 0}, {0, -1, 0}, hit(0.2f, 1.5f), 1361, 180));  // gap + 1
    EXPECT_EQ(e.number, 2u);
    EXPECT_TRUE(e.observe({0.86f, 2, 0}, {0, -1, 0}, hit(0.1f, 1.1f), 1370, 180));  // too far
    EXPECT_EQ(e.number, 3u);
    EXPECT_EQ(e.depth, 0.1f);  // a new episode starts from its own contact
    // cosine 0.64 to the episode direction
    const float c = 0.64f, s = std::sqrt(1.0f - c * c);
    EXPECT_TRUE(e.observe({0.86f, 2, 0}, {s, -c, 0}, hit(0.1f, 1.1f), 1380, 180));
    EXPECT_EQ(e.number, 4u);
}

TEST(Episode, WrappedClockCountsTheRealGap) {
    Episode e{};
    e.observe({0, 2, 0}, {0, -1, 0}, hit(0.2f, 1.5f), 0xFFFFFFF0u, 180);
    EXPECT_FALSE(e.observe({0, 2, 0}, {0, -1, 0}, hit(0.2f, 1.5f), 34u, 180));  // 50 ms later
    EXPECT_EQ(e.number, 1u);
}

TEST(Episode, InvalidContactChangesNothing) {
    Episode e{};
    e.observe({0, 2, 0}, {0, -1, 0}, hit(0.2f, 1.5f), 1000, 180);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Episode before = e;
    EXPECT_FALSE(e.observe({nan, 2, 0}, {0, -1, 0}, hit(0.5f, 2.0f), 1010, 180));
    EXPECT_FALSE(e.observe({0, 2, 0}, {0, -0.0009f, 0}, hit(0.5f, 2.0f), 1010, 180));
    EXPECT_FALSE(e.observe({0, 2, 0}, {0, -1, 0}, hit(0.0f, 2.0f), 1010, 180));
    EXPECT_FALSE(e.observe({0, 2, 0}, {0, -1, 0}, hit(0.5f, nan), 1010, 180));
    EXPECT_EQ(0, std::memcmp(&before, &e, sizeof e));
}

TEST(Episode, TinyFirstContactBeginsEpisodeWithoutGrowth) {
    Episode e{};
    EXPECT_FALSE(e.observe({0, 2, 0}, {0, -1, 0}, hit(0.000005f, 0.000005f), 500, 180));
    EXPECT_EQ(e.number, 1u);
    EXPECT_TRUE(e.active);
    EXPECT_EQ(e.lastContactMs, 500u);
}

}  // namespace
