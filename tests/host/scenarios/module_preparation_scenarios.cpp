// The built module making the seated player's car ready for its first hit:
// the same drive (quiet frames in the driver's seat, then a head-on hit)
// without a work budget, with one, and with one but hit before the car was
// ready, each in a child process of its own, leaves every bit and every log
// line the same; and what was prepared goes with F7, a reset event, a
// repair, another car and leaving the car.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
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

constexpr char kRunVariable[] = "KERBMARK_PREPARE_RUN";
const Vec3 kFront{0.0f, 2.3f, -0.05f};
const Vec3 kOutFront{0.0f, 1.0f, 0.0f};

void seatedFrames(hostsim::Vehicle* car, int frames) {
    hostsim::clearCollision(car);
    for (int f = 0; f < frames; ++f) {
        hostsim::advanceClock(33);
        hostsim::runFrame();
    }
}

// Copies the module made that no atomic draws.
std::size_t unattachedCopies(const hostsim::Vehicle* car) {
    return hostsim::liveModuleGeometries().size() - copiesOn(car);
}

// One drive in a child process ("<WorkPerFrame> <quiet frames> <body
// vertices> <output file>"): writes how many copies waited unattached before
// the hit, how many geometries the hit's frames created and the most that one
// frame created from the hit on, whether the frames after the contact still
// changed the car, the car's state and the log.
void driveSeatedThenHeadOn() {
    const char* run = std::getenv(kRunVariable);
    if (!run) GTEST_SKIP() << "run by Preparation scenarios only";
    unsigned budget = 0;
    int quiet = 0;
    hostsim::VehicleSpec design;
    char output[MAX_PATH] = {};
    ASSERT_EQ(std::sscanf(run, "%u %d %d %259[^\n]", &budget, &quiet, &design.bodyVertices, output), 4);

    DrivenHost host;
    startDriven(host,
                "[Deformation]\r\nPanelCreaseRandomness=0\r\n[Traffic]\r\nWorkPerFrame=" + std::to_string(budget) +
                    "\r\n",
                design);
    seatedFrames(host.player, quiet);
    const std::size_t waiting = unattachedCopies(host.player);
    const std::uint32_t created = hostsim::calls(HostFunction::CreateGeometry);
    std::uint32_t mostInOneFrame = 0;
    const auto frame = [&mostInOneFrame] {
        const std::uint32_t before = hostsim::calls(HostFunction::CreateGeometry);
        hostsim::advanceClock(33);
        hostsim::runFrame();
        mostInOneFrame = std::max(mostInOneFrame, hostsim::calls(HostFunction::CreateGeometry) - before);
    };
    for (int f = 0; f < 3; ++f) {
        hostsim::setContact(host.player, 0.3f + 0.1f * static_cast<float>(f), kFront, kOutFront);
        frame();
    }
    const std::uint32_t createdByHit = hostsim::calls(HostFunction::CreateGeometry) - created;
    hostsim::clearCollision(host.player);
    const std::string afterContact = vehicleState(host.player, false, nullptr);
    for (int f = 0; f < 40; ++f) frame();
    const bool changedAfter = vehicleState(host.player, false, nullptr) != afterContact;
    expectNoHostFaults();

    std::ofstream out(output, std::ios::binary);
    out << waiting << ' ' << createdByHit << ' ' << mostInOneFrame << ' ' << changedAfter << '\n'
        << vehicleState(host.player, false, nullptr) << "log\n";
    for (const std::string& line : readLog(host.log).lines) out << line << '\n';
}

struct Drive {
    std::size_t waiting = 0;
    std::uint32_t createdByHit = 0;
    std::uint32_t mostInOneFrame = 0;
    bool changedAfter = false;  // the frames after the contact changed the car
    std::vector<std::string> state;
    std::vector<std::string> log;
};

Drive runDrive(const Folder& folder, unsigned budget, int quiet, int bodyVertices = hostsim::VehicleSpec{}.bodyVertices) {
    const std::string run = std::to_string(budget) + " " + std::to_string(quiet) + " " + std::to_string(bodyVertices);
    const std::string output = folder.file("drive_" + std::to_string(budget) + "_" + std::to_string(quiet) + "_" +
                                           std::to_string(bodyVertices) + ".txt");
    char current[MAX_PATH];
    GetCurrentDirectoryA(sizeof current, current);
    EXPECT_EQ(runSelf(kRunVariable, run + " " + output, "PreparationRunChild.Drive", current), 0);
    Drive drive;
    std::ifstream in(output, std::ios::binary);
    in >> drive.waiting >> drive.createdByHit >> drive.mostInOneFrame >> drive.changedAfter;
    std::string line;
    std::getline(in, line);
    bool inLog = false;
    while (std::getline(in, line)) {
        if (line == "log") inLog = true;
        else (inLog ? drive.log : drive.state).push_back(line);
    }
    return drive;
}

class PreparationRunChild : public ::testing::Test {};

}  // namespace

TEST_F(PreparationRunChild, Drive) { driveSeatedThenHeadOn(); }

void expectSameDrive(const Drive& drive, const Drive& plain) {
    ASSERT_FALSE(plain.state.empty());
    ASSERT_EQ(drive.state.size(), plain.state.size());
    for (std::size_t i = 0; i < plain.state.size(); ++i) ASSERT_EQ(drive.state[i], plain.state[i]) << i;
    EXPECT_EQ(drive.log, plain.log);
}

// Without a budget nothing is prepared and the hit's frame makes every copy;
// with the default one the copies wait unattached and the hit makes none
// itself. Hit before the car is ready, the hit's work goes in steps over
// several frames; hit while it is half ready (the bonnet's copy and lists
// made, the body's not), the queued work takes the bonnet's copy as it is.
// The car and the log end the same every way, a car too large for its hits'
// frames too. (One test: the drives share the child's folder.)
TEST(Preparation, HitsAreTheSameWithAndWithoutPreparation) {
    constexpr int kHalfReadyFrames = 18;
    const Folder folder;
    const Drive plain = runDrive(folder, 0, 90);
    const Drive prepared = runDrive(folder, 100000, 90);
    const Drive early = runDrive(folder, 100000, 3);
    const Drive halfReady = runDrive(folder, 100000, kHalfReadyFrames);
    EXPECT_EQ(plain.waiting, 0u);
    EXPECT_GT(plain.createdByHit, 2u);
    EXPECT_EQ(plain.mostInOneFrame, plain.createdByHit);
    EXPECT_GT(prepared.waiting, 2u);
    EXPECT_EQ(prepared.createdByHit, 0u);
    EXPECT_EQ(early.waiting, 0u);
    EXPECT_LT(early.mostInOneFrame, plain.mostInOneFrame);
    EXPECT_GT(halfReady.waiting, 0u) << "some copies were ready";
    EXPECT_GT(halfReady.createdByHit, 0u) << "and the hit made the others";
    expectSameDrive(prepared, plain);
    expectSameDrive(early, plain);
    expectSameDrive(halfReady, plain);
    // The bonnet's and boot's lines, written when their copies were made, come with the hit.
    EXPECT_EQ(std::count_if(prepared.log.begin(), prepared.log.end(),
                            [](const std::string& line) { return line.rfind("PanelShading:", 0) == 0; }),
              1);

    // A car too large for its hits to be worked out in their own frames: they
    // wait at the queue's front and end after the contact.
    constexpr int kLargeBody = 30000;
    const Drive largePlain = runDrive(folder, 0, 90, kLargeBody);
    const Drive largePrepared = runDrive(folder, 100000, 90, kLargeBody);
    EXPECT_FALSE(largePlain.changedAfter);
    EXPECT_EQ(largePrepared.createdByHit, 0u);
    EXPECT_TRUE(largePrepared.changedAfter) << "the hits' dents went on after the contact";
    expectSameDrive(largePrepared, largePlain);
}

// Each event releases what was prepared (nothing waits in the same frame);
// seated again, the car is prepared again. On foot at the end, every
// reference is where it started.
TEST(Preparation, ReleasedOnEveryEventAndMadeAgainAfter) {
    DrivenHost host;
    startDriven(host);
    hostsim::Vehicle* other = trafficAt({8.0f, 0.0f, 0.0f});
    retakeLedger(host);
    const auto prepareThen = [&host](const char* event, auto happen) {
        seatedFrames(host.player, 60);
        EXPECT_GT(unattachedCopies(host.player), 2u) << "before " << event;
        EXPECT_EQ(copiesOn(host.player), 0u) << "the host draws its own geometry";
        happen();
        EXPECT_EQ(hostsim::liveModuleGeometries().size(), 0u) << event;
    };
    prepareThen("F7", [] {
        hostsim::setKeyDown(hostsim::kKeyF7, true);
        hostsim::runFrame();
        hostsim::setKeyDown(hostsim::kKeyF7, false);
    });
    prepareThen("reset event", [] { hostsim::callSite(hostsim::kResetSiteB); });
    prepareThen("repair", [&host] {
        host.player->health = 700.0f;
        hostsim::runFrame();
        host.player->health = 1000.0f;
        hostsim::runFrame();
    });
    prepareThen("another car", [&host, other] {
        hostsim::setPlayerVehicle(other);
        hostsim::runFrame();
        hostsim::setPlayerVehicle(host.player);
        hostsim::runFrame();
    });
    prepareThen("on foot", [] {
        hostsim::setPlayerVehicle(nullptr);
        hostsim::runFrame();
    });
    expectLedgerUnchanged(host);
    expectNoHostFaults();
}

// A line that making a copy wrote (here: a bonnet box that cannot be
// creased) reaches the log when the prepared copy is given up unused.
TEST(Preparation, LinesOfCopiesGivenUpReachTheLog) {
    DrivenHost host;
    hostsim::VehicleSpec boxes;
    boxes.boxParts = {"chassis_dummy", "bonnet_dummy"};
    startDriven(host, "", boxes);
    seatedFrames(host.player, 60);
    ASSERT_GT(unattachedCopies(host.player), 0u);
    EXPECT_TRUE(linesStartingWith(host.log, "Panel crease unsupported").empty()) << "held for the hit";
    hostsim::setKeyDown(hostsim::kKeyF7, true);
    hostsim::runFrame();
    hostsim::setKeyDown(hostsim::kKeyF7, false);
    EXPECT_EQ(hostsim::liveModuleGeometries().size(), 0u);
    EXPECT_EQ(linesStartingWith(host.log, "Panel crease unsupported; using ordinary dent for this mesh.").size(), 1u);
    expectNoHostFaults();
}

// The host destroys a part of the seated car (its boot comes off) while the
// car is being prepared: the preparation asks the host nothing more about
// that part, and the copies of the others are made as before.
TEST(Preparation, APartTheHostDestroysIsLeftAlone) {
    DrivenHost host;
    startDriven(host);
    hostsim::clearCollision(host.player);
    while (hostsim::liveModuleGeometries().empty()) seatedFrames(host.player, 1);
    hostsim::destroyAtomic(hostsim::atomicNamed(host.player, "boot_hi_ok"));
    seatedFrames(host.player, 60);
    EXPECT_GT(unattachedCopies(host.player), 2u);
    expectNoHostFaults();
}

// A traffic car's copies take much of a small budget: the seated car's
// prepared copies stay within what is left, and the traffic keeps its copies;
// once the traffic gives its room up, what did not fit is prepared.
TEST(Preparation, PreparesOnlyWhatFitsAndEvictsNothing) {
    constexpr std::int64_t kBudget = 50000;
    DrivenHost host;
    hostsim::VehicleSpec largeBody;
    largeBody.bodyVertices = 30000;
    startDriven(host, "[Traffic]\r\nMaxTotalVertices=" + std::to_string(kBudget) + "\r\n", largeBody);
    hostsim::Vehicle* car = trafficAt({0.0f, 8.0f, 0.0f});
    hostsim::setContact(car, 0.6f, kFront, kOutFront);
    hostsim::runFrame();
    hostsim::clearCollision(car);
    hostsim::runFrames(60);
    const std::size_t trafficCopies = copiesOn(car);
    ASSERT_GT(trafficCopies, 0u);

    seatedFrames(host.player, 90);
    std::int64_t held = 0;
    for (const hostsim::Geometry* copy : hostsim::liveModuleGeometries()) held += copy->vertexCount;
    const std::size_t prepared = unattachedCopies(host.player);
    EXPECT_GT(prepared, trafficCopies) << "the player's car has copies waiting";
    EXPECT_LE(held, kBudget);
    EXPECT_EQ(copiesOn(car), trafficCopies) << "no traffic copy was given up";

    // The traffic car leaves: its room goes to what did not fit before.
    hostsim::removeVehicle(car);
    seatedFrames(host.player, 90);
    EXPECT_GT(unattachedCopies(host.player), prepared);
    expectNoHostFaults();
}
