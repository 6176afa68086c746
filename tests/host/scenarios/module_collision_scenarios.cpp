// The built module giving crushed cars private collision models inside the
// simulated host: the host's own lookup hands out the private model, it is
// compressed at the crushed end only, grows only by what a new episode adds,
// and goes again with F7, a repair or the vehicle. The host's shared models
// are never written and every collision data block the module had the host
// make is freed exactly once.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dent_support.h"
#include "host_checks.h"
#include "host_functions.h"
#include "host_image.h"
#include "module_loader.h"

namespace {

using hostsim::HostFunction;
using hostsim::Vec3;
using namespace scenario;

const char kUnsupportedModel[] = "Collision: unsupported model; skipped.";
const Vec3 kFront{0.0f, 2.3f, -0.05f};
const Vec3 kOutAtTheFront{0.0f, 1.0f, 0.0f};  // the host's normal: the module pushes against it
const Vec3 kRear{0.0f, -2.3f, 0.0f};
const Vec3 kOutAtTheRear{0.0f, -1.0f, 0.0f};

// Everything the module could write in a shared model, as bytes.
struct SharedCopy {
    std::vector<std::uint8_t> model, data, spheres, boxes, vertices;
};
template <typename T>
std::vector<std::uint8_t> bytesOf(const T* items, std::size_t count) {
    const auto* start = reinterpret_cast<const std::uint8_t*>(items);
    return std::vector<std::uint8_t>(start, start + count * sizeof(T));
}
SharedCopy copyOf(const hostsim::ColModel* model) {
    const hostsim::ColData* data = model->data;
    return {bytesOf(model, 1), bytesOf(data, 1), bytesOf(data->spheres, data->sphereCount),
            bytesOf(data->boxes, data->boxCount), bytesOf(data->vertices, 8)};
}
void expectUnchanged(const hostsim::ColModel* model, const SharedCopy& before) {
    const SharedCopy now = copyOf(model);
    EXPECT_EQ(now.model, before.model);
    EXPECT_EQ(now.data, before.data);
    EXPECT_EQ(now.spheres, before.spheres);
    EXPECT_EQ(now.boxes, before.boxes);
    EXPECT_EQ(now.vertices, before.vertices);
}

const hostsim::ColModel* lookupOf(hostsim::Vehicle* vehicle) {
    return static_cast<const hostsim::ColModel*>(hostsim::colModelOf(vehicle));
}

struct CollisionLine {
    std::string actor;
    int handle = 0;
    unsigned spheres = 0;
    float front = 0.0f, rear = 0.0f;
};
std::string valueOf(const std::string& line, const std::string& key) {
    const std::size_t at = line.find(" " + key + "=");
    if (at == std::string::npos) return {};
    const std::size_t start = at + key.size() + 2;
    return line.substr(start, line.find(' ', start) - start);
}
std::vector<CollisionLine> collisionLines(const std::string& log) {
    std::vector<CollisionLine> found;
    for (const std::string& line : linesStartingWith(log, "Collision: actor=")) {
        CollisionLine parsed;
        parsed.actor = valueOf(line, "actor");
        parsed.handle = std::atoi(valueOf(line, "handle").c_str());
        parsed.spheres = static_cast<unsigned>(std::strtoul(valueOf(line, "spheres").c_str(), nullptr, 10));
        parsed.front = std::strtof(valueOf(line, "front").c_str(), nullptr);
        parsed.rear = std::strtof(valueOf(line, "rear").c_str(), nullptr);
        found.push_back(parsed);
    }
    return found;
}

// One front crash of its own episode.
void frontCrash(hostsim::Vehicle* vehicle, float impact = 0.4f) {
    holdContact(vehicle, impact, kFront, kOutAtTheFront, 2);
    quietFrames(vehicle, 8);
}

TEST(Collision, FrontCrashGivesThePlayerACompressedPrivateModel) {
    DrivenHost host;
    startDriven(host);
    const hostsim::ColModel* shared = hostsim::modelCollision(host.player->modelId);
    const SharedCopy sharedBefore = copyOf(shared);
    const std::size_t blocks = hostsim::liveColDataCount();
    ASSERT_EQ(lookupOf(host.player), shared);

    frontCrash(host.player);
    ASSERT_EQ(hitLines(host.log).size(), 1u);
    const hostsim::ColModel* own = lookupOf(host.player);
    ASSERT_NE(own, shared);
    EXPECT_EQ(own->flags & 1, 1);
    ASSERT_NE(own->data, nullptr);
    EXPECT_NE(own->data, shared->data);
    EXPECT_EQ(hostsim::liveColDataCount(), blocks + 1);

    const std::vector<CollisionLine> lines = collisionLines(host.log);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].actor, "player");
    EXPECT_EQ(lines[0].handle, hostsim::vehicleHandle(host.player));
    EXPECT_EQ(lines[0].spheres, own->data->sphereCount);
    const float front = 0.65f * defaultResponse(0.4f).depth;
    EXPECT_NEAR(lines[0].front, front, 0.0015f);
    EXPECT_EQ(lines[0].rear, 0.0f);

    // The front is shorter, the back is as the host made it.
    const hostsim::ColData& data = *own->data;
    EXPECT_NEAR(data.boxes[0].max.y, 2.4f - front * ((2.4f - 0.875f) / 1.625f), 0.0015f);
    EXPECT_EQ(data.boxes[0].min.y, shared->data->boxes[0].min.y);
    EXPECT_LT(data.vertices[0].y, shared->data->vertices[0].y);
    for (int i = 4; i < 8; ++i) EXPECT_EQ(data.vertices[i].y, shared->data->vertices[i].y) << i;
    EXPECT_GT(data.sphereCount, 4) << "refinement spheres around the shrunk front sphere";
    float frontmost = -10.0f, rearmost = 10.0f;
    for (int i = 0; i < data.sphereCount; ++i) {
        frontmost = std::max(frontmost, data.spheres[i].centre.y + data.spheres[i].radius);
        rearmost = std::min(rearmost, data.spheres[i].centre.y - data.spheres[i].radius);
    }
    EXPECT_NEAR(frontmost, 2.7f - front, 0.0015f) << "the front end moves in by the compression";
    EXPECT_NEAR(rearmost, -2.7f, 0.00001f) << "the rear end stays";
    // Same bounding box; the host's cached planes were dropped.
    EXPECT_EQ(std::memcmp(&own->boxMin, &shared->boxMin, 2 * sizeof(Vec3)), 0);
    EXPECT_GE(hostsim::calls(HostFunction::CollisionRemoveCachedPlanes), 1u);

    expectUnchanged(shared, sharedBefore);
    expectNoHostFaults();
}

// A contact held for seconds is one episode: the model is compressed once.
TEST(Collision, RepeatOfTheSameEpisodeCompressesNothing) {
    DrivenHost host;
    startDriven(host);
    holdContact(host.player, 0.4f, kFront, kOutAtTheFront, 1);
    const hostsim::ColModel* own = lookupOf(host.player);
    ASSERT_NE(own, hostsim::modelCollision(host.player->modelId));
    const SharedCopy compressed = copyOf(own);
    const std::uint32_t planes = hostsim::calls(HostFunction::CollisionRemoveCachedPlanes);

    holdContact(host.player, 0.4f, kFront, kOutAtTheFront, 45);
    holdContact(host.player, 0.3f, kFront, kOutAtTheFront, 3);
    EXPECT_EQ(collisionLines(host.log).size(), 1u);
    EXPECT_EQ(lookupOf(host.player), own);
    expectUnchanged(own, compressed);
    EXPECT_EQ(hostsim::calls(HostFunction::CollisionRemoveCachedPlanes), planes);
    EXPECT_EQ(hostsim::calls(HostFunction::CollisionConstruct), 1u);
    expectNoHostFaults();
}

// Each new episode adds; the front stops at MaxCompressionCm; the rear has its own account.
TEST(Collision, CompressionOnlyGrowsAndStopsAtMaxCompressionCm) {
    DrivenHost host;
    startDriven(host, "[Collision]\r\nMaxCompressionCm=50\r\n");
    for (int crash = 0; crash < 5; ++crash) frontCrash(host.player);
    EXPECT_EQ(hitLines(host.log).size(), 5u);
    std::vector<CollisionLine> lines = collisionLines(host.log);
    ASSERT_EQ(lines.size(), 3u) << "the last two crashes find the front at its limit";
    EXPECT_LT(lines[0].front, lines[1].front);
    EXPECT_LT(lines[1].front, lines[2].front);
    EXPECT_EQ(lines[2].front, 0.5f);
    const hostsim::ColData& data = *lookupOf(host.player)->data;
    EXPECT_NEAR(data.boxes[0].max.y, 2.4f - 0.5f * ((2.4f - 0.875f) / 1.625f), 0.0001f);

    holdContact(host.player, 0.3f, kRear, kOutAtTheRear, 2);
    lines = collisionLines(host.log);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[3].front, 0.5f);
    EXPECT_NEAR(lines[3].rear, 0.65f * defaultResponse(0.3f).depth, 0.0015f);
    EXPECT_GT(data.boxes[0].min.y, hostsim::modelCollision(host.player->modelId)->data->boxes[0].min.y);
    expectNoHostFaults();
}

// F7 and a repair hand the host its shared model back; the private data is
// freed once, and the next crash starts a new, uncompressed model.
TEST(Collision, F7AndRepairDiscardThePrivateModel) {
    DrivenHost host;
    hostsim::VehicleSpec design;
    design.health = 600.0f;
    startDriven(host, "", design);
    const hostsim::ColModel* shared = hostsim::modelCollision(host.player->modelId);
    const SharedCopy sharedBefore = copyOf(shared);
    const std::size_t blocks = hostsim::liveColDataCount();

    frontCrash(host.player);
    frontCrash(host.player);
    ASSERT_NE(lookupOf(host.player), shared);
    const std::uint32_t destructs = hostsim::calls(HostFunction::CollisionDestruct);
    hostsim::setKeyDown(hostsim::kKeyF7, true);
    hostsim::runFrame();
    hostsim::setKeyDown(hostsim::kKeyF7, false);
    hostsim::runFrame();
    EXPECT_EQ(linesStartingWith(host.log, kPlayerReset).size(), 1u);
    EXPECT_EQ(lookupOf(host.player), shared);
    EXPECT_EQ(hostsim::calls(HostFunction::CollisionDestruct), destructs + 1);
    EXPECT_EQ(hostsim::liveColDataCount(), blocks);

    frontCrash(host.player);
    std::vector<CollisionLine> lines = collisionLines(host.log);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2].front, lines[0].front) << "uncompressed before this crash";
    ASSERT_NE(lookupOf(host.player), shared);

    host.player->health = 1000.0f;
    hostsim::runFrame();
    EXPECT_EQ(lookupOf(host.player), shared);
    EXPECT_EQ(hostsim::liveColDataCount(), blocks);
    EXPECT_EQ(hostsim::calls(HostFunction::CollisionDestruct), destructs + 2);
    expectAllRestored(host, host.player, host.rest);
    expectUnchanged(shared, sharedBefore);
    expectNoHostFaults();
}

// A removed vehicle's private model goes with its record; the reset events too.
TEST(Collision, GoneVehiclesAndResetEventsFreeTheirModels) {
    DrivenHost host;
    startDriven(host);
    hostsim::modelCollision(400);
    hostsim::modelCollision(401);
    const std::size_t blocks = hostsim::liveColDataCount();
    hostsim::VehicleSpec design;
    design.modelId = 401;
    design.position = {4.0f, 12.0f, 0.0f};
    hostsim::Vehicle* traffic = hostsim::spawnVehicle(design);
    frontCrash(traffic);
    ASSERT_EQ(collisionLines(host.log).size(), 1u);
    EXPECT_EQ(collisionLines(host.log)[0].actor, "npc");
    EXPECT_EQ(hostsim::liveColDataCount(), blocks + 1);
    hostsim::removeVehicle(traffic);
    hostsim::runFrame();
    EXPECT_EQ(hostsim::liveColDataCount(), blocks);

    frontCrash(host.player);
    ASSERT_NE(lookupOf(host.player), hostsim::modelCollision(host.player->modelId));
    hostsim::callSite(hostsim::kResetSiteA);
    EXPECT_EQ(lookupOf(host.player), hostsim::modelCollision(host.player->modelId));
    EXPECT_EQ(hostsim::liveColDataCount(), blocks);
    expectNoHostFaults();
}

// A hit that dents no mesh, or one that is mainly sideways, leaves the collision model alone.
TEST(Collision, HitsWithoutALengthwiseCrushKeepTheSharedModel) {
    DrivenHost host;
    startDriven(host);
    // Ahead of the car, out of every mesh's reach: an episode, but no dent.
    holdContact(host.player, 0.4f, {0.0f, 5.5f, 0.0f}, kOutAtTheFront, 1);
    quietFrames(host.player, 8);
    // Into the front corner at an angle: |direction.y| is 0.6.
    holdContact(host.player, 0.4f, {0.9f, 2.2f, 0.0f}, {0.8f, 0.6f, 0.0f}, 1);
    const std::vector<HitLine> hits = hitLines(host.log);
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0].meshes, 0u);
    EXPECT_GT(hits[1].meshes, 0u);
    EXPECT_EQ(lookupOf(host.player), hostsim::modelCollision(400));
    EXPECT_EQ(hostsim::calls(HostFunction::CollisionConstruct), 0u);
    EXPECT_TRUE(collisionLines(host.log).empty());
    expectNoHostFaults();
}

// With Collision.AffectNPCs 0 traffic is dented but keeps the shared model.
TEST(Collision, AffectNPCsOffKeepsTrafficOnTheSharedModel) {
    DrivenHost host;
    startDriven(host, "[Collision]\r\nAffectNPCs=0\r\n");
    hostsim::VehicleSpec design;
    design.modelId = 401;
    design.position = {-4.0f, 14.0f, 0.0f};
    hostsim::Vehicle* traffic = hostsim::spawnVehicle(design);
    frontCrash(traffic);
    frontCrash(host.player);
    const std::vector<HitLine> hits = hitLines(host.log);
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0].actor, "npc");
    EXPECT_GT(hits[0].meshes, 0u);
    EXPECT_EQ(lookupOf(traffic), hostsim::modelCollision(401));
    EXPECT_NE(lookupOf(host.player), hostsim::modelCollision(400));
    const std::vector<CollisionLine> lines = collisionLines(host.log);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].actor, "player");
    expectNoHostFaults();
}

// With Collision.Enabled 0 the lookup is never diverted and nothing is built.
TEST(Collision, DisabledLeavesTheLookupAlone) {
    Folder folder;
    ASSERT_TRUE(hostsim::startHost());
    hostsim::Vehicle* player = hostsim::spawnVehicle();
    hostsim::setPlayerVehicle(player);
    const std::uint8_t lookupStart = firstByte(hostsim::kGetColModel);
    ASSERT_NE(hostsim::loadModule(folder.installModule("[Collision]\r\nEnabled=0\r\n")), nullptr);
    const std::string log = folder.file("Kerbmark.log");
    hostsim::runFrame();
    EXPECT_EQ(readLog(log).lines, (std::vector<std::string>{kBanner, kActive, kGuardEnabled}));
    frontCrash(player);
    EXPECT_EQ(hitLines(log).size(), 1u);
    EXPECT_GT(hitLines(log)[0].meshes, 0u);
    EXPECT_EQ(firstByte(hostsim::kGetColModel), lookupStart);
    EXPECT_EQ(lookupOf(player), hostsim::modelCollision(400));
    EXPECT_EQ(hostsim::calls(HostFunction::CollisionConstruct), 0u);
    EXPECT_TRUE(collisionLines(log).empty());
    expectNoHostFaults();
}

// A new shared model from the host is served at once; the next crash rebuilds
// the private one from it. A model too short to compress is never copied.
TEST(Collision, HostModelChangesAndUnsupportedModels) {
    DrivenHost host;
    startDriven(host);
    frontCrash(host.player);
    const hostsim::ColModel* firstOwn = lookupOf(host.player);
    ASSERT_NE(firstOwn, hostsim::modelCollision(400));

    const hostsim::ColModel* replaced = hostsim::replaceModelCollision(400, -2.5f, 2.5f);
    EXPECT_EQ(lookupOf(host.player), replaced);
    const std::size_t blocksBefore = hostsim::liveColDataCount();
    const std::uint32_t destructs = hostsim::calls(HostFunction::CollisionDestruct);
    frontCrash(host.player);
    const hostsim::ColModel* secondOwn = lookupOf(host.player);
    EXPECT_NE(secondOwn, replaced);
    EXPECT_EQ(hostsim::calls(HostFunction::CollisionDestruct), destructs + 1) << "the stale copy is destroyed";
    EXPECT_EQ(hostsim::liveColDataCount(), blocksBefore) << "its data freed, the new copy's made";
    EXPECT_NE(secondOwn->data->spheres, replaced->data->spheres);
    std::vector<CollisionLine> lines = collisionLines(host.log);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].front, lines[0].front) << "rebuilt uncompressed";

    const hostsim::ColModel* tooShort = hostsim::replaceModelCollision(400, -2.5f, 0.5f);
    const std::size_t blocks = hostsim::liveColDataCount();
    frontCrash(host.player);
    frontCrash(host.player);
    EXPECT_EQ(linesStartingWith(host.log, kUnsupportedModel).size(), 2u);
    EXPECT_EQ(lookupOf(host.player), tooShort);
    EXPECT_EQ(hitLines(host.log).size(), 4u) << "the meshes are still dented";
    EXPECT_EQ(hostsim::liveColDataCount(), blocks - 1) << "the stale private data is freed, nothing new kept";
    expectNoHostFaults();
}

}  // namespace
