#include "foundation/vec.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using dent::HostMatrix;

HostMatrix identity() { return HostMatrix{{1, 0, 0}, 0, {0, 1, 0}, 0, {0, 0, 1}, 0, {5, -3, 2}, 0}; }

TEST(Orthonormal, AcceptsRotationsWithinTolerance) {
    EXPECT_TRUE(dent::isOrthonormal(identity()));
    const float c = 0.8f, s = 0.6f;
    HostMatrix rotated{{c, s, 0}, 0, {-s, c, 0}, 0, {0, 0, 1}, 0, {0, 0, 0}, 0};
    EXPECT_TRUE(dent::isOrthonormal(rotated));
    HostMatrix slightlyLong = identity();
    slightlyLong.right.x = 1.009f;  // length^2 - 1 = 0.018
    EXPECT_TRUE(dent::isOrthonormal(slightlyLong));
}

TEST(Orthonormal, RejectsScaleShearAndNonFinite) {
    HostMatrix scaled = identity();
    scaled.up.z = 1.011f;  // length^2 - 1 > 0.02
    EXPECT_FALSE(dent::isOrthonormal(scaled));
    HostMatrix sheared = identity();
    sheared.forward.x = 0.021f;
    EXPECT_FALSE(dent::isOrthonormal(sheared));
    HostMatrix far = identity();
    far.position.y = std::numeric_limits<float>::infinity();
    EXPECT_FALSE(dent::isOrthonormal(far));
    HostMatrix nan = identity();
    nan.right.z = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(dent::isOrthonormal(nan));
    HostMatrix zero{};
    EXPECT_FALSE(dent::isOrthonormal(zero));
}

TEST(Normalized, ShortVectorsBecomeZero) {
    dent::Vec n = dent::normalized({3, 0, 4});
    EXPECT_FLOAT_EQ(n.x, 0.6f);
    EXPECT_FLOAT_EQ(n.z, 0.8f);
    dent::Vec tiny = dent::normalized({0.00001f, 0, 0});
    EXPECT_EQ(tiny.x, 0.0f);
}

TEST(Falloff, SmoothstepRaisedToPower) {
    EXPECT_EQ(dent::falloffWeight(0.0f, 2.0f, 0.65f), 1.0f);
    EXPECT_EQ(dent::falloffWeight(2.0f, 2.0f, 0.65f), 0.0f);  // at the radius: nothing
    EXPECT_EQ(dent::falloffWeight(1.0f, 2.0f, 1.0f), 0.5f);   // t = 0.5: smoothstep 0.5
    EXPECT_FLOAT_EQ(dent::falloffWeight(1.0f, 2.0f, 2.0f), 0.25f);
    EXPECT_EQ(dent::falloffWeight(1.0f, 0.0f, 1.0f), 0.0f);
}

TEST(Falloff, NanDistanceOrRadiusGivesNoWeight) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(dent::falloffWeight(nan, 2.0f, 0.65f), 0.0f);
    EXPECT_EQ(dent::falloffWeight(1.0f, nan, 0.65f), 0.0f);
}

TEST(Clamp, NanGoesToTheUpperBound) {
    EXPECT_EQ(dent::clampTo(std::numeric_limits<float>::quiet_NaN(), 0.0f, 1.0f), 1.0f);
    EXPECT_EQ(dent::clampTo(-2.0f, 0.0f, 1.0f), 0.0f);
    EXPECT_EQ(dent::clampTo(0.25f, 0.0f, 1.0f), 0.25f);
}

}  // namespace
