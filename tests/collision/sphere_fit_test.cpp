#include "collision/sphere_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "support/lcg.h"

namespace {

using dent::ColSphere;
using dent::Crush;
using dent::fitSpheres;

ColSphere sphere(float x, float y, float z, float r, std::uint8_t piece = 0, std::uint8_t tag = 0) {
    return ColSphere{{x, y, z}, r, {tag, piece, 7, 9}};
}

bool sameBits(const ColSphere& a, const ColSphere& b) { return std::memcmp(&a, &b, sizeof(ColSphere)) == 0; }

// Distance in units of b's last place.
float ulpsApart(float a, float b) {
    return std::fabs(a - b) / (std::nextafter(std::fabs(b), std::numeric_limits<float>::infinity()) - std::fabs(b));
}

TEST(FitSpheres, FrontSphereRefittedWithFourRefinements) {
    const std::vector<ColSphere> rest{sphere(0.2f, 1.6f, 0.5f, 0.4f, 3, 42)};
    const std::vector<ColSphere> fitted = fitSpheres(rest, Crush{0.3f, 0.0f}, -2.0f, 2.0f, true);
    ASSERT_EQ(fitted.size(), 5u);
    const ColSphere& main = fitted[0];
    EXPECT_EQ(main.center.x, 0.2f);
    EXPECT_EQ(main.center.z, 0.5f);
    EXPECT_NEAR(main.center.y, 1.3923f, 0.0001f);
    EXPECT_NEAR(main.radius, 0.3077f, 0.0001f);
    const float shrink = 0.4f - main.radius;
    EXPECT_NEAR(shrink, 0.0923f, 0.0001f);
    const float expectX[4] = {0.2f + shrink, 0.2f - shrink, 0.2f, 0.2f};
    const float expectZ[4] = {0.5f, 0.5f, 0.5f + shrink, 0.5f - shrink};
    for (int k = 0; k < 4; ++k) {
        const ColSphere& extra = fitted[1 + k];
        EXPECT_EQ(extra.center.x, expectX[k]) << k;
        EXPECT_EQ(extra.center.y, main.center.y) << k;
        EXPECT_EQ(extra.center.z, expectZ[k]) << k;
        EXPECT_EQ(extra.radius, main.radius) << k;
        EXPECT_EQ(std::memcmp(extra.surface, rest[0].surface, 4), 0) << k;
    }
    EXPECT_EQ(std::memcmp(main.surface, rest[0].surface, 4), 0);

    EXPECT_EQ(fitSpheres(rest, Crush{0.3f, 0.0f}, -2.0f, 2.0f, false).size(), 1u);
}

TEST(FitSpheres, ZeroCrushKeepsEverySphereUpToRounding) {
    Lcg rng{7u};
    std::vector<ColSphere> rest;
    for (int i = 0; i < 32; ++i) {
        rest.push_back(sphere(rng.between(-1.0f, 1.0f), rng.between(-2.5f, 2.5f), rng.between(-0.5f, 1.0f),
                              rng.between(0.05f, 1.0f), static_cast<std::uint8_t>(i % 20)));
    }
    const std::vector<ColSphere> fitted = fitSpheres(rest, Crush{0.0f, 0.0f}, -2.5f, 2.5f, true);
    ASSERT_EQ(fitted.size(), rest.size());
    for (std::size_t i = 0; i < rest.size(); ++i) {
        EXPECT_EQ(fitted[i].center.x, rest[i].center.x);
        EXPECT_EQ(fitted[i].center.z, rest[i].center.z);
        // (lo + hi) / 2 and (hi - lo) / 2 round differently from cy and r.
        EXPECT_LE(ulpsApart(fitted[i].center.y, rest[i].center.y), 4.0f) << i;
        EXPECT_LE(ulpsApart(fitted[i].radius, rest[i].radius), 4.0f) << i;
    }
}

TEST(FitSpheres, MiddleSpheresAndFixedPiecesStay) {
    const Crush crush{0.5f, 0.5f};
    // Whole extent within 0.35 * minY .. 0.35 * maxY: untouched ends.
    const std::vector<ColSphere> middle{sphere(0.0f, 0.25f, 0.0f, 0.25f), sphere(0.0f, -0.375f, 0.0f, 0.25f)};
    const std::vector<ColSphere> fittedMiddle = fitSpheres(middle, crush, -2.0f, 2.0f, true);
    ASSERT_EQ(fittedMiddle.size(), 2u);
    EXPECT_TRUE(sameBits(fittedMiddle[0], middle[0]));
    EXPECT_TRUE(sameBits(fittedMiddle[1], middle[1]));

    for (std::uint8_t piece : {13, 14, 15, 16}) {
        const std::vector<ColSphere> front{sphere(0.3f, 1.9f, 0.2f, 0.4f, piece)};
        const std::vector<ColSphere> fitted = fitSpheres(front, crush, -2.0f, 2.0f, true);
        ASSERT_EQ(fitted.size(), 1u);
        EXPECT_TRUE(sameBits(fitted[0], front[0])) << int(piece);
    }
    for (std::uint8_t piece : {12, 17}) {
        const std::vector<ColSphere> front{sphere(0.3f, 1.9f, 0.2f, 0.4f, piece)};
        const std::vector<ColSphere> fitted = fitSpheres(front, crush, -2.0f, 2.0f, true);
        EXPECT_LT(fitted[0].center.y, 1.9f) << int(piece);
    }
}

TEST(FitSpheres, ShortModelSidesDoNotMove) {
    const std::vector<ColSphere> rest{sphere(0.0f, 0.3f, 0.0f, 0.2f), sphere(0.0f, -0.3f, 0.0f, 0.2f)};
    const std::vector<ColSphere> fitted = fitSpheres(rest, Crush{0.3f, 0.3f}, -0.5f, 0.5f, true);
    ASSERT_EQ(fitted.size(), 2u);
    EXPECT_LE(ulpsApart(fitted[0].center.y, 0.3f), 4.0f);
    EXPECT_LE(ulpsApart(fitted[1].center.y, -0.3f), 4.0f);
    EXPECT_LE(ulpsApart(fitted[0].radius, 0.2f), 4.0f);
    EXPECT_LE(ulpsApart(fitted[1].radius, 0.2f), 4.0f);
}

// The refinement threshold: step the compression one float at a time across
// the point where the shrink passes 0.005. (The fitted radius comes from ends
// at least 0.175 from the origin, so the shrink moves in steps far coarser than
// the last place of 0.005 and never hits 0.005f itself.)
TEST(FitSpheres, RefinementStartsJustAboveTheThreshold) {
    const std::vector<ColSphere> rest{sphere(0.0f, 1.5f, 0.0f, 0.015f)};
    float front = 0.4330f;
    std::vector<ColSphere> fitted = fitSpheres(rest, Crush{front, 0.0f}, -2.0f, 2.0f, true);
    float shrink = rest[0].radius - fitted[0].radius;
    ASSERT_LE(shrink, 0.005f);
    int step = 0;
    for (; step < 100000 && shrink <= 0.005f; ++step) {
        ASSERT_EQ(fitted.size(), 1u) << front;
        front = std::nextafter(front, 1.0f);
        fitted = fitSpheres(rest, Crush{front, 0.0f}, -2.0f, 2.0f, true);
        shrink = rest[0].radius - fitted[0].radius;
    }
    ASSERT_GT(step, 1);
    ASSERT_GT(shrink, 0.005f);
    EXPECT_LT(shrink, 0.0050001f);
    EXPECT_EQ(fitted.size(), 5u);
}

TEST(FitSpheres, BudgetOf64RefinesTheFirstEightOf32) {
    std::vector<ColSphere> rest;
    for (int i = 0; i < 32; ++i) rest.push_back(sphere(0.01f * i, 1.6f, 0.0f, 0.4f, 2, static_cast<std::uint8_t>(i)));
    const std::vector<ColSphere> fitted = fitSpheres(rest, Crush{0.3f, 0.0f}, -2.0f, 2.0f, true);
    ASSERT_EQ(fitted.size(), 64u);
    ASSERT_GE(fitted.capacity(), 64u);
    for (int i = 0; i < 8; ++i) {
        for (int k = 0; k < 5; ++k) EXPECT_EQ(fitted[5 * i + k].surface[0], i) << i << " " << k;
    }
    for (int i = 8; i < 32; ++i) EXPECT_EQ(fitted[40 + (i - 8)].surface[0], i) << i;
}

TEST(FitSpheres, UnusableInput) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<ColSphere> rest{sphere(0.0f, 1.6f, 0.0f, 0.4f), sphere(0.0f, nan, 0.0f, 0.4f),
                                      sphere(0.0f, 1.6f, 0.0f, inf)};
    for (Crush crush : {Crush{nan, 0.0f}, Crush{0.3f, inf}}) {
        const std::vector<ColSphere> fitted = fitSpheres(rest, crush, -2.0f, 2.0f, true);
        ASSERT_EQ(fitted.size(), 3u);
        for (int i = 0; i < 3; ++i) EXPECT_TRUE(sameBits(fitted[i], rest[i]));
    }
    EXPECT_EQ(fitSpheres(rest, Crush{0.3f, 0.0f}, -2.0f, nan, true).size(), 3u);

    // Non-finite spheres pass through; the usable one is still refitted.
    const std::vector<ColSphere> fitted = fitSpheres(rest, Crush{0.3f, 0.0f}, -2.0f, 2.0f, true);
    ASSERT_EQ(fitted.size(), 7u);
    EXPECT_TRUE(sameBits(fitted[5], rest[1]));
    EXPECT_TRUE(sameBits(fitted[6], rest[2]));

    // Too many rest spheres for the budget: all fitted, none refined, none dropped.
    const std::vector<ColSphere> crowded = fitSpheres(std::vector<ColSphere>(65, rest[0]), Crush{0.3f, 0.0f}, -2.0f,
                                                      2.0f, true);
    ASSERT_EQ(crowded.size(), 65u);
    for (const ColSphere& s : crowded) EXPECT_TRUE(sameBits(s, fitted[0]));
    EXPECT_TRUE(fitSpheres({}, Crush{0.3f, 0.0f}, -2.0f, 2.0f, true).empty());
}

// Over many generated models: never more than 64 spheres, every rest sphere
// present in order with its surface, each followed by none or four
// refinements, and a refinement skipped only when the budget is short.
TEST(FitSpheres, BudgetNeverDropsALaterSphere) {
    Lcg rng{99u};
    for (int model = 0; model < 3000; ++model) {
        const float maxY = rng.between(0.3f, 3.0f);
        const float minY = -rng.between(0.3f, 3.0f);
        const Crush crush{rng.between(0.0f, 0.3f * maxY), rng.between(0.0f, 0.3f * -minY)};
        const bool refine = rng.unit() < 0.8f;
        const unsigned count = rng.below(65);
        std::vector<ColSphere> rest;
        for (unsigned i = 0; i < count; ++i) {
            rest.push_back(sphere(rng.between(-1.0f, 1.0f), rng.between(minY, maxY), rng.between(-0.5f, 1.0f),
                                  rng.between(0.02f, 1.5f), static_cast<std::uint8_t>(rng.below(20)),
                                  static_cast<std::uint8_t>(i)));
        }
        const std::vector<ColSphere> fitted = fitSpheres(rest, crush, minY, maxY, refine);
        ASSERT_LE(fitted.size(), 64u) << model;
        std::size_t k = 0;
        for (unsigned i = 0; i < count; ++i) {
            ASSERT_LT(k, fitted.size()) << model << " sphere " << i;
            const ColSphere& main = fitted[k];
            ASSERT_EQ(std::memcmp(main.surface, rest[i].surface, 4), 0) << model << " sphere " << i;
            ASSERT_EQ(main.center.x, rest[i].center.x);
            ASSERT_EQ(main.center.z, rest[i].center.z);
            ++k;
            const bool refined = k < fitted.size() && fitted[k].surface[0] == rest[i].surface[0];
            const float shrink = rest[i].radius - main.radius;
            if (refined) {
                ASSERT_TRUE(refine);
                ASSERT_GT(shrink, 0.005f);
                for (int extra = 0; extra < 4; ++extra, ++k) {
                    ASSERT_EQ(fitted[k].surface[0], rest[i].surface[0]);
                    ASSERT_EQ(fitted[k].radius, main.radius);
                }
            } else if (refine && shrink > 0.005f) {
                ASSERT_GT(k + 4 + (count - i - 1), 64u) << model << " refinement skipped within budget";
            }
        }
        ASSERT_EQ(k, fitted.size()) << model;
    }
}

}  // namespace
