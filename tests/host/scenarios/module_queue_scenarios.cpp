// The built module with a per-frame work budget for traffic: a pile-up of 32
// traffic cars and the player, driven once with the budget and once without
// (each in a child process of its own, since a loaded module stays loaded).
// Once the queue has drained, both runs must have left the same host state:
// every mesh, collision model and light status bit for bit, and the same log
// lines in any order.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "dent_support.h"
#include "host_checks.h"
#include "host_functions.h"
#include "host_layout.h"
#include "host_image.h"
#include "module_loader.h"
#include "support/file_opens.h"

namespace {

using hostsim::Vec3;
using namespace scenario;

constexpr int kTraffic = 32;
// Frames for the queue to drain: it has drained once no hit has finished for
// kQuietFrames frames (a hit's work takes a few frames at the budgets used here).
constexpr int kMaxFramesAfter = 3000;
constexpr int kQuietFrames = 100;
constexpr char kRunVariable[] = "KERBMARK_PILEUP_RUN";
const Vec3 kFront{0.0f, 2.3f, -0.05f};
const Vec3 kRear{0.0f, -2.3f, -0.05f};
const Vec3 kForward{0.0f, 1.0f, 0.0f};
const Vec3 kBackward{0.0f, -1.0f, 0.0f};
const Vec3 kSide{1.1f, 0.4f, 0.1f};
const Vec3 kRight{1.0f, 0.0f, 0.0f};

// startDriven with a pool that holds the pile-up. The vertex budget is left
// out of play: the player's car evicting idle traffic, and a car that leaves
// with its work undone, change what fits.
void startPileUpHost(DrivenHost& host, unsigned budget, const std::string& traffic = "") {
    hostsim::HostOptions options;
    options.poolSlots = 64;
    startDriven(host,
                "[Traffic]\r\nMaxTotalVertices=1000000\r\nWorkPerFrame=" + std::to_string(budget) + "\r\n" + traffic,
                {}, options);
}

// Traffic cars in four rows before and behind the player, of several models,
// turned a little each.
std::vector<hostsim::Vehicle*> spawnPileUp() {
    std::vector<hostsim::Vehicle*> cars;
    for (int i = 0; i < kTraffic; ++i) {
        hostsim::VehicleSpec design;
        design.modelId = static_cast<std::int16_t>(400 + i % 5);
        const float row = static_cast<float>(i / 8 + 1) * 7.0f * ((i / 8) % 2 == 0 ? 1.0f : -1.0f);
        design.position = {static_cast<float>(i % 8 - 4) * 5.0f, row, 0.0f};
        design.heading = 0.05f * static_cast<float>(i % 7);
        cars.push_back(hostsim::spawnVehicle(design));
    }
    return cars;
}

void contact(hostsim::Vehicle* car, int i, float impact) {
    if (i % 3 == 0) hostsim::setContact(car, impact, kFront, kForward);
    else if (i % 3 == 1) hostsim::setContact(car, impact, kRear, kBackward);
    else hostsim::setContact(car, impact, kSide, kRight);
}

void frame() {
    hostsim::advanceClock(33);
    hostsim::runFrame();
}

// Frames run until the log holds `lines` "Hit:" lines, at most `most`: their count.
int framesUntilHitLines(const DrivenHost& host, std::size_t lines, int most = 300) {
    int frames = 0;
    for (; frames < most && hitLines(host.log).size() < lines; ++frames) frame();
    return frames;
}

// One drive of the pile-up, in a child process: the settings and the events
// come from the run variable ("<WorkPerFrame> <events 0/1> <output file>").
// Writes the handled hits after the first frame, the frame by which the last
// "Hit:" line was written, the handles whose queued work the events dropped,
// the host state and the log.
void drivePileUp() {
    const char* run = std::getenv(kRunVariable);
    if (!run) GTEST_SKIP() << "run by PileUp scenarios only";
    unsigned budget = 0;
    int events = 0;
    char output[MAX_PATH] = {};
    ASSERT_EQ(std::sscanf(run, "%u %d %259[^\n]", &budget, &events, output), 3);

    DrivenHost host;
    startPileUpHost(host, budget);
    std::vector<hostsim::Vehicle*> cars = spawnPileUp();
    for (const hostsim::Vehicle* car : cars) ASSERT_NE(car, nullptr);
    frame();

    // The first contact everywhere at once, growing over three frames (one
    // episode), while the cars are pushed aside and turned between frames.
    std::size_t afterFirst = 0;
    for (int step = 0; step < 3; ++step) {
        for (int i = 0; i < kTraffic; ++i) contact(cars[i], i, 0.25f + 0.12f * static_cast<float>(step));
        hostsim::setContact(host.player, 0.3f + 0.1f * static_cast<float>(step), kFront, kForward);
        frame();
        if (step == 0) afterFirst = hitLines(host.log).size();
        for (int i = 0; i < kTraffic; ++i) {
            const Vec3 at = hostsim::worldPoint(cars[i], {0.3f, 0.2f, 0.0f});
            hostsim::placeVehicle(cars[i], at, 0.05f * static_cast<float>(i % 7) + 0.1f * static_cast<float>(step));
        }
    }
    std::vector<int> dropped;
    if (events) {
        // While traffic work waits: the player takes over a traffic car and
        // presses F7, another car is repaired, a third leaves the pool.
        for (int i : {4, 7, 9}) dropped.push_back(hostsim::vehicleHandle(cars[i]));
        hostsim::clearCollision(host.player);
        hostsim::setPlayerVehicle(cars[4]);
        hostsim::setKeyDown(hostsim::kKeyF7, true);
        cars[7]->health = 1100.0f;
        hostsim::removeVehicle(cars[9]);
        for (hostsim::Vehicle* car : cars) hostsim::clearCollision(car);
        frame();
        hostsim::setKeyDown(hostsim::kKeyF7, false);
    }
    // A second episode on every other car, a second later.
    hostsim::advanceClock(1000);
    for (int i = 0; i < kTraffic; i += 2) contact(cars[i], i + 1, 0.5f);
    frame();
    for (hostsim::Vehicle* car : cars) hostsim::clearCollision(car);
    hostsim::clearCollision(host.player);

    std::size_t hits = hitLines(host.log).size();
    int lastHitFrame = 0;
    int f = 1;
    for (; f <= kMaxFramesAfter && f - lastHitFrame <= kQuietFrames; ++f) {
        frame();
        const std::size_t now = hitLines(host.log).size();
        if (now != hits) lastHitFrame = f;
        hits = now;
    }
    EXPECT_GT(f - lastHitFrame, kQuietFrames) << "the queue did not drain";
    expectNoHostFaults();

    std::ofstream out(output, std::ios::binary);
    out << "afterFirst " << afterFirst << "\nlastHitFrame " << lastHitFrame << "\ndropped";
    for (int handle : dropped) out << ' ' << handle;
    out << "\n";
    for (hostsim::Vehicle* car : hostsim::poolVehicles()) {
        const bool restored = std::count(dropped.begin(), dropped.end(), hostsim::vehicleHandle(car)) != 0;
        out << vehicleState(car, restored, events ? cars[9] : nullptr);
    }
    out << "log\n";
    for (const std::string& line : readLog(host.log).lines) out << line << '\n';
}

struct PileUpRun {
    std::size_t afterFirst = 0;
    int lastHitFrame = 0;
    std::vector<int> dropped;
    std::vector<std::string> state;
    std::vector<std::string> log;
};

PileUpRun runPileUp(const Folder& folder, const std::string& child, unsigned budget, bool events) {
    const std::string output = folder.file(std::string("pileup_") + std::to_string(budget) + ".txt");
    const std::string value = std::to_string(budget) + " " + (events ? "1" : "0") + " " + output;
    char current[MAX_PATH];
    GetCurrentDirectoryA(sizeof current, current);
    EXPECT_EQ(runSelf(kRunVariable, value, child, current), 0) << child;

    PileUpRun run;
    std::ifstream in(output, std::ios::binary);
    std::string line;
    std::string word;
    std::getline(in, line);
    std::istringstream(line) >> word >> run.afterFirst;
    std::getline(in, line);
    std::istringstream(line) >> word >> run.lastHitFrame;
    std::getline(in, line);
    std::istringstream dropped(line);
    dropped >> word;
    for (int handle; dropped >> handle;) run.dropped.push_back(handle);
    bool inLog = false;
    while (std::getline(in, line)) {
        if (line == "log") inLog = true;
        else (inLog ? run.log : run.state).push_back(line);
    }
    return run;
}

// Log lines of hits whose queued work was dropped exist only without the budget.
std::vector<std::string> comparableLog(std::vector<std::string> lines, const std::vector<int>& dropped) {
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [&dropped](const std::string& line) {
                                   if (line.rfind("Hit:", 0) != 0 && line.rfind("Collision: actor", 0) != 0)
                                       return false;
                                   for (int handle : dropped)
                                       if (line.find(" handle=" + std::to_string(handle) + " ") != std::string::npos)
                                           return true;
                                   return false;
                               }),
                lines.end());
    std::sort(lines.begin(), lines.end());
    return lines;
}

void expectSameSettledState(const std::string& child, bool events) {
    // Small enough that a panel's surface path is worked out over several
    // frames, large enough that the pile-up drains in a few hundred.
    constexpr unsigned kBudget = 200000;
    const Folder folder;
    const PileUpRun off = runPileUp(folder, child, 0, events);
    const PileUpRun on = runPileUp(folder, child, kBudget, events);
    ASSERT_FALSE(off.state.empty());
    // All 32 traffic hits (and the player's) are done in the first frame
    // without the budget; with it, the first frame finishes only a few.
    EXPECT_EQ(off.afterFirst, static_cast<std::size_t>(kTraffic + 1));
    EXPECT_LT(on.afterFirst, off.afterFirst / 2);
    EXPECT_GT(on.lastHitFrame, off.lastHitFrame) << "the budget spread the work over frames";

    ASSERT_EQ(on.state.size(), off.state.size());
    for (std::size_t i = 0; i < off.state.size(); ++i) {
        ASSERT_EQ(on.state[i], off.state[i]) << "first difference at line " << i;
    }
    EXPECT_EQ(on.dropped, off.dropped);
    const std::vector<std::string> offLog = comparableLog(off.log, off.dropped);
    const std::vector<std::string> onLog = comparableLog(on.log, on.dropped);
    EXPECT_GT(offLog.size(), static_cast<std::size_t>(2 * kTraffic));
    if (!events) {
        EXPECT_EQ(onLog, offLog);
        return;
    }
    // Each event met queued work of its car: that work left no "Hit:" line.
    const auto hitsOf = [](const std::vector<std::string>& lines, int handle) {
        return std::count_if(lines.begin(), lines.end(), [handle](const std::string& line) {
            const std::string key = " handle=" + std::to_string(handle) + " ";
            return line.rfind("Hit:", 0) == 0 && line.find(key) != std::string::npos;
        });
    };
    for (int handle : off.dropped) EXPECT_LT(hitsOf(on.log, handle), hitsOf(off.log, handle)) << handle;
    // The dropped work's panel lines carry no handle: they may be missing
    // with the budget, and nothing else may.
    std::vector<std::string> onlyOn, onlyOff;
    std::set_difference(onLog.begin(), onLog.end(), offLog.begin(), offLog.end(), std::back_inserter(onlyOn));
    std::set_difference(offLog.begin(), offLog.end(), onLog.begin(), onLog.end(), std::back_inserter(onlyOff));
    EXPECT_TRUE(onlyOn.empty()) << onlyOn.front();
    for (const std::string& line : onlyOff) EXPECT_EQ(line.rfind("Panel", 0), 0u) << line;
}

class PileUpRunChild : public ::testing::Test {};

}  // namespace

// The children, started by the scenarios below (not registered on their own).
TEST_F(PileUpRunChild, Plain) { drivePileUp(); }
TEST_F(PileUpRunChild, WithEvents) { drivePileUp(); }

// One item per frame: the host gives a car's bumper another geometry while the
// car's work waits, then the host's reset event comes while later work waits.
TEST(TrafficBudget, WorkOfAChangedOrResetCarIsDroppedQuietly) {
    DrivenHost host;
    startPileUpHost(host, 1);
    hostsim::Vehicle* changed = trafficAt({0.0f, 8.0f, 0.0f});
    hostsim::Vehicle* other = trafficAt({6.0f, 8.0f, 0.0f}, 402);
    for (hostsim::Vehicle* car : {changed, other}) hostsim::setContact(car, 0.4f, kFront, kForward);
    frame();
    EXPECT_TRUE(hitLines(host.log).empty()) << "one item per frame finishes no hit yet";

    hostsim::Atomic* body = hostsim::atomicNamed(changed, "bump_front_hi_ok");
    hostsim::Geometry* foreign = hostsim::atomicNamed(other, "bump_front_hi_ok")->geometry;
    ASSERT_FALSE(body->geometry->hostMadeByModule) << "the bumper's work still waits";
    hostsim::attachGeometry(body, foreign);
    for (hostsim::Vehicle* car : {changed, other}) hostsim::clearCollision(car);
    framesUntilHitLines(host, 2);
    ASSERT_EQ(hitLines(host.log).size(), 2u);
    EXPECT_EQ(body->geometry, foreign) << "the changed atomic is left as the host made it";
    EXPECT_TRUE(hostsim::atomicNamed(other, "bump_front_hi_ok")->geometry->hostMadeByModule);

    // A new episode on both, and the host's reset event before its work is done.
    hostsim::advanceClock(1000);
    for (hostsim::Vehicle* car : {changed, other}) hostsim::setContact(car, 0.6f, kRear, kBackward);
    frame();
    hostsim::callSite(hostsim::kResetSiteA);
    EXPECT_TRUE(hostsim::liveModuleGeometries().empty());
    for (hostsim::Vehicle* car : {changed, other}) hostsim::clearCollision(car);
    for (int f = 0; f < 300; ++f) frame();
    EXPECT_EQ(hitLines(host.log).size(), 2u) << "the dropped hits finish nothing";
    for (hostsim::Vehicle* car : {changed, other}) EXPECT_EQ(copiesOn(car), 0u);
    expectNoHostFaults();
}

// One step per frame: the bonnet's copy waits through its clone's triangle
// runs and finish, its crease cut and build and its lists before it is
// attached; the host's reset event, at any of those frames, releases it with
// the rest, a half-made clone (never unlocked, attached nowhere) included.
TEST(TrafficBudget, ACopyNotYetAttachedIsReleasedWithItsWork) {
    DrivenHost host;
    startPileUpHost(host, 1);
    int halfMade = 0, halfBuilt = 0;
    for (int later = 0; later < 12; ++later) {
        hostsim::Vehicle* car = trafficAt({0.0f, 8.0f, 0.0f});
        hostsim::setContact(car, 0.6f, kFront, kForward);
        const hostsim::Atomic* bonnet = hostsim::atomicNamed(car, "bonnet_hi_ok");
        // The bonnet's copy, begun: its clone's first step is done.
        auto bonnetWaits = [car, bonnet] {
            const std::vector<hostsim::Geometry*> live = hostsim::liveModuleGeometries();
            return live.size() > copiesOn(car) &&
                   std::any_of(live.begin(), live.end(), [bonnet](const hostsim::Geometry* g) {
                       return g->vertexCount == bonnet->geometry->vertexCount;
                   });
        };
        for (int f = 0; f < 200 && !bonnetWaits(); ++f) frame();
        ASSERT_TRUE(bonnetWaits());
        for (int f = 0; f < later; ++f) frame();
        const std::vector<hostsim::Geometry*> live = hostsim::liveModuleGeometries();
        // The copy, and while its rebuild along the crease is filled in, the rebuilt one.
        ASSERT_GE(live.size() - copiesOn(car), 1u) << later << " steps on";
        ASSERT_LE(live.size() - copiesOn(car), 2u) << later << " steps on";
        ASSERT_FALSE(bonnet->geometry->hostMadeByModule) << later << " steps on";
        for (const hostsim::Geometry* g : live) {
            if (g->hostUnlocks != 0) continue;
            (g->vertexCount == bonnet->geometry->vertexCount ? halfMade : halfBuilt) += 1;
        }

        hostsim::callSite(hostsim::kResetSiteA);
        hostsim::clearCollision(car);
        frame();
        EXPECT_TRUE(hostsim::liveModuleGeometries().empty()) << later;
        hostsim::removeVehicle(car);
        frame();
    }
    // The bonnet's 2000-odd triangles take three runs of 1024 at most: the
    // clone was dropped after its first step and after each run. The rebuilt
    // copy was dropped while its pieces were filled in too.
    EXPECT_EQ(halfMade, 4);
    EXPECT_GT(halfBuilt, 0);
    EXPECT_TRUE(hitLines(host.log).empty());
    expectNoHostFaults();
}

// One step per frame: the player takes over a traffic car whose first hit
// still waits, and hits it again at once. The car's work goes on a step a
// frame (the takeover frame does not do it all), and the player's hit is
// worked out after it.
TEST(TrafficBudget, ATakenOverCarFinishesItsWorkBeforeThePlayersHit) {
    DrivenHost host;
    startPileUpHost(host, 1);
    hostsim::Vehicle* car = trafficAt({0.0f, 8.0f, 0.0f});
    hostsim::setContact(car, 0.4f, kFront, kForward);
    frame();
    hostsim::clearCollision(host.player);
    hostsim::setPlayerVehicle(car);
    hostsim::advanceClock(1000);
    hostsim::setContact(car, 0.6f, kRear, kBackward);
    frame();
    hostsim::clearCollision(car);
    EXPECT_TRUE(hitLines(host.log).empty()) << "the car's work waits for later frames";
    framesUntilHitLines(host, 2);
    const std::vector<HitLine> hits = hitLines(host.log);
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0].actor, "npc");
    EXPECT_EQ(hits[1].actor, "player");
    EXPECT_GT(hits[0].meshes, 0u);
    EXPECT_GT(hits[1].meshes, 0u);
    expectNoHostFaults();
}

// One step per frame: the player's first hit makes its copies with the
// player's larger share of a frame and shows within a few frames; a later
// hit, on those copies, goes on at the traffic budget, a step a frame.
TEST(TrafficBudget, ThePlayersLaterHitGoesOnAtTheTrafficBudget) {
    DrivenHost host;
    startPileUpHost(host, 1);
    // A new head-on contact; the frames after its own until the `line`th "Hit:" line.
    auto framesOfHit = [&host](float impact, std::size_t line) {
        hostsim::advanceClock(1000);
        hostsim::setContact(host.player, impact, kFront, kForward);
        frame();
        hostsim::clearCollision(host.player);
        return framesUntilHitLines(host, line);
    };
    const int firstFrames = framesOfHit(0.5f, 1);
    const std::size_t copies = copiesOn(host.player);
    const int laterFrames = framesOfHit(0.7f, 2);

    const std::vector<HitLine> hits = hitLines(host.log);
    ASSERT_EQ(hits.size(), 2u);
    ASSERT_GT(hits[1].meshes, 0u);
    EXPECT_EQ(copiesOn(host.player), copies) << "the later hit made no copy";
    // Six copies, two of them rebuilt along their crease: a step a frame takes a hundred frames.
    EXPECT_LE(firstFrames, 4) << "copies made " << copies;
    // Each dented copy's reach and displacement are steps of their own.
    EXPECT_GE(laterFrames, static_cast<int>(2 * hits[1].meshes)) << hits[1].meshes << " meshes";
    expectNoHostFaults();
}

// One step per frame: a traffic car's later hit, queued behind the player's
// first hit in a car not prepared, waits until the player's is done; what
// the player's copies leave of their larger share of a frame is not spent on it.
TEST(TrafficBudget, ThePlayersShareIsNotSpentOnTraffic) {
    DrivenHost host;
    startPileUpHost(host, 1);
    hostsim::Vehicle* seat = host.player;
    hostsim::setPlayerVehicle(nullptr);
    hostsim::Vehicle* car = trafficAt({0.0f, 8.0f, 0.0f});
    hostsim::setContact(car, 0.4f, kFront, kForward);
    frame();
    hostsim::clearCollision(car);
    framesUntilHitLines(host, 1);
    const hostsim::VehicleSnapshot dentedOnce = hostsim::snapshotVehicle(car);

    hostsim::setPlayerVehicle(seat);
    hostsim::advanceClock(1000);
    hostsim::setContact(seat, 0.5f, kFront, kForward);
    hostsim::setContact(car, 0.6f, kFront, kForward);
    frame();
    hostsim::clearCollision(seat);
    hostsim::clearCollision(car);
    framesUntilHitLines(host, 2);
    const std::vector<HitLine> hits = hitLines(host.log);
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[1].actor, "player");
    EXPECT_EQ(largestMove(hostsim::snapshotVehicle(car), dentedOnce), 0.0f) << "a step of the traffic car's hit ran";
    framesUntilHitLines(host, 3);
    EXPECT_GT(largestMove(hostsim::snapshotVehicle(car), dentedOnce), 0.0f);
    expectNoHostFaults();
}

// At 10000 units a frame, a car with a 29900-vertex body and four with
// 20000-vertex bodies fill a vertex budget of 50000; five more are hit at
// once, and every copy they reach is refused. Charged for its checks, not as
// the clone it does not make, a refused copy leaves the frame to the others:
// charged as clones, their hits took three times the frames.
TEST(TrafficBudget, ACopyTheLimitsRefuseCostsOnlyItsChecks) {
    DrivenHost host;
    startDriven(host, "[Traffic]\r\nMaxTotalVertices=50000\r\nWorkPerFrame=10000\r\n");
    hostsim::VehicleSpec design;
    design.modelId = 405;
    design.position = {-6.0f, 9.0f, 0.0f};
    // Head-on hits on `count` new cars, in rows of four, in one frame; the frames after it until their lines.
    auto framesOfHits = [&](int count, int bodyVertices) {
        const std::size_t lines = hitLines(host.log).size() + static_cast<std::size_t>(count);
        design.bodyVertices = bodyVertices;
        std::vector<hostsim::Vehicle*> cars;
        for (int i = 0; i < count; ++i, design.position.x += 4.0f) {
            if (design.position.x > 6.0f) design.position = {-6.0f, design.position.y + 3.0f, 0.0f};
            cars.push_back(hostsim::spawnVehicle(design));
            hostsim::setContact(cars.back(), 0.6f, kFront, kForward);
        }
        frame();
        for (hostsim::Vehicle* car : cars) hostsim::clearCollision(car);
        return framesUntilHitLines(host, lines);
    };
    framesOfHits(1, 29900);
    framesOfHits(4, 20000);
    const int frames = framesOfHits(5, 20000);
    const std::vector<HitLine> hits = hitLines(host.log);
    ASSERT_EQ(hits.size(), 10u);
    for (std::size_t i = 5; i < hits.size(); ++i) EXPECT_EQ(hits[i].meshes, 0u) << "every copy refused";
    EXPECT_LE(frames, 15);
    expectNoHostFaults();
}

// 31 cars whose contacts grow every frame fill the queue (256 hits) within
// ten frames while one item runs per frame; a car that collides then is not
// handled (its rear lights stay whole) until the reset event empties the queue.
TEST(TrafficBudget, AFullQueueHoldsFurtherTrafficUntilThereIsRoom) {
    DrivenHost host;
    startPileUpHost(host, 1);
    std::vector<hostsim::Vehicle*> cars = spawnPileUp();
    cars.pop_back();
    hostsim::Vehicle* late = trafficAt({0.0f, 5.0f, 0.0f}, 400);  // the nearest: first in the traffic order
    for (int step = 0; step < 10; ++step) {
        const float impact = 0.1f + 0.05f * static_cast<float>(step);
        for (hostsim::Vehicle* car : cars) hostsim::setContact(car, impact, kFront, kForward);
        frame();
    }
    hostsim::setContact(late, 0.6f, kRear, kBackward);
    frame();
    EXPECT_EQ(hostsim::lightStatus(late, 2) + hostsim::lightStatus(late, 3), 0)
        << "not handled while the queue is full";

    hostsim::callSite(hostsim::kResetSiteA);
    frame();
    EXPECT_NE(hostsim::lightStatus(late, 2) + hostsim::lightStatus(late, 3), 0) << "handled once there is room";
    expectNoHostFaults();
}

TEST(TrafficBudget, PileUpSettlesAsWithoutBudget) { expectSameSettledState("PileUpRunChild.Plain", false); }

TEST(TrafficBudget, PileUpWithF7RepairAndRemovalSettlesAsWithoutBudget) {
    expectSameSettledState("PileUpRunChild.WithEvents", true);
}

namespace {

// 16 dented traffic cars (MaxTrackedVehicles at its least) leave the pool at
// once, their clumps freed as the host frees them, while 16 others crash.
// The leaving records are out of the list at once: each new car gets a
// record although no leaving one has been idle for a second. Their copies
// and references are released a share per frame until the module holds none
// and every count is back, or at once by the host's reset event.
void carsLeaveWhileOthersCrash(bool resetEvent) {
    DrivenHost host;
    startPileUpHost(host, 100000, "MaxTrackedVehicles=16\r\n");
    std::vector<hostsim::Vehicle*> cars = spawnPileUp();
    const std::vector<hostsim::Vehicle*> leaving(cars.begin(), cars.begin() + 16);
    const std::vector<hostsim::Vehicle*> staying(cars.begin() + 16, cars.end());
    retakeLedger(host);
    std::vector<hostsim::VehicleSnapshot> rest;
    for (hostsim::Vehicle* car : leaving) rest.push_back(hostsim::snapshotVehicle(car));
    for (int i = 0; i < 16; ++i) contact(leaving[i], i, 0.5f);
    frame();
    for (hostsim::Vehicle* car : leaving) hostsim::clearCollision(car);
    framesUntilHitLines(host, 16, kMaxFramesAfter);
    // As the host frees a gone car's clump, its atomics drop the copies (and
    // take their own geometries back, so that the counts can be compared).
    std::vector<const hostsim::Geometry*> copies;
    for (std::size_t c = 0; c < leaving.size(); ++c) {
        const std::vector<hostsim::Atomic*> atomics = hostsim::clumpAtomics(leaving[c]->clump);
        ASSERT_GT(copiesOn(leaving[c]), 0u);
        for (std::size_t a = 0; a < atomics.size(); ++a) {
            if (atomics[a]->geometry->hostMadeByModule) copies.push_back(atomics[a]->geometry);
            hostsim::attachGeometry(atomics[a], const_cast<hostsim::Geometry*>(rest[c][a].geometry));
        }
        hostsim::removeVehicle(leaving[c]);
    }
    const auto held = [&copies] {
        std::size_t count = 0;
        for (const hostsim::Geometry* live : hostsim::liveModuleGeometries())
            count += static_cast<std::size_t>(std::count(copies.begin(), copies.end(), live));
        return count;
    };
    ASSERT_EQ(held(), copies.size());

    for (int i = 0; i < 16; ++i) contact(staying[i], i, 0.5f);
    frame();
    for (hostsim::Vehicle* car : staying) hostsim::clearCollision(car);
    EXPECT_GT(held(), 0u) << "not all released in the frame they left";
    EXPECT_LT(held(), copies.size()) << "a share released in that frame";
    if (resetEvent) {
        hostsim::callSite(hostsim::kResetSiteA);
        EXPECT_EQ(held(), 0u) << "the reset event releases the rest at once";
    }
    framesUntilHitLines(host, resetEvent ? 16u : 32u, kMaxFramesAfter);
    EXPECT_EQ(held(), 0u);
    for (hostsim::Vehicle* car : staying) EXPECT_EQ(copiesOn(car) > 0, !resetEvent);
    hostsim::callSite(hostsim::kResetSiteB);
    expectLedgerUnchanged(host);
    expectNoHostFaults();
}

}  // namespace

TEST(TrafficBudget, RecordsOfCarsThatLeaveAreReleasedOverFrames) { carsLeaveWhileOthersCrash(false); }
TEST(TrafficBudget, ResetEventReleasesRecordsOfCarsThatLeftAtOnce) { carsLeaveWhileOthersCrash(true); }

// Without a budget the whole pile-up is dented in one frame: its many lines
// reach the log with one open of the file; a frame without lines opens none.
TEST(TrafficBudget, AFramesLinesReachTheLogInOneOpen) {
    DrivenHost host;
    startPileUpHost(host, 0);
    std::vector<hostsim::Vehicle*> cars = spawnPileUp();
    frame();
    const FileOpenCounter counter(GetModuleHandleA("Kerbmark.asi"));
    ASSERT_TRUE(counter.replaced);
    const int& logOpens = FileOpenCounter::opens;
    for (int i = 0; i < kTraffic; ++i) contact(cars[i], i, 0.5f);
    hostsim::setContact(host.player, 0.5f, kFront, kForward);
    frame();
    EXPECT_EQ(logOpens, 1);
    EXPECT_EQ(hitLines(host.log).size(), static_cast<std::size_t>(kTraffic + 1));
    for (hostsim::Vehicle* car : cars) hostsim::clearCollision(car);
    hostsim::clearCollision(host.player);
    frame();
    EXPECT_EQ(logOpens, 1);
    expectNoHostFaults();
}
