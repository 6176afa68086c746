// The built module folding bonnets and boots in the simulated host: a head-on
// crash buckles the bonnet along a crease line that rises while the free edge
// moves back, with and without the fold varying across the width; F7 puts the
// authored panels back with every reference count where it started.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
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

const Vec3 kFront{0.0f, 2.3f, -0.05f};
const Vec3 kOutFront{0.0f, 1.0f, 0.0f};  // the host's normal at the front points out
const Vec3 kRear{0.0f, -2.3f, 0.0f};
const Vec3 kOutRear{0.0f, -1.0f, 0.0f};
const Vec3 kBonnetTop{0.0f, 1.6f, 0.35f};
const Vec3 kUp{0.0f, 0.0f, 1.0f};

float numberAfter(const std::string& line, const std::string& key) {
    const std::size_t at = line.find(" " + key + "=");
    return at == std::string::npos ? -1.0f : std::strtof(line.c_str() + at + key.size() + 2, nullptr);
}

struct Span {
    float minY, maxY;
};
Span lengthwise(const hostsim::PartSnapshot& panel) {
    Span span{1e9f, -1e9f};
    for (const Vec3& p : panel.positions) {
        span.minY = std::min(span.minY, p.y);
        span.maxY = std::max(span.maxY, p.y);
    }
    return span;
}

// A light knock on top makes the panel's copy, cut along its crease, without
// folding it (too shallow, and pushing down): the baseline the crash is
// measured from, vertex by vertex.
hostsim::PartSnapshot cutPanelAtRest(DrivenHost& host, const char* name, Vec3 knock) {
    holdContact(host.player, 0.08f, knock, kUp, 1);
    quietFrames(host.player, 8);
    EXPECT_EQ(hitLines(host.log).size(), 1u);
    EXPECT_TRUE(linesStartingWith(host.log, "PanelFold:").empty());
    EXPECT_TRUE(linesStartingWith(host.log, "PanelSurface:").empty());
    const hostsim::VehicleSnapshot now = hostsim::snapshotVehicle(host.player);
    const hostsim::PartSnapshot* panel = part(now, name);
    EXPECT_TRUE(panel && panel->geometry->hostMadeByModule) << name;
    return panel ? *panel : hostsim::PartSnapshot{};
}

// The crease line rises and the free edge moves back toward the hinge line;
// the hinge line itself barely moves. `sign` +1 for the bonnet, -1 for the boot.
void expectFoldedAlongTheCrease(const hostsim::PartSnapshot& before, const hostsim::PartSnapshot& after, float crease,
                                float sign) {
    ASSERT_EQ(after.positions.size(), before.positions.size()) << "the cut panel is kept";
    const Span span = lengthwise(before);
    const float length = span.maxY - span.minY;
    const float hingeY = sign > 0 ? span.minY : span.maxY;
    const float edgeY = sign > 0 ? span.maxY : span.minY;
    const float creaseY = hingeY + sign * length * crease;
    float creaseRise = 0.0f, edgeBack = 1e9f, hingeMove = 0.0f;
    unsigned creaseVertices = 0, edgeVertices = 0;
    for (std::size_t i = 0; i < before.positions.size(); ++i) {
        const Vec3 a = before.positions[i], b = after.positions[i];
        if (std::fabs(a.y - creaseY) < 0.03f) {
            creaseRise += b.z - a.z;
            ++creaseVertices;
        }
        if (std::fabs(a.y - edgeY) < 0.01f) {
            edgeBack = std::min(edgeBack, (a.y - b.y) * sign);
            ++edgeVertices;
        }
        if (std::fabs(a.y - hingeY) < 0.01f) hingeMove = std::max(hingeMove, std::fabs(b.y - a.y));
    }
    ASSERT_GT(creaseVertices, 0u);
    ASSERT_GT(edgeVertices, 0u);
    EXPECT_GT(creaseRise / static_cast<float>(creaseVertices), 0.15f) << "the crease line rises";
    EXPECT_GT(edgeBack, 0.2f) << "every free-edge vertex moves back";
    EXPECT_LT(hingeMove, edgeBack) << "the hinge line stays behind the free edge";
}

void crashFoldsTheBonnet(const std::string& ini, const char* foldLine, const std::string& picture) {
    DrivenHost host;
    startDriven(host, ini);
    const hostsim::PartSnapshot before = cutPanelAtRest(host, "bonnet_hi_ok", kBonnetTop);
    const std::vector<std::string> shading = linesStartingWith(host.log, "PanelShading:");
    ASSERT_EQ(shading.size(), 1u);
    EXPECT_EQ(shading[0], "PanelShading: kind=bonnet variant=original-or-unmarked flags=0x1 normals=authored");
    EXPECT_TRUE(linesStartingWith(host.log, "Panel crease unsupported").empty());

    holdContact(host.player, 0.5f, kFront, kOutFront, 2);
    const std::vector<std::string> folds = linesStartingWith(host.log, std::string(foldLine) + " kind=bonnet");
    ASSERT_EQ(folds.size(), 1u) << "one line for the crash's one growth";
    const float crease = numberAfter(folds[0], "crease");
    EXPECT_GE(crease, 0.35f);
    EXPECT_LE(crease, 0.65f);

    const hostsim::VehicleSnapshot now = hostsim::snapshotVehicle(host.player);
    const hostsim::PartSnapshot& after = *part(now, "bonnet_hi_ok");
    EXPECT_EQ(after.geometry, before.geometry);
    for (std::int32_t mode : hostsim::lockModes(after.geometry))
        EXPECT_EQ(mode, hostsim::kLockPositions | hostsim::kLockNormals);
    expectFoldedAlongTheCrease(before, after, crease, 1.0f);
    EXPECT_TRUE(hostsim::writeVehiclePicture(host.folder.file(picture), host.rest, now));

    // F7: the authored bonnet is back and every reference with it.
    hostsim::setKeyDown(hostsim::kKeyF7, true);
    hostsim::runFrame();
    hostsim::setKeyDown(hostsim::kKeyF7, false);
    hostsim::runFrame();
    EXPECT_EQ(linesStartingWith(host.log, kPlayerReset).size(), 1u);
    expectAllRestored(host, host.player, host.rest);
    expectNoHostFaults();
}

TEST(Panel, HeadOnCrashFoldsTheBonnetAcrossItsWidth) {
    crashFoldsTheBonnet("", "PanelSurface:", "bonnet-surface.png");
}

TEST(Panel, HeadOnCrashFoldsTheBonnetAsOne) {
    crashFoldsTheBonnet("[Deformation]\r\nPanelAsymmetry=0\r\n", "PanelFold:", "bonnet-fold.png");
}

TEST(Panel, RearCrashFoldsTheBoot) {
    DrivenHost host;
    startDriven(host, "[Deformation]\r\nPanelAsymmetry=0\r\n");
    const hostsim::PartSnapshot before = cutPanelAtRest(host, "boot_hi_ok", {0.0f, -1.9f, 0.4f});
    holdContact(host.player, 0.5f, kRear, kOutRear, 2);
    const std::vector<std::string> folds = linesStartingWith(host.log, "PanelFold: kind=boot");
    ASSERT_EQ(folds.size(), 1u);
    const hostsim::VehicleSnapshot now = hostsim::snapshotVehicle(host.player);
    const hostsim::PartSnapshot& after = *part(now, "boot_hi_ok");
    expectFoldedAlongTheCrease(before, after, numberAfter(folds[0], "crease"), -1.0f);
    expectNoHostFaults();
}

// The damaged variant of a panel gets its seam normals repaired when the
// fold varies across the width, and says so.
TEST(Panel, DamagedVariantBonnetNamesItsShading) {
    DrivenHost host;
    startDriven(host);
    hostsim::atomicNamed(host.player, "bonnet_hi_ok")->hostRenderFlags = 2;
    holdContact(host.player, 0.5f, kFront, kOutFront, 1);
    EXPECT_EQ(linesStartingWith(host.log, "PanelShading:"),
              std::vector<std::string>{"PanelShading: kind=bonnet variant=damaged flags=0x2 normals=seam-repair"});
    const hostsim::Geometry* bonnet = hostsim::atomicNamed(host.player, "bonnet_hi_ok")->geometry;
    ASSERT_TRUE(bonnet->hostMadeByModule);
    for (const Vec3& n : hostsim::meshOf(bonnet).normals)
        ASSERT_NEAR(std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z), 1.0f, 1e-3f);
    expectNoHostFaults();
}

}  // namespace
