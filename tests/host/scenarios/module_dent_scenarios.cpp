// The built module denting cars in the simulated host: where a dent goes,
// how lasting and repeated contacts add up, what is never touched, and the
// rear lights.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "car_model.h"
#include "dent_support.h"
#include "host_checks.h"
#include "host_functions.h"
#include "host_image.h"

namespace {

using hostsim::HostFunction;
using hostsim::Vec3;
using namespace scenario;

float distance(Vec3 a, Vec3 b) {
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z));
}

// Parts the module must never deform: excluded by their own frame's name or
// by their parent's (the rear wheels hang below their dummies).
const std::set<std::string> kExcludedParts = {"chassis_vlo",    "exhaust", "misc_a", "wheel_lf_dummy",
                                              "wheel_rf_dummy", "hub_lb",  "hub_rb"};

// A car that stands away from the origin, turned: every contact goes through
// the placement and the frames' world matrices.
hostsim::VehicleSpec turnedCar() {
    hostsim::VehicleSpec design;
    design.position = {12.0f, -30.0f, 0.0f};
    design.heading = 0.5f;
    return design;
}

// The chassis vertex farthest along `direction` (model frame): a contact
// exactly there gets the full depth.
Vec3 extremeVertex(const hostsim::VehicleSnapshot& snapshot, Vec3 direction) {
    const hostsim::PartSnapshot* body = part(snapshot, "chassis");
    Vec3 best = body->positions.front();
    const auto along = [&](Vec3 p) { return p.x * direction.x + p.y * direction.y + p.z * direction.z; };
    for (const Vec3& p : body->positions)
        if (along(p) > along(best)) best = p;
    return best;
}

std::size_t indexOf(const hostsim::PartSnapshot& part, Vec3 vertex) {
    for (std::size_t i = 0; i < part.positions.size(); ++i)
        if (std::memcmp(&part.positions[i], &vertex, sizeof vertex) == 0) return i;
    return part.positions.size();
}

bool reaches(const hostsim::PartSnapshot& part, Vec3 contact, float radius) {
    return std::any_of(part.positions.begin(), part.positions.end(),
                       [&](Vec3 p) { return distance(p, contact) < radius; });
}

bool isPanel(const std::string& name) { return name.rfind("bonnet", 0) == 0 || name.rfind("boot", 0) == 0; }

// Every bonnet or boot rebuilt along its crease was one more geometry made.
std::size_t panelRebuilds(const std::string& log) { return linesStartingWith(log, "PanelShading:").size(); }

// The copy carries everything of its original but the positions: normals,
// colours, both texture sets, triangles and the very same materials.
void expectFaithfulCopy(const hostsim::Geometry* copy, const hostsim::Geometry* original, const std::string& name) {
    const hostsim::MeshData a = hostsim::meshOf(copy), b = hostsim::meshOf(original);
    EXPECT_EQ(a.normals.size(), b.normals.size()) << name;
    EXPECT_EQ(std::memcmp(a.normals.data(), b.normals.data(), a.normals.size() * sizeof(Vec3)), 0) << name;
    EXPECT_EQ(a.colours, b.colours) << name;
    EXPECT_EQ(a.texCoords, b.texCoords) << name;
    ASSERT_EQ(a.triangles.size(), b.triangles.size()) << name;
    EXPECT_EQ(std::memcmp(a.triangles.data(), b.triangles.data(), a.triangles.size() * sizeof(hostsim::Triangle)), 0)
        << name;
    ASSERT_EQ(copy->materialCount, original->materialCount) << name;
    for (std::int32_t i = 0; i < copy->materialCount; ++i)
        EXPECT_EQ(copy->materials[i], original->materials[i]) << name;
    EXPECT_EQ(copy->flags & 0xFF, original->flags & 0xFF) << name;
    EXPECT_EQ(copy->texCoordSets, original->texCoordSets) << name;
}

TEST(Dent, FrontCrashDentsTheFrontNotTheBack) {
    DrivenHost host;
    startDriven(host, "", turnedCar());
    const Vec3 nose = extremeVertex(host.rest, {0.0f, 1.0f, 0.0f});
    const float impact = 0.35f;
    const Dent expected = defaultResponse(impact);

    holdContact(host.player, impact, nose, {0.0f, 1.0f, 0.0f}, 1);
    const std::vector<HitLine> hits = hitLines(host.log);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].actor, "player");
    EXPECT_EQ(hits[0].handle, hostsim::vehicleHandle(host.player));
    EXPECT_EQ(hits[0].model, 400);
    EXPECT_EQ(hits[0].episode, 1u);
    EXPECT_NEAR(hits[0].depth, expected.depth, 0.001f);
    EXPECT_NEAR(hits[0].radius, expected.radius, 0.001f);

    // Exactly the deformable parts the dent reaches have copies.
    const hostsim::VehicleSnapshot now = hostsim::snapshotVehicle(host.player);
    unsigned copies = 0;
    for (std::size_t i = 0; i < now.size(); ++i) {
        const hostsim::PartSnapshot& rest = host.rest[i];
        const bool deformed = !kExcludedParts.count(rest.name) && reaches(rest, nose, expected.radius);
        if (!deformed) {
            EXPECT_EQ(now[i].geometry, rest.geometry) << rest.name;
            continue;
        }
        ++copies;
        ASSERT_NE(now[i].geometry, rest.geometry) << rest.name;
        ASSERT_TRUE(now[i].geometry->hostMadeByModule) << rest.name;
        if (isPanel(rest.name)) {
            // Rebuilt along its crease, and its normals follow the fold.
            EXPECT_EQ(hostsim::lockModes(now[i].geometry),
                      std::vector<std::int32_t>{hostsim::kLockPositions | hostsim::kLockNormals})
                << rest.name;
        } else {
            expectFaithfulCopy(now[i].geometry, rest.geometry, rest.name);
            EXPECT_EQ(hostsim::lockModes(now[i].geometry), std::vector<std::int32_t>{hostsim::kLockPositions})
                << rest.name;
        }
        EXPECT_EQ(now[i].geometry->references, 2) << "the module's and the atomic's: " << rest.name;
        EXPECT_EQ(rest.geometry->references, host.ledger.geometries.at(rest.geometry))
            << "the module's reference replaces the atomic's: " << rest.name;
        for (std::int32_t m = 0; m < rest.geometry->materialCount; ++m) {
            const hostsim::Material* material = rest.geometry->materials[m];
            EXPECT_EQ(material->references, host.ledger.materials.at(material) + 1) << rest.name;
        }
    }
    EXPECT_GE(copies, 5u) << "body, bonnet, bumper, windscreen and front doors";
    EXPECT_EQ(hits[0].meshes, copies);
    EXPECT_EQ(hostsim::calls(HostFunction::CreateGeometry), copies + panelRebuilds(host.log));
    for (const char* untouched : {"boot_hi_ok", "bump_rear_hi_ok", "door_lr_hi_ok", "door_rr_hi_ok"})
        EXPECT_EQ(part(now, untouched)->geometry, part(host.rest, untouched)->geometry) << untouched;

    // The body: the nose went in by the full depth, the back did not move.
    const hostsim::PartSnapshot& body = *part(now, "chassis");
    const hostsim::PartSnapshot& restBody = *part(host.rest, "chassis");
    const std::vector<float> moved = hostsim::movedFrom(body, restBody);
    const std::size_t noseIndex = indexOf(restBody, nose);
    ASSERT_LT(noseIndex, moved.size());
    EXPECT_NEAR(moved[noseIndex], expected.depth, 0.002f);
    EXPECT_NEAR(restBody.positions[noseIndex].y - body.positions[noseIndex].y, expected.depth, 0.002f)
        << "pushed straight back";
    std::size_t backVertices = 0;
    for (std::size_t i = 0; i < moved.size(); ++i) {
        if (distance(restBody.positions[i], nose) >= expected.radius) {
            EXPECT_EQ(moved[i], 0.0f) << "vertex " << i << " is outside the dent";
            ++backVertices;
        }
    }
    EXPECT_GT(backVertices, restBody.positions.size() / 3);
    EXPECT_LE(largestMove(now, host.rest), expected.depth + 0.0001f);

    EXPECT_TRUE(hostsim::writeVehiclePicture(host.folder.file("front-crash.png"), host.rest, now));
    EXPECT_TRUE(hostsim::writeObj(host.folder.file("front-crash.obj"), hostsim::objMeshes(now)));
    hostsim::runFrames(3);
    expectNoHostFaults();
}

// A contact held for two seconds is one episode: one dent, one line, and the
// copies are never locked again while the contact only repeats.
TEST(Dent, RestingContactDentsOnce) {
    DrivenHost host;
    startDriven(host, "", turnedCar());
    const Vec3 nose = extremeVertex(host.rest, {0.0f, 1.0f, 0.0f});
    holdContact(host.player, 0.3f, nose, {0.0f, 1.0f, 0.0f}, 1);
    const hostsim::VehicleSnapshot afterFirst = hostsim::snapshotVehicle(host.player);
    const std::uint32_t locks = hostsim::calls(HostFunction::Lock);
    ASSERT_GT(locks, 0u);

    holdContact(host.player, 0.3f, nose, {0.0f, 1.0f, 0.0f}, 60);
    EXPECT_EQ(hitLines(host.log).size(), 1u);
    EXPECT_EQ(hostsim::calls(HostFunction::Lock), locks);
    EXPECT_EQ(largestMove(hostsim::snapshotVehicle(host.player), afterFirst), 0.0f);

    // A lighter knock within the same contact adds nothing either.
    holdContact(host.player, 0.2f, nose, {0.0f, 1.0f, 0.0f}, 5);
    EXPECT_EQ(hitLines(host.log).size(), 1u);

    // A pause within ContactGapMs (180) keeps the episode; a longer one ends
    // it. The frames after each contact count towards the pause.
    const std::uint32_t afterContact = kPlayerHitFrames * hostsim::kFrameMs;
    hostsim::advanceClock(180 - afterContact);
    holdContact(host.player, 0.3f, nose, {0.0f, 1.0f, 0.0f}, 1);
    EXPECT_EQ(hitLines(host.log).size(), 1u);
    hostsim::advanceClock(181 - afterContact);
    holdContact(host.player, 0.3f, nose, {0.0f, 1.0f, 0.0f}, 1);
    const std::vector<HitLine> hits = hitLines(host.log);
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[1].episode, 2u);
    expectNoHostFaults();
}

// A deeper contact in the same episode moves every vertex to where the deeper
// dent alone would have put it: only the excess is added.
TEST(Dent, DeeperSecondContactAddsOnlyTheExcess) {
    DrivenHost host;
    startDriven(host, "", turnedCar());
    const Vec3 nose = extremeVertex(host.rest, {0.0f, 1.0f, 0.0f});
    const Dent light = defaultResponse(0.2f), heavy = defaultResponse(0.5f);
    holdContact(host.player, 0.2f, nose, {0.0f, 1.0f, 0.0f}, 3);
    holdContact(host.player, 0.5f, nose, {0.0f, 1.0f, 0.0f}, 3);

    const std::vector<HitLine> hits = hitLines(host.log);
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0].episode, 1u);
    EXPECT_EQ(hits[1].episode, 1u);
    EXPECT_NEAR(hits[0].depth, light.depth, 0.001f);
    EXPECT_NEAR(hits[1].depth, heavy.depth, 0.001f);

    const hostsim::PartSnapshot& restBody = *part(host.rest, "chassis");
    const std::vector<float> moved =
        hostsim::movedFrom(*part(hostsim::snapshotVehicle(host.player), "chassis"), restBody);
    EXPECT_NEAR(moved[indexOf(restBody, nose)], heavy.depth, 0.002f) << "not " << light.depth + heavy.depth;
    for (std::size_t i = 0; i < moved.size(); ++i) {
        const float alone = heavy.depth * defaultWeight(distance(restBody.positions[i], nose), heavy.radius);
        ASSERT_NEAR(moved[i], alone, 0.002f) << "vertex " << i;
    }
    expectNoHostFaults();
}

// Separate episodes at one place add up until MaxTotalDisplacement stops them.
TEST(Dent, RepeatedEpisodesStopAtMaxTotalDisplacement) {
    DrivenHost host;
    startDriven(host, "[Deformation]\r\nMaxTotalDisplacement=0.8\r\n", turnedCar());
    const Vec3 side = extremeVertex(host.rest, {-1.0f, 0.0f, 0.0f});
    for (int episode = 0; episode < 4; ++episode) {
        holdContact(host.player, 1.0f, side, {-1.0f, 0.0f, 0.0f}, 1);
        quietFrames(host.player, 8);  // longer than ContactGapMs: the next contact is a new episode
    }
    const std::vector<HitLine> hits = hitLines(host.log);
    ASSERT_EQ(hits.size(), 4u);
    for (unsigned i = 0; i < 4; ++i) EXPECT_EQ(hits[i].episode, i + 1);

    const float largest = largestMove(hostsim::snapshotVehicle(host.player), host.rest);
    EXPECT_LE(largest, 0.8f + 0.0001f);
    EXPECT_GE(largest, 0.8f - 0.001f) << "four dents of 0.65 reach the cap";
    expectNoHostFaults();
}

// Wheels, exhaust, mirror and the low-detail body are never copied, whatever
// reaches them; everything else the dents reach is.
TEST(Dent, WheelsExhaustMiscAndLowDetailBodyNeverChange) {
    DrivenHost host;
    startDriven(host, "", turnedCar());
    holdContact(host.player, 0.65f, {-0.9f, -1.6f, -0.3f}, {-1.0f, 0.0f, 0.0f}, 1);  // rear left wheel and exhaust
    quietFrames(host.player, 8);
    holdContact(host.player, 0.65f, {-0.95f, 1.0f, 0.3f}, {-1.0f, 0.0f, 0.0f}, 1);  // mirror and front left wheel
    quietFrames(host.player, 8);
    holdContact(host.player, 0.65f, {0.9f, 1.4f, -0.3f}, {1.0f, 0.0f, 0.0f}, 1);  // front right wheel
    quietFrames(host.player, 8);
    holdContact(host.player, 0.65f, {0.9f, -1.4f, -0.3f}, {1.0f, 0.0f, 0.0f}, 1);  // rear right wheel

    const std::vector<HitLine> hits = hitLines(host.log);
    ASSERT_EQ(hits.size(), 4u);
    const hostsim::VehicleSnapshot now = hostsim::snapshotVehicle(host.player);
    unsigned copies = 0;
    for (std::size_t i = 0; i < now.size(); ++i) {
        const bool copied = now[i].geometry != host.rest[i].geometry;
        if (kExcludedParts.count(now[i].name)) {
            EXPECT_FALSE(copied) << now[i].name;
            EXPECT_EQ(hostsim::movedFrom(now[i], host.rest[i]), std::vector<float>(now[i].positions.size(), 0.0f))
                << now[i].name;
            EXPECT_EQ(now[i].geometry->references, host.ledger.geometries.at(now[i].geometry)) << now[i].name;
        }
        copies += copied ? 1 : 0;
    }
    EXPECT_EQ(copies + panelRebuilds(host.log), hostsim::calls(HostFunction::CreateGeometry));
    EXPECT_EQ(hostsim::liveModuleGeometries().size(), copies);
    EXPECT_GE(copies, 8u) << "body, doors, bumpers and more";
    expectNoHostFaults();
}

// A rear hit deep enough at a rear light breaks that light, once; a later hit
// at the other light breaks that one too. Lines come before the hit's line.
TEST(Dent, RearHitBreaksTheLightItReachesAndLogsIt) {
    DrivenHost host;
    startDriven(host, "", turnedCar());
    const Vec3 rightLight = hostsim::kRearLightPosition;
    holdContact(host.player, 0.25f, rightLight, {0.0f, -1.0f, 0.0f}, 2);
    EXPECT_EQ(hostsim::lightStatus(host.player, hostsim::kRearLightRight), 1);
    EXPECT_EQ(hostsim::lightStatus(host.player, hostsim::kRearLightLeft), 0)
        << "the left light lies too far out in this dent";
    std::vector<std::string> lines;
    for (const std::string& line : readLog(host.log).lines)
        if (line.compare(0, 5, "Panel") != 0) lines.push_back(line);  // the boot's own lines
    lines.erase(std::remove_if(lines.begin(), lines.end(),  // the private collision model's own line
                               [](const std::string& line) { return line.compare(0, 17, "Collision: actor=") == 0; }),
                lines.end());
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[lines.size() - 2], "RearLight: actor=player side=right model=400 smashed");
    EXPECT_EQ(lines.back().compare(0, 4, "Hit:"), 0);

    quietFrames(host.player, 8);
    holdContact(host.player, 0.3f, {-rightLight.x, rightLight.y, rightLight.z}, {0.0f, -1.0f, 0.0f}, 1);
    EXPECT_EQ(hostsim::lightStatus(host.player, hostsim::kRearLightLeft), 1);
    EXPECT_EQ(linesStartingWith(host.log, "RearLight:"),
              (std::vector<std::string>{"RearLight: actor=player side=right model=400 smashed",
                                        "RearLight: actor=player side=left model=400 smashed"}));
    // A front hit never reaches the lights' test.
    const std::uint32_t queries = hostsim::calls(HostFunction::GetLightStatus);
    quietFrames(host.player, 8);
    holdContact(host.player, 0.4f, extremeVertex(host.rest, {0.0f, 1.0f, 0.0f}), {0.0f, 1.0f, 0.0f}, 1);
    EXPECT_EQ(hostsim::calls(HostFunction::GetLightStatus), queries);
    EXPECT_EQ(hitLines(host.log).size(), 3u);
    expectNoHostFaults();
}

// A traffic car rear-ended: its light breaks with the npc's line.
TEST(Dent, TrafficRearHitBreaksItsLight) {
    DrivenHost host;
    startDriven(host);
    hostsim::VehicleSpec design;
    design.modelId = 401;
    design.position = {3.0f, 15.0f, 0.0f};
    hostsim::Vehicle* traffic = hostsim::spawnVehicle(design);
    holdContact(traffic, 0.25f, hostsim::kRearLightPosition, {0.0f, -1.0f, 0.0f}, 1);
    EXPECT_EQ(hostsim::lightStatus(traffic, hostsim::kRearLightRight), 1) << "at once, before the mesh work";
    settleTrafficWork();
    EXPECT_EQ(hostsim::lightStatus(host.player, hostsim::kRearLightRight), 0);
    EXPECT_EQ(linesStartingWith(host.log, "RearLight:"),
              std::vector<std::string>{"RearLight: actor=npc side=right model=401 smashed"});
    const std::vector<HitLine> hits = hitLines(host.log);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].actor, "npc");
    EXPECT_EQ(hits[0].handle, hostsim::vehicleHandle(traffic));
    expectNoHostFaults();
}

}  // namespace
