// The built module at its limits inside the simulated host: which traffic it
// handles per frame, the mesh and vertex limits, broken host geometries,
// unusable host values and host calls that fail half-way through a copy.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
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
const Vec3 kOutward{0.0f, 1.0f, 0.0f};
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();

std::vector<int> hitHandles(const std::string& log) {
    std::vector<int> handles;
    for (const HitLine& hit : hitLines(log)) handles.push_back(hit.handle);
    return handles;
}

bool untouched(const hostsim::Vehicle* vehicle) {
    for (const hostsim::Atomic* atomic : hostsim::clumpAtomics(vehicle->clump))
        if (atomic->geometry->hostMadeByModule) return false;
    return true;
}

// No copy is alive that is not finished (unlocked) and drawn by an atomic.
void expectNoOrphanCopy() {
    for (const hostsim::Geometry* copy : hostsim::liveModuleGeometries()) {
        EXPECT_GT(copy->hostUnlocks, 0u) << "a half-built copy is alive";
        EXPECT_TRUE(hostsim::anyAtomicDraws(copy)) << "a copy no atomic draws is alive";
    }
}

TEST(Traffic, OnlyNearCollidingTrafficWithinTheFrameBudget) {
    DrivenHost host;
    // Which cars a frame handles shows in its "Hit:" lines: their mesh work in the same frame.
    startDriven(host, "[Traffic]\r\nMaxNPCPerFrame=2\r\nWorkPerFrame=0\r\n");
    hostsim::Vehicle* closest = trafficAt({0.0f, 20.0f, 0.0f});
    hostsim::Vehicle* middle = trafficAt({0.0f, -30.0f, 0.0f});
    hostsim::Vehicle* farthest = trafficAt({40.0f, 0.0f, 0.0f});
    hostsim::Vehicle* outOfRange = trafficAt({0.0f, 101.0f, 0.0f});
    hostsim::Vehicle* parked = trafficAt({8.0f, 0.0f, 0.0f});
    for (hostsim::Vehicle* vehicle : {closest, middle, farthest, outOfRange})
        hostsim::setContact(vehicle, 0.4f, kFront, kOutward);

    // The vehicle tied to the player's comes first, then the nearest; two per frame.
    host.player->linkedEntity = farthest;
    hostsim::runFrame();
    EXPECT_EQ(hitHandles(host.log),
              (std::vector<int>{hostsim::vehicleHandle(farthest), hostsim::vehicleHandle(closest)}));
    EXPECT_TRUE(untouched(middle)) << "past MaxNPCPerFrame this frame";
    EXPECT_FALSE(untouched(farthest));
    EXPECT_FALSE(untouched(closest));

    hostsim::clearCollision(farthest);
    hostsim::clearCollision(closest);
    hostsim::runFrames(10);
    EXPECT_EQ(hitHandles(host.log), (std::vector<int>{hostsim::vehicleHandle(farthest), hostsim::vehicleHandle(closest),
                                                      hostsim::vehicleHandle(middle)}));
    EXPECT_TRUE(untouched(outOfRange));
    EXPECT_TRUE(untouched(parked));
    for (const HitLine& hit : hitLines(host.log)) EXPECT_EQ(hit.actor, "npc");

    // Beyond the range was the only reason: brought within it, it is handled.
    hostsim::placeVehicle(outOfRange, {0.0f, 99.0f, 0.0f}, 0.0f);
    hostsim::setContact(outOfRange, 0.4f, kFront, kOutward);
    hostsim::runFrame();
    EXPECT_EQ(hitHandles(host.log).back(), hostsim::vehicleHandle(outOfRange));
    EXPECT_TRUE(untouched(parked));
    expectNoHostFaults();
}

TEST(Traffic, NoTrafficWhenTrafficIsOff) {
    DrivenHost host;
    startDriven(host, "[Traffic]\r\nAffectNPCs=0\r\n");
    hostsim::Vehicle* closest = trafficAt({0.0f, 10.0f, 0.0f});
    holdContact(closest, 0.5f, kFront, kOutward, 3);
    EXPECT_TRUE(hitLines(host.log).empty());
    EXPECT_TRUE(untouched(closest));
    holdContact(host.player, 0.5f, kFront, kOutward, 1);
    EXPECT_EQ(hitLines(host.log).size(), 1u);
    expectNoHostFaults();
}

// 66 deformable atomics, every one reached: the first 64 are copied, the
// 65th and 66th never, not even by a later episode.
TEST(Limits, The65thMeshIsNeverCopied) {
    DrivenHost host;
    hostsim::VehicleSpec design;
    for (int i = 0; i < 66; ++i) design.boxParts.push_back("panel_" + std::to_string(i));
    startDriven(host, "", design);
    holdContact(host.player, 0.4f, {0.0f, 2.0f, 0.0f}, kOutward, 1);
    quietFrames(host.player, 8);
    holdContact(host.player, 0.5f, {0.0f, 2.0f, 0.0f}, kOutward, 1);

    const std::vector<HitLine> hits = hitLines(host.log);
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0].meshes, 64u);
    EXPECT_EQ(hits[1].meshes, 64u);
    EXPECT_EQ(hostsim::calls(HostFunction::CreateGeometry), 64u);
    const std::vector<hostsim::Atomic*> atomics = hostsim::clumpAtomics(host.player->clump);
    ASSERT_EQ(atomics.size(), 66u);
    for (int i = 0; i < 66; ++i) EXPECT_EQ(atomics[i]->geometry->hostMadeByModule, i < 64) << "atomic " << i;
    expectNoHostFaults();
}

// A body at the 30000-vertex limit is copied and dented; one vertex more and
// the body is left alone while the rest of the car is dented.
TEST(Limits, A30000VertexBodyIsDentedA30001VertexBodyIsNot) {
    DrivenHost host;
    hostsim::VehicleSpec design;
    design.bodyVertices = hostsim::kMaxDeformableVertices;
    startDriven(host, "", design);
    ASSERT_EQ(hostsim::atomicNamed(host.player, "chassis")->geometry->vertexCount, 30000);
    holdContact(host.player, 0.4f, kFront, kOutward, 1);
    settleTrafficWork();  // the large body's first hit takes more frames
    const hostsim::Geometry* body = hostsim::atomicNamed(host.player, "chassis")->geometry;
    EXPECT_TRUE(body->hostMadeByModule);
    EXPECT_EQ(body->vertexCount, 30000);
    EXPECT_GT(largestMove(hostsim::snapshotVehicle(host.player), host.rest), 0.2f);

    design.bodyVertices = hostsim::kMaxDeformableVertices + 1;
    design.position = {6.0f, 0.0f, 0.0f};
    hostsim::Vehicle* heavy = hostsim::spawnVehicle(design);
    hostsim::setPlayerVehicle(heavy);
    const hostsim::Geometry* heavyBody = hostsim::atomicNamed(heavy, "chassis")->geometry;
    ASSERT_EQ(heavyBody->vertexCount, 30001);
    const std::uint32_t created = hostsim::calls(HostFunction::CreateGeometry);
    const std::size_t rebuilt = linesStartingWith(host.log, "PanelShading:").size();
    holdContact(heavy, 0.4f, kFront, kOutward, 1);
    // Until the hit is done (before the seated car is prepared further).
    for (int f = 0; f < 20 && hitLines(host.log).size() < 2; ++f) hostsim::runFrame();
    EXPECT_EQ(hostsim::atomicNamed(heavy, "chassis")->geometry, heavyBody);
    const std::vector<HitLine> hits = hitLines(host.log);
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[1].meshes, hits[0].meshes - 1) << "all but the body";
    // A bonnet rebuilt along its crease is one geometry more than its copy.
    const std::size_t panels = linesStartingWith(host.log, "PanelShading:").size() - rebuilt;
    EXPECT_EQ(hostsim::calls(HostFunction::CreateGeometry) - created, hits[1].meshes + panels);
    for (const hostsim::Geometry* copy : hostsim::moduleGeometries()) EXPECT_NE(copy->vertexCount, 30001);
    expectNoHostFaults();
}

struct Breakage {
    const char* what;
    std::function<void(hostsim::Geometry*)> breakIt;
    std::vector<std::string> lines;  // what the module writes for the body
};

// A broken body geometry is skipped with its line on every hit that reaches
// it; the atomic keeps its shared geometry, no reference moves, and the rest
// of the car is dented as usual.
TEST(Limits, BrokenSourceGeometriesAreSkippedWithTheirLine) {
    DrivenHost host;
    startDriven(host);
    const Breakage breakages[] = {
        {"material table capacity below its count",
         [](hostsim::Geometry* g) { g->materialCapacity = 0; },
         {kInvalidSourceTable, kCloneFailed}},
        {"a vertex index out of range",
         [](hostsim::Geometry* g) { g->triangles[10].vertex[1] = static_cast<std::uint16_t>(g->vertexCount); },
         {kCloneFailed}},
        {"a material index out of range",
         [](hostsim::Geometry* g) { g->triangles[20].material = static_cast<std::uint16_t>(g->materialCount); },
         {kCloneFailed}},
        {"missing texture coordinates", [](hostsim::Geometry* g) { g->texCoords[1] = nullptr; }, {kCloneFailed}},
    };
    std::int16_t model = 410;
    for (const Breakage& breakage : breakages) {
        SCOPED_TRACE(breakage.what);
        hostsim::Vehicle* car = trafficAt({0.0f, 0.0f, 0.0f}, model++);
        hostsim::Geometry* body = hostsim::atomicNamed(car, "chassis")->geometry;
        breakage.breakIt(body);
        hostsim::setPlayerVehicle(car);
        const hostsim::ReferenceLedger ledger = hostsim::referenceLedger();
        const std::size_t linesBefore = readLog(host.log).lines.size();

        for (int episode = 0; episode < 2; ++episode) {
            holdContact(car, 0.4f, kFront, kOutward, 1);
            quietFrames(car, 8);
        }
        const std::vector<std::string> lines = readLog(host.log).lines;
        std::vector<std::string> expected, written;
        for (int episode = 0; episode < 2; ++episode) {
            expected.insert(expected.end(), breakage.lines.begin(), breakage.lines.end());
            expected.push_back("Hit:");
        }
        for (std::size_t i = linesBefore; i < lines.size(); ++i) {
            if (lines[i].compare(0, 5, "Panel") == 0) continue;  // the bonnet's own lines
            if (lines[i].compare(0, 17, "Collision: actor=") == 0) continue;  // the private model's own line
            written.push_back(lines[i].compare(0, 4, "Hit:") == 0 ? "Hit:" : lines[i]);
        }
        EXPECT_EQ(written, expected);
        EXPECT_EQ(hostsim::atomicNamed(car, "chassis")->geometry, body);
        EXPECT_EQ(body->references, ledger.geometries.at(body));
        for (std::int32_t m = 0; m < body->materialCount; ++m) {
            const hostsim::Material* material = body->materials[m];
            EXPECT_EQ(material->references, ledger.materials.at(material));
        }
        EXPECT_FALSE(untouched(car)) << "the rest of the car is dented";
        expectNoOrphanCopy();
    }
    expectNoHostFaults();
}

struct Spoiler {
    const char* what;
    std::function<void(hostsim::Vehicle*)> spoil;
};

// Unusable host values end the hit quietly: no line, no copy, no host call
// beyond the lookups, and the next good contact dents as usual.
TEST(BadInput, UnusableHostValuesEndTheHitQuietly) {
    DrivenHost host;
    // Without a work budget the seated player's car is not prepared ahead:
    // every host call counted here would be the spoiled hit's.
    startDriven(host, "[Traffic]\r\nWorkPerFrame=0\r\n");
    hostsim::Vehicle* car = host.player;
    const hostsim::Matrix placement = car->hostPlacement;
    hostsim::Clump* const clump = car->clump;
    hostsim::Frame* const root = clump->frame;
    const Spoiler spoilers[] = {
        {"impulse NaN", [](hostsim::Vehicle* v) { v->impulse = kNaN; }},
        {"impulse infinite", [](hostsim::Vehicle* v) { v->impulse = kInfinity; }},
        {"mass NaN", [](hostsim::Vehicle* v) { v->mass = kNaN; }},
        {"mass 1", [](hostsim::Vehicle* v) { v->mass = 1.0f; }},
        {"contact point infinite", [](hostsim::Vehicle* v) { v->collisionPoint.x = kInfinity; }},
        {"normal NaN", [](hostsim::Vehicle* v) { v->collisionNormal.y = kNaN; }},
        {"normal too short",
         [](hostsim::Vehicle* v) {
             v->collisionNormal = {0.0f, 0.009f, 0.0f};
         }},
        {"health NaN", [](hostsim::Vehicle* v) { v->health = kNaN; }},
        {"health 0", [](hostsim::Vehicle* v) { v->health = 0.0f; }},
        {"placement NaN", [](hostsim::Vehicle* v) { v->hostPlacement.up.z = kNaN; }},
        {"placement scaled", [](hostsim::Vehicle* v) { v->hostPlacement.right.x *= 1.1f; }},
        {"placement skewed", [](hostsim::Vehicle* v) { v->hostPlacement.forward.x += 0.1f; }},
        {"no placement", [](hostsim::Vehicle* v) { v->matrix = nullptr; }},
        {"contact 12.5 away",
         [](hostsim::Vehicle* v) {
             v->collisionPoint = hostsim::worldPoint(v, {0.0f, 12.5f, 0.0f});
         }},
        {"ground contact under the body",
         [](hostsim::Vehicle* v) {
             hostsim::setContact(v, 0.4f, {0.0f, 0.5f, -0.3f}, {0.0f, 0.0f, -1.0f});
         }},
        {"world matrix NaN", [](hostsim::Vehicle* v) { v->clump->frame->hostWorld.position.x = kNaN; }},
        {"world matrix not orthonormal", [](hostsim::Vehicle* v) { v->clump->frame->hostWorld.up.z = 0.9f; }},
        {"clump without a frame", [](hostsim::Vehicle* v) { v->clump->frame = nullptr; }},
        {"no clump", [](hostsim::Vehicle* v) { v->clump = nullptr; }},
        {"model 399", [](hostsim::Vehicle* v) { v->modelId = 399; }},
        {"model 612", [](hostsim::Vehicle* v) { v->modelId = 612; }},
        {"word 0x594 set", [](hostsim::Vehicle* v) { v->word594 = 1; }},
        {"not to be handled", [](hostsim::Vehicle* v) { v->flags42 |= 0x10; }},
        {"piece 13", [](hostsim::Vehicle* v) { v->piece = 13; }},
        {"piece 16", [](hostsim::Vehicle* v) { v->piece = 16; }},
    };
    const std::size_t lines = readLog(host.log).lines.size();
    for (const Spoiler& spoiler : spoilers) {
        SCOPED_TRACE(spoiler.what);
        hostsim::setContact(car, 0.4f, kFront, kOutward);
        spoiler.spoil(car);
        hostsim::runFrame();
        // Mended, and long enough apart that nothing joins an episode.
        car->hostPlacement = placement;
        car->matrix = &car->hostPlacement;
        car->clump = clump;
        clump->frame = root;
        hostsim::updateFrames(clump);
        car->modelId = 400;
        car->mass = 1500.0f;
        car->health = 1000.0f;
        car->word594 = 0;
        car->flags42 = 0;
        car->piece = 0;
        quietFrames(car, 8);
        EXPECT_EQ(readLog(host.log).lines.size(), lines);
        EXPECT_EQ(hostsim::calls(HostFunction::CreateGeometry), 0u);
        EXPECT_EQ(hostsim::calls(HostFunction::SetGeometry), 0u);
        EXPECT_EQ(hostsim::calls(HostFunction::Atomics), 0u);
        EXPECT_EQ(hostsim::calls(HostFunction::GetLightStatus), 0u);
    }
    expectLedgerUnchanged(host);

    holdContact(car, 0.4f, kFront, kOutward, 1);
    const std::vector<HitLine> hits = hitLines(host.log);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].episode, 1u) << "no spoiled contact began an episode";
    EXPECT_GE(hits[0].meshes, 5u);
    expectNoHostFaults();
}

// A part whose own world matrix is unusable is left alone; the rest of the
// car is dented.
TEST(BadInput, PartWithAnUnusableWorldMatrixIsLeftAlone) {
    DrivenHost host;
    startDriven(host);
    hostsim::Atomic* bonnet = hostsim::atomicNamed(host.player, "bonnet_hi_ok");
    hostsim::Geometry* original = bonnet->geometry;
    bonnet->frame->hostWorld.forward.y = 1.2f;
    holdContact(host.player, 0.4f, kFront, kOutward, 1);
    EXPECT_EQ(bonnet->geometry, original);
    EXPECT_TRUE(hostsim::atomicNamed(host.player, "chassis")->geometry->hostMadeByModule);
    bonnet->frame->hostWorld.forward.y = kNaN;
    quietFrames(host.player, 8);
    holdContact(host.player, 0.5f, kFront, kOutward, 1);
    EXPECT_EQ(bonnet->geometry, original);
    EXPECT_EQ(hitLines(host.log).size(), 2u);
    expectNoHostFaults();
}

struct Failure {
    HostFunction function;
    std::uint32_t nth;
};

// A host call that fails half-way through a copy: the copy goes back to the
// host, the atomic keeps its geometry, the line is written, and after F7
// every count is where it started.
TEST(BadInput, FailedHostCallsNeverLeaveAHalfBuiltCopy) {
    DrivenHost host;
    startDriven(host);
    const hostsim::Geometry* body = hostsim::atomicNamed(host.player, "chassis")->geometry;
    const Failure failures[] = {{HostFunction::CreateGeometry, 1},
                                {HostFunction::TriangleVertices, 500},
                                {HostFunction::TriangleMaterial, 700},
                                {HostFunction::CopyExtensions, 1},
                                {HostFunction::Unlock, 1}};
    for (const Failure& failure : failures) {
        SCOPED_TRACE(hostsim::hostFunctionName(failure.function));
        hostsim::failCall(failure.function, failure.nth);  // the body is copied first
        holdContact(host.player, 0.4f, kFront, kOutward, 1);
        EXPECT_EQ(linesStartingWith(host.log, kCloneFailed).size(), static_cast<std::size_t>(&failure - failures + 1));
        EXPECT_EQ(hostsim::atomicNamed(host.player, "chassis")->geometry, body);
        ASSERT_EQ(hitLines(host.log).size(), static_cast<std::size_t>(&failure - failures + 1));
        EXPECT_EQ(hostsim::liveModuleGeometries().size(), hitLines(host.log).back().meshes);
        expectNoOrphanCopy();

        hostsim::setKeyDown(hostsim::kKeyF7, true);
        hostsim::runFrame();
        hostsim::setKeyDown(hostsim::kKeyF7, false);
        quietFrames(host.player, 8);
        expectAllRestored(host, host.player, host.rest);
    }
    expectNoHostFaults();
}

// A refused lock keeps the copy without moving it; the next hit dents it.
TEST(BadInput, RefusedLockKeepsTheCopyForTheNextHit) {
    DrivenHost host;
    startDriven(host);
    hostsim::failCall(HostFunction::Lock, 1);
    holdContact(host.player, 0.4f, kFront, kOutward, 1);
    const hostsim::Geometry* copy = hostsim::atomicNamed(host.player, "chassis")->geometry;
    EXPECT_TRUE(copy->hostMadeByModule);
    EXPECT_EQ(largestMove({*part(hostsim::snapshotVehicle(host.player), "chassis")}, {*part(host.rest, "chassis")}),
              0.0f);
    const std::vector<HitLine> first = hitLines(host.log);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].meshes + 1, hostsim::liveModuleGeometries().size());

    quietFrames(host.player, 8);
    holdContact(host.player, 0.4f, kFront, kOutward, 1);
    EXPECT_EQ(hostsim::atomicNamed(host.player, "chassis")->geometry, copy);
    EXPECT_GT(largestMove({*part(hostsim::snapshotVehicle(host.player), "chassis")}, {*part(host.rest, "chassis")}),
              0.2f);
    EXPECT_TRUE(linesStartingWith(host.log, kCloneFailed).empty());
    expectNoHostFaults();
}


// The host functions a copy of a mesh goes through.
constexpr HostFunction kGeometryCalls[] = {
    HostFunction::CreateGeometry, HostFunction::TriangleVertices, HostFunction::TriangleMaterial,
    HostFunction::CopyExtensions, HostFunction::GeometrySkin,     HostFunction::Lock,
    HostFunction::Unlock,         HostFunction::SetGeometry,      HostFunction::DestroyGeometry};

std::vector<std::uint32_t> geometryCallCounts() {
    std::vector<std::uint32_t> counts;
    for (HostFunction function : kGeometryCalls) counts.push_back(hostsim::calls(function));
    return counts;
}

// Traffic parked in a row ahead of the player, its ledger taken.
std::vector<hostsim::Vehicle*> parkTraffic(DrivenHost& host, int cars) {
    std::vector<hostsim::Vehicle*> traffic;
    for (int i = 0; i < cars; ++i) traffic.push_back(trafficAt({0.0f, 10.0f + 7.0f * static_cast<float>(i), 0.0f}));
    retakeLedger(host);
    return traffic;
}

// Head-on hits on one car after the other until a hit copies nothing: the
// budget is then full for a head-on hit. The number of cars dented.
std::size_t fillBudgetHeadOn(const DrivenHost& host, const std::vector<hostsim::Vehicle*>& traffic) {
    for (std::size_t i = 0; i < traffic.size(); ++i) {
        holdContact(traffic[i], 0.4f, kFront, kOutward, 1);
        quietFrames(traffic[i], 8);
        if (hitLines(host.log).back().meshes == 0) return i;
    }
    return traffic.size();
}

const char kPanelUnsupported[] = "Panel crease unsupported; using ordinary dent for this mesh.";

// With the all-vehicles budget full, a hit on a car without copies asks the
// host for nothing: no copy is made to be thrown away, and the panel lines,
// which belong to a copy that is kept, are not written.
TEST(Limits, FullVertexBudgetCopiesNothingForANewCar) {
    DrivenHost host;
    startDriven(host, "[Traffic]\r\nMaxTotalVertices=50000\r\n");
    const std::vector<hostsim::Vehicle*> traffic = parkTraffic(host, 8);
    const std::size_t dented = fillBudgetHeadOn(host, traffic);
    ASSERT_GE(dented, 2u);
    ASSERT_LE(dented + 2, traffic.size()) << "the budget never filled";

    const std::vector<std::uint32_t> calls = geometryCallCounts();
    const std::size_t shading = linesStartingWith(host.log, "PanelShading:").size();
    const std::size_t unsupported = linesStartingWith(host.log, kPanelUnsupported).size();
    hostsim::Vehicle* fresh = traffic[dented + 1];
    for (int episode = 0; episode < 2; ++episode) {
        holdContact(fresh, 0.5f, kFront, kOutward, 2);
        quietFrames(fresh, 8);
        EXPECT_EQ(hitLines(host.log).back().meshes, 0u);
    }
    EXPECT_EQ(geometryCallCounts(), calls);
    EXPECT_EQ(linesStartingWith(host.log, "PanelShading:").size(), shading);
    EXPECT_EQ(linesStartingWith(host.log, kPanelUnsupported).size(), unsupported);
    EXPECT_TRUE(untouched(fresh));
    expectNoOrphanCopy();
    expectNoHostFaults();
}

// Traffic holds the whole budget, then the player drives into a wall: the
// player's car is dented, the traffic dented longest ago gives its copies up
// and draws its originals again, and after the reset event every reference
// count is where it started.
TEST(Limits, PlayersCarComesFirstUnderTheVertexBudget) {
    DrivenHost host;
    startDriven(host, "[Traffic]\r\nMaxTotalVertices=50000\r\n");
    const std::vector<hostsim::Vehicle*> traffic = parkTraffic(host, 8);
    std::vector<hostsim::VehicleSnapshot> rests;
    for (const hostsim::Vehicle* car : traffic) rests.push_back(hostsim::snapshotVehicle(car));
    const std::size_t dented = fillBudgetHeadOn(host, traffic);
    ASSERT_GE(dented, 2u);
    ASSERT_LT(dented, traffic.size()) << "the budget never filled";

    holdContact(host.player, 0.4f, kFront, kOutward, 1);
    const HitLine hit = hitLines(host.log).back();
    EXPECT_EQ(hit.actor, "player");
    EXPECT_GE(hit.meshes, 5u);
    EXPECT_TRUE(hostsim::atomicNamed(host.player, "chassis")->geometry->hostMadeByModule);
    EXPECT_TRUE(hostsim::atomicNamed(host.player, "bonnet_hi_ok")->geometry->hostMadeByModule);
    EXPECT_GT(largestMove(hostsim::snapshotVehicle(host.player), host.rest), 0.2f);

    // Evicted: the cars dented first, each drawing its originals at rest again.
    std::size_t evicted = 0;
    while (evicted < dented && untouched(traffic[evicted])) ++evicted;
    EXPECT_GE(evicted, 1u);
    EXPECT_LT(evicted, dented) << "only as many as the player's copies need";
    for (std::size_t i = 0; i < dented; ++i) {
        SCOPED_TRACE("traffic car " + std::to_string(i));
        if (i >= evicted) {
            EXPECT_FALSE(untouched(traffic[i]));
            continue;
        }
        const hostsim::VehicleSnapshot now = hostsim::snapshotVehicle(traffic[i]);
        ASSERT_EQ(now.size(), rests[i].size());
        for (std::size_t p = 0; p < now.size(); ++p) {
            EXPECT_EQ(now[p].geometry, rests[i][p].geometry) << now[p].name;
            EXPECT_EQ(hostsim::movedFrom(now[p], rests[i][p]), std::vector<float>(now[p].positions.size(), 0.0f))
                << now[p].name;
        }
    }
    expectNoOrphanCopy();

    hostsim::callSite(hostsim::kResetSiteA);
    expectAllRestored(host, host.player, host.rest);
    for (std::size_t i = 0; i < traffic.size(); ++i) expectAllRestored(host, traffic[i], rests[i]);
    expectNoHostFaults();
}

}  // namespace

namespace {

// Traffic holds the whole budget; the player's first hit (a large car not
// prepared yet) waits in the queue for its copies, and in the frame between,
// the traffic car dented first hits again. The copies the player's car needs
// come from the cars idle longest: the car that just hit keeps its dent.
TEST(Limits, QueuedPlayersCopyEvictsTheLongestIdleTraffic) {
    DrivenHost host;
    hostsim::VehicleSpec largeBody;
    largeBody.bodyVertices = 29900;
    startDriven(host, "[Traffic]\r\nMaxTotalVertices=70000\r\n", largeBody);
    const std::vector<hostsim::Vehicle*> traffic = parkTraffic(host, 8);
    const std::size_t dented = fillBudgetHeadOn(host, traffic);
    ASSERT_GE(dented, 4u);

    hostsim::setContact(host.player, 0.4f, kFront, kOutward);
    hostsim::runFrame();
    hostsim::clearCollision(host.player);
    for (std::size_t i = 0; i < dented; ++i) ASSERT_FALSE(untouched(traffic[i])) << "nothing evicted yet: " << i;
    holdContact(traffic[0], 0.2f, kFront, kOutward, 1);
    settleTrafficWork();

    EXPECT_EQ(hitLines(host.log).back().actor, "npc");
    EXPECT_FALSE(untouched(traffic[0])) << "the car that just hit keeps its copies";
    std::size_t evicted = 1;
    while (evicted < dented && untouched(traffic[evicted])) ++evicted;
    EXPECT_GT(evicted, 1u) << "the player's copies took room";
    for (std::size_t i = evicted; i < dented; ++i) EXPECT_FALSE(untouched(traffic[i])) << "idle shorter: " << i;
    expectNoHostFaults();
}

// The player's first hit on a large car waits in the queue for its copies,
// and the player takes a dented traffic car before they are made: that car
// is now the one that comes first, and the hit left behind takes no room
// from it.
TEST(Limits, QueuedHitOnACarLeftBehindTakesNoRoomFromThePlayersNewCar) {
    DrivenHost host;
    hostsim::VehicleSpec largeBody;
    largeBody.bodyVertices = 29900;
    startDriven(host, "[Traffic]\r\nMaxTotalVertices=50000\r\n", largeBody);
    hostsim::Vehicle* next = parkTraffic(host, 1)[0];
    holdContact(next, 0.4f, kFront, kOutward, 1);
    settleTrafficWork();
    ASSERT_FALSE(untouched(next));

    hostsim::setContact(host.player, 0.4f, kFront, kOutward);
    hostsim::runFrame();
    hostsim::clearCollision(host.player);
    hostsim::setPlayerVehicle(next);
    settleTrafficWork();

    EXPECT_FALSE(untouched(next)) << "the player's new car keeps its copies";
    EXPECT_FALSE(untouched(host.player)) << "the car left behind is dented as far as room allows";
    expectNoHostFaults();
}

}  // namespace
