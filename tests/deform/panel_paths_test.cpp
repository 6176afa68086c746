#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "deform/atomic_driver.h"
#include "deform/ordinary_dent.h"
#include "deform/panel_fold.h"
#include "deform/panel_paths.h"
#include "deform/records.h"
#include "deform/support/allocation_watch.h"
#include "deform/support/dent_cases.h"
#include "deform/support/geometry_host.h"
#include "deform/support/vehicle_under_test.h"
#include "foundation/settings.h"
#include "host/bindings.h"
#include "host/support/fake_host.h"
#include "host/support/log_capture.h"
#include "host/support/module_state.h"
#include "panel/support/panel_host.h"

namespace {

using dent::Vec;
using kerbmark::DentRequest;

constexpr const char* kUnsupported = "Panel crease unsupported; using ordinary dent for this mesh.";

std::vector<std::string> linesStartingWith(const std::vector<std::string>& lines, const std::string& prefix) {
    std::vector<std::string> found;
    for (const std::string& line : lines) {
        if (line.compare(0, prefix.size(), prefix) == 0) found.push_back(line);
    }
    return found;
}

std::string foldLine(const char* kind, const dent::Fold& f, float crease, int vertices) {
    char text[160];
    std::snprintf(text, sizeof text, "PanelFold: kind=%s compression=%.3f lift=%.3f crease=%.3f vertices=%d", kind,
                  f.compression, f.lift, crease, vertices);
    return text;
}

// A 1 x 1 panel in its frame: the bonnet's hinge line at y = 0 and free edge
// at y = 1; the boot's hinge line at y = 0 and free edge at y = -1.
class PanelPaths : public testdeform::VehicleUnderTest {
protected:
    PanelPaths() {
        kerbmark::settings.PanelCreaseRandomness = 0.0f;  // the crease at 0.5 on every record
        kerbmark::settings.PanelAsymmetry = false;
    }

    host::Atomic* panel(const char* name, bool boot = false) {
        testpanel::Grid grid;
        if (boot) {
            grid.y0 = -1.0f;
            grid.y1 = 0.0f;
        }
        return geometries.atomic(vehicle, testpanel::gridPanel(geometries, grid), geometries.frame(name));
    }

    DentRequest request(Vec point, Vec direction, float depth = 0.3f, std::uint32_t episode = 1,
                        float radius = 1.0f) {
        return DentRequest{&record, point, direction, depth, radius, episode, 0};
    }

    unsigned run(DentRequest r) { return VehicleUnderTest::run(r); }

    kerbmark::MeshEntry& entry() { return record.meshes.at(0); }
    static std::vector<Vec> positionsOf(const host::Atomic* atomic) {
        return VehicleUnderTest::positionsOf(atomic->geometry);
    }
};

// A push back from the bonnet's free edge: the panel is rebuilt along its
// crease, the crease line rises and the free edge moves back toward the hinge.
TEST_F(PanelPaths, HeadOnPushFoldsTheBonnet) {
    host::Atomic* atomic = panel("bonnet_hi");
    host::Geometry* original = atomic->geometry;
    EXPECT_EQ(run(request({0, 1, 0}, {0, -1, 0})), 1u);

    ASSERT_EQ(geometries.copies().size(), 2u) << "the clone, then the panel cut along its crease";
    host::Geometry* plainCopy = geometries.copies()[0];
    host::Geometry* rebuilt = geometries.copies()[1];
    EXPECT_EQ(plainCopy->references, 0) << "the plain copy is given back";
    EXPECT_EQ(atomic->geometry, rebuilt);
    EXPECT_EQ(entry().copy, rebuilt);
    EXPECT_EQ(entry().original, original);
    EXPECT_EQ(record.totalVertices, static_cast<std::uint32_t>(rebuilt->vertexCount));

    const kerbmark::PanelState& state = entry().panel;
    EXPECT_EQ(state.kind, 1);
    EXPECT_EQ(state.shape.sign, 1.0f);
    EXPECT_EQ(state.shape.crease, 0.5f);
    EXPECT_EQ(state.shape.start, 0.0f);
    EXPECT_EQ(state.shape.length, 1.0f);
    const auto count = static_cast<std::size_t>(rebuilt->vertexCount);
    EXPECT_EQ(state.working.size(), count);
    EXPECT_EQ(state.restNormals.size(), count);
    EXPECT_EQ(state.sides.size(), count);
    EXPECT_EQ(geometries.lockCalls.back().mode, 6) << "normals are written too";
    EXPECT_EQ(geometries.lockCalls.back().geometry, rebuilt);

    // Demand 1 * (0.3 - 0.06) * 1 * 1 (the free edge's middle lies on the hit point).
    const dent::Fold expected = dent::limitedFold(1.0f, 0.5f, 0.24f, kerbmark::settings.PanelMaxLift);
    EXPECT_NEAR(state.compression, 0.24f, 1e-6f);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               "PanelShading: kind=bonnet variant=original-or-unmarked flags=0x0 normals=authored",
                               foldLine("bonnet", expected, 0.5f, rebuilt->vertexCount)}));

    const std::vector<Vec> now = positionsOf(atomic);
    const std::vector<Vec>& rest = entry().restPositions;
    const Vec* normals = rebuilt->vertexBlock->normals;
    unsigned creaseVertices = 0, edgeVertices = 0;
    for (std::size_t i = 0; i < count; ++i) {
        EXPECT_EQ(now[i].x, rest[i].x) << i;
        if (rest[i].y == 0.5f) {
            ++creaseVertices;
            EXPECT_NEAR(now[i].z, expected.lift, 1e-5f) << "the crease line rises";
            EXPECT_NEAR(now[i].y, expected.toCrease, 1e-5f);
        }
        if (rest[i].y == 1.0f) {
            ++edgeVertices;
            EXPECT_NEAR(now[i].y, 1.0f - 0.24f, 1e-5f) << "the free edge moves back";
            EXPECT_NEAR(now[i].z, 0.0f, 1e-6f);
        }
        if (rest[i].y == 0.0f) {
            EXPECT_NEAR(dent::length(now[i] - rest[i]), 0.0f, 1e-6f) << "the hinge line stays";
        }
        // The hinge-side segment leans back, the edge-side one forward.
        if (state.sides[i] == 0) {
            EXPECT_LT(normals[i].y, 0.0f) << i;
        }
        if (state.sides[i] == 1) {
            EXPECT_GT(normals[i].y, 0.0f) << i;
        }
        EXPECT_NEAR(dent::length(normals[i]), 1.0f, 1e-5f);
    }
    EXPECT_GT(creaseVertices, 0u);
    EXPECT_GT(edgeVertices, 0u);
}

TEST_F(PanelPaths, BendAtOrBelowTheLimitOrDepthAtTheThresholdDentsInstead) {
    host::Atomic* atomic = panel("bonnet");
    // bend exactly 0.4: the direction is not normalised before the test.
    EXPECT_EQ(run(request({0, 1, 0}, {0, -0.4f, 0})), 1u);
    EXPECT_EQ(entry().panel.compression, 0.0f);
    const std::vector<Vec>& rest = entry().restPositions;
    std::vector<Vec> expected;
    for (const Vec& r : rest) {
        expected.push_back(dent::displaceImpact(r, r, {0, 1, 0}, {0, -0.4f, 0}, 0.3f, 1.0f, 0, 0,
                                                kerbmark::settings.MaxTotalDisplacement,
                                                kerbmark::settings.FalloffPower));
    }
    std::vector<Vec> now = positionsOf(atomic);
    for (std::size_t i = 0; i < rest.size(); ++i) {
        EXPECT_EQ(now[i].y, expected[i].y) << i;
        EXPECT_EQ(entry().panel.working[i].y, expected[i].y) << i;
    }
    EXPECT_LT(now[0].y, 1.0f) << "some vertex was dented back";

    // Depth exactly PanelMinDepth, straight back, in a new episode: no fold either.
    EXPECT_EQ(run(request({0, 1, 0}, {0, -1, 0}, kerbmark::settings.PanelMinDepth, 2)), 1u);
    EXPECT_EQ(entry().panel.compression, 0.0f);
    EXPECT_TRUE(linesStartingWith(log.lines(), "PanelFold:").empty());

    // Just past the limit, it folds.
    EXPECT_EQ(run(request({0, 1, 0}, {0, -0.41f, 0}, 0.3f, 3)), 1u);
    EXPECT_GT(entry().panel.compression, 0.0f);
    EXPECT_EQ(linesStartingWith(log.lines(), "PanelFold:").size(), 1u);
}

TEST_F(PanelPaths, DemandGrowsOnlyByTheExcessWithinAnEpisode) {
    panel("bonnet");
    run(request({0, 1, 0}, {0, -1, 0}, 0.2f, 1));
    const float first = entry().panel.compression;
    EXPECT_NEAR(first, 0.14f, 1e-6f);
    EXPECT_FLOAT_EQ(entry().panel.demand, 0.14f);

    run(request({0, 1, 0}, {0, -1, 0}, 0.2f, 1));
    EXPECT_EQ(entry().panel.compression, first) << "no deeper: nothing more";
    run(request({0, 1, 0}, {0, -1, 0}, 0.15f, 1));
    EXPECT_EQ(entry().panel.compression, first) << "shallower: nothing more";
    run(request({0, 1, 0}, {0, -1, 0}, 0.3f, 1));
    EXPECT_NEAR(entry().panel.compression, 0.24f, 1e-6f) << "deeper: only the excess";

    // A new episode starts from zero demand and keeps what was folded.
    run(request({0, 1, 0}, {0, -1, 0}, 0.2f, 2));
    EXPECT_NEAR(entry().panel.compression, 0.38f, 1e-5f);
    run(request({0, 1, 0}, {0, -1, 0}, 0.3f, 3));
    EXPECT_NEAR(entry().panel.compression, kerbmark::settings.PanelMaxCompression, 1e-6f) << "held at 0.4 of 1";
}

TEST_F(PanelPaths, PushAlongPositiveYFoldsTheBootOnly) {
    panel("bonnet");
    run(request({0, 1, 0}, {0, 1, 0}));
    EXPECT_EQ(entry().panel.compression, 0.0f);

    host::Atomic* boot = panel("trunk_hi", true);
    run(request({0, -1, 0}, {0, 1, 0}, 0.3f, 2));
    ASSERT_EQ(record.meshes.size(), 2u);
    const kerbmark::PanelState& state = record.meshes[1].panel;
    EXPECT_EQ(state.kind, 2);
    EXPECT_EQ(state.shape.sign, -1.0f);
    EXPECT_EQ(state.shape.start, 0.0f);
    EXPECT_NEAR(state.compression, 0.24f, 1e-6f);
    const std::vector<Vec> now = positionsOf(boot);
    const std::vector<Vec>& rest = record.meshes[1].restPositions;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i].y == -1.0f) {
            EXPECT_NEAR(now[i].y, -0.76f, 1e-5f) << "the boot's free edge moves forward";
        }
        if (rest[i].y == -0.5f) {
            EXPECT_GT(now[i].z, 0.3f);
        }
    }
    EXPECT_EQ(linesStartingWith(log.lines(), "PanelFold: kind=boot").size(), 1u);
    EXPECT_TRUE(linesStartingWith(log.lines(), "PanelFold: kind=bonnet").empty());
}

TEST_F(PanelPaths, SurfacePathFoldsAcrossTheWidthAndLogsTrackedHits) {
    kerbmark::settings.PanelAsymmetry = true;
    host::Atomic* atomic = panel("bonnet");
    run(request({0, 1, 0}, {0, -1, 0}));
    const kerbmark::PanelState& state = entry().panel;
    ASSERT_EQ(state.sheetOf.size(), state.sides.size());
    EXPECT_FALSE(state.lattice.nodes.empty());
    const std::vector<std::string> surface = linesStartingWith(log.lines(), "PanelSurface: kind=bonnet ");
    ASSERT_EQ(surface.size(), 1u);
    EXPECT_NE(surface[0].find(" length=1.000 threshold=0.060 hit=(0.000,1.000,0.000) direction=(0.000,-1.000,0.000)"),
              std::string::npos)
        << surface[0];
    EXPECT_GT(state.spanFold.compression[3], 0.0f);

    const std::vector<Vec> now = positionsOf(atomic);
    const std::vector<Vec>& rest = entry().restPositions;
    float creaseRise = 0.0f;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i].y == 0.5f && rest[i].x == 0.0f) creaseRise = now[i].z;
    }
    EXPECT_GT(creaseRise, 0.05f);

    // A push straight down is not tracked: no line.
    run(request({0, 0.5f, 0}, {0, 0, -1}, 0.3f, 2));
    EXPECT_EQ(linesStartingWith(log.lines(), "PanelSurface:").size(), 1u);
}

// The bonnet never tracks a hit whose bend is too small; the boot does when the
// hit pushes in at a corner of its free edge.
TEST_F(PanelPaths, CornerPushTracksOnTheBootOnly) {
    kerbmark::settings.PanelAsymmetry = true;
    const Vec push{-0.7f, -0.3f, 0};  // bend 0.3, toward the middle from the right
    panel("bonnet");
    run(request({0.45f, 0.95f, 0}, push));
    EXPECT_TRUE(linesStartingWith(log.lines(), "PanelSurface:").empty());

    panel("boot", true);
    run(request({0.45f, -0.95f, 0}, {-0.7f, 0.3f, 0}, 0.3f, 2));
    EXPECT_EQ(linesStartingWith(log.lines(), "PanelSurface: kind=boot").size(), 1u);
}

TEST_F(PanelPaths, WithoutFollowBodyATrackedHitLeavesTheProbes) {
    kerbmark::settings.PanelAsymmetry = true;
    kerbmark::settings.PanelFollowBody = false;
    panel("bonnet");
    const auto probesMoved = [this] {
        const kerbmark::PanelState& state = entry().panel;
        bool moved = false;
        for (const dent::SheetPoint& point : state.sheet)
            for (int k = 0; k < 5; ++k) moved = moved || dent::length(point.current[k] - point.rest[k]) > 0.0f;
        for (const dent::SheetPoint& node : state.lattice.nodes)
            for (int k = 0; k < 5; ++k) moved = moved || dent::length(node.current[k] - node.rest[k]) > 0.0f;
        return moved;
    };
    run(request({0, 1, 0}, {0, -1, 0}));
    EXPECT_EQ(linesStartingWith(log.lines(), "PanelSurface:").size(), 1u) << "tracked";
    EXPECT_FALSE(probesMoved());

    run(request({0, 0.8f, 0}, {0, 0, -1}, 0.3f, 2));
    EXPECT_EQ(linesStartingWith(log.lines(), "PanelSurface:").size(), 1u) << "not tracked";
    EXPECT_TRUE(probesMoved());
}

TEST_F(PanelPaths, DamagedVariantNamesItsNormals) {
    geometries.atomicFlags = 0x6;
    kerbmark::settings.PanelAsymmetry = true;
    panel("bonnet");
    run(request({0, 1, 0}, {0, 0, -1}));
    EXPECT_EQ(geometries.atomicFlagsCalls, 1u);
    EXPECT_EQ(entry().panel.atomicFlags, 0x6u);

    kerbmark::settings.PanelAsymmetry = false;
    panel("boot", true);
    run(request({0, -1, 0}, {0, 0, -1}, 0.3f, 2));

    geometries.atomicFlags = 0x1;
    panel("hood", false);
    run(request({0, 1, 0}, {0, 0, -1}, 0.3f, 3));
    EXPECT_EQ(linesStartingWith(log.lines(), "PanelShading:"),
              (std::vector<std::string>{
                  "PanelShading: kind=bonnet variant=damaged flags=0x6 normals=seam-repair",
                  "PanelShading: kind=boot variant=damaged flags=0x6 normals=authored",
                  "PanelShading: kind=bonnet variant=original-or-unmarked flags=0x1 normals=authored",
              }));
}

TEST_F(PanelPaths, RefusedPanelTakesTheOrdinaryPathAndSaysSoOnce) {
    geometries.skin = &record;
    host::Atomic* atomic = panel("bonnet");
    EXPECT_EQ(run(request({0, 1, 0}, {0, -1, 0})), 1u);
    EXPECT_EQ(log.lines(), std::vector<std::string>{kUnsupported});
    EXPECT_EQ(geometries.copies().size(), 1u);
    EXPECT_EQ(atomic->geometry, geometries.copies()[0]);
    EXPECT_EQ(entry().panel.kind, 0);
    EXPECT_TRUE(entry().panel.sides.empty());
    EXPECT_EQ(geometries.lockCalls.back().mode, 2);
    const std::vector<Vec>& rest = entry().restPositions;
    const std::vector<Vec> now = positionsOf(atomic);
    for (std::size_t i = 0; i < rest.size(); ++i) {
        const Vec dented = dent::displaceImpact(rest[i], rest[i], {0, 1, 0}, {0, -1, 0}, 0.3f, 1.0f, 0, 0,
                                                kerbmark::settings.MaxTotalDisplacement,
                                                kerbmark::settings.FalloffPower);
        EXPECT_EQ(now[i].y, dented.y) << i;
    }

    run(request({0, 1, 0}, {0, -1, 0}, 0.4f, 2));
    EXPECT_EQ(log.lines(), std::vector<std::string>{kUnsupported});
}

TEST_F(PanelPaths, WithoutPanelBendingThePanelIsNotPrepared) {
    kerbmark::settings.PanelBending = false;
    panel("bonnet");
    run(request({0, 1, 0}, {0, -1, 0}));
    EXPECT_EQ(geometries.atomicFlagsCalls, 0u);
    EXPECT_EQ(geometries.copies().size(), 1u);
    EXPECT_EQ(entry().panel.kind, 0);
    EXPECT_EQ(geometries.lockCalls.back().mode, 2);
    EXPECT_TRUE(log.lines().empty());
}

// Restoring the record gives every geometry back: the rebuilt panel and the original's reference.
TEST_F(PanelPaths, ResetGivesThePanelBack) {
    host::Atomic* atomic = panel("bonnet");
    host::Geometry* original = atomic->geometry;
    run(request({0, 1, 0}, {0, -1, 0}));
    host::Geometry* rebuilt = geometries.copies()[1];
    kerbmark::resetRecord(record);
    EXPECT_EQ(atomic->geometry, original);
    EXPECT_EQ(original->references, 2);
    EXPECT_EQ(rebuilt->references, 0);
    for (host::Geometry* copy : geometries.copies()) EXPECT_EQ(copy->references, 0);
    for (int m = 0; m < 2; ++m) EXPECT_EQ(geometries.material(original, m)->references, 1);
}

using testdeform::sameBits;

// Everything of a surface-path panel that a hit changes, compared bit for bit.
void expectSameSurface(const kerbmark::PanelState& now, const kerbmark::PanelState& expected) {
    EXPECT_EQ(std::memcmp(&now.spanFold, &expected.spanFold, sizeof now.spanFold), 0) << "span fold";
    EXPECT_TRUE(sameBits(now.lattice.nodes, expected.lattice.nodes)) << "lattice nodes";
    EXPECT_TRUE(sameBits(now.lattice.accepted, expected.lattice.accepted)) << "accepted lattice";
    EXPECT_TRUE(sameBits(now.sheet, expected.sheet)) << "sheet points";
}

// Nothing is allocated while the copy is locked, not even when the lattice
// has to be blended back to order. Only a lattice whose blend buffer was taken
// away allocates then; when that fails, the copy is unlocked and the entry,
// its panel and the mesh are as before the hit. The same hit with the buffer
// back allocates nothing and gives exactly what it gives from the state before.
TEST_F(PanelPaths, FailedAllocationWhileLockedLeavesTheEntryAsItWas) {
    kerbmark::settings.PanelAsymmetry = true;
    testdeform::LockedAllocationWatch watch;
    host::Atomic* atomic = panel("bonnet");
    EXPECT_EQ(run(request({0, 1, 0}, {0, -1, 0})), 1u);
    EXPECT_EQ(watch.allocations, 0u) << "an ordered lattice needs nothing";

    const kerbmark::MeshEntry before = entry();
    const std::vector<Vec> positions = positionsOf(atomic);
    const Vec* normals = atomic->geometry->vertexBlock->normals;
    const std::vector<Vec> restNormals(normals, normals + positions.size());
    const DentRequest sideways = request({0.1f, 0.5f, 0}, {1, 0, 0}, 0.4f, 2, 0.3f);
    const std::size_t unlocks = geometries.unlockCalls.size();
    std::vector<Vec> blendBuffer;
    blendBuffer.swap(entry().panel.lattice.blendTarget);
    watch.failing = true;
    EXPECT_EQ(run(sideways), 0u);
    ASSERT_EQ(watch.failures, 1u) << "the lattice had to blend";
    EXPECT_FALSE(watch.locked());
    watch.forgetLock();
    ASSERT_EQ(geometries.unlockCalls.size(), unlocks + 1);
    EXPECT_EQ(geometries.unlockCalls.back(), atomic->geometry);
    EXPECT_EQ(entry().lastEpisode, before.lastEpisode);
    EXPECT_EQ(entry().lastDepth, before.lastDepth);
    EXPECT_EQ(entry().lastRadius, before.lastRadius);
    expectSameSurface(entry().panel, before.panel);
    EXPECT_TRUE(sameBits(positionsOf(atomic), positions)) << "the mesh did not move";
    EXPECT_EQ(std::memcmp(normals, restNormals.data(), restNormals.size() * sizeof(Vec)), 0);

    blendBuffer.swap(entry().panel.lattice.blendTarget);
    EXPECT_EQ(run(sideways), 1u);
    kerbmark::PanelState expected = before.panel;
    std::vector<Vec> expectedPositions = positions;
    std::vector<Vec> expectedNormals = restNormals;
    const dent::DentArguments arguments{{0.1f, 0.5f, 0}, {1, 0, 0}, 0.4f, 0.3f, 0.0f, 0.0f,
                                        kerbmark::settings.MaxTotalDisplacement, kerbmark::settings.FalloffPower};
    kerbmark::surfacePath(expected, before.restPositions.data(), expectedPositions.data(), expectedNormals.data(),
                          positions.size(), arguments);
    expectSameSurface(entry().panel, expected);
    EXPECT_TRUE(sameBits(positionsOf(atomic), expectedPositions));
    EXPECT_EQ(std::memcmp(normals, expectedNormals.data(), expectedNormals.size() * sizeof(Vec)), 0);
    EXPECT_EQ(entry().lastEpisode, 2u);
    EXPECT_FALSE(watch.locked());
    EXPECT_EQ(watch.allocations, 1u) << "the blend back with the lattice's own buffer allocates nothing";
}

// The surface path with a sheet point per place, one go and in steps (runs of
// four, an odd last run), gives the plain path's bits (a sheet point per
// vertex) over a run of hits, and until it is written the staged one leaves
// the panel as it was. The copies of a corner get normals of their own, so
// that each normal must come from its own vertex.
TEST_F(PanelPaths, StagedSurfaceGivesTheOneGoBits) {
    kerbmark::settings.PanelAsymmetry = true;
    host::Atomic* atomic = panel("bonnet");
    ASSERT_EQ(run(request({0, 1, 0}, {0, -1, 0})), 1u);
    const kerbmark::MeshEntry& built = entry();
    const std::size_t count = built.restPositions.size();
    const Vec* rest = built.restPositions.data();
    Lcg rng{0x5ea7u};
    // The lists made again (an undented sheet), in one go and three items a step.
    kerbmark::PanelState oneGo = built.panel, listed = built.panel;
    kerbmark::fillPanelLists(oneGo, rest, nullptr, count);
    kerbmark::beginPanelLists(listed, rest, nullptr, count);
    while (!kerbmark::continuePanelLists(listed, rest, count, 3)) {}
    EXPECT_TRUE(sameBits(listed.sheet, oneGo.sheet));
    EXPECT_EQ(listed.sheetOf, oneGo.sheetOf);
    EXPECT_TRUE(kerbmark::panelListsFit(listed, count));

    ASSERT_LT(oneGo.sheet.size() * 3, count) << "the rebuilt panel's corners share their places";
    for (Vec& n : oneGo.restNormals) n = dent::normalized(Vec{rng.between(-0.3f, 0.3f), rng.between(-0.3f, 0.3f), 1});
    kerbmark::PanelState plain = oneGo;
    std::vector<dent::SheetPoint> vertexSheet = kerbmark::plainSheet(plain, rest, count);
    std::vector<Vec> positions = positionsOf(atomic), normals(count);
    std::vector<Vec> plainPositions = positions, plainNormals = normals;

    const float cap = kerbmark::settings.MaxTotalDisplacement;
    const float falloff = kerbmark::settings.FalloffPower;
    const dent::DentArguments hits[] = {{{0, 1, 0}, {0, -1, 0}, 0.5f, 1.0f, 0.3f, 1.0f, cap, falloff},
                                        {{0.1f, 0.5f, 0}, {1, 0, 0}, 0.4f, 0.3f, 0.0f, 0.0f, cap, falloff},
                                        {{0, 0.5f, 0}, {0, 0, -1}, 0.3f, 1.0f, 0.0f, 0.0f, cap, falloff},
                                        {{-0.3f, 0.9f, 0.1f}, {0.2f, -0.9f, -0.3f}, 0.6f, 0.5f, 0.0f, 0.0f, cap, falloff}};
    kerbmark::StagedSurface staged;
    for (const dent::DentArguments& hit : hits) {
        kerbmark::PanelState inSteps = oneGo;
        std::vector<Vec> stepPositions = positions, stepNormals = normals;
        kerbmark::beginSurface(inSteps, count, hit, staged);
        for (std::size_t run = 4; staged.done < count; run += 8) {
            kerbmark::continueSurface(inSteps, rest, run, staged);
        }
        expectSameSurface(inSteps, oneGo);

        kerbmark::surfacePath(oneGo, rest, positions.data(), normals.data(), count, hit);
        kerbmark::surfacePathReference(plain, vertexSheet, rest, plainPositions.data(), plainNormals.data(), count,
                                       hit);
        kerbmark::commitSurface(inSteps, staged, stepPositions.data(), stepNormals.data());
        expectSameSurface(inSteps, oneGo);
        EXPECT_TRUE(sameBits(stepPositions, positions));
        EXPECT_TRUE(sameBits(stepNormals, normals));

        EXPECT_TRUE(sameBits(positions, plainPositions));
        EXPECT_TRUE(sameBits(normals, plainNormals));
        EXPECT_EQ(std::memcmp(&oneGo.spanFold, &plain.spanFold, sizeof oneGo.spanFold), 0);
        EXPECT_TRUE(sameBits(oneGo.lattice.nodes, plain.lattice.nodes));
        EXPECT_TRUE(sameBits(oneGo.lattice.accepted, plain.lattice.accepted));
        std::vector<dent::SheetPoint> shared;
        for (std::uint32_t point : oneGo.sheetOf) shared.push_back(oneGo.sheet.at(point));
        EXPECT_TRUE(sameBits(shared, vertexSheet)) << "each vertex's sheet point";
    }
}

}  // namespace
