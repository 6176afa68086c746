// The random drive's checks (tools/hostsim/drive_checks.h) without the module:
// the host's own objects changed the ways a faulty module would change them,
// each check must see it, and what a sound module does must pass.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "drive_checks.h"
#include "host_geometry.h"
#include "host_image.h"
#include "host_layout.h"
#include "host_world.h"

namespace {

using namespace hostsim;

constexpr int kIdleFrames = 20;

// A copy of the atomic's geometry as the module makes one, attached in its place.
Geometry* attachCopy(Atomic* atomic) {
    Geometry* copy = newMeshGeometry(meshOf(atomic->geometry));
    markMadeByModule(copy);
    attachGeometry(atomic, copy);
    dropGeometryReference(copy);  // the atomic holds it now
    return copy;
}

void dent(Geometry* copy) {
    lockGeometry(copy, kLockPositions);
    copy->vertexBlock->positions[0].y -= 0.1f;
    unlockGeometry(copy);
}

void runChecked(DriveChecks& checks, std::uint32_t frame, bool quiet = false) {
    checks.startFrame(frame);
    checks.afterFrame(quiet);
}

bool failedWith(const DriveChecks& checks, const char* words) {
    return checks.failed() && checks.failure().find(words) != std::string::npos;
}

// A car that the checks saw come and have a contact in frame 1, and a copy
// attached to its `part`.
Geometry* contactedCopy(DriveChecks& checks, Vehicle*& car, const char* part) {
    car = spawnVehicle();
    checks.carCame(car);
    checks.startFrame(1);
    checks.contact(car);
    return attachCopy(atomicNamed(car, part));
}

// A dent is drawn only after a contact since the car's last restore.
TEST(DriveChecks, ADentWithoutAContactSinceTheRestoreFails) {
    ASSERT_TRUE(startHost());
    DriveChecks checks(kIdleFrames);
    Vehicle* car = nullptr;
    Geometry* copy = contactedCopy(checks, car, "bonnet_hi_ok");
    dent(copy);
    checks.afterFrame(false);
    ASSERT_FALSE(checks.failed()) << checks.failure();

    checks.startFrame(2);
    checks.restored(car);
    dent(copy);  // work that should have gone with the restore
    checks.afterFrame(false);
    EXPECT_TRUE(failedWith(checks, "bonnet_hi_ok changed")) << checks.failure();
    EXPECT_EQ(checks.failureFrame(), 2u);
}

TEST(DriveChecks, AVertexThatIsNotFiniteFails) {
    ASSERT_TRUE(startHost());
    DriveChecks checks(kIdleFrames);
    Vehicle* car = nullptr;
    Geometry* copy = contactedCopy(checks, car, "chassis");
    lockGeometry(copy, kLockPositions);
    copy->vertexBlock->positions[7].z = std::nanf("");
    unlockGeometry(copy);
    checks.afterFrame(false);
    EXPECT_TRUE(failedWith(checks, "not finite")) << checks.failure();
}

// An undrawn copy is a leak only once the module has long been idle with the player on foot.
TEST(DriveChecks, ACopyHeldUndrawnWhileIdleFails) {
    ASSERT_TRUE(startHost());
    DriveChecks checks(kIdleFrames);
    Geometry* held = newBoxGeometry();
    markMadeByModule(held);
    for (std::uint32_t frame = 1; frame < kIdleFrames; ++frame) runChecked(checks, frame, true);
    ASSERT_FALSE(checks.failed()) << "not idle for long enough yet";
    runChecked(checks, kIdleFrames, false);
    for (std::uint32_t frame = kIdleFrames + 1; frame < 2 * kIdleFrames; ++frame) runChecked(checks, frame, true);
    ASSERT_FALSE(checks.failed()) << "a frame with a contact began the quiet stretch again";
    runChecked(checks, 2 * kIdleFrames, true);
    EXPECT_TRUE(failedWith(checks, "held undrawn")) << checks.failure();
    EXPECT_EQ(checks.idleChecks(), 1);
}

TEST(DriveChecks, ACopyAliveAfterAResetEventFails) {
    ASSERT_TRUE(startHost());
    DriveChecks checks(kIdleFrames);
    Geometry* copy = newBoxGeometry();
    markMadeByModule(copy);
    checks.startFrame(1);
    checks.resetEvent(kResetSiteB);
    EXPECT_TRUE(failedWith(checks, "alive right after the reset event")) << checks.failure();
}

std::vector<HeapUse> heapSteps(int count, std::int64_t bytesEach, std::int64_t stepEvery) {
    std::vector<HeapUse> samples;
    for (int i = 0; i < count; ++i) samples.push_back(HeapUse{1000000 + bytesEach * (i / stepEvery), 12});
    return samples;
}

// Work buffers reaching their largest grow the heap in a few large steps; a leak grows it again and again.
TEST(DriveChecks, OnlyAHeapThatKeepsGrowingIsALeak) {
    std::string why;
    EXPECT_FALSE(heapKeepsGrowing(heapSteps(300, 0, 1), why));
    EXPECT_FALSE(heapKeepsGrowing(heapSteps(300, 1400000, 60), why)) << "five steps of a large buffer";
    EXPECT_TRUE(heapKeepsGrowing(heapSteps(300, 3000, 1), why)) << "3 KB at every reset event";
    EXPECT_NE(why.find("kept growing"), std::string::npos) << why;
    EXPECT_TRUE(heapKeepsGrowing(heapSteps(300, 6000, 3), why)) << "6 KB at every third";
    EXPECT_FALSE(heapKeepsGrowing(heapSteps(10, 3000, 1), why)) << "too few reset events to tell";
    // A buffer given back with dropped work and grown again: up and down, no higher in the end.
    std::vector<HeapUse> upAndDown = heapSteps(301, 0, 1);
    for (std::size_t i = 0; i < upAndDown.size(); i += 2) upAndDown[i] = HeapUse{1600000 + 1000 * (i % 7), 29};
    EXPECT_FALSE(heapKeepsGrowing(upAndDown, why)) << why;
}

}  // namespace
