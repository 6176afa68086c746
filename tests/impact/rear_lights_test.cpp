#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "foundation/settings.h"
#include "host/support/fake_host.h"
#include "host/support/module_state.h"
#include "host/support/log_capture.h"
#include "impact/rear_lights.h"
#include "impact/support/light_host.h"

namespace {

using dent::Vec;

constexpr std::int32_t kRight = 2;
constexpr std::int32_t kLeft = 3;

class RearLights : public ::testing::Test {
protected:
    void SetUp() override {
        kerbmark::settings.FalloffPower = 1.0f;
        kerbmark::settings.RearMinDepth = 0.08f;
        car->modelId = 500;
        lights.setRearLight(500, kLight);
    }

    static dent::Episode episodeAt(Vec point, float depth, float radius) {
        dent::Episode e{};
        e.point = point;
        e.direction = {0, 1, 0};
        e.depth = depth;
        e.radius = radius;
        e.number = 1;
        e.active = true;
        return e;
    }

    void smash(const dent::Episode& e, bool isPlayer = true) { kerbmark::smashRearLights(car, e, isPlayer); }

    std::vector<std::int32_t> broken() const {
        std::vector<std::int32_t> result;
        for (const auto& change : lights.changes) {
            EXPECT_EQ(change.damage, static_cast<void*>(car->damageState));
            EXPECT_EQ(change.status, 1);
            result.push_back(change.light);
        }
        return result;
    }

    const Vec kLight{1.0f, -2.5f, 0.5f};
    testhost::FakeHost host;
    testimpact::LightHost lights;
    testhost::LogCapture log;
    host::Vehicle* car = host.vehicle(0x2207);
    testhost::ModuleState moduleState;
};

TEST_F(RearLights, ContactAtTheRightLightBreaksItOnly) {
    // w = 1 at the right light; the left one lies 2 away, outside the radius.
    smash(episodeAt(kLight, 0.1f, 1.5f));
    EXPECT_EQ(broken(), std::vector<std::int32_t>{kRight});
    EXPECT_EQ(log.lines(), std::vector<std::string>{"RearLight: actor=player side=right model=500 smashed"});
    ASSERT_EQ(lights.queries.size(), 2u);
    EXPECT_EQ(lights.queries[0].light, kRight);
    EXPECT_EQ(lights.queries[1].light, kLeft);
    EXPECT_EQ(lights.queries[1].damage, static_cast<void*>(car->damageState));
}

TEST_F(RearLights, EachLightByItsOwnWeight) {
    // Contact at the left light; the right light, 2 away with radius 4 and
    // power 1, gets u = 0.5, s = 0.5 and a local depth of 0.3 * 0.5 = 0.15.
    smash(episodeAt({-1.0f, -2.5f, 0.5f}, 0.3f, 4.0f), false);
    EXPECT_EQ(broken(), (std::vector<std::int32_t>{kRight, kLeft}));
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"RearLight: actor=npc side=right model=500 smashed",
                                                     "RearLight: actor=npc side=left model=500 smashed"}));

    lights.changes.clear();
    lights.setStatus(car->damageState, kRight, 0);
    lights.setStatus(car->damageState, kLeft, 0);
    kerbmark::settings.RearMinDepth = 0.16f;  // above the right light's 0.15
    smash(episodeAt({-1.0f, -2.5f, 0.5f}, 0.3f, 4.0f), false);
    EXPECT_EQ(broken(), std::vector<std::int32_t>{kLeft});
}

TEST_F(RearLights, HalfwayToTheRadiusIsNotDeepEnough) {
    // depth 0.1, d = radius / 2, power 1: 0.1 * 0.5 = 0.05.
    const dent::Episode e = episodeAt({0.5f, -2.5f, 0.5f}, 0.1f, 1.0f);
    smash(e);
    EXPECT_TRUE(lights.changes.empty());
    EXPECT_TRUE(log.lines().empty());

    kerbmark::settings.RearMinDepth = 0.05f;  // reached exactly
    smash(e);
    EXPECT_EQ(broken(), std::vector<std::int32_t>{kRight});
}

TEST_F(RearLights, ContactWindowAlongTheVehicle) {
    kerbmark::settings.FalloffPower = 0.65f;
    smash(episodeAt({1.0f, kLight.y + 1.3f, 0.5f}, 0.6f, 3.0f));
    EXPECT_TRUE(lights.changes.empty());
    EXPECT_EQ(lights.queries.size(), 2u);  // queried, then skipped

    smash(episodeAt({1.0f, kLight.y + 1.25f, 0.5f}, 0.6f, 3.0f));
    EXPECT_EQ(broken(), (std::vector<std::int32_t>{kRight, kLeft}));
}

TEST_F(RearLights, ContactsAtOrAheadOfTheOriginAreIgnored) {
    smash(episodeAt({1.0f, 0.0f, 0.5f}, 0.6f, 3.0f));
    smash(episodeAt({1.0f, 0.5f, 0.5f}, 0.6f, 3.0f));
    EXPECT_TRUE(lights.queries.empty());
    EXPECT_TRUE(lights.changes.empty());
}

TEST_F(RearLights, SwitchedOffQueriesNothing) {
    kerbmark::settings.RearDamage = false;
    smash(episodeAt(kLight, 0.6f, 3.0f));
    EXPECT_TRUE(lights.queries.empty());
    EXPECT_TRUE(lights.changes.empty());
}

TEST_F(RearLights, UnusableModelInformation) {
    const dent::Episode e = episodeAt(kLight, 0.6f, 3.0f);
    const std::vector<std::pair<const char*, Vec>> badLights = {
        {"light at y = -0.1", {1.0f, -0.1f, 0.5f}},
        {"light ahead", {1.0f, 0.3f, 0.5f}},
        {"light farther than 12", {1.0f, -11.99f, 0.5f}},
        {"light not finite", {1.0f, -2.5f, std::numeric_limits<float>::quiet_NaN()}},
    };
    for (const auto& [what, light] : badLights) {
        lights.setRearLight(500, light);
        smash(e);
        EXPECT_TRUE(lights.queries.empty()) << what;
    }

    lights.setRearLight(500, kLight);
    lights.entry(500)->layout = nullptr;
    smash(e);
    lights.entry(500) = nullptr;
    smash(e);
    lights.setRearLight(399, kLight);
    lights.setRearLight(612, kLight);
    for (std::int16_t model : {399, 612}) {
        car->modelId = model;
        smash(e);
    }
    car->modelId = 501;
    lights.setRearLight(501, kLight);
    lights.setTableWord(0);
    smash(e);
    EXPECT_TRUE(lights.queries.empty());
    EXPECT_TRUE(lights.changes.empty());
}

TEST_F(RearLights, UnusableEpisodeBreaksNothing) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const dent::Episode& e : {episodeAt(kLight, 0.0f, 3.0f), episodeAt(kLight, 0.6f, 0.0f),
                                   episodeAt(kLight, nan, 3.0f), episodeAt(kLight, 0.6f, nan),
                                   episodeAt({nan, -2.5f, 0.5f}, 0.6f, 3.0f)}) {
        smash(e);
    }
    EXPECT_TRUE(lights.changes.empty());
}

TEST_F(RearLights, BrokenLightIsNeitherBrokenNorLoggedAgain) {
    lights.setStatus(car->damageState, kRight, 1);
    smash(episodeAt(kLight, 0.6f, 3.0f));
    EXPECT_EQ(broken(), std::vector<std::int32_t>{kLeft});
    EXPECT_EQ(log.lines(), std::vector<std::string>{"RearLight: actor=player side=left model=500 smashed"});

    lights.changes.clear();
    smash(episodeAt(kLight, 0.6f, 3.0f));
    EXPECT_TRUE(lights.changes.empty());
    EXPECT_EQ(log.lines().size(), 1u);
}

TEST_F(RearLights, WithoutLogHitsTheLightBreaksSilently) {
    kerbmark::settings.LogHits = false;
    smash(episodeAt(kLight, 0.1f, 1.5f));
    EXPECT_EQ(broken(), std::vector<std::int32_t>{kRight});
    EXPECT_FALSE(log.exists());
}

}  // namespace
