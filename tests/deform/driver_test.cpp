#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "deform/atomic_driver.h"
#include "deform/atomic_names.h"
#include "deform/ordinary_dent.h"
#include "deform/records.h"
#include "deform/support/geometry_host.h"
#include "deform/support/vehicle_under_test.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "host/bindings.h"
#include "host/support/fake_host.h"
#include "host/support/log_capture.h"
#include "host/support/memory_pages.h"
#include "host/support/module_state.h"
#include "panel/support/panel_host.h"

namespace {

using dent::Vec;
using kerbmark::DentRequest;
using testdeform::SourceShape;

constexpr const char* kCloneFailed = "Geometry clone failed; mesh skipped.";

bool sameBits(Vec a, Vec b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

std::vector<Vec> line(int count, float step = 0.1f) {
    std::vector<Vec> points;
    for (int i = 0; i < count; ++i) points.push_back({step * static_cast<float>(i), 0, 0});
    return points;
}

class Driver : public testdeform::VehicleUnderTest {
protected:
    host::Atomic* atomicNamed(const char* name, std::vector<Vec> positions = line(6),
                              host::Frame* parent = nullptr) {
        SourceShape shape;
        shape.vertices = static_cast<std::int32_t>(positions.size());
        shape.positions = std::move(positions);
        return geometries.atomic(vehicle, geometries.source(shape), geometries.frame(name, parent));
    }

    DentRequest request(Vec point, float depth = 0.2f, float radius = 1.0f, std::uint32_t episode = 1,
                        Vec direction = {0, 0, -1}) {
        return DentRequest{&record, point, direction, depth, radius, episode, 0};
    }

    // The copy's positions as the ordinary dent gives them from `current`.
    std::vector<Vec> dented(const std::vector<Vec>& rest, const std::vector<Vec>& current, Vec hit, Vec direction,
                            float depth, float radius, float previousDepth, float previousRadius) {
        std::vector<Vec> result;
        for (std::size_t i = 0; i < rest.size(); ++i) {
            result.push_back(dent::displaceImpact(rest[i], current[i], hit, direction, depth, radius, previousDepth,
                                                  previousRadius, kerbmark::settings.MaxTotalDisplacement,
                                                  kerbmark::settings.FalloffPower));
        }
        return result;
    }

};

TEST_F(Driver, FirstDentCopiesAttachesAndDisplacesTheCopy) {
    host::Atomic* atomic = atomicNamed("door_lf_dummy");
    host::Geometry* original = atomic->geometry;
    ASSERT_EQ(original->references, 2);  // the host's and the atomic's
    DentRequest r = request({0, 0, 0});
    EXPECT_EQ(run(r), 1u);

    ASSERT_EQ(record.meshes.size(), 1u);
    const kerbmark::MeshEntry& entry = record.meshes[0];
    ASSERT_EQ(geometries.copies().size(), 1u);
    host::Geometry* copy = geometries.copies()[0];
    EXPECT_EQ(entry.original, original);
    EXPECT_EQ(entry.copy, copy);
    EXPECT_EQ(atomic->geometry, copy);
    ASSERT_EQ(host.setGeometryCalls.size(), 1u);
    EXPECT_EQ(host.setGeometryCalls[0].atomic, atomic);
    EXPECT_EQ(host.setGeometryCalls[0].geometry, copy);
    EXPECT_EQ(host.setGeometryCalls[0].flags, 0u);
    // The entry took a reference to the original; the atomic gave its own back.
    EXPECT_EQ(original->references, 2);
    EXPECT_EQ(copy->references, 2);
    EXPECT_EQ(record.totalVertices, 6u);

    const std::vector<Vec> rest = line(6);
    ASSERT_EQ(entry.restPositions.size(), 6u);
    for (int i = 0; i < 6; ++i) EXPECT_TRUE(sameBits(entry.restPositions[i], rest[i])) << i;
    const std::vector<Vec> expected = dented(rest, rest, {0, 0, 0}, {0, 0, -1}, 0.2f, 1.0f, 0, 0);
    const std::vector<Vec> actual = positionsOf(copy);
    for (int i = 0; i < 6; ++i) EXPECT_TRUE(sameBits(actual[i], expected[i])) << i;
    EXPECT_LT(actual[0].z, -0.19f);
    for (int i = 0; i < 6; ++i) EXPECT_TRUE(sameBits(positionsOf(original)[i], rest[i])) << "original untouched";

    ASSERT_EQ(geometries.lockCalls.size(), 1u);
    EXPECT_EQ(geometries.lockCalls[0].geometry, copy);
    EXPECT_EQ(geometries.lockCalls[0].mode, 2);
    EXPECT_EQ(geometries.unlockCalls.back(), copy);
    EXPECT_EQ(entry.lastEpisode, 1u);
    EXPECT_EQ(entry.lastDepth, 0.2f);
    EXPECT_EQ(entry.lastRadius, 1.0f);
    EXPECT_EQ(atomic->flags & 1, 1);
    EXPECT_EQ(std::memcmp(atomic->boundingSphere, copy->vertexBlock->boundingSphere, 16), 0);
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(Driver, DentIsTakenIntoTheAtomicsFrame) {
    host::Atomic* atomic = atomicNamed("door_rf_dummy");
    // Frame turned a quarter about z and moved: local x is world y, local y is world -x.
    dent::HostMatrix m = testdeform::identityMatrix({10, 4, 0});
    m.right = {0, 1, 0};
    m.forward = {-1, 0, 0};
    geometries.setMatrix(atomic->frame, m);

    // World (10, 4.25, 0) is local (0.25, 0, 0); world +y is local +x.
    DentRequest r = request({10, 4.25f, 0}, 0.1f, 0.25f, 1, {0, 1, 0});
    EXPECT_EQ(run(r), 1u);
    const std::vector<Vec> actual = positionsOf(static_cast<host::Geometry*>(atomic->geometry));
    const std::vector<Vec> expected = dented(line(6), line(6), {0.25f, 0, 0}, {1, 0, 0}, 0.1f, 0.25f, 0, 0);
    for (int i = 0; i < 6; ++i) {
        EXPECT_TRUE(sameBits(actual[i], expected[i])) << i;
        EXPECT_EQ(actual[i].y, 0.0f);
        EXPECT_EQ(actual[i].z, 0.0f);
    }
    EXPECT_GT(actual[2].x, 0.25f);  // pushed along local x past the contact
    EXPECT_EQ(actual[0].x, 0.0f);   // 0.25 away: at the radius, untouched
    EXPECT_EQ(actual[5].x, 0.5f);
}

TEST_F(Driver, DentThatReachesNoVertexCreatesNothing) {
    // The nearest vertex lies exactly at the radius: not inside.
    host::Atomic* atomic = atomicNamed("door_lr_dummy", {{1, 0, 0}, {2, 0, 0}, {0, 3, 0}});
    host::Geometry* original = atomic->geometry;
    DentRequest r = request({0, 0, 0}, 0.2f, 1.0f);
    EXPECT_EQ(run(r), 0u);
    EXPECT_TRUE(geometries.createCalls.empty());
    EXPECT_TRUE(geometries.lockCalls.empty());
    EXPECT_TRUE(record.meshes.empty());
    EXPECT_EQ(atomic->geometry, original);
}

TEST_F(Driver, ExcludedNamesAlongTheAncestors) {
    for (const char* name : {"WHEEL_lf_dummy", "car_ExHaust", "door_misc_a", "Ug_frontbullbar", "CHASSIS_VLO"}) {
        EXPECT_TRUE(kerbmark::excludedByName(geometries.frame(name))) << name;
    }
    EXPECT_FALSE(kerbmark::excludedByName(geometries.frame("chassis_hi")));
    EXPECT_FALSE(kerbmark::excludedByName(geometries.frame(nullptr)));

    // A chain whose top frame is the 24th frame walked, then one frame further.
    host::Frame* top24 = geometries.frame("wheel_rb");
    host::Frame* top25 = geometries.frame("wheel_rb");
    host::Frame* below24 = top24;
    host::Frame* below25 = top25;
    for (int i = 0; i < 23; ++i) below24 = geometries.frame(i == 10 ? nullptr : "part", below24);
    for (int i = 0; i < 24; ++i) below25 = geometries.frame("part", below25);
    EXPECT_TRUE(kerbmark::excludedByName(below24));
    EXPECT_FALSE(kerbmark::excludedByName(below25));

    // An excluded atomic is never copied, however close the dent.
    atomicNamed("dummy", line(6), geometries.frame("Wheel_LF"));
    DentRequest r = request({0, 0, 0});
    EXPECT_EQ(run(r), 0u);
    EXPECT_TRUE(geometries.createCalls.empty());
}

TEST_F(Driver, PanelKindByTheNearestNamedFrame) {
    EXPECT_EQ(kerbmark::panelKind(geometries.frame("Hood_dummy", geometries.frame("boot_dummy"))), 1);
    EXPECT_EQ(kerbmark::panelKind(geometries.frame("BONNET_ok")), 1);
    EXPECT_EQ(kerbmark::panelKind(geometries.frame("Trunk")), 2);
    EXPECT_EQ(kerbmark::panelKind(geometries.frame("door", geometries.frame("boot_dummy"))), 2);
    EXPECT_EQ(kerbmark::panelKind(geometries.frame("xbonnet")), 0);
    EXPECT_EQ(kerbmark::panelKind(geometries.frame("chassis")), 0);

    host::Frame* deep = geometries.frame("bonnet");
    for (int i = 0; i < 24; ++i) deep = geometries.frame("part", deep);
    EXPECT_EQ(kerbmark::panelKind(deep), 0);
}

// Frames the host could not read: one below 64 KiB, one without access, one
// whose record runs into a reserved page. None is ever handed to the host; the
// exclusion walk fails closed, the panel walk keeps what nearer frames decided.
TEST_F(Driver, UnreadableFramesAreNeverHandedToTheHost) {
    testhost::PageBlock pages(3);
    pages.commit(0, PAGE_READWRITE);
    pages.commit(2, PAGE_NOACCESS);
    auto* cut = reinterpret_cast<host::Frame*>(pages.endOfPage(0, 16));
    cut->parent = nullptr;
    const host::Frame* unreadable[] = {reinterpret_cast<host::Frame*>(std::uintptr_t{0x1234}),
                                       reinterpret_cast<host::Frame*>(pages.page(2)), cut};
    kerbmark::settings.PanelBending = true;
    for (const host::Frame* constBad : unreadable) {
        auto* bad = const_cast<host::Frame*>(constBad);
        SCOPED_TRACE(testing::Message() << bad);
        EXPECT_TRUE(kerbmark::excludedByName(bad));
        EXPECT_TRUE(kerbmark::excludedByName(geometries.frame("door_lf", bad)));
        EXPECT_EQ(kerbmark::panelKind(bad), 0);
        EXPECT_EQ(kerbmark::panelKind(geometries.frame("door_lf", bad)), 0);
        EXPECT_EQ(kerbmark::panelKind(geometries.frame("boot_panel", bad)), 2);

        // Neither an atomic in such a frame nor one below it is copied or locked.
        host::Atomic* own = atomicNamed("door_rf");
        own->frame = bad;
        atomicNamed("door_rr", line(6), bad);
        DentRequest r = request({0, 0, 0});
        EXPECT_EQ(run(r), 0u);
        EXPECT_TRUE(geometries.createCalls.empty());
        EXPECT_TRUE(geometries.lockCalls.empty());
    }
    EXPECT_FALSE(geometries.framesHandedToHost.empty()) << "the readable frames were asked";
    for (const void* frame : geometries.framesHandedToHost) {
        for (const host::Frame* bad : unreadable) EXPECT_NE(frame, bad);
    }
}

TEST_F(Driver, BonnetIsDentedAsAnyMeshOnlyWithoutPanelBending) {
    kerbmark::settings.PanelBending = false;
    host::Atomic* plain = atomicNamed("bonnet_dummy", testpanel::gridPositions({}));
    DentRequest r = request({0, 1, 0});
    EXPECT_EQ(run(r), 1u);
    const std::vector<Vec> rest = testpanel::gridPositions({});
    const std::vector<Vec> expected = dented(rest, rest, {0, 1, 0}, {0, 0, -1}, 0.2f, 1.0f, 0, 0);
    const std::vector<Vec> actual = positionsOf(static_cast<host::Geometry*>(plain->geometry));
    for (std::size_t i = 0; i < rest.size(); ++i) EXPECT_TRUE(sameBits(actual[i], expected[i])) << i;
    EXPECT_EQ(geometries.lockCalls.back().mode, 2);
    EXPECT_EQ(geometries.createCalls.size(), 1u);

    // With it on, the panel copy is rebuilt along its crease and locked for its normals too.
    kerbmark::settings.PanelBending = true;
    host::Atomic* folding = atomicNamed("Hood_hi", testpanel::gridPositions({}));
    DentRequest again = request({0, 1, 0}, 0.2f, 1.0f, 2);
    EXPECT_EQ(run(again), 2u);
    ASSERT_EQ(geometries.createCalls.size(), 3u);
    EXPECT_EQ(folding->geometry, geometries.copies()[2]);
    EXPECT_EQ(record.meshes[1].panel.kind, 1);
    EXPECT_EQ(geometries.lockCalls.back().geometry, folding->geometry);
    EXPECT_EQ(geometries.lockCalls.back().mode, 6);
}

TEST_F(Driver, SixtyFifthMeshIsNeverCopied) {
    std::vector<host::Atomic*> atomics;
    for (int i = 0; i < 65; ++i) atomics.push_back(atomicNamed("part", line(3)));
    DentRequest r = request({0, 0, 0});
    EXPECT_EQ(run(r), 64u);
    EXPECT_EQ(record.meshes.size(), 64u);
    EXPECT_EQ(geometries.createCalls.size(), 64u);
    EXPECT_FALSE(geometries.isCopy(atomics[64]->geometry));
    EXPECT_TRUE(geometries.isCopy(atomics[63]->geometry));
    EXPECT_EQ(record.totalVertices, 64u * 3u);
}

TEST_F(Driver, VehicleVertexLimit) {
    host::Atomic* tooMany = atomicNamed("part");  // 6 vertices
    record.totalVertices = 199995;
    DentRequest r = request({0, 0, 0});
    EXPECT_EQ(run(r), 0u);
    EXPECT_TRUE(geometries.createCalls.empty());  // refused before copying

    record.totalVertices = 199994;
    DentRequest again = request({0, 0, 0});
    EXPECT_EQ(run(again), 1u);
    EXPECT_TRUE(geometries.isCopy(tooMany->geometry));
    EXPECT_EQ(record.totalVertices, 200000u);
}

// A full budget refuses before anything is copied; only a panel, whose copy
// grows when it is rebuilt along its crease, can still be refused afterwards.
TEST_F(Driver, AllVehiclesVertexLimitIsCheckedBeforeTheCopy) {
    kerbmark::settings.MaxTotalVertices = 50000;
    host::Vehicle* other = host.vehicle(0x206);
    kerbmark::VehicleRecord& traffic = kerbmark::appendRecord(list, other, 0x206, other->clump, 1000.0f, 0);
    traffic.totalVertices = 49995;
    host::Atomic* atomic = atomicNamed("part");  // 6 vertices: one too many
    host::Geometry* original = atomic->geometry;

    DentRequest r = request({0, 0, 0});
    EXPECT_EQ(run(r), 0u);
    EXPECT_TRUE(geometries.createCalls.empty());
    EXPECT_TRUE(geometries.lockCalls.empty());
    EXPECT_TRUE(host.setGeometryCalls.empty());
    EXPECT_TRUE(record.meshes.empty());
    EXPECT_EQ(atomic->geometry, original);
    EXPECT_EQ(original->references, 2);

    traffic.totalVertices = 49994;
    DentRequest again = request({0, 0, 0});
    EXPECT_EQ(run(again), 1u);
    EXPECT_EQ(record.totalVertices, 6u);

    // Room for the bonnet's own vertices but not for its rebuilt copy.
    host::Atomic* bonnet = atomicNamed("bonnet_hi", testpanel::gridPositions({}));
    host::Geometry* bonnetOriginal = bonnet->geometry;
    traffic.totalVertices = 50000 - 6 - bonnetOriginal->vertexCount;
    DentRequest panel = request({0, 0.5f, 0}, 0.2f, 1.0f, 2);
    EXPECT_EQ(run(panel), 1u) << "the part, not the bonnet";
    ASSERT_EQ(geometries.copies().size(), 3u) << "the part's copy, the bonnet's clone and its rebuilt copy";
    EXPECT_GT(geometries.copies()[2]->vertexCount, bonnetOriginal->vertexCount);
    EXPECT_EQ(geometries.copies()[1]->references, 0);
    EXPECT_EQ(geometries.copies()[2]->references, 0);
    EXPECT_EQ(bonnet->geometry, bonnetOriginal);
    EXPECT_EQ(bonnetOriginal->references, 2);
    EXPECT_EQ(record.meshes.size(), 1u);

    // The player's bonnet passes the first check as it is; after the rebuild
    // the traffic record makes room for it.
    DentRequest player = request({0, 0.5f, 0}, 0.2f, 1.0f, 3);
    player.player = true;
    EXPECT_EQ(run(player), 2u);
    ASSERT_EQ(geometries.copies().size(), 5u);
    EXPECT_EQ(bonnet->geometry, geometries.copies()[4]);
    EXPECT_EQ(kerbmark::findRecord(list, other), nullptr);
    EXPECT_EQ(record.totalVertices, 6u + static_cast<std::uint32_t>(geometries.copies()[4]->vertexCount));
}

// The player's vehicle comes first under the all-vehicles budget: the records
// of other vehicles idle longest are evicted until its copy fits; traffic never
// evicts, and nothing is evicted when even every other record would not do.
TEST_F(Driver, PlayerEvictsTheLongestIdleTrafficForTheBudget) {
    kerbmark::settings.MaxTotalVertices = 50000;
    record.lastHit = 5000;  // this hit
    struct Traffic {
        host::Vehicle* vehicle;
        kerbmark::VehicleRecord* record;
        host::Atomic* atomic;
        host::Geometry* original;
    };
    const auto dentedTraffic = [this](std::int32_t handle, std::uint32_t lastHit, std::uint32_t padding) {
        host::Vehicle* vehicle = host.vehicle(handle);
        kerbmark::VehicleRecord& traffic = kerbmark::appendRecord(list, vehicle, handle, vehicle->clump, 1000.0f, 0);
        host::Atomic* atomic = geometries.atomic(vehicle, geometries.source(), geometries.frame("part"));
        host::Geometry* original = atomic->geometry;
        DentRequest r{&traffic, {0, 0, 0}, {0, 0, -1}, 0.2f, 1.0f, 1, 0};
        game::atomics(vehicle->clump, kerbmark::deformAtomic, &r);
        EXPECT_EQ(r.meshes, 1u);
        traffic.lastHit = lastHit;
        traffic.totalVertices += padding;  // stands for the vehicle's other copies
        return Traffic{vehicle, &traffic, atomic, original};
    };
    const Traffic idle = dentedTraffic(0x206, 100, 29995);    // 30001 vertices, idle 4900 ms
    const Traffic recent = dentedTraffic(0x307, 4000, 19988);  // 19994 vertices, idle 1000 ms
    host::Vehicle* empty = host.vehicle(0x408);
    kerbmark::appendRecord(list, empty, 0x408, empty->clump, 1000.0f, 0);  // idle longest, frees nothing
    ASSERT_EQ(kerbmark::totalVerticesOfAllRecords(list), 49995u);

    // Traffic reaching a new mesh of its own evicts nothing: the mesh is not copied.
    host::Atomic* trafficPart = geometries.atomic(recent.vehicle, geometries.source(), geometries.frame("part"));
    DentRequest trafficHit{recent.record, {0, 0, 0}, {0, 0, -1}, 0.2f, 1.0f, 2, 0};
    game::atomics(recent.vehicle->clump, kerbmark::deformAtomic, &trafficHit);
    EXPECT_EQ(trafficHit.meshes, 1u) << "its copied mesh only";
    EXPECT_FALSE(geometries.isCopy(trafficPart->geometry));
    ASSERT_EQ(list.records.size(), 4u);

    host::Atomic* playerPart = atomicNamed("part");

    DentRequest playerHit = request({0, 0, 0});
    playerHit.player = true;
    EXPECT_EQ(run(playerHit), 1u);
    EXPECT_TRUE(geometries.isCopy(playerPart->geometry));
    ASSERT_EQ(list.records.size(), 3u);
    EXPECT_EQ(kerbmark::findRecord(list, idle.vehicle), nullptr) << "evicted";
    EXPECT_EQ(idle.atomic->geometry, idle.original) << "its original put back";
    EXPECT_EQ(idle.original->references, 2);
    EXPECT_EQ(kerbmark::findRecord(list, recent.vehicle), recent.record);
    EXPECT_TRUE(geometries.isCopy(recent.atomic->geometry));
    EXPECT_NE(kerbmark::findRecord(list, empty), nullptr);
    EXPECT_EQ(kerbmark::totalVerticesOfAllRecords(list), 20000u);

    // The player's own record already holds nearly the whole budget: evicting
    // every other record would not be enough, so none is.
    record.totalVertices = 49995;
    host::Atomic* refused = atomicNamed("part");
    DentRequest tooLarge = request({0, 0, 0}, 0.2f, 1.0f, 2);
    tooLarge.player = true;
    EXPECT_EQ(run(tooLarge), 1u) << "only the part dented before";
    EXPECT_FALSE(geometries.isCopy(refused->geometry));
    EXPECT_EQ(list.records.size(), 3u);
    EXPECT_TRUE(geometries.isCopy(recent.atomic->geometry));
}

// The player's vehicle evicts only for a copy it keeps: a clone that fails,
// and a bonnet whose rebuilt copy would not fit even with every other record
// gone, leave the idle traffic record with its copy as it was.
TEST_F(Driver, PlayerEvictsNothingForACopyItDoesNotKeep) {
    kerbmark::settings.MaxTotalVertices = 50000;
    record.lastHit = 5000;
    host::Vehicle* other = host.vehicle(0x206);
    kerbmark::VehicleRecord& traffic = kerbmark::appendRecord(list, other, 0x206, other->clump, 1000.0f, 0);
    host::Atomic* trafficPart = geometries.atomic(other, geometries.source(), geometries.frame("part"));
    DentRequest trafficHit{&traffic, {0, 0, 0}, {0, 0, -1}, 0.2f, 1.0f, 1, 0};
    game::atomics(other->clump, kerbmark::deformAtomic, &trafficHit);
    ASSERT_EQ(trafficHit.meshes, 1u);
    host::Geometry* trafficCopy = trafficPart->geometry;

    std::vector<Vec> aside = line(6);
    for (Vec& p : aside) p.x += 20.0f;
    atomicNamed("part", aside);
    host::Atomic* bonnet = atomicNamed("bonnet_hi", testpanel::gridPositions({}));
    const std::int32_t bonnetVertices = bonnet->geometry->vertexCount;
    struct Case {
        const char* what;
        Vec point;
        testdeform::CreateOutcome clone;
        std::uint32_t ownVertices;  // the player's record before the hit
    };
    const Case cases[] = {
        {"clone fails", {20, 0, 0}, testdeform::CreateOutcome::Null, 0},
        {"rebuilt bonnet too large", {0, 0.5f, 0}, testdeform::CreateOutcome::Normal,
         50000u - static_cast<std::uint32_t>(bonnetVertices)},
    };
    for (const Case& c : cases) {
        traffic.totalVertices = 50000;  // the budget is full
        record.totalVertices = c.ownVertices;
        geometries.createOutcome = c.clone;
        DentRequest hit = request(c.point);
        hit.player = true;
        EXPECT_EQ(run(hit), 0u) << c.what;
        EXPECT_EQ(kerbmark::findRecord(list, other), &traffic) << c.what;
        ASSERT_EQ(traffic.meshes.size(), 1u) << c.what;
        EXPECT_EQ(trafficPart->geometry, trafficCopy) << c.what;
        EXPECT_EQ(traffic.meshes[0].copy, trafficCopy) << c.what;
    }
    EXPECT_TRUE(record.meshes.empty());
}

// The host created the copy with the flag that forbids deforming: the copy is
// given back and the atomic keeps its own geometry.
TEST_F(Driver, UndeformableCopyIsNotKept) {
    static game::CreateGeometryFn forward = nullptr;
    forward = game::createGeometry;
    game::createGeometry = [](std::int32_t vertices, std::int32_t triangles, std::uint32_t format) -> void* {
        void* created = forward(vertices, triangles, format);
        if (created) static_cast<host::Geometry*>(created)->flags |= 0x01000000;
        return created;
    };
    host::Atomic* atomic = atomicNamed("part");
    host::Geometry* original = atomic->geometry;
    DentRequest r = request({0, 0, 0});
    const unsigned meshes = run(r);
    game::createGeometry = forward;

    EXPECT_EQ(meshes, 0u);
    ASSERT_EQ(geometries.copies().size(), 1u);
    EXPECT_EQ(host.destroyGeometryCalls, std::vector<void*>{geometries.copies()[0]});
    EXPECT_TRUE(record.meshes.empty());
    EXPECT_EQ(record.totalVertices, 0u);
    EXPECT_EQ(atomic->geometry, original);
    EXPECT_EQ(original->references, 2);
    EXPECT_TRUE(geometries.lockCalls.empty());
}

TEST_F(Driver, GeometriesThatAreNeverDeformed) {
    SourceShape large;
    large.vertices = 30001;
    geometries.atomic(vehicle, geometries.source(large), geometries.frame("part"));
    host::Atomic* twoBlocks = atomicNamed("part");
    twoBlocks->geometry->vertexBlockCount = 2;
    host::Atomic* flagged = atomicNamed("part");
    flagged->geometry->flags |= 0x01000000;
    host::Atomic* noFrame = atomicNamed("part");
    noFrame->frame = nullptr;
    host::Atomic* noMatrix = atomicNamed("part");
    geometries.removeMatrix(noMatrix->frame);
    host::Atomic* skewed = atomicNamed("part");
    dent::HostMatrix m = testdeform::identityMatrix();
    m.forward = {0.2f, 1, 0};
    geometries.setMatrix(skewed->frame, m);

    DentRequest r = request({0, 0, 0});
    EXPECT_EQ(run(r), 0u);
    EXPECT_TRUE(geometries.createCalls.empty());
    EXPECT_TRUE(record.meshes.empty());
}

TEST_F(Driver, RefusedLockKeepsTheEntryAndTriesAgain) {
    host::Atomic* atomic = atomicNamed("part");
    geometries.failLock = true;
    DentRequest r = request({0, 0, 0});
    EXPECT_EQ(run(r), 0u);
    ASSERT_EQ(record.meshes.size(), 1u);
    host::Geometry* copy = static_cast<host::Geometry*>(atomic->geometry);
    EXPECT_TRUE(geometries.isCopy(copy));
    for (int i = 0; i < 6; ++i) EXPECT_TRUE(sameBits(positionsOf(copy)[i], line(6)[i]));
    EXPECT_EQ(atomic->flags & 1, 0);
    EXPECT_EQ(record.meshes[0].lastEpisode, 0u);

    geometries.failLock = false;
    DentRequest again = request({0, 0, 0});
    EXPECT_EQ(run(again), 1u);
    EXPECT_EQ(geometries.createCalls.size(), 1u);
    EXPECT_EQ(geometries.lockCalls.size(), 2u);
    EXPECT_LT(positionsOf(copy)[0].z, -0.19f);
}

TEST_F(Driver, PreviousDentCountsOnlyWithinTheSameEpisode) {
    host::Atomic* atomic = atomicNamed("part");
    const std::vector<Vec> rest = line(6);
    DentRequest first = request({0, 0, 0}, 0.2f, 1.0f, 7);
    run(first);
    host::Geometry* copy = static_cast<host::Geometry*>(atomic->geometry);
    const std::vector<Vec> afterFirst = positionsOf(copy);

    DentRequest repeat = request({0, 0, 0}, 0.2f, 1.0f, 7);
    EXPECT_EQ(run(repeat), 1u);
    for (int i = 0; i < 6; ++i) EXPECT_TRUE(sameBits(positionsOf(copy)[i], afterFirst[i])) << i;

    DentRequest deeper = request({0, 0, 0}, 0.3f, 1.2f, 7);
    run(deeper);
    const std::vector<Vec> expectedDeeper = dented(rest, afterFirst, {0, 0, 0}, {0, 0, -1}, 0.3f, 1.2f, 0.2f, 1.0f);
    const std::vector<Vec> afterDeeper = positionsOf(copy);
    for (int i = 0; i < 6; ++i) EXPECT_TRUE(sameBits(afterDeeper[i], expectedDeeper[i])) << i;

    DentRequest next = request({0, 0, 0}, 0.1f, 1.0f, 8);
    run(next);
    const std::vector<Vec> expectedNext = dented(rest, afterDeeper, {0, 0, 0}, {0, 0, -1}, 0.1f, 1.0f, 0, 0);
    for (int i = 0; i < 6; ++i) EXPECT_TRUE(sameBits(positionsOf(copy)[i], expectedNext[i])) << i;
    EXPECT_LT(positionsOf(copy)[0].z, afterDeeper[0].z);
    EXPECT_EQ(record.meshes[0].lastEpisode, 8u);
    EXPECT_EQ(record.meshes[0].lastDepth, 0.1f);
}

TEST_F(Driver, BoundingSphereNeverShrinksAndReachesTheAtomic) {
    host::Atomic* wide = atomicNamed("part");
    wide->geometry->vertexBlock->boundingSphere[0] = 1.0f;
    wide->geometry->vertexBlock->boundingSphere[3] = 100.0f;
    host::Atomic* tight = atomicNamed("part");
    tight->geometry->vertexBlock->boundingSphere[3] = 0.05f;

    DentRequest r = request({0, 0, 0}, 0.4f, 1.0f);
    EXPECT_EQ(run(r), 2u);
    const float* wideSphere = wide->geometry->vertexBlock->boundingSphere;
    EXPECT_EQ(wideSphere[0], 1.0f);
    EXPECT_EQ(wideSphere[3], 100.0f);
    EXPECT_EQ(std::memcmp(wide->boundingSphere, wideSphere, 16), 0);

    host::Geometry* tightCopy = tight->geometry;
    float farthest = 0.0f;
    for (const Vec& p : positionsOf(tightCopy)) farthest = std::fmax(farthest, dent::length(p));
    EXPECT_GT(farthest, 0.5f);  // the far end of the line, and the dent below it
    EXPECT_EQ(tightCopy->vertexBlock->boundingSphere[3], farthest);
    EXPECT_EQ(std::memcmp(tight->boundingSphere, tightCopy->vertexBlock->boundingSphere, 16), 0);
    EXPECT_EQ(tight->flags & 1, 1);
}

TEST_F(Driver, MeshWithAMaterialFaultIsLeftAlone) {
    host::Atomic* atomic = atomicNamed("part");
    DentRequest first = request({0, 0, 0});
    run(first);
    ASSERT_EQ(record.meshes.size(), 1u);
    record.meshes[0].materialFault = true;
    const std::size_t locks = geometries.lockCalls.size();

    // Drawing the copy, or the original the guard put back: either way untouched.
    DentRequest onCopy = request({0, 0, 0}, 0.5f, 1.5f, 2);
    EXPECT_EQ(run(onCopy), 0u);
    game::setGeometry(atomic, record.meshes[0].original, 0);
    DentRequest onOriginal = request({0, 0, 0}, 0.5f, 1.5f, 3);
    EXPECT_EQ(run(onOriginal), 0u);
    EXPECT_EQ(geometries.lockCalls.size(), locks);
    EXPECT_EQ(geometries.createCalls.size(), 1u);
}

TEST_F(Driver, FailedCloneIsLoggedAndRetriedNextHit) {
    host::Atomic* atomic = atomicNamed("part");
    host::Geometry* original = atomic->geometry;
    geometries.createOutcome = testdeform::CreateOutcome::Null;
    DentRequest r = request({0, 0, 0});
    EXPECT_EQ(run(r), 0u);
    EXPECT_EQ(log.lines(), std::vector<std::string>{kCloneFailed});
    EXPECT_TRUE(record.meshes.empty());
    EXPECT_EQ(atomic->geometry, original);

    geometries.createOutcome = testdeform::CreateOutcome::Normal;
    DentRequest again = request({0, 0, 0});
    EXPECT_EQ(run(again), 1u);
    EXPECT_EQ(log.lines().size(), 1u);
}

TEST_F(Driver, PhaseTrailOfAFirstDent) {
    atomicNamed("part");
    kerbmark::diagnostics = true;
    DentRequest r = request({0, 0, 0});
    run(r);
    const std::vector<std::string> lines = log.lines();
    std::vector<std::string> atomicPhases;
    for (const std::string& l : lines) {
        if (l.rfind("atomic: ", 0) == 0) atomicPhases.push_back(l);
    }
    EXPECT_EQ(atomicPhases, (std::vector<std::string>{
                                "atomic: begin / inspect frame and geometry",
                                "atomic: get frame matrix",
                                "atomic: clone geometry",
                                "atomic: attach copied geometry",
                                "atomic: lock vertices",
                                "atomic: displace vertices",
                                "atomic: unlock geometry",
                                "atomic: complete",
                            }));
    // The clone's own steps come between cloning and attaching.
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[3], "clone: validate CPU geometry");
}

TEST_F(Driver, AlwaysHandsTheAtomicBack) {
    host::Atomic* atomic = atomicNamed("part");
    EXPECT_EQ(kerbmark::deformAtomic(atomic, nullptr), atomic);
    EXPECT_EQ(kerbmark::deformAtomic(nullptr, nullptr), nullptr);
    DentRequest r = request({0, 0, 0});
    EXPECT_EQ(kerbmark::deformAtomic(atomic, &r), atomic);
    EXPECT_EQ(r.meshes, 1u);
}

}  // namespace
