// The built module's reload key inside the simulated host, and the log that
// start-up moves aside when it has grown past its limit.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dent_support.h"
#include "host_checks.h"
#include "host_functions.h"
#include "module_loader.h"

namespace {

using namespace scenario;
using Lines = std::vector<std::string>;

const hostsim::Vec3 kFront{0.0f, 2.3f, -0.05f};
const hostsim::Vec3 kBackward{0.0f, 1.0f, 0.0f};
constexpr int kShift = 0x10;

// `keys` (Shift+F7 unless given) down for `frames` frames, then up for the frame that reloads.
void press(int frames = 1, std::vector<int> keys = {kShift, hostsim::kKeyF7}) {
    for (int key : keys) hostsim::setKeyDown(key, true);
    hostsim::runFrames(frames);
    for (int key : keys) hostsim::setKeyDown(key, false);
    hostsim::runFrame();
}

// The reload lines written since the log was last emptied.
Lines reloadLines(const DrivenHost& host) { return linesStartingWith(host.log, "Reload:"); }

std::string summary(int changed, bool enabled = true) {
    return "Reload: Kerbmark.ini read, " + std::to_string(changed) + (changed == 1 ? " key" : " keys") +
           " changed; every vehicle restored" + (enabled ? "." : "; Enabled=0: idle until Enabled=1 and the reload key.");
}

TEST(Reload, RestoresEveryCarThenUsesTheNewSettings) {
    DrivenHost host;
    startDriven(host);
    hostsim::Vehicle* traffic = trafficAt({-5.0f, 20.0f, 0.0f});
    retakeLedger(host);
    const hostsim::VehicleSnapshot trafficRest = hostsim::snapshotVehicle(traffic);
    holdContact(host.player, 0.4f, kFront, kBackward, 1);
    holdContact(traffic, 0.5f, kFront, kBackward, 1);
    settleTrafficWork();
    ASSERT_GE(copiesOn(traffic), 5u);
    const float firstDepth = hitLines(host.log).front().depth;

    writeText(host.folder.file("Kerbmark.ini"), "[Deformation]\r\nMaxDentPerHit=0.3\r\nPanelCrease=0.9\r\n");
    press();
    expectAllRestored(host, host.player, host.rest);
    expectAllRestored(host, traffic, trafficRest);
    EXPECT_EQ(reloadLines(host), (Lines{"Reload: [Deformation] MaxDentPerHit 0.65 -> 0.3",
                                        "Reload: [Deformation] PanelCrease 0.5 -> 0.65", summary(2)}));
    EXPECT_TRUE(linesStartingWith(host.log, kPlayerReset).empty()) << "Shift+F7 is no F7";
    holdContact(host.player, 0.4f, kFront, kBackward, 1);
    EXPECT_EQ(hitLines(host.log).back().episode, 1u);
    EXPECT_NEAR(hitLines(host.log).back().depth, firstDepth * 0.3f / 0.65f, 1e-3f);
    expectNoHostFaults();
}

// Held: one reload. Pressed and let go while paused: none; still held when the
// game runs again: one. F7, Shift, Ctrl+Shift+F7: none.
TEST(Reload, KeyHeldOrPausedReloadsOnce) {
    DrivenHost host;
    startDriven(host);
    writeText(host.folder.file("Kerbmark.ini"), "[General]\r\nEnabled=1\r\n");
    press(6);
    std::uint8_t& paused = hostsim::fixed<std::uint8_t>(hostsim::kStateByteA);
    paused = 1;
    press(3);
    hostsim::setKeyDown(kShift, true);
    hostsim::setKeyDown(hostsim::kKeyF7, true);
    hostsim::runFrames(2);
    paused = 0;
    press(2);
    press(2, {hostsim::kKeyF7});
    press(2, {kShift});
    press(2, {0x11, kShift, hostsim::kKeyF7});
    EXPECT_EQ(reloadLines(host), (Lines{summary(0), summary(0)}));
    expectNoHostFaults();
}

// Missing, held by its writer, cut inside a line, empty: one line each, the car
// as it was, nothing taken; a whole file afterwards changes only its own keys.
TEST(Reload, FileNotReadableWholeKeepsTheOldSettings) {
    DrivenHost host;
    startDriven(host);
    holdContact(host.player, 0.4f, kFront, kBackward, 1);
    const std::size_t copies = copiesOn(host.player);
    const std::string ini = host.folder.file("Kerbmark.ini"), changed = "[Deformation]\r\nStrength=2\r\nMaxDentPerHit=0.3";
    const struct {
        const char* why;
        std::string text;  // empty: no file
        bool writerHolds;
    } cases[] = {{"not found", "", false},
                 {"is open for writing in another program", changed + "\r\n", true},
                 {"ends inside a line (half saved?)", changed, false},
                 {"is empty", " \r\n", false}};
    for (const auto& c : cases) {
        writeText(host.log, "");
        DeleteFileA(ini.c_str());
        if (!c.text.empty()) writeText(ini, c.text);
        HANDLE writer = c.writerHolds ? CreateFileA(ini.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                                    OPEN_EXISTING, 0, nullptr)
                                      : INVALID_HANDLE_VALUE;
        press();
        if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
        EXPECT_EQ(reloadLines(host), (Lines{std::string("Reload: Kerbmark.ini ") + c.why + "; the old settings stay."}));
        EXPECT_EQ(copiesOn(host.player), copies);
    }
    writeText(host.log, "");
    writeText(ini, changed + "\r\n");
    press();
    EXPECT_EQ(reloadLines(host), (Lines{"Reload: [Deformation] Strength 1 -> 2",
                                        "Reload: [Deformation] MaxDentPerHit 0.65 -> 0.3", summary(2)}));
    expectNoHostFaults();
}

// Off: every car restored, contacts and F7 do nothing, the hooks stay. On
// again with the key: the module dents again.
TEST(Reload, SwitchedOffAndOnAgain) {
    DrivenHost host;
    startDriven(host);
    holdContact(host.player, 0.4f, kFront, kBackward, 1);
    writeText(host.folder.file("Kerbmark.ini"), "[General]\r\nEnabled=0\r\nLogHits=0\r\n");
    press();
    expectAllRestored(host, host.player, host.rest);
    const std::uint32_t playerCalls = hostsim::calls(hostsim::HostFunction::PlayerVehicle);
    holdContact(host.player, 0.6f, kFront, kBackward, 3);
    press(2, {hostsim::kKeyF7});
    EXPECT_EQ(hostsim::calls(hostsim::HostFunction::PlayerVehicle), playerCalls) << "idle";
    expectAllRestored(host, host.player, host.rest);
    EXPECT_EQ(firstByte(hostsim::kAlphaRenderer), 0xE9) << "the guard stays";

    writeText(host.folder.file("Kerbmark.ini"), "[General]\r\nEnabled=1\r\n");
    press();
    holdContact(host.player, 0.4f, kFront, kBackward, 1);
    EXPECT_EQ(hitLines(host.log).size(), 2u);
    EXPECT_EQ(reloadLines(host), (Lines{"Reload: [General] LogHits 1 -> 0", "Reload: [General] Enabled 1 -> 0",
                                        summary(2, false), "Reload: [General] LogHits 0 -> 1",
                                        "Reload: [General] Enabled 0 -> 1", summary(2)}));
    expectNoHostFaults();
}

// A start over a log past MaxLogSizeKB: the log becomes Kerbmark.old.log byte
// for byte (an older one replaced) and the new log begins with the banner.
TEST(LogLimit, StartOverALargeLogMovesItAside) {
    ASSERT_TRUE(hostsim::startHost());
    Folder folder;
    const std::string earlier = std::string(1024, '-') + "\r\na line cut by a crash";
    writeText(folder.file("Kerbmark.log"), earlier);
    writeText(folder.file("Kerbmark.old.log"), "older\r\n");
    ASSERT_NE(hostsim::loadModule(folder.installModule("[General]\r\nMaxLogSizeKB=1\r\n")), nullptr);
    std::ifstream old(folder.file("Kerbmark.old.log"), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), {}), earlier);
    EXPECT_EQ(readLog(folder.file("Kerbmark.log")).lines, (Lines{kBanner, kActive}));
}

}  // namespace
