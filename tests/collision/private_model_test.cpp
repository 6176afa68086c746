#include "collision/private_model.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "collision/collision_state.h"
#include "collision/support/collision_host.h"
#include "deform/records.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "host/frame_update.h"
#include "host/support/fake_host.h"
#include "host/support/log_capture.h"
#include "host/support/module_state.h"

namespace {

using kerbmark::VehicleRecord;
using testcollision::CollisionHost;

constexpr const char* kUnsupported = "Collision: unsupported model; skipped.";

std::uint8_t& byteAt(void* object, std::size_t offset) { return static_cast<std::uint8_t*>(object)[offset]; }

class PrivateModels : public ::testing::Test {
protected:
    PrivateModels() : module(&list), hookActive(kerbmark::collisionHookActive) {
        kerbmark::collisionHookActive = true;
        kerbmark::settings.LogHits = true;
        shared = sharedModel(testcollision::carShape());
    }
    ~PrivateModels() override { kerbmark::collisionHookActive = hookActive; }

    void TearDown() override {
        list.records.clear();
        EXPECT_EQ(collisionHost.liveBlocks(), sharedBlocks()) << "every private copy is freed with its record";
        for (const std::string& fault : collisionHost.faults) ADD_FAILURE() << "host fault: " << fault;
    }

    // A vehicle that may have a private model, with its record and the host's shared model.
    VehicleRecord& tracked(std::int32_t handle) {
        host::Vehicle* vehicle = host.vehicle(handle);
        byteAt(vehicle, 0x36) = 0x2A;  // vehicle type, some state bits
        byteAt(vehicle, 0x48B) = 0x80;
        collisionHost.setModelOf(vehicle, shared);
        return kerbmark::appendRecord(list, vehicle, handle, vehicle->clump, 1000.0f, 0);
    }

    // The record's episode as the hit handler leaves it after a contact.
    static void episode(VehicleRecord& record, std::uint32_t number, float depth, dent::Vec point,
                        dent::Vec direction) {
        record.episode.number = number;
        record.episode.depth = depth;
        record.episode.point = point;
        record.episode.direction = direction;
        record.episode.active = true;
    }
    static void frontHit(VehicleRecord& record, std::uint32_t number, float depth = 0.4f) {
        episode(record, number, depth, {0.0f, 1.9f, 0.0f}, {0.0f, -1.0f, 0.0f});
    }

    // Blocks of the shared models this test made.
    std::size_t sharedBlocks() const { return sharedModels; }
    collision::Model* sharedModel(const testcollision::Shape& shape) {
        ++sharedModels;
        return collisionHost.model(shape);
    }

    void* lookup(void* entity) { return collision::privateColModel(entity); }

    testhost::FakeHost host;
    CollisionHost collisionHost;
    kerbmark::RecordList list;
    testhost::ModuleState module;
    testhost::LogCapture log;
    bool hookActive;
    collision::Model* shared = nullptr;
    std::size_t sharedModels = 0;
};

TEST_F(PrivateModels, FrontHitGivesThePlayerACompressedPrivateModel) {
    VehicleRecord& record = tracked(0x1207);
    EXPECT_EQ(lookup(record.vehicle), shared);
    frontHit(record, 1);
    collision::updatePrivateCollision(record, true);

    ASSERT_NE(record.collisionState, nullptr);
    const collision::State& state = *record.collisionState;
    EXPECT_EQ(state.source, shared);
    EXPECT_FLOAT_EQ(state.crush.front, 0.4f * 0.65f);
    EXPECT_EQ(collisionHost.constructs, 1u);
    EXPECT_EQ(lookup(record.vehicle), &state.model);
    const std::vector<std::string> lines = log.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Collision: actor=player handle=4615 spheres=" + std::to_string(state.spheres.size()) +
                            " front=0.260 rear=0.000");

    // The same episode again: nothing compresses, nothing is logged.
    collision::updatePrivateCollision(record, true);
    EXPECT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(record.collisionState.get(), &state) << "the state is reused";

    // A rear hit of a new episode adds at the rear of the same model.
    episode(record, 2, 0.2f, {0.0f, -1.9f, 0.0f}, {0.0f, 1.0f, 0.0f});
    collision::updatePrivateCollision(record, false);
    EXPECT_EQ(record.collisionState.get(), &state);
    EXPECT_FLOAT_EQ(state.crush.rear, 0.2f * 0.65f);
    EXPECT_EQ(log.lines().back().compare(0, 34, "Collision: actor=npc handle=4615 s"), 0) << log.lines().back();
    EXPECT_EQ(collisionHost.constructs, 1u);
}

TEST_F(PrivateModels, GatesLeaveTheVehicleOnTheSharedModel) {
    VehicleRecord& record = tracked(7);
    // Mainly sideways: never touches the collision model.
    episode(record, 1, 0.4f, {0.0f, 1.9f, 0.0f}, {0.8f, -0.6f, 0.0f});
    collision::updatePrivateCollision(record, true);
    EXPECT_EQ(record.collisionState, nullptr);

    frontHit(record, 2);
    kerbmark::settings.CollisionAffectNPCs = false;
    collision::updatePrivateCollision(record, false);
    EXPECT_EQ(record.collisionState, nullptr);
    kerbmark::settings.CollisionAffectNPCs = true;

    kerbmark::collisionHookActive = false;
    collision::updatePrivateCollision(record, true);
    EXPECT_EQ(record.collisionState, nullptr);
    kerbmark::collisionHookActive = true;

    byteAt(record.vehicle, 0x48B) = 0x7F;
    collision::updatePrivateCollision(record, true);
    EXPECT_EQ(record.collisionState, nullptr);
    EXPECT_EQ(collisionHost.constructs, 0u);
    EXPECT_TRUE(log.lines().empty());

    // With Collision.AffectNPCs off the player still gets one.
    byteAt(record.vehicle, 0x48B) = 0x80;
    kerbmark::settings.CollisionAffectNPCs = false;
    collision::updatePrivateCollision(record, true);
    EXPECT_NE(record.collisionState, nullptr);
}

// |direction.y| of exactly 0.65 passes the driver, so the vehicle gets its
// copy, but the side test is strict: nothing compresses, yet the depth counts
// for the episode and a later lengthwise contact of it adds nothing.
TEST_F(PrivateModels, BorderlineDirectionMakesTheCopyButCompressesNothing) {
    VehicleRecord& record = tracked(51);
    episode(record, 1, 0.4f, {0.0f, 1.9f, 0.0f}, {0.76f, -0.65f, 0.0f});
    collision::updatePrivateCollision(record, true);
    ASSERT_NE(record.collisionState, nullptr);
    EXPECT_EQ(collisionHost.constructs, 1u);
    EXPECT_EQ(record.collisionState->crush.front, 0.0f);
    EXPECT_EQ(record.collisionState->lastEpisodeDepth, 0.4f);
    EXPECT_TRUE(collisionHost.planesRemoved.empty());

    frontHit(record, 1);
    collision::updatePrivateCollision(record, true);
    EXPECT_EQ(record.collisionState->crush.front, 0.0f);
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(collisionHost.constructs, 1u);
}

TEST_F(PrivateModels, UnsupportedModelIsLoggedOnEveryQualifyingHit) {
    testcollision::Shape tooShort = testcollision::carShape();
    tooShort.maxY = 0.4f;
    VehicleRecord& record = tracked(9);
    collision::Model* unsupported = sharedModel(tooShort);
    collisionHost.setModelOf(record.vehicle, unsupported);
    kerbmark::settings.LogHits = false;
    const std::size_t blocks = collisionHost.liveBlocks();
    for (std::uint32_t hit = 1; hit <= 2; ++hit) {
        frontHit(record, hit);
        collision::updatePrivateCollision(record, true);
        EXPECT_EQ(record.collisionState, nullptr);
    }
    EXPECT_EQ(log.lines(), (std::vector<std::string>{kUnsupported, kUnsupported}));
    EXPECT_EQ(collisionHost.liveBlocks(), blocks);
    EXPECT_EQ(collisionHost.destructs, 2u) << "each new state is destroyed";
    EXPECT_EQ(lookup(record.vehicle), unsupported);
}

TEST_F(PrivateModels, ChangedHostModelIsServedAtOnceAndRebuiltOnTheNextHit) {
    VehicleRecord& record = tracked(11);
    frontHit(record, 1);
    collision::updatePrivateCollision(record, true);
    ASSERT_NE(record.collisionState, nullptr);
    const collision::Data* oldCopy = record.collisionState->model.data;

    collision::Model* other = sharedModel(testcollision::carShape());
    collisionHost.setModelOf(record.vehicle, other);
    EXPECT_EQ(lookup(record.vehicle), other);

    frontHit(record, 2, 0.1f);
    collision::updatePrivateCollision(record, true);
    ASSERT_NE(record.collisionState, nullptr);
    EXPECT_EQ(record.collisionState->source, other);
    EXPECT_FALSE(collisionHost.isLive(oldCopy));
    EXPECT_FLOAT_EQ(record.collisionState->crush.front, 0.1f * 0.65f) << "a new model starts uncompressed";
    EXPECT_EQ(lookup(record.vehicle), &record.collisionState->model);
}

TEST_F(PrivateModels, LookupReturnsTheHostsModelWheneverInDoubt) {
    VehicleRecord& record = tracked(21);
    frontHit(record, 1);
    collision::updatePrivateCollision(record, true);
    ASSERT_NE(record.collisionState, nullptr);
    void* const privateModel = &record.collisionState->model;
    void* const vehicle = record.vehicle;
    ASSERT_EQ(lookup(vehicle), privateModel);

    EXPECT_EQ(lookup(nullptr), nullptr);
    const unsigned lookups = collisionHost.lookups;
    EXPECT_EQ(lookup(nullptr), nullptr);
    EXPECT_EQ(collisionHost.lookups, lookups + 1) << "the host's lookup is asked first, always";

    byteAt(vehicle, 0x36) = 0x2B;  // another entity type
    EXPECT_EQ(lookup(vehicle), shared);
    byteAt(vehicle, 0x36) = 0x2A;
    byteAt(vehicle, 0x48B) = 0x00;
    EXPECT_EQ(lookup(vehicle), shared);
    byteAt(vehicle, 0x48B) = 0x80;

    host.setPoolPresent(false);
    EXPECT_EQ(lookup(vehicle), shared);
    host.setPoolPresent(true);

    void* const clump = record.clump;
    static_cast<host::Vehicle*>(vehicle)->clump = &record;
    EXPECT_EQ(lookup(vehicle), shared);
    static_cast<host::Vehicle*>(vehicle)->clump = clump;

    kerbmark::recordList = nullptr;
    EXPECT_EQ(lookup(vehicle), shared);
    kerbmark::recordList = &list;
    ASSERT_EQ(lookup(vehicle), privateModel);

    // The handle now names another vehicle.
    host.replaceVehicle(21);
    EXPECT_EQ(lookup(vehicle), shared);
}

TEST_F(PrivateModels, ResetAndDestroyEndThePrivateModel) {
    VehicleRecord& first = tracked(31);
    VehicleRecord& second = tracked(32);
    frontHit(first, 1);
    frontHit(second, 1);
    collision::updatePrivateCollision(first, true);
    collision::updatePrivateCollision(second, false);
    ASSERT_NE(first.collisionState, nullptr);
    ASSERT_NE(second.collisionState, nullptr);
    const collision::Data* firstCopy = first.collisionState->model.data;
    const collision::Data* secondCopy = second.collisionState->model.data;
    void* const secondVehicle = second.vehicle;

    kerbmark::resetRecord(first);
    EXPECT_EQ(first.collisionState, nullptr);
    EXPECT_FALSE(collisionHost.isLive(firstCopy));
    EXPECT_EQ(lookup(first.vehicle), shared);
    // The next front hit starts a new, uncompressed model.
    frontHit(first, 1, 0.2f);
    collision::updatePrivateCollision(first, true);
    ASSERT_NE(first.collisionState, nullptr);
    EXPECT_FLOAT_EQ(first.collisionState->crush.front, 0.2f * 0.65f);

    kerbmark::eraseRecord(list, 1);
    EXPECT_FALSE(collisionHost.isLive(secondCopy));
    EXPECT_EQ(lookup(secondVehicle), shared);

    kerbmark::clearAllRecords(list);
    EXPECT_EQ(collisionHost.liveBlocks(), 1u) << "only the shared model's data is left";
    EXPECT_TRUE(collisionHost.isLive(shared->data));
}

TEST_F(PrivateModels, PhasesNameTheCloneAndTheCompression) {
    VehicleRecord& record = tracked(41);
    kerbmark::diagnostics = true;
    kerbmark::settings.LogHits = false;
    frontHit(record, 1);
    collision::updatePrivateCollision(record, true);
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{"collision: clone model", "collision: compress private model"}));
    EXPECT_STREQ(kerbmark::phase, "collision: compress private model");
    frontHit(record, 2);
    collision::updatePrivateCollision(record, true);
    EXPECT_EQ(log.lines().back(), "collision: compress private model");
    EXPECT_EQ(log.lines().size(), 3u) << "an existing model is not cloned again";
}

}  // namespace
