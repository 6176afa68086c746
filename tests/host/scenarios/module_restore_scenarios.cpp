// The built module undoing its dents inside the simulated host: F7, a repair,
// a vehicle the host removed, and the two events that discard everything.
// After every restore each reference count is back where it started and no
// copy the module made is left.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "car_model.h"
#include "dent_support.h"
#include "host_checks.h"
#include "host_functions.h"
#include "host_image.h"
#include "module_loader.h"

namespace {

using hostsim::HostFunction;
using hostsim::Vec3;
using namespace scenario;

const Vec3 kFront{0.0f, 2.3f, -0.05f};
const Vec3 kBackward{0.0f, 1.0f, 0.0f};  // the host's normal at the front points out

// Three episodes: a front crash, a rear hit at the right light, a knock on the left side.
void dentAllRound(hostsim::Vehicle* vehicle) {
    holdContact(vehicle, 0.4f, kFront, kBackward, 2);
    quietFrames(vehicle, 8);
    holdContact(vehicle, 0.3f, hostsim::kRearLightPosition, {0.0f, -1.0f, 0.0f}, 2);
    quietFrames(vehicle, 8);
    holdContact(vehicle, 0.2f, {-0.9f, 0.2f, 0.1f}, {-1.0f, 0.0f, 0.0f}, 2);
    quietFrames(vehicle, 1);
}

TEST(Restore, F7PutsEveryOriginalBack) {
    DrivenHost host;
    startDriven(host);
    dentAllRound(host.player);
    ASSERT_EQ(hitLines(host.log).size(), 3u);
    ASSERT_GE(copiesOn(host.player), 8u);
    ASSERT_EQ(hostsim::lightStatus(host.player, hostsim::kRearLightRight), 1);

    // Held for several frames: one reset; the contact of the F7 frame is not handled.
    hostsim::setKeyDown(hostsim::kKeyF7, true);
    hostsim::setContact(host.player, 0.4f, kFront, kBackward);
    hostsim::runFrame();
    EXPECT_EQ(hitLines(host.log).size(), 3u);
    hostsim::clearCollision(host.player);
    hostsim::runFrames(3);
    hostsim::setKeyDown(hostsim::kKeyF7, false);
    hostsim::runFrame();
    EXPECT_EQ(linesStartingWith(host.log, kPlayerReset).size(), 1u);
    expectAllRestored(host, host.player, host.rest);
    EXPECT_EQ(hostsim::lightStatus(host.player, hostsim::kRearLightRight), 1) << "F7 restores geometry, not lights";

    // The episodes start again from the first.
    holdContact(host.player, 0.4f, kFront, kBackward, 1);
    const std::vector<HitLine> hits = hitLines(host.log);
    ASSERT_EQ(hits.size(), 4u);
    EXPECT_EQ(hits.back().episode, 1u);
    EXPECT_GE(copiesOn(host.player), 5u);

    // F7 again, and the same frame's contact is dropped.
    hostsim::setKeyDown(hostsim::kKeyF7, true);
    hostsim::setContact(host.player, 0.6f, kFront, kBackward);
    hostsim::runFrame();
    hostsim::clearCollision(host.player);
    hostsim::setKeyDown(hostsim::kKeyF7, false);
    hostsim::runFrame();
    EXPECT_EQ(linesStartingWith(host.log, kPlayerReset).size(), 2u);
    EXPECT_EQ(hitLines(host.log).size(), 4u);
    expectAllRestored(host, host.player, host.rest);
    expectNoHostFaults();
}

// F7 on foot, and F7 for a car that was never hit: nothing, no line.
TEST(Restore, F7WithoutARecordDoesNothing) {
    DrivenHost host;
    startDriven(host);
    hostsim::setKeyDown(hostsim::kKeyF7, true);
    hostsim::runFrame();
    hostsim::setKeyDown(hostsim::kKeyF7, false);
    hostsim::runFrame();
    EXPECT_TRUE(linesStartingWith(host.log, kPlayerReset).empty());
    EXPECT_EQ(hostsim::calls(HostFunction::SetGeometry), 0u);
    expectLedgerUnchanged(host);
    expectNoHostFaults();
}

TEST(Restore, RepairPutsEveryOriginalBack) {
    DrivenHost host;
    hostsim::VehicleSpec design;
    design.health = 600.0f;
    startDriven(host, "", design);
    dentAllRound(host.player);
    ASSERT_GE(copiesOn(host.player), 8u);

    host.player->health = 625.0f;  // a rise of exactly 25 is no repair
    hostsim::runFrames(2);
    EXPECT_GE(copiesOn(host.player), 8u);

    host.player->health = 1000.0f;
    hostsim::runFrame();
    expectAllRestored(host, host.player, host.rest);
    EXPECT_TRUE(linesStartingWith(host.log, kPlayerReset).empty()) << "a repair restores silently";

    holdContact(host.player, 0.4f, kFront, kBackward, 1);
    EXPECT_EQ(hitLines(host.log).back().episode, 1u);
    expectNoHostFaults();
}

// A removed vehicle's record goes without a single write to the vehicle, its
// atomics or the geometries they draw; only the module's own references are
// given back.
TEST(Restore, RemovedVehicleLosesItsRecordUntouched) {
    DrivenHost host;
    startDriven(host);
    hostsim::VehicleSpec design;
    design.modelId = 401;
    design.position = {4.0f, 12.0f, 0.0f};
    hostsim::Vehicle* traffic = hostsim::spawnVehicle(design);
    retakeLedger(host);
    const hostsim::VehicleSnapshot trafficRest = hostsim::snapshotVehicle(traffic);
    holdContact(traffic, 0.4f, kFront, kBackward, 1);
    settleTrafficWork();
    const std::vector<HitLine> hits = hitLines(host.log);
    ASSERT_EQ(hits.size(), 1u);
    ASSERT_EQ(hits[0].actor, "npc");
    const hostsim::VehicleSnapshot dented = hostsim::snapshotVehicle(traffic);
    const std::size_t copies = copiesOn(traffic);
    ASSERT_GE(copies, 5u);

    hostsim::setContact(traffic, 0.6f, kFront, kBackward);  // still colliding, but gone
    std::vector<std::uint8_t> vehicleBytes(sizeof(hostsim::Vehicle));
    std::memcpy(vehicleBytes.data(), static_cast<const void*>(traffic), vehicleBytes.size());
    std::vector<hostsim::Atomic> atomics;
    for (const hostsim::Atomic* atomic : hostsim::clumpAtomics(traffic->clump)) atomics.push_back(*atomic);
    const std::uint32_t setGeometries = hostsim::calls(HostFunction::SetGeometry);
    const std::uint32_t destroys = hostsim::calls(HostFunction::DestroyGeometry);

    hostsim::removeVehicle(traffic);
    hostsim::runFrames(3);

    EXPECT_EQ(std::memcmp(vehicleBytes.data(), static_cast<const void*>(traffic), vehicleBytes.size()), 0);
    const std::vector<hostsim::Atomic*> now = hostsim::clumpAtomics(traffic->clump);
    for (std::size_t i = 0; i < now.size(); ++i)
        EXPECT_EQ(std::memcmp(&atomics[i], now[i], sizeof(hostsim::Atomic)), 0) << dented[i].name;
    EXPECT_EQ(largestMove(hostsim::snapshotVehicle(traffic), dented), 0.0f);
    EXPECT_EQ(hostsim::calls(HostFunction::SetGeometry), setGeometries);
    EXPECT_EQ(hostsim::calls(HostFunction::DestroyGeometry) - destroys, 2 * copies) << "each copy and its original";
    EXPECT_EQ(hitLines(host.log).size(), 1u);
    for (std::size_t i = 0; i < dented.size(); ++i) {
        if (!dented[i].geometry->hostMadeByModule) continue;
        EXPECT_EQ(dented[i].geometry->references, 1) << "only the atomic holds the copy: " << dented[i].name;
        const hostsim::Geometry* original = trafficRest[i].geometry;
        EXPECT_EQ(original->references, host.ledger.geometries.at(original) - 1)
            << "the module's reference is back, the atomic draws the copy: " << dented[i].name;
    }

    // The slot's next vehicle, at the same address, is a vehicle of its own.
    hostsim::Vehicle* next = hostsim::spawnVehicle(design);
    ASSERT_EQ(next, traffic);
    holdContact(next, 0.4f, kFront, kBackward, 1);
    settleTrafficWork();
    const std::vector<HitLine> later = hitLines(host.log);
    ASSERT_EQ(later.size(), 2u);
    EXPECT_EQ(later[1].episode, 1u);
    EXPECT_EQ(later[1].handle, hostsim::vehicleHandle(next));
    EXPECT_NE(later[1].handle, hits[0].handle);
    expectNoHostFaults();
}

// Both host events restore every vehicle before the host's own routine runs.
TEST(Restore, BothResetEventsRestoreEverything) {
    DrivenHost host;
    startDriven(host);
    hostsim::VehicleSpec design;
    design.modelId = 401;
    design.position = {-5.0f, 20.0f, 0.0f};
    hostsim::Vehicle* traffic = hostsim::spawnVehicle(design);
    retakeLedger(host);
    const hostsim::VehicleSnapshot trafficRest = hostsim::snapshotVehicle(traffic);

    const std::uint32_t sites[] = {hostsim::kResetSiteA, hostsim::kResetSiteB};
    for (std::uint32_t site : sites) {
        dentAllRound(host.player);
        holdContact(traffic, 0.5f, kFront, kBackward, 1);
        settleTrafficWork();
        ASSERT_GE(copiesOn(host.player), 8u);
        ASSERT_GE(copiesOn(traffic), 5u);

        bool hostRan = false;
        const auto atHost = [&] {
            hostRan = true;
            EXPECT_TRUE(hostsim::liveModuleGeometries().empty()) << "restored before the host's routine";
        };
        hostsim::events().resetWorkA = atHost;
        hostsim::events().resetWorkB = atHost;
        const std::uint32_t before = hostsim::calls(hostWorkOf(site));
        hostsim::callSite(site);
        EXPECT_TRUE(hostRan);
        EXPECT_EQ(hostsim::calls(hostWorkOf(site)) - before, 1u);
        expectAllRestored(host, host.player, host.rest);
        expectAllRestored(host, traffic, trafficRest);
        hostsim::runFrames(8);
    }
    EXPECT_TRUE(linesStartingWith(host.log, kPlayerReset).empty());
    expectNoHostFaults();
}

}  // namespace
