#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "deform/support/geometry_host.h"
#include "foundation/settings.h"
#include "host/support/fake_host.h"
#include "host/support/module_state.h"
#include "impact/traffic_selection.h"

namespace {

using dent::Vec;

class TrafficSelection : public ::testing::Test {
protected:
    void SetUp() override {
        slots.assign(64, 0x80);
        host.pool.slots = slots.data();
        host.pool.count = static_cast<std::int32_t>(slots.size());
        player = vehicleInSlot(0, 0x01, {0, 0, 0});
    }

    // A vehicle in slot `index` with a collision strong enough to dent.
    host::Vehicle* vehicleInSlot(std::int32_t index, std::uint8_t slotByte, Vec position) {
        host::Vehicle* v = host.vehicle(index * 256 + slotByte);
        slots.at(static_cast<std::size_t>(index)) = slotByte;
        v->position = position;
        v->impulse = 345.0f;
        v->mass = 1000.0f;
        return v;
    }

    std::vector<std::int32_t> handles(void* reference, void* playerVehicle) {
        std::vector<std::int32_t> result;
        for (const auto& c : kerbmark::selectTraffic(reference, playerVehicle)) result.push_back(c.handle);
        return result;
    }

    testhost::FakeHost host;
    std::vector<std::uint8_t> slots;
    host::Vehicle* player = nullptr;
    testhost::ModuleState moduleState;
};

TEST_F(TrafficSelection, NearbyDentedVehiclesInPriorityOrder) {
    host::Vehicle* far = vehicleInSlot(3, 0x02, {30, 0, 0});
    vehicleInSlot(7, 0x05, {0, -10, 0});
    vehicleInSlot(5, 0x09, {6, 8, 0});  // also 10 away, lower handle
    host::Vehicle* linked = vehicleInSlot(9, 0x01, {0, 0, 50});
    host::Vehicle* parked = vehicleInSlot(2, 0x01, {5, 0, 0});
    parked->impulse = 0.0f;
    vehicleInSlot(4, 0x01, {150, 0, 0});  // out of range
    player->linkedEntity = linked;

    const auto candidates = kerbmark::selectTraffic(player, player);
    ASSERT_EQ(candidates.size(), 4u);
    EXPECT_EQ(candidates[0].vehicle, linked);
    EXPECT_TRUE(candidates[0].linkedToPlayer);
    EXPECT_EQ(candidates[0].distanceSquared, 2500.0f);
    EXPECT_EQ(candidates[1].handle, 5 * 256 + 0x09);
    EXPECT_EQ(candidates[1].distanceSquared, 100.0f);
    EXPECT_EQ(candidates[2].handle, 7 * 256 + 0x05);
    EXPECT_FALSE(candidates[2].linkedToPlayer);
    EXPECT_EQ(candidates[3].vehicle, far);
    EXPECT_EQ(candidates[3].handle, 3 * 256 + 0x02);
}

TEST_F(TrafficSelection, PoolSlotCount) {
    vehicleInSlot(1, 0x03, {5, 0, 0});
    for (std::int32_t count : {0, -1, 10001}) {
        host.pool.count = count;
        EXPECT_TRUE(kerbmark::selectTraffic(player, player).empty()) << count;
    }
    slots.resize(10000, 0x80);
    host.pool.slots = slots.data();
    vehicleInSlot(9999, 0x04, {0, 5, 0});
    host.pool.count = 10000;
    EXPECT_EQ(handles(player, player), (std::vector<std::int32_t>{1 * 256 + 3, 9999 * 256 + 4}));

    host.pool.slots = nullptr;
    EXPECT_TRUE(kerbmark::selectTraffic(player, player).empty());
    host.setPoolPresent(false);
    EXPECT_TRUE(kerbmark::selectTraffic(player, player).empty());
}

TEST_F(TrafficSelection, SkippedVehicles) {
    host::Vehicle* free = vehicleInSlot(1, 0x83, {1, 0, 0});  // handle still resolves
    (void)free;
    host::Vehicle* wrecked = vehicleInSlot(2, 0x01, {2, 0, 0});
    wrecked->state = (2 << 3) | 0x07;
    host::Vehicle* gone = vehicleInSlot(3, 0x01, {3, 0, 0});
    gone->state = 13 << 3;
    host::Vehicle* flagged = vehicleInSlot(4, 0x01, {4, 0, 0});
    flagged->word594 = 1;
    host::Vehicle* noClump = vehicleInSlot(5, 0x01, {5, 0, 0});
    noClump->clump = nullptr;
    host::Vehicle* lost = vehicleInSlot(6, 0x01, {6, 0, 0});
    lost->position.y = std::numeric_limits<float>::quiet_NaN();
    vehicleInSlot(7, 0x01, {7, 0, 0});
    host.removeVehicle(7 * 256 + 1);  // the handle no longer names a vehicle
    host::Vehicle* driving = vehicleInSlot(8, 0x01, {8, 0, 0});
    driving->state = (3 << 3) | 0x07;

    EXPECT_EQ(handles(player, player), std::vector<std::int32_t>{8 * 256 + 1});
}

TEST_F(TrafficSelection, RangeBoundary) {
    kerbmark::settings.NPCRange = 20.0f;
    vehicleInSlot(1, 0x01, {12, 16, 0});       // exactly 20
    vehicleInSlot(2, 0x01, {12, 16, 0.01f});  // just beyond
    EXPECT_EQ(handles(player, player), std::vector<std::int32_t>{1 * 256 + 1});
}

TEST_F(TrafficSelection, PositionsFromMatricesWhenPresent) {
    kerbmark::settings.NPCRange = 20.0f;
    dent::HostMatrix playerMatrix = testdeform::identityMatrix({100, 0, 0});
    player->matrix = &playerMatrix;
    dent::HostMatrix otherMatrix = testdeform::identityMatrix({103, 4, 0});
    host::Vehicle* other = vehicleInSlot(1, 0x01, {0, 0, 0});  // its own position word is stale
    other->matrix = &otherMatrix;
    vehicleInSlot(2, 0x01, {1, 0, 0});  // near the stale origin, far from the player

    const auto candidates = kerbmark::selectTraffic(player, player);
    ASSERT_EQ(candidates.size(), 1u);
    EXPECT_EQ(candidates[0].vehicle, other);
    EXPECT_EQ(candidates[0].distanceSquared, 25.0f);
}

TEST_F(TrafficSelection, OnFootThePedIsTheReference) {
    host::Vehicle* linked = vehicleInSlot(1, 0x01, {40, 0, 0});
    vehicleInSlot(2, 0x01, {10, 0, 0});
    player->linkedEntity = linked;
    host::Vehicle ped{};  // not in the pool
    ped.position = {45, 0, 0};

    const auto candidates = kerbmark::selectTraffic(&ped, nullptr);
    ASSERT_EQ(candidates.size(), 3u);  // the player's parked car counts as traffic now
    EXPECT_EQ(candidates[0].vehicle, linked);
    EXPECT_FALSE(candidates[0].linkedToPlayer);
    for (const auto& c : candidates) EXPECT_FALSE(c.linkedToPlayer);
}

TEST_F(TrafficSelection, UnusableReferenceSelectsNothing) {
    vehicleInSlot(1, 0x01, {4, 0, 0});
    player->position.z = std::numeric_limits<float>::infinity();
    EXPECT_TRUE(kerbmark::selectTraffic(player, player).empty());
    EXPECT_TRUE(kerbmark::selectTraffic(nullptr, nullptr).empty());
}

}  // namespace
