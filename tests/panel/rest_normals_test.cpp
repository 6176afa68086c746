#include "panel/rest_normals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "support/lcg.h"

namespace {

using dent::panelRestNormals;
using dent::positionKey;
using dent::PositionKey;
using dent::Vec;

constexpr std::uint32_t kSmoothFlags = 2;

void expectVecNear(Vec actual, Vec expected, float tolerance) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

bool sameVec(Vec a, Vec b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

TEST(PositionKey, GridOfAHundredthMillimetre) {
    EXPECT_EQ(positionKey({0.000001f, 0.0f, 0.0f}), positionKey({0.000004f, 0.0f, 0.0f}));
    EXPECT_EQ(positionKey({0.000004f, 0.0f, 0.0f})[0], 0);
    EXPECT_EQ(positionKey({0.000006f, 0.0f, 0.0f})[0], 1);
    // 2^-6 * 100000 is exactly 1562.5: halves round away from zero.
    EXPECT_EQ(positionKey({0.015625f, -0.015625f, 10000.0f}), (PositionKey{1563, -1563, 1000000000}));
}

TEST(PanelRestNormals, DuplicatesBlendOnlyWhenClose) {
    const std::vector<Vec> positions{{0.1f, 0.2f, 0.3f}, {0.1f, 0.2f, 0.3f}};
    const std::vector<Vec> blended = panelRestNormals(positions, {{0, 0, 1}, {0, 0.6f, 0.8f}}, kSmoothFlags);
    ASSERT_EQ(blended.size(), 2u);
    expectVecNear(blended[0], {0.0f, 0.3162f, 0.9487f}, 0.0001f);
    EXPECT_TRUE(sameVec(blended[0], blended[1]));

    const std::vector<Vec> sharp = panelRestNormals(positions, {{0, 0, 1}, {0, 1, 0}}, kSmoothFlags);
    EXPECT_TRUE(sameVec(sharp[0], {0, 0, 1}));
    EXPECT_TRUE(sameVec(sharp[1], {0, 1, 0}));
}

// Each vertex blends with the duplicates close to its own normal, so a chain
// a ~ b ~ c with a and c apart gives three different normals.
TEST(PanelRestNormals, BlendIsPerVertexAndIndependentOfOrder) {
    const Vec a{0, 0, 1}, b{0, 0.6f, 0.8f}, c{0, 1, 0};
    const Vec p{1.0f, -2.0f, 0.5f};
    // A near-duplicate within the grid cell and an unrelated vertex between them.
    const Vec nearP{1.000002f, -2.0f, 0.5f};
    const std::vector<Vec> positions{p, {5, 5, 5}, nearP, p};
    const std::vector<Vec> result = panelRestNormals(positions, {a, {1, 0, 0}, b, c}, kSmoothFlags);
    expectVecNear(result[0], dent::normalized(a + b), 1e-6f);
    expectVecNear(result[2], dent::normalized(a + b + c), 1e-6f);
    expectVecNear(result[3], dent::normalized(b + c), 1e-6f);
    EXPECT_TRUE(sameVec(result[1], {1, 0, 0}));

    const std::vector<Vec> reordered = panelRestNormals({p, nearP, {5, 5, 5}, p}, {c, b, {1, 0, 0}, a}, kSmoothFlags);
    expectVecNear(reordered[0], result[3], 1e-6f);
    expectVecNear(reordered[1], result[2], 1e-6f);
    expectVecNear(reordered[3], result[0], 1e-6f);
}

TEST(PanelRestNormals, LoneAndShortNormals) {
    const std::vector<Vec> positions{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {2, 0, 0}};
    const std::vector<Vec> normals{{0, 0, 2}, {0, 0.4f, 0}, {0, 0, 1}, {0, 0, -1}};
    const std::vector<Vec> result = panelRestNormals(positions, normals, kSmoothFlags);
    // A long normal counts itself and comes back unit length.
    EXPECT_TRUE(sameVec(result[0], {0, 0, 1}));
    // Too short to pass the 0.25 test against itself: left as it is.
    EXPECT_TRUE(sameVec(result[1], normals[1]));
    // Opposite duplicates stay apart.
    EXPECT_TRUE(sameVec(result[2], {0, 0, 1}));
    EXPECT_TRUE(sameVec(result[3], {0, 0, -1}));
}

TEST(PanelRestNormals, UnusableInputGivesTheNormalsBack) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<Vec> positions{{0, 0, 0}, {0, 0, 0}};
    const std::vector<Vec> normals{{0, 0, 1}, {0, 0.6f, 0.8f}};
    auto unchanged = [&](const std::vector<Vec>& out) {
        ASSERT_EQ(out.size(), normals.size());
        for (std::size_t i = 0; i < out.size(); ++i) EXPECT_TRUE(sameVec(out[i], normals[i])) << i;
    };
    for (std::uint32_t flags : {0u, 1u, 3u, 7u}) unchanged(panelRestNormals(positions, normals, flags));
    EXPECT_FALSE(sameVec(panelRestNormals(positions, normals, 6u)[0], normals[0]));

    EXPECT_EQ(panelRestNormals({{0, 0, 0}}, normals, kSmoothFlags).size(), 2u);
    unchanged(panelRestNormals({{0, 0, 0}}, normals, kSmoothFlags));
    unchanged(panelRestNormals({{0, 0, 0}, {0, nan, 0}}, normals, kSmoothFlags));
    unchanged(panelRestNormals({{0, 0, 0}, {inf, 0, 0}}, normals, kSmoothFlags));
    unchanged(panelRestNormals({{0, 0, 0}, {0, 0, -10000.5f}}, normals, kSmoothFlags));
    const std::vector<Vec> broken = panelRestNormals(positions, {{0, 0, 1}, {nan, 0, 0}}, kSmoothFlags);
    EXPECT_TRUE(sameVec(broken[0], {0, 0, 1}));
    EXPECT_TRUE(std::isnan(broken[1].x));
    EXPECT_TRUE(panelRestNormals({}, {}, kSmoothFlags).empty());
    // The largest accepted coordinate still blends.
    const std::vector<Vec> far{{10000, -10000, 10000}, {10000, -10000, 10000}};
    expectVecNear(panelRestNormals(far, normals, kSmoothFlags)[1], {0.0f, 0.3162f, 0.9487f}, 0.0001f);
}

// The sorted grouping against the map it replaced: generated meshes whose
// vertices repeat (exactly, within a grid step, across a step boundary) with
// normals near, apart and opposite, plus unusable input; the same bits.
TEST(PanelRestNormals, SortedGroupingGivesTheMapsBits) {
    Lcg rng{0xBEEFu};
    std::size_t blended = 0;
    for (int meshCase = 0; meshCase < 200; ++meshCase) {
        const std::size_t places = 1 + rng.below(60);
        std::vector<Vec> place;
        for (std::size_t p = 0; p < places; ++p)
            place.push_back({rng.between(-2.0f, 2.0f), rng.between(-2.0f, 2.0f), rng.between(-0.5f, 0.5f)});
        // Grid halves (m / 64 gives m * 1562.5) and the largest usable coordinates.
        place[0].x = static_cast<float>(static_cast<int>(rng.below(200)) - 100) / 64.0f;
        if (meshCase % 10 == 0) place[0] = {-9999.99f, 10000.0f, rng.between(-10000.0f, 10000.0f)};
        std::vector<Vec> positions, normals;
        const std::size_t vertices = 1 + rng.below(300);
        for (std::size_t i = 0; i < vertices; ++i) {
            Vec p = place[rng.below(static_cast<unsigned>(places))];
            if (rng.below(3) == 0) p.x += rng.between(-0.00002f, 0.00002f);
            positions.push_back(p);
            normals.push_back(Vec{rng.between(-1.0f, 1.0f), rng.between(-1.0f, 1.0f), rng.between(-1.0f, 1.0f)} *
                              (rng.below(8) == 0 ? 0.000001f : 1.0f));
        }
        if (meshCase % 40 == 39) positions[rng.below(static_cast<unsigned>(vertices))].y = 20000.0f;
        if (meshCase % 40 == 38) normals[rng.below(static_cast<unsigned>(vertices))].z = std::numeric_limits<float>::infinity();
        const std::uint32_t flags = meshCase % 25 == 24 ? 3u : kSmoothFlags;

        const std::vector<Vec> fast = panelRestNormals(positions, normals, flags);
        const std::vector<Vec> reference = dent::panelRestNormalsByMap(positions, normals, flags);
        ASSERT_EQ(fast.size(), reference.size());
        for (std::size_t i = 0; i < fast.size(); ++i) {
            ASSERT_EQ(std::memcmp(&fast[i], &reference[i], sizeof(Vec)), 0) << meshCase << " vertex " << i;
            blended += !sameVec(fast[i], normals[i]);
        }
    }
    EXPECT_GT(blended, 5000u);
}

}  // namespace
