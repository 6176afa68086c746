#include "collision/collision_state.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "collision/support/collision_host.h"
#include "host/support/memory_pages.h"

namespace {

using collision::State;
using testcollision::AssignMode;
using testcollision::CollisionHost;
using testcollision::Shape;

class CollisionState : public ::testing::Test {
protected:
    // A state made the way the driver makes it: zero-filled, constructed by the host.
    std::unique_ptr<State> newState() {
        auto state = std::make_unique<State>();
        collision::construct(&state->model);
        return state;
    }

    bool initWith(const Shape& shape) {
        collision::Model* source = host.model(shape);
        const std::size_t blocks = host.liveBlocks();
        auto state = newState();
        const bool ok = state->init(source);
        state.reset();
        EXPECT_EQ(host.liveBlocks(), blocks) << "the copy is freed with the state";
        EXPECT_TRUE(host.isLive(source->data));
        return ok;
    }

    void TearDown() override {
        for (const std::string& fault : host.faults) ADD_FAILURE() << "host fault: " << fault;
    }

    CollisionHost host;
};

TEST_F(CollisionState, InitMakesAPrivateDeepCopy) {
    collision::Model* source = host.model(testcollision::carShape());
    collision::Model sourceBefore = *source;
    const collision::Data sourceData = *source->data;
    auto state = newState();
    ASSERT_TRUE(state->init(source));

    EXPECT_EQ(static_cast<void*>(state.get()), static_cast<void*>(&state->model));
    EXPECT_EQ(state->source, source);
    collision::Data* copy = state->model.data;
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, source->data);
    EXPECT_NE(copy->spheres, source->data->spheres);
    EXPECT_NE(copy->boxes, source->data->boxes);
    EXPECT_NE(copy->vertices, source->data->vertices);
    EXPECT_EQ(state->model.flags & 1, 1);
    EXPECT_EQ(state->savedSpheres, copy->spheres);
    EXPECT_EQ(state->savedSphereCount, 4);
    EXPECT_EQ(state->restSpheres.size(), 4u);
    EXPECT_EQ(state->restBoxes.size(), 1u);
    EXPECT_EQ(state->restVertices.size(), 7u) << "largest triangle index plus one";
    EXPECT_EQ(std::memcmp(state->restVertices.data(), copy->vertices, 7 * sizeof(collision::Vertex)), 0);
    EXPECT_TRUE(state->spheres.empty());
    EXPECT_EQ(state->crush.front, 0.0f);
    EXPECT_EQ(state->crush.rear, 0.0f);
    EXPECT_EQ(host.allocates, 1u);
    EXPECT_EQ(host.assigns, 1u);

    EXPECT_EQ(std::memcmp(&sourceBefore, source, sizeof sourceBefore), 0);
    EXPECT_EQ(std::memcmp(&sourceData, source->data, sizeof sourceData), 0);
    const std::size_t live = host.liveBlocks();
    state.reset();
    EXPECT_EQ(host.liveBlocks(), live - 1);
    EXPECT_FALSE(host.isLive(copy));
    EXPECT_TRUE(host.isLive(source->data));
}

TEST_F(CollisionState, InitRefusesModelsOutsideItsLimits) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Shape shape = testcollision::carShape();
    EXPECT_TRUE(initWith(shape));

    Shape shortFront = shape;
    shortFront.maxY = 0.5f;
    EXPECT_FALSE(initWith(shortFront));
    Shape shortRear = shape;
    shortRear.minY = -0.5f;
    EXPECT_FALSE(initWith(shortRear));
    Shape nanBox = shape;
    nanBox.maxY = nan;
    EXPECT_FALSE(initWith(nanBox));

    Shape noSpheres = shape;
    noSpheres.spheres.clear();
    EXPECT_FALSE(initWith(noSpheres));
    Shape manySpheres = shape;
    manySpheres.spheres.resize(33, shape.spheres[0]);
    EXPECT_FALSE(initWith(manySpheres));
    Shape manyBoxes = shape;
    manyBoxes.boxes.resize(33, shape.boxes[0]);
    EXPECT_FALSE(initWith(manyBoxes));
    Shape manyTriangles = shape;
    manyTriangles.triangles.resize(501, shape.triangles[0]);
    EXPECT_FALSE(initWith(manyTriangles));
    Shape manyLines = shape;
    manyLines.lines = 17;
    EXPECT_FALSE(initWith(manyLines));

    Shape atLimits = shape;
    atLimits.spheres.resize(32, shape.spheres[0]);
    atLimits.boxes.resize(32, shape.boxes[0]);
    atLimits.triangles.resize(500, shape.triangles[0]);
    atLimits.lines = 16;
    EXPECT_TRUE(initWith(atLimits));

    Shape lastIndex = shape;
    lastIndex.vertices.resize(8192, shape.vertices[0]);
    lastIndex.triangles.push_back({{0, 1, 8191}, {0, 0}});
    EXPECT_TRUE(initWith(lastIndex));
    Shape pastIndex = shape;
    pastIndex.vertices.resize(8193, shape.vertices[0]);
    pastIndex.triangles.push_back({{0, 8192, 1}, {0, 0}});
    EXPECT_FALSE(initWith(pastIndex));

    for (float radius : {0.01f, 5.01f, nan, -1.0f}) {
        Shape badRadius = shape;
        badRadius.spheres[2].radius = radius;
        EXPECT_FALSE(initWith(badRadius)) << radius;
    }
    Shape largest = shape;
    largest.spheres[2].radius = 5.0f;
    EXPECT_TRUE(initWith(largest));
    Shape nanCentre = shape;
    nanCentre.spheres[1].center.z = nan;
    EXPECT_FALSE(initWith(nanCentre));
    EXPECT_EQ(host.allocates, 4u) << "only the models that pass every check are copied";
}

TEST_F(CollisionState, InitRefusesMissingArraysAndNullSources) {
    auto state = newState();
    EXPECT_FALSE(state->init(nullptr));
    collision::Model* noData = host.model(testcollision::carShape());
    collision::Data* data = noData->data;
    noData->data = nullptr;
    EXPECT_FALSE(state->init(noData));
    noData->data = data;

    collision::Model* noBoxArray = host.model(testcollision::carShape());
    noBoxArray->data->boxes = nullptr;
    EXPECT_FALSE(state->init(noBoxArray));
    collision::Model* noVertices = host.model(testcollision::carShape());
    noVertices->data->vertices = nullptr;
    EXPECT_FALSE(state->init(noVertices));
    Shape withLines = testcollision::carShape();
    withLines.lines = 2;
    collision::Model* noLineArray = host.model(withLines);
    noLineArray->data->lines = nullptr;
    EXPECT_FALSE(state->init(noLineArray));
    EXPECT_EQ(host.allocates, 0u);
}

// Arrays that run into memory nobody may read are refused before they are read or copied.
TEST_F(CollisionState, InitRefusesArraysInUnreadableMemory) {
    testhost::PageBlock pages(2);
    pages.commit(0, PAGE_READWRITE);
    collision::Model* source = host.model(testcollision::carShape());
    auto* spheres = reinterpret_cast<dent::ColSphere*>(pages.endOfPage(0, 2 * sizeof(dent::ColSphere)));
    std::memcpy(spheres, source->data->spheres, 2 * sizeof(dent::ColSphere));
    source->data->spheres = spheres;  // four spheres, the last two on the uncommitted page
    auto state = newState();
    EXPECT_FALSE(state->init(source));
    EXPECT_EQ(host.allocates, 0u);

    source->data->sphereCount = 2;
    EXPECT_TRUE(state->init(source)) << "the same array within its page";
}

// A host copy that is not a copy of its own is refused, and destroying the
// state never frees what the shared model still uses.
TEST_F(CollisionState, InitRefusesACopyThatSharesTheSource) {
    for (AssignMode mode : {AssignMode::SameBlock, AssignMode::SharedSpheres, AssignMode::NoBoxArray}) {
        host.assignMode = mode;
        collision::Model* source = host.model(testcollision::carShape());
        const std::vector<dent::ColSphere> spheres(source->data->spheres, source->data->spheres + 4);
        auto state = newState();
        EXPECT_FALSE(state->init(source)) << static_cast<int>(mode);
        state.reset();
        EXPECT_TRUE(host.isLive(source->data)) << static_cast<int>(mode);
        EXPECT_EQ(std::memcmp(spheres.data(), source->data->spheres, 4 * sizeof(dent::ColSphere)), 0);
    }
    host.assignMode = AssignMode::Deep;
    host.allocateGivesData = false;
    auto state = newState();
    EXPECT_FALSE(state->init(host.model(testcollision::carShape())));
    EXPECT_EQ(host.assigns, 3u);
}

TEST_F(CollisionState, FrontCompressionMovesTheFrontOnly) {
    collision::Model* source = host.model(testcollision::carShape());
    auto state = newState();
    ASSERT_TRUE(state->init(source));
    collision::Data* copy = state->model.data;
    const collision::Model boundsBefore = state->model;

    ASSERT_TRUE(state->update(1, 0.4f, {0.0f, 1.9f, 0.2f}, {0.0f, -1.0f, 0.0f}, 0.65f, 0.65f, true));
    const float front = 0.4f * 0.65f;
    EXPECT_FLOAT_EQ(state->crush.front, front);
    EXPECT_EQ(state->crush.rear, 0.0f);
    EXPECT_EQ(host.planesRemoved, std::vector<const collision::Data*>{copy});

    // The spheres in use are the fitted ones, refinement included.
    EXPECT_EQ(state->model.data, copy);
    EXPECT_EQ(copy->spheres, state->spheres.data());
    EXPECT_EQ(copy->sphereCount, state->spheres.size());
    const std::vector<dent::ColSphere> fitted =
        dent::fitSpheres(state->restSpheres, state->crush, -2.0f, 2.0f, true);
    ASSERT_EQ(state->spheres.size(), fitted.size());
    EXPECT_EQ(std::memcmp(state->spheres.data(), fitted.data(), fitted.size() * sizeof(dent::ColSphere)), 0);
    EXPECT_GT(fitted.size(), 4u);

    EXPECT_FLOAT_EQ(copy->boxes[0].max.y, 1.9f - front * ((1.9f - 0.7f) / 1.3f));
    EXPECT_EQ(copy->boxes[0].min.y, -1.9f);
    // Nose vertices move back; everything behind 0.35 * maxY stays bit for bit.
    EXPECT_EQ(copy->vertices[0].y, static_cast<std::int16_t>(std::round(
                                       dent::crushY(250.0f / 128.0f, state->crush, -2.0f, 2.0f) * 128.0f)));
    EXPECT_LT(copy->vertices[0].y, 250);
    for (int i = 4; i < 7; ++i) EXPECT_EQ(copy->vertices[i].y, state->restVertices[i].y) << i;
    EXPECT_EQ(copy->vertices[0].x, -100);
    // The bounding box stays as the host made it.
    EXPECT_EQ(std::memcmp(&boundsBefore, &state->model, offsetof(collision::Model, data)), 0);
    // The shared model never moved.
    EXPECT_EQ(source->data->vertices[0].y, 250);
    EXPECT_EQ(source->data->boxes[0].max.y, 1.9f);
}

TEST_F(CollisionState, EveryUpdateStartsFromTheRestCopies) {
    auto state = newState();
    ASSERT_TRUE(state->init(host.model(testcollision::carShape())));
    ASSERT_TRUE(state->update(1, 0.2f, {0.0f, 1.9f, 0.0f}, {0.0f, -1.0f, 0.0f}, 0.65f, 0.65f, false));
    ASSERT_TRUE(state->update(2, 0.3f, {0.0f, -1.9f, 0.0f}, {0.0f, 1.0f, 0.0f}, 0.65f, 0.65f, false));
    ASSERT_TRUE(state->update(3, 0.3f, {0.0f, 1.9f, 0.0f}, {0.0f, -1.0f, 0.0f}, 0.65f, 0.65f, false));
    const collision::Data* copy = state->model.data;
    EXPECT_EQ(copy->sphereCount, 4) << "no refinement";
    for (std::size_t i = 0; i < state->restVertices.size(); ++i) {
        EXPECT_EQ(copy->vertices[i].y,
                  collision::crushedVertex(state->restVertices[i], state->crush, -2.0f, 2.0f).y) << i;
    }
    EXPECT_EQ(copy->boxes[0].min.y, collision::crushedBox(state->restBoxes[0], state->crush, -2.0f, 2.0f).min.y);
    EXPECT_EQ(host.planesRemoved.size(), 3u);

    // Rejected contacts change nothing and drop no planes.
    const std::vector<dent::ColSphere> spheres = state->spheres;
    EXPECT_FALSE(state->update(3, 0.3f, {0.0f, 1.9f, 0.0f}, {0.0f, -1.0f, 0.0f}, 0.65f, 0.65f, false));
    EXPECT_FALSE(state->update(4, 0.3f, {0.0f, 1.9f, 0.0f}, {0.6f, -0.6f, 0.0f}, 0.65f, 0.65f, false));
    EXPECT_EQ(host.planesRemoved.size(), 3u);
    EXPECT_EQ(std::memcmp(spheres.data(), state->model.data->spheres, spheres.size() * sizeof(dent::ColSphere)), 0);
}

// The host frees its own sphere array, exactly once, however often the
// spheres were refitted.
TEST_F(CollisionState, DestroyHandsTheHostItsOwnSpheresBack) {
    const std::size_t before = host.liveBlocks();
    auto state = newState();
    ASSERT_TRUE(state->init(host.model(testcollision::carShape())));
    const collision::Data* copy = state->model.data;
    const dent::ColSphere* own = copy->spheres;
    for (std::uint32_t episode = 1; episode <= 5; ++episode)
        state->update(episode, 0.3f, {0.0f, 1.9f, 0.0f}, {0.0f, -1.0f, 0.0f}, 0.65f, 0.65f, true);
    ASSERT_NE(copy->spheres, own);
    const unsigned destructs = host.destructs;
    state.reset();
    EXPECT_EQ(host.destructs, destructs + 1);
    EXPECT_FALSE(host.isLive(copy));
    EXPECT_EQ(host.liveBlocks(), before + 1) << "only the shared model's block is left";
}

}  // namespace
