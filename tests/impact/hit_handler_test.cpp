#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "deform/atomic_driver.h"
#include "deform/records.h"
#include "deform/support/geometry_host.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "host/bindings.h"
#include "host/support/fake_host.h"
#include "host/support/log_capture.h"
#include "host/support/memory_pages.h"
#include "host/support/module_state.h"
#include "impact/hit_handler.h"
#include "impact/support/light_host.h"

namespace {

using dent::Vec;

constexpr std::int32_t kHandle = 0x1305;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr const char* kReset = "Player deformation reset.";

// Records the request handed to the host's atomic enumeration, then lets the
// fake host enumerate as usual.
struct RequestCapture {
    static inline game::AtomicsFn forward = nullptr;
    static inline std::vector<kerbmark::DentRequest> requests;
    static void* atomics(void* clump, game::AtomicCallback callback, void* data) {
        // Record resets enumerate too, with their own callback.
        if (callback != &kerbmark::deformAtomic) return forward(clump, callback, data);
        requests.push_back(*static_cast<kerbmark::DentRequest*>(data));
        void* result = forward(clump, callback, data);
        requests.back().meshes = static_cast<kerbmark::DentRequest*>(data)->meshes;
        return result;
    }
};

class HitHandler : public ::testing::Test {
protected:
    void SetUp() override {
        // Traffic hits dent in their own frame here; the queue has its scenarios.
        kerbmark::settings.TrafficWorkPerFrame = 0;
        RequestCapture::forward = game::atomics;
        RequestCapture::requests.clear();
        game::atomics = RequestCapture::atomics;
        setClock(5000);
        car = readyVehicle(kHandle, placement, rootFrame);
        // A rear panel of the body, in the clump frame's space.
        testdeform::SourceShape rear;
        rear.vertices = 5;
        rear.positions = {{-0.5f, -2, 0.3f}, {0, -2, 0.3f}, {0.5f, -2, 0.3f}, {0, -2, 0.8f}, {0, 2, 0.5f}};
        rearPanel = geometries.atomic(car, geometries.source(rear), geometries.frame("boot_panel", rootFrame));
        lights.setRearLight(500, {0.6f, -2.1f, 0.5f});
    }
    void TearDown() override {
        game::atomics = RequestCapture::forward;
    }

    // A vehicle at its placement with its latest collision at the rear:
    // impact 0.345 (depth 0.2929, radius 1.872 with the default settings).
    host::Vehicle* readyVehicle(std::int32_t handle, dent::HostMatrix& matrix, host::Frame*& root) {
        host::Vehicle* v = host.vehicle(handle);
        matrix = testdeform::identityMatrix();
        root = geometries.frame("car_root");
        static_cast<host::Clump*>(v->clump)->frame = root;
        v->matrix = &matrix;
        v->modelId = 500;
        v->mass = 1000.0f;
        v->impulse = 345.0f;
        v->velocity = {3, 4, 0};
        v->collisionPoint = {0, -2, 0.3f};
        v->collisionNormal = {0, 1, 0};
        v->piece = 12;
        return v;
    }

    static void setClock(std::uint32_t ms) { host::at<std::uint32_t>(host::kClock) = ms; }

    void hit(bool isPlayer = true, bool reset = false) { kerbmark::handleHit(car, isPlayer, reset, car); }

    kerbmark::VehicleRecord* record() { return kerbmark::findRecord(list, car); }

    std::vector<std::string> hitLines() const {
        std::vector<std::string> result;
        for (const std::string& line : log.lines()) {
            if (line.rfind("Hit: ", 0) == 0) result.push_back(line);
        }
        return result;
    }

    void expectNothingHappened(const char* what) {
        EXPECT_TRUE(list.records.empty()) << what;
        EXPECT_TRUE(RequestCapture::requests.empty()) << what;
        EXPECT_TRUE(lights.queries.empty()) << what;
        EXPECT_FALSE(log.exists()) << what;
    }

    testhost::FakeHost host;
    testdeform::GeometryHost geometries{host};
    testimpact::LightHost lights;
    testhost::LogCapture log;
    kerbmark::RecordList list;
    testhost::ModuleState moduleState{&list};
    dent::HostMatrix placement{};
    host::Frame* rootFrame = nullptr;
    host::Vehicle* car = nullptr;
    host::Atomic* rearPanel = nullptr;
};

TEST_F(HitHandler, FirstHitCreatesTheRecordDentsAndLogs) {
    host::Geometry* original = rearPanel->geometry;
    hit();
    kerbmark::VehicleRecord* r = record();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->vehicleRef, kHandle);
    EXPECT_EQ(r->clump, car->clump);
    EXPECT_EQ(r->health, 1000.0f);
    EXPECT_EQ(r->lastHit, 5000u);
    EXPECT_EQ(r->creaseSeed, (static_cast<std::uint32_t>(kHandle) * 0x9E3779B9u) ^ 5000u);
    EXPECT_EQ(r->episode.number, 1u);

    ASSERT_EQ(RequestCapture::requests.size(), 1u);
    const kerbmark::DentRequest& request = RequestCapture::requests[0];
    EXPECT_EQ(request.record, r);
    EXPECT_EQ(request.episode, 1u);
    EXPECT_EQ(request.depth, r->episode.depth);
    EXPECT_EQ(request.radius, r->episode.radius);
    EXPECT_EQ(request.meshes, 1u);
    EXPECT_NE(rearPanel->geometry, original);
    ASSERT_EQ(r->meshes.size(), 1u);
    // The vertex at the contact gets the full depth along the push.
    EXPECT_NEAR(rearPanel->geometry->vertexBlock->positions[1].y, -2.0f + 0.2929f, 0.0001f);

    EXPECT_EQ(hitLines(), std::vector<std::string>{
                              "Hit: actor=player handle=4869 model=500 episode=1 impact=0.3450 impulse=345.0 "
                              "mass=1000.0 speedAfter=5.0000 healthLoss=0.0 depth=0.293 radius=1.872 piece=12 "
                              "meshes=1"});
}

TEST_F(HitHandler, ContactIsTakenIntoTheModelFrameAndTheRequestIntoTheWorld) {
    // The vehicle sits at (100, 50, 0), turned so that its forward axis is
    // world -x; the clump frame has the same placement.
    placement.right = {0, 1, 0};
    placement.forward = {-1, 0, 0};
    placement.position = {100, 50, 0};
    geometries.setMatrix(rootFrame, placement);
    geometries.setMatrix(rearPanel->frame, placement);
    car->collisionPoint = {102, 50, 0.25f};  // 2 behind the origin
    car->collisionNormal = {-1, 0, 0};       // outward: flipped into the body
    hit();
    kerbmark::VehicleRecord* r = record();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->episode.point.x, 0.0f);
    EXPECT_EQ(r->episode.point.y, -2.0f);
    EXPECT_EQ(r->episode.point.z, 0.25f);
    EXPECT_EQ(r->episode.direction.y, 1.0f);

    ASSERT_EQ(RequestCapture::requests.size(), 1u);
    const kerbmark::DentRequest& request = RequestCapture::requests[0];
    EXPECT_EQ(request.point.x, 102.0f);
    EXPECT_EQ(request.point.y, 50.0f);
    EXPECT_EQ(request.point.z, 0.25f);
    EXPECT_EQ(request.direction.x, -1.0f);
    EXPECT_EQ(request.direction.y, 0.0f);
    EXPECT_EQ(request.meshes, 1u);
}

TEST_F(HitHandler, GatesStopBeforeAnyRecord) {
    const std::vector<std::pair<const char*, std::function<void(host::Vehicle&)>>> gates = {
        {"model 399", [](host::Vehicle& v) { v.modelId = 399; }},
        {"model 612", [](host::Vehicle& v) { v.modelId = 612; }},
        {"no clump", [](host::Vehicle& v) { v.clump = nullptr; }},
        {"word 0x594", [](host::Vehicle& v) { v.word594 = 1; }},
        {"health 0", [](host::Vehicle& v) { v.health = 0.0f; }},
        {"health negative", [](host::Vehicle& v) { v.health = -5.0f; }},
        {"health NaN", [](host::Vehicle& v) { v.health = kNaN; }},
        {"not handled flag", [](host::Vehicle& v) { v.flags42 = 0x10; }},
        {"impulse 0", [](host::Vehicle& v) { v.impulse = 0.0f; }},
        {"mass 1", [](host::Vehicle& v) { v.mass = 1.0f; }},
        {"piece 13", [](host::Vehicle& v) { v.piece = 13; }},
        {"piece 14", [](host::Vehicle& v) { v.piece = 14; }},
        {"piece 15", [](host::Vehicle& v) { v.piece = 15; }},
        {"piece 16", [](host::Vehicle& v) { v.piece = 16; }},
        {"normal 0.009 long", [](host::Vehicle& v) { v.collisionNormal = {0, 0.009f, 0}; }},
        {"normal NaN", [](host::Vehicle& v) { v.collisionNormal.z = kNaN; }},
        {"point infinite", [](host::Vehicle& v) { v.collisionPoint.x = INFINITY; }},
        {"point 12.5 away", [](host::Vehicle& v) { v.collisionPoint = {0, -12.5f, 0}; }},
        {"underbody", [](host::Vehicle& v) {
             v.collisionPoint = {0, -2, -0.2f};
             v.collisionNormal = {0, 0.43589f, -0.9f};
         }},
        {"no placement", [](host::Vehicle& v) { v.matrix = nullptr; }},
        {"skewed placement", [](host::Vehicle& v) { v.matrix->forward = {0.2f, 1, 0}; }},
        {"no clump frame", [](host::Vehicle& v) { static_cast<host::Clump*>(v.clump)->frame = nullptr; }},
    };
    for (const auto& [what, breakIt] : gates) {
        car = readyVehicle(kHandle, placement, rootFrame);
        breakIt(*car);
        kerbmark::handleHit(car, true, true, car);
        expectNothingHappened(what);
    }

    car = readyVehicle(kHandle, placement, rootFrame);
    geometries.removeMatrix(rootFrame);
    hit();
    expectNothingHappened("no world matrix");

    car = readyVehicle(kHandle, placement, rootFrame);
    dent::HostMatrix skewed = testdeform::identityMatrix();
    skewed.up = {0, 0, 1.2f};
    geometries.setMatrix(rootFrame, skewed);
    hit();
    expectNothingHappened("skewed world matrix");

    kerbmark::handleHit(nullptr, true, true, nullptr);
    expectNothingHappened("no vehicle");

    // A clump frame the host could not read is never handed to it: below
    // 64 KiB, its record running into a reserved page, in a reserved page.
    testhost::PageBlock pages(2);
    pages.commit(0, PAGE_READWRITE);
    for (void* frame : {reinterpret_cast<void*>(std::uintptr_t{0x1234}), static_cast<void*>(pages.endOfPage(0, 16)),
                        static_cast<void*>(pages.page(1))}) {
        car = readyVehicle(kHandle, placement, rootFrame);
        static_cast<host::Clump*>(car->clump)->frame = frame;
        geometries.framesHandedToHost.clear();
        hit();
        expectNothingHappened("unreadable clump frame");
        EXPECT_TRUE(geometries.framesHandedToHost.empty());
    }
}

TEST_F(HitHandler, GatesThatPass) {
    struct Case {
        const char* what;
        std::function<void(host::Vehicle&)> set;
    };
    const std::vector<Case> cases = {
        {"piece 17", [](host::Vehicle& v) { v.piece = 17; }},
        {"model 400", [](host::Vehicle& v) { v.modelId = 400; }},
        {"model 611", [](host::Vehicle& v) { v.modelId = 611; }},
        {"point 11.9 away", [](host::Vehicle& v) { v.collisionPoint = {0, -11.9f, 0}; }},
        {"normal 0.011 long", [](host::Vehicle& v) { v.collisionNormal = {0, 0.011f, 0}; }},
        {"low contact, steep normal", [](host::Vehicle& v) {
             v.collisionPoint = {0, -2, -0.1f};
             v.collisionNormal = {0, 0.43589f, -0.9f};
         }},
        {"deep contact, flat normal", [](host::Vehicle& v) {
             v.collisionPoint = {0, -2, -0.2f};
             v.collisionNormal = {0, 0.8f, -0.6f};
         }},
    };
    std::int32_t handle = 0x2000;
    std::deque<dent::HostMatrix> placements;
    for (const Case& c : cases) {
        host::Frame* root = nullptr;
        host::Vehicle* v = readyVehicle(++handle, placements.emplace_back(), root);
        c.set(*v);
        kerbmark::handleHit(v, false, false, nullptr);
        kerbmark::VehicleRecord* r = kerbmark::findRecord(list, v);
        ASSERT_NE(r, nullptr) << c.what;
        EXPECT_EQ(r->episode.number, 1u) << c.what;
    }
    EXPECT_EQ(hitLines().size(), cases.size());
    // The far contact reaches no vertex: still logged, with meshes=0.
    EXPECT_NE(hitLines()[3].find("meshes=0"), std::string::npos);
}

TEST_F(HitHandler, PushDirectionPointsIntoTheBody) {
    hit();
    const Vec inward = record()->episode.direction;

    host::Frame* root = nullptr;
    dent::HostMatrix otherPlacement{};
    host::Vehicle* other = readyVehicle(0x0206, otherPlacement, root);
    other->collisionNormal = {0, -1, 0};  // outward
    kerbmark::handleHit(other, false, false, car);
    const Vec flipped = kerbmark::findRecord(list, other)->episode.direction;
    EXPECT_EQ(inward.y, 1.0f);
    EXPECT_EQ(flipped.y, 1.0f);
    EXPECT_EQ(flipped.x, 0.0f);
    EXPECT_EQ(flipped.z, 0.0f);

    // Perpendicular to the contact's offset: kept as it is.
    dent::HostMatrix thirdPlacement{};
    host::Vehicle* third = readyVehicle(0x0307, thirdPlacement, root);
    third->collisionPoint = {0, -2, 0};
    third->collisionNormal = {-1, 0, 0};
    kerbmark::handleHit(third, false, false, car);
    EXPECT_EQ(kerbmark::findRecord(list, third)->episode.direction.x, -1.0f);
}

TEST_F(HitHandler, ResetOfATrackedPlayerVehicle) {
    host::Geometry* original = rearPanel->geometry;
    hit();
    ASSERT_EQ(record()->meshes.size(), 1u);
    kerbmark::settings.LogHits = false;
    log.clear();
    setClock(6000);
    car->impulse = 600.0f;  // a new, stronger collision in the same frame

    hit(true, true);
    kerbmark::VehicleRecord* r = record();
    ASSERT_NE(r, nullptr);  // the record stays
    EXPECT_TRUE(r->meshes.empty());
    EXPECT_EQ(r->episode.number, 0u);
    EXPECT_FALSE(r->episode.active);
    EXPECT_EQ(r->lastHit, 5000u);  // the collision was not handled
    EXPECT_EQ(rearPanel->geometry, original);
    EXPECT_EQ(log.lines(), std::vector<std::string>{kReset});
    EXPECT_EQ(RequestCapture::requests.size(), 1u);

    // The next frame handles hits again.
    hit();
    EXPECT_EQ(record()->episode.number, 1u);
    EXPECT_EQ(RequestCapture::requests.size(), 2u);
}

TEST_F(HitHandler, ResetWithoutARecordIsAnOrdinaryHit) {
    hit(true, true);
    ASSERT_NE(record(), nullptr);
    EXPECT_EQ(hitLines().size(), 1u);
    for (const std::string& line : log.lines()) EXPECT_NE(line, kReset);
}

TEST_F(HitHandler, RepeatedContactOnlyMovesTheLastHit) {
    hit();
    ASSERT_EQ(hitLines().size(), 1u);
    const std::uint32_t queries = static_cast<std::uint32_t>(lights.queries.size());

    setClock(5100);
    hit();
    EXPECT_EQ(record()->lastHit, 5100u);
    EXPECT_EQ(record()->episode.number, 1u);
    EXPECT_EQ(RequestCapture::requests.size(), 1u);
    EXPECT_EQ(lights.queries.size(), queries);
    EXPECT_EQ(hitLines().size(), 1u);

    // Deeper within the gap: the same episode grows.
    setClock(5200);
    car->impulse = 500.0f;
    car->velocity = {0, 0, 0};
    record()->healthDrop = 12.5f;
    hit(false);
    EXPECT_EQ(record()->episode.number, 1u);
    ASSERT_EQ(RequestCapture::requests.size(), 2u);
    EXPECT_GT(RequestCapture::requests[1].depth, RequestCapture::requests[0].depth);
    ASSERT_EQ(hitLines().size(), 2u);
    EXPECT_EQ(hitLines()[1].rfind("Hit: actor=npc handle=4869 model=500 episode=1 impact=0.5000 impulse=500.0 "
                                  "mass=1000.0 speedAfter=0.0000 healthLoss=12.5 ",
                                  0),
              0u)
        << hitLines()[1];
}

TEST_F(HitHandler, NonFiniteHealthDropStopsTheHit) {
    hit();
    record()->healthDrop = kNaN;
    setClock(9000);  // a new episode
    hit();
    EXPECT_EQ(record()->lastHit, 5000u);
    EXPECT_EQ(RequestCapture::requests.size(), 1u);
}

TEST_F(HitHandler, RecordRoomWhenTheListIsFull) {
    kerbmark::settings.MaxTrackedVehicles = 16;
    std::vector<host::Vehicle*> others;
    for (std::int32_t i = 0; i < 16; ++i) {
        host::Vehicle* other = host.vehicle(0x100 + i);
        others.push_back(other);
        kerbmark::appendRecord(list, other, 0x100 + i, other->clump, 1000.0f, 4500);  // hit 500 ms ago
    }
    hit();
    EXPECT_EQ(record(), nullptr);
    EXPECT_EQ(list.records.size(), 16u);
    EXPECT_TRUE(RequestCapture::requests.empty());
    EXPECT_TRUE(hitLines().empty());

    // The longest idle record, hit at least a second ago, makes room; the
    // player's own record is never the one.
    list.records[0]->lastHit = 1000;
    kerbmark::handleHit(car, false, false, others[0]);
    EXPECT_EQ(record(), nullptr);
    EXPECT_EQ(list.records.size(), 16u);

    list.records[5]->lastHit = 4000;
    kerbmark::handleHit(car, false, false, others[0]);
    ASSERT_NE(record(), nullptr);
    EXPECT_EQ(list.records.back().get(), record());
    EXPECT_EQ(kerbmark::findRecord(list, others[5]), nullptr);
    EXPECT_NE(kerbmark::findRecord(list, others[0]), nullptr);
    EXPECT_EQ(list.records.size(), 16u);
}

TEST_F(HitHandler, RearHitBreaksLightsBeforeDenting) {
    car->impulse = 650.0f;  // full depth 0.65
    car->collisionPoint = {0.6f, -2.1f, 0.5f};
    hit();
    const std::vector<std::string> lines = log.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "RearLight: actor=player side=right model=500 smashed");
    EXPECT_EQ(lines.back().rfind("Hit: actor=player", 0), 0u);
    EXPECT_EQ(lights.changes.size(), 2u);
}

TEST_F(HitHandler, PhaseTrailOfAHit) {
    kerbmark::diagnostics = true;
    hit();
    const std::vector<std::string> lines = log.lines();
    auto at = [&lines](const std::string& prefix) {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
        }
        return -1;
    };
    // Lights first, then the atomics, then the line of the hit.
    const int light = at("RearLight: ");
    const int enumerate = at("hit: enumerate atomics");
    const int firstAtomic = at("atomic: begin / inspect frame and geometry");
    const int complete = at("hit: complete; returning to game");
    ASSERT_GE(light, 0);
    EXPECT_LT(light, enumerate);
    EXPECT_LT(enumerate, firstAtomic);
    EXPECT_LT(firstAtomic, complete);
    EXPECT_EQ(complete + 1, at("Hit: "));
    EXPECT_EQ(static_cast<std::size_t>(complete + 2), lines.size());
}

TEST_F(HitHandler, WithoutARecordListNothingIsHandled) {
    kerbmark::recordList = nullptr;
    hit(true, true);
    EXPECT_TRUE(RequestCapture::requests.empty());
    EXPECT_FALSE(log.exists());
}

}  // namespace
