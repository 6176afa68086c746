// The built module's frame update inside the simulated host: when its work
// runs at all, and the hooks it installs on its first chance.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "host_checks.h"
#include "host_functions.h"
#include "host_image.h"
#include "host_world.h"
#include "module_loader.h"
#include "scenario_support.h"

namespace {

using hostsim::HostFunction;
using namespace scenario;

using Lines = std::vector<std::string>;

struct ActiveModule {
    Folder folder;
    std::string log;
    hostsim::Vehicle* player = nullptr;
};

// Host laid out with the player in a vehicle, module loaded and active.
void startWithModule(ActiveModule& active, const std::string& ini = "") {
    ASSERT_TRUE(hostsim::startHost());
    active.player = hostsim::spawnVehicle();
    hostsim::setPlayerVehicle(active.player);
    const std::string module = active.folder.installModule(ini);
    ASSERT_NE(hostsim::loadModule(module), nullptr);
    active.log = active.folder.file("Kerbmark.log");
    ASSERT_EQ(readLog(active.log).lines, (Lines{kBanner, kActive}));
}

// Runs `frames` frames in which the module must do nothing: the host's own
// frame runs, no key is read, no host function is asked, nothing is hooked.
void expectHeldOff(const ActiveModule& active, int frames) {
    const std::uint32_t hostFrames = hostsim::calls(HostFunction::FrameWork);
    const std::uint32_t keyReads = hostsim::keyReads(hostsim::kKeyF7);
    const std::uint32_t playerCalls = hostsim::calls(HostFunction::PlayerVehicle);
    const std::size_t lines = readLog(active.log).lines.size();
    hostsim::runFrames(frames);
    EXPECT_EQ(hostsim::calls(HostFunction::FrameWork) - hostFrames, static_cast<std::uint32_t>(frames));
    EXPECT_EQ(hostsim::keyReads(hostsim::kKeyF7), keyReads);
    EXPECT_EQ(hostsim::calls(HostFunction::PlayerVehicle), playerCalls);
    EXPECT_EQ(readLog(active.log).lines.size(), lines);
}

TEST(Frame, HooksInstalledOnFirstAllowedFrameGuardFirst) {
    ActiveModule active;
    // Diagnostics on: the frame's phases still never reach the log.
    startWithModule(active, "[General]\r\nDiagnostics=1\r\n");
    const std::uint8_t renderer[4] = {0x55, 0x8B, 0xEC, 0x83};

    hostsim::fixed<std::uint8_t>(hostsim::kStateByteA) = 1;
    expectHeldOff(active, 3);
    EXPECT_EQ(std::memcmp(reinterpret_cast<const void*>(hostsim::kAlphaRenderer), renderer, 4), 0);
    EXPECT_EQ(std::memcmp(reinterpret_cast<const void*>(hostsim::kGetColModel), renderer, 4), 0);

    hostsim::fixed<std::uint8_t>(hostsim::kStateByteA) = 0;
    hostsim::runFrame();
    EXPECT_EQ(readLog(active.log).lines, (Lines{kBanner, kActive, kGuardEnabled, kCollisionEnabled}));
    EXPECT_EQ(firstByte(hostsim::kAlphaRenderer), 0xE9);
    EXPECT_EQ(firstByte(hostsim::kGetColModel), 0xE9);
    EXPECT_EQ(hostsim::keyReads(hostsim::kKeyF7), 1u);
    EXPECT_EQ(hostsim::calls(HostFunction::PlayerVehicle), 1u);

    // Both diverted functions still reach the host's own code through the module.
    hostsim::Atomic* atomic = hostsim::clumpAtomics(active.player->clump).front();
    EXPECT_EQ(hostsim::drawAlpha(atomic, 7), atomic);
    EXPECT_EQ(hostsim::calls(HostFunction::AlphaRenderer), 1u);
    EXPECT_EQ(hostsim::lastAlphaDraw(), atomic);
    EXPECT_EQ(hostsim::colModelOf(active.player), hostsim::modelCollision(active.player->modelId));
    EXPECT_EQ(hostsim::calls(HostFunction::GetColModel), 1u);

    hostsim::runFrames(5);
    EXPECT_EQ(readLog(active.log).lines.size(), 4u) << "hooks are installed once";
    EXPECT_EQ(hostsim::keyReads(hostsim::kKeyF7), 6u);
    expectNoHostFaults();
}

TEST(Frame, HostStateHoldsAllWorkOff) {
    ActiveModule active;
    startWithModule(active);
    std::uint8_t& stateA = hostsim::fixed<std::uint8_t>(hostsim::kStateByteA);
    std::uint8_t& stateB = hostsim::fixed<std::uint8_t>(hostsim::kStateByteB);

    stateA = 0xFF;
    expectHeldOff(active, 2);
    stateA = 0;
    stateB = 0x01;
    expectHeldOff(active, 2);
    stateB = 0;
    hostsim::publishVehiclePool(false);
    expectHeldOff(active, 2);
    hostsim::publishVehiclePool(true);
    hostsim::publishEngineInstance(false);
    expectHeldOff(active, 2);
    hostsim::publishEngineInstance(true);
    EXPECT_EQ(firstByte(hostsim::kAlphaRenderer), 0x55);

    // Only bit 0 holds the work off.
    stateA = 0xFE;
    stateB = 0xFE;
    hostsim::runFrame();
    EXPECT_EQ(readLog(active.log).lines, (Lines{kBanner, kActive, kGuardEnabled, kCollisionEnabled}));
    EXPECT_EQ(hostsim::keyReads(hostsim::kKeyF7), 1u);

    // Once hooked, a held-off frame still skips the rest of the work.
    stateB = 0x01;
    expectHeldOff(active, 3);
    expectNoHostFaults();
}

TEST(Frame, CollisionDisabledNeverWritesACollisionLine) {
    ActiveModule active;
    startWithModule(active, "[Collision]\r\nEnabled=0\r\n");
    const std::vector<std::uint8_t> lookup(reinterpret_cast<const std::uint8_t*>(hostsim::kGetColModel),
                                           reinterpret_cast<const std::uint8_t*>(hostsim::kGetColModel) +
                                               hostsim::kGetColModelSize);
    hostsim::runFrames(10);
    EXPECT_EQ(readLog(active.log).lines, (Lines{kBanner, kActive, kGuardEnabled}));
    EXPECT_EQ(std::memcmp(reinterpret_cast<const void*>(hostsim::kGetColModel), lookup.data(), lookup.size()), 0);
    EXPECT_EQ(hostsim::colModelOf(active.player), hostsim::modelCollision(active.player->modelId));
    expectNoHostFaults();
}

// Another module's jump at the alpha renderer: one line, never retried, and
// the other module's hook stays as it was.
TEST(Frame, ForeignJumpAtAlphaRendererLoggedOnce) {
    ASSERT_TRUE(hostsim::startHost());
    hostsim::writeJump(hostsim::kScratchCode, hostsim::alphaRendererImplementation());
    hostsim::writeJump(hostsim::kAlphaRenderer, hostsim::kScratchCode);
    ActiveModule active;
    active.player = hostsim::spawnVehicle();
    hostsim::setPlayerVehicle(active.player);
    ASSERT_NE(hostsim::loadModule(active.folder.installModule("")), nullptr);
    active.log = active.folder.file("Kerbmark.log");

    hostsim::runFrames(6);
    EXPECT_EQ(readLog(active.log).lines, (Lines{kBanner, kActive, kGuardAlreadyHooked, kCollisionEnabled}));
    EXPECT_EQ(firstByte(hostsim::kAlphaRenderer), 0xE9);
    EXPECT_EQ(hostsim::relativeTarget(hostsim::kAlphaRenderer), hostsim::kScratchCode);
    hostsim::Atomic* atomic = hostsim::clumpAtomics(active.player->clump).front();
    EXPECT_EQ(hostsim::drawAlpha(atomic), atomic);
    expectNoHostFaults();
}

// A lookup the hooking library cannot divert (its code is not executable):
// the creation line once, and the module goes on without that hook.
TEST(Frame, CollisionHookCreationRefusedOnce) {
    ActiveModule active;
    startWithModule(active);
    DWORD previous = 0;
    ASSERT_TRUE(VirtualProtect(reinterpret_cast<void*>(hostsim::kGetColModel), 1, PAGE_READWRITE, &previous));
    hostsim::runFrames(4);
    EXPECT_EQ(readLog(active.log).lines, (Lines{kBanner, kActive, kGuardEnabled, kCollisionCannotCreate}));
    ASSERT_TRUE(VirtualProtect(reinterpret_cast<void*>(hostsim::kGetColModel), 1, previous, &previous));
    hostsim::runFrames(2);
    EXPECT_EQ(readLog(active.log).lines.size(), 4u) << "a refused hook is never retried";
    EXPECT_EQ(firstByte(hostsim::kGetColModel), 0x55);
    EXPECT_EQ(hostsim::colModelOf(active.player), hostsim::modelCollision(active.player->modelId));
    expectNoHostFaults();
}

}  // namespace
