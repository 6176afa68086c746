#include "impact/traffic_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <vector>

namespace {

using dent::TrafficCandidate;
using dent::Vec;

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

TEST(TrafficRange, BoundaryIsInside) {
    // 3-4-12 triangle: distance exactly 13.
    EXPECT_TRUE(dent::inTrafficRange({3, 4, 12}, {0, 0, 0}, 13.0f));
    EXPECT_FALSE(dent::inTrafficRange({3, 4, 12}, {0, 0, 0}, 12.999f));
    EXPECT_TRUE(dent::inTrafficRange({-100, 5, 2}, {-100, 5, 2}, 20.0f));
    // Height counts like the other axes.
    EXPECT_FALSE(dent::inTrafficRange({0, 0, 21}, {0, 0, 0}, 20.0f));
}

TEST(TrafficRange, RangeMustBeFiniteAndPositive) {
    EXPECT_FALSE(dent::inTrafficRange({0, 0, 0}, {0, 0, 0}, 0.0f));
    EXPECT_FALSE(dent::inTrafficRange({0, 0, 0}, {0, 0, 0}, -5.0f));
    EXPECT_FALSE(dent::inTrafficRange({0, 0, 0}, {0, 0, 0}, kInf));
    EXPECT_FALSE(dent::inTrafficRange({0, 0, 0}, {0, 0, 0}, kNaN));
}

TEST(TrafficRange, NonFiniteCoordinatesAreOutside) {
    for (int i = 0; i < 6; ++i) {
        Vec a{1, 1, 1};
        Vec b{0, 0, 0};
        float* coordinate = i < 3 ? &a.x + i : &b.x + (i - 3);
        *coordinate = kNaN;
        EXPECT_FALSE(dent::inTrafficRange(a, b, 100.0f)) << "NaN at " << i;
        *coordinate = -kInf;
        EXPECT_FALSE(dent::inTrafficRange(a, b, 100.0f)) << "infinity at " << i;
    }
}

TEST(TrafficPriority, LinkedVehicleFirstWhateverItsDistance) {
    const TrafficCandidate linked{nullptr, 9000.0f, true, 700};
    const TrafficCandidate near{nullptr, 1.0f, false, 1};
    EXPECT_TRUE(dent::trafficPriority(linked, near));
    EXPECT_FALSE(dent::trafficPriority(near, linked));
}

TEST(TrafficPriority, NearerFirstThenLowerSignedHandle) {
    const TrafficCandidate a{nullptr, 4.0f, false, 900};
    const TrafficCandidate b{nullptr, 9.0f, false, 2};
    EXPECT_TRUE(dent::trafficPriority(a, b));
    EXPECT_FALSE(dent::trafficPriority(b, a));

    const TrafficCandidate low{nullptr, 9.0f, false, -3};
    EXPECT_TRUE(dent::trafficPriority(low, b));
    EXPECT_FALSE(dent::trafficPriority(b, low));
    EXPECT_FALSE(dent::trafficPriority(b, b));
}

TEST(TrafficPriority, NaNDistanceNeverComesFirst) {
    const TrafficCandidate nan{nullptr, kNaN, false, 1};
    const TrafficCandidate far{nullptr, 1e6f, false, 2};
    EXPECT_FALSE(dent::trafficPriority(nan, far));
    EXPECT_FALSE(dent::trafficPriority(far, nan));
    // The handle is not consulted either: the distances "differ".
    const TrafficCandidate otherNan{nullptr, kNaN, false, 5};
    EXPECT_FALSE(dent::trafficPriority(nan, otherNan));
    EXPECT_FALSE(dent::trafficPriority(otherNan, nan));
}

TEST(TrafficPriority, SortsAMixedFrame) {
    std::vector<TrafficCandidate> candidates = {
        {nullptr, 50.0f, false, 0x305}, {nullptr, 10.0f, false, 0x700}, {nullptr, 2500.0f, true, 0x110},
        {nullptr, 10.0f, false, 0x204}, {nullptr, 0.5f, false, 0x999},
    };
    std::sort(candidates.begin(), candidates.end(), dent::trafficPriority);
    std::vector<std::int32_t> handles;
    for (const auto& c : candidates) handles.push_back(c.handle);
    EXPECT_EQ(handles, (std::vector<std::int32_t>{0x110, 0x999, 0x204, 0x700, 0x305}));
}

}  // namespace
