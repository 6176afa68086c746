#include "collision/crush_map.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "support/lcg.h"

namespace {

using dent::Crush;
using dent::crushY;

TEST(CrushMap, FrontRampMatchesWorkedNumbers) {
    const Crush crush{0.3f, 0.0f};
    EXPECT_NEAR(crushY(1.2f, crush, -2.0f, 2.0f), 1.0846f, 0.0001f);
    EXPECT_EQ(crushY(2.0f, crush, -2.0f, 2.0f), 1.7f);
    // Past the end the whole compression applies.
    EXPECT_EQ(crushY(2.5f, crush, -2.0f, 2.0f), 2.5f - 0.3f);
}

TEST(CrushMap, MiddleAndUncompressedSideStayBitForBit) {
    const Crush frontOnly{0.4f, 0.0f};
    for (float y : {0.7f, 0.5f, 0.0f, -0.0f, -0.3f, -1.9f, -2.0f, -3.0f}) {
        EXPECT_EQ(crushY(y, frontOnly, -2.0f, 2.0f), y) << y;
    }
    const Crush rearOnly{0.0f, 0.4f};
    EXPECT_EQ(crushY(-0.7f, rearOnly, -2.0f, 2.0f), -0.7f);
    EXPECT_EQ(crushY(1.9f, rearOnly, -2.0f, 2.0f), 1.9f);
    EXPECT_EQ(crushY(-2.0f, rearOnly, -2.0f, 2.0f), -1.6f);
}

TEST(CrushMap, ShortSidesNeverMove) {
    const Crush crush{0.2f, 0.2f};
    EXPECT_EQ(crushY(0.5f, crush, -2.0f, 0.5f), 0.5f);
    EXPECT_EQ(crushY(0.45f, crush, -2.0f, 0.5f), 0.45f);
    EXPECT_EQ(crushY(-0.5f, crush, -0.5f, 2.0f), -0.5f);
    EXPECT_EQ(crushY(-0.45f, crush, -0.5f, 2.0f), -0.45f);
}

TEST(CrushMap, UnusableInputLeavesYAlone) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(crushY(1.8f, Crush{inf, 0.0f}, -2.0f, 2.0f), 1.8f);
    EXPECT_EQ(crushY(1.8f, Crush{nan, 0.0f}, -2.0f, 2.0f), 1.8f);
    EXPECT_EQ(crushY(-1.8f, Crush{0.0f, nan}, -2.0f, 2.0f), -1.8f);
    EXPECT_EQ(crushY(1.8f, Crush{0.3f, 0.0f}, -2.0f, nan), 1.8f);
    EXPECT_EQ(crushY(-1.8f, Crush{0.0f, 0.3f}, -inf, 2.0f), -1.8f);
    EXPECT_EQ(crushY(inf, Crush{0.3f, 0.3f}, -2.0f, 2.0f), inf);
    EXPECT_TRUE(std::isnan(crushY(nan, Crush{0.3f, 0.3f}, -2.0f, 2.0f)));
}

// Over many models within the compression limits: the map keeps the order of
// points, the ends move in by exactly the compression, and the middle stays.
TEST(CrushMap, KeepsOrderAndMovesEndsByTheCompression) {
    Lcg rng{20240611u};
    for (int model = 0; model < 4000; ++model) {
        const float maxY = rng.between(0.51f, 4.0f);
        const float minY = -rng.between(0.51f, 4.0f);
        const Crush crush{rng.between(0.0f, 0.3f * maxY), rng.between(0.0f, 0.3f * -minY)};
        ASSERT_EQ(crushY(maxY, crush, minY, maxY), maxY - crush.front) << model;
        ASSERT_EQ(crushY(minY, crush, minY, maxY), minY + crush.rear) << model;

        float previous = crushY(minY - 0.5f, crush, minY, maxY);
        const int steps = 200;
        for (int k = 0; k <= steps; ++k) {
            const float y = (minY - 0.5f) + (maxY - minY + 1.0f) * static_cast<float>(k) / steps;
            const float mapped = crushY(y, crush, minY, maxY);
            ASSERT_GE(mapped, previous) << model << " y " << y;
            if (y <= 0.35f * maxY && y >= 0.35f * minY) {
                ASSERT_EQ(mapped, y) << model;
            }
            previous = mapped;
        }
    }
}

}  // namespace
