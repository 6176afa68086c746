#include "panel/panel_lattice.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "deform/support/dent_cases.h"

namespace {

using dent::LatticeSample;
using dent::PanelLattice;
using dent::PanelShape;
using dent::SpanFold;
using dent::Vec;

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

bool sameVec(Vec a, Vec b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

bool samePositions(const std::vector<Vec>& a, const std::vector<Vec>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!sameVec(a[i], b[i])) return false;
    return true;
}

using testdeform::sameBits;

PanelLattice makeLattice(const PanelShape& shape, float minX = -0.6f, float maxX = 0.6f, unsigned segments = 6,
                         float z = 0.2f) {
    SpanFold fold;
    fold.init(minX, maxX, z, segments, shape);
    PanelLattice lattice;
    lattice.init(fold, shape);
    return lattice;
}

std::vector<Vec> restCentres(const PanelLattice& lattice) {
    std::vector<Vec> centres;
    for (const dent::SheetPoint& node : lattice.nodes) centres.push_back(node.rest[0]);
    return centres;
}

void expectRows(const PanelLattice& lattice, std::vector<float> expected) {
    ASSERT_EQ(lattice.rows.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(lattice.rows[i], expected[i], 1e-6f) << i;
}

// A generated panel: segments 2..12, width 0.02..2, length 0.25..3.5.
PanelLattice randomLattice(std::mt19937& rng) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const PanelShape shape{unit(rng) < 0.5f ? 1.0f : -1.0f, unit(rng) - 0.5f, 0.25f + 3.25f * unit(rng),
                           0.35f + 0.3f * unit(rng)};
    const float minX = unit(rng) - 1.0f;
    const unsigned segments = 2 + static_cast<unsigned>(unit(rng) * 10.99f);
    return makeLattice(shape, minX, minX + 0.02f + 1.98f * unit(rng), segments, unit(rng));
}

TEST(PanelLatticeInit, RowsWithAndWithoutACreaseRow) {
    const PanelLattice merged = makeLattice(PanelShape{1.0f, 0.1f, 1.2f, 0.5f});
    expectRows(merged, {0.1f, 0.3f, 0.5f, 0.7f, 0.9f, 1.1f, 1.3f});
    const PanelLattice extra = makeLattice(PanelShape{1.0f, 0.1f, 1.2f, 0.45f});
    expectRows(extra, {0.1f, 0.3f, 0.5f, 0.64f, 0.7f, 0.9f, 1.1f, 1.3f});
    const PanelLattice boot = makeLattice(PanelShape{-1.0f, 0.1f, 1.2f, 0.5f});
    expectRows(boot, {-1.3f, -1.1f, -0.9f, -0.7f, -0.5f, -0.3f, -0.1f});

    // Rows closer than a micrometre merge; a little farther they do not.
    EXPECT_EQ(makeLattice(PanelShape{1.0f, 0.0f, 1.2f, 0.5f + 3e-7f}).rows.size(), 7u);
    EXPECT_EQ(makeLattice(PanelShape{1.0f, 0.0f, 1.2f, 0.5f + 2e-6f}).rows.size(), 8u);
}

TEST(PanelLatticeInit, NodesRowByRowAtRest) {
    SpanFold fold;
    const PanelShape shape{1.0f, 0.1f, 1.2f, 0.45f};
    fold.init(-0.6f, 0.6f, 0.2f, 6, shape);
    PanelLattice lattice;
    lattice.init(fold, shape);
    lattice.init(fold, shape);  // a second init starts over
    ASSERT_EQ(lattice.columns.size(), 7u);
    for (unsigned i = 0; i < 7; ++i) EXPECT_EQ(lattice.columns[i], dent::spanStationX(fold, i));
    ASSERT_EQ(lattice.nodes.size(), 7u * 8u);
    EXPECT_TRUE(samePositions(lattice.accepted, restCentres(lattice)));
    EXPECT_EQ(lattice.blendTarget.size(), lattice.nodes.size());
    for (std::size_t r = 0; r < 8; ++r)
        for (std::size_t c = 0; c < 7; ++c)
            EXPECT_TRUE(sameVec(lattice.nodes[r * 7 + c].rest[0], Vec{lattice.columns[c], lattice.rows[r], 0.2f}));

    // The crease row belongs to the hinge side: its lengthwise probes stop at the crease.
    const dent::SheetPoint& onCrease = lattice.nodes[3 * 7 + 2];
    EXPECT_EQ(onCrease.rest[4].y, lattice.rows[3]);
    EXPECT_NEAR(onCrease.stepY, 0.002f, 1e-7f);
    EXPECT_NEAR(lattice.nodes[4 * 7 + 2].stepY, 0.004f, 1e-7f);

    const PanelLattice boot = makeLattice(PanelShape{-1.0f, 0.1f, 1.2f, 0.45f});
    const dent::SheetPoint& bootCrease = boot.nodes[4 * 7 + 2];  // y = -0.64
    EXPECT_EQ(bootCrease.rest[3].y, boot.rows[4]);
    EXPECT_NEAR(bootCrease.stepY, 0.002f, 1e-7f);
}

TEST(PanelLatticeInit, DegenerateInputLeavesItEmpty) {
    const PanelShape shape;
    for (const PanelLattice& lattice :
         {makeLattice(PanelShape{kNaN, 0.0f, 1.0f, 0.5f}), makeLattice(PanelShape{1.0f, 0.0f, kInf, 0.5f}),
          makeLattice(shape, 0.3f, 0.3f), makeLattice(shape, 0.5f, -0.5f), makeLattice(shape, kNaN, 0.5f),
          makeLattice(PanelShape{1.0f, 0.2f, 0.0f, 0.5f}), makeLattice(shape, -0.5f, 0.5f, 6, kNaN)}) {
        EXPECT_TRUE(lattice.columns.empty() && lattice.rows.empty() && lattice.nodes.empty() &&
                    lattice.accepted.empty() && lattice.blendTarget.empty());
        const LatticeSample s = lattice.sample(Vec{0.0f, 0.5f, 0.0f});
        EXPECT_EQ(s.weight[0] + s.weight[1] + s.weight[2], 1.0f);
        EXPECT_TRUE(sameVec(lattice.displacement(Vec{0.0f, 0.5f, 0.0f}, {}), Vec{0.0f, 0.0f, 0.0f}));
        EXPECT_TRUE(lattice.ordered({}));
        PanelLattice copy = lattice;
        std::vector<Vec> positions{{1.0f, 2.0f, 3.0f}};
        copy.keepOrdered(positions);
        EXPECT_TRUE(sameVec(positions[0], Vec{1.0f, 2.0f, 3.0f}));
        EXPECT_TRUE(copy.accepted.empty());
    }
}

TEST(PanelLatticeSample, CellTrianglesAndBorders) {
    const PanelLattice lattice = makeLattice(PanelShape{1.0f, 0.1f, 1.2f, 0.5f});  // 7 x 7
    const float x0 = lattice.columns[2], w = lattice.columns[3] - x0;
    const float y0 = lattice.rows[1], h = lattice.rows[2] - y0;
    const std::uint32_t base = 1 * 7 + 2;

    const LatticeSample diagonal = lattice.sample(Vec{x0 + 0.5f * w, y0 + 0.5f * h, 0.0f});
    EXPECT_EQ(diagonal.index[0], base);
    EXPECT_EQ(diagonal.index[1], base + 1);
    EXPECT_EQ(diagonal.index[2], base + 8);
    EXPECT_NEAR(diagonal.weight[0], 0.5f, 1e-5f);
    EXPECT_NEAR(diagonal.weight[2], 0.5f, 1e-5f);

    const LatticeSample upper = lattice.sample(Vec{x0 + 0.25f * w, y0 + 0.75f * h, 0.0f});
    EXPECT_EQ(upper.index[0], base);
    EXPECT_EQ(upper.index[1], base + 8);
    EXPECT_EQ(upper.index[2], base + 7);
    EXPECT_NEAR(upper.weight[0], 0.25f, 1e-5f);
    EXPECT_NEAR(upper.weight[1], 0.25f, 1e-5f);
    EXPECT_NEAR(upper.weight[2], 0.5f, 1e-5f);

    // Beyond the last column and below the first row: the border cell, clamped.
    const LatticeSample outside = lattice.sample(Vec{5.0f, -3.0f, 0.0f});
    EXPECT_EQ(outside.index[0], 5u);
    EXPECT_EQ(outside.index[1], 6u);
    EXPECT_EQ(outside.weight[0], 0.0f);
    EXPECT_EQ(outside.weight[1], 1.0f);
    EXPECT_EQ(outside.weight[2], 0.0f);

    // On the last column exactly: still the last cell.
    const LatticeSample onEdge = lattice.sample(Vec{lattice.columns[6], lattice.rows[6], 0.0f});
    EXPECT_EQ(onEdge.index[2], 6u * 7u + 6u);
    EXPECT_EQ(onEdge.weight[2], 1.0f);

    for (float bad : {kNaN, kInf, -kInf}) {
        const LatticeSample s = lattice.sample(Vec{bad, bad, 0.0f});
        for (int j = 0; j < 3; ++j) {
            EXPECT_LT(s.index[j], 49u);
            EXPECT_TRUE(s.weight[j] >= 0.0f && s.weight[j] <= 1.0f);
        }
    }
}

// Node displacements from an affine field come back as that field inside the
// grid and as its border value outside.
TEST(PanelLatticeDisplacement, ReproducesAffineFieldsOverGeneratedCases) {
    std::mt19937 rng(5301);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f), spread(-1.0f, 1.0f);
    for (int i = 0; i < 2000; ++i) {
        const PanelLattice lattice = randomLattice(rng);
        ASSERT_FALSE(lattice.nodes.empty());
        const Vec base{spread(rng), spread(rng), spread(rng)};
        const Vec alongX{spread(rng), spread(rng), spread(rng)};
        const Vec alongY{spread(rng), spread(rng), spread(rng)};
        auto field = [&](float x, float y) { return base + alongX * x + alongY * y; };
        std::vector<Vec> positions;
        for (const dent::SheetPoint& node : lattice.nodes)
            positions.push_back(node.rest[0] + field(node.rest[0].x, node.rest[0].y));

        const float x0 = lattice.columns.front(), x1 = lattice.columns.back();
        const float y0 = lattice.rows.front(), y1 = lattice.rows.back();
        const float x = x0 - 0.2f + (x1 - x0 + 0.4f) * unit(rng);
        const float y = y0 - 0.2f + (y1 - y0 + 0.4f) * unit(rng);
        const Vec expected = field(std::fmin(std::fmax(x, x0), x1), std::fmin(std::fmax(y, y0), y1));
        const Vec actual = lattice.displacement(Vec{x, y, 0.0f}, positions);
        EXPECT_NEAR(actual.x, expected.x, 2e-5f);
        EXPECT_NEAR(actual.y, expected.y, 2e-5f);
        EXPECT_NEAR(actual.z, expected.z, 2e-5f);
    }
}

TEST(PanelLatticeDisplacement, ExactlyZeroAtRestOverGeneratedCases) {
    std::mt19937 rng(5302);
    std::uniform_real_distribution<float> spread(-5.0f, 5.0f);
    const float odd[] = {kNaN, kInf, -kInf, 1e30f, -1e30f};
    for (int i = 0; i < 3000; ++i) {
        const PanelLattice lattice = randomLattice(rng);
        const std::vector<Vec> rest = restCentres(lattice);
        Vec p{spread(rng), spread(rng), spread(rng)};
        if (i % 10 == 0) p.x = odd[(i / 10) % 5];
        if (i % 15 == 0) p.y = odd[(i / 15) % 5];
        const Vec d = lattice.displacement(p, rest);
        ASSERT_TRUE(d.x == 0.0f && d.y == 0.0f && d.z == 0.0f) << i << ": " << d.x << " " << d.y << " " << d.z;
        ASSERT_TRUE(sameVec(lattice.displacement(p, lattice.accepted), d));
    }
}

TEST(PanelLatticeDisplacement, WrongSizeGivesNothing) {
    const PanelLattice lattice = makeLattice(PanelShape{});
    std::vector<Vec> positions = restCentres(lattice);
    for (Vec& p : positions) p.z += 1.0f;
    EXPECT_NEAR(lattice.displacement(Vec{0.1f, 0.3f, 0.0f}, positions).z, 1.0f, 1e-6f);
    positions.pop_back();
    EXPECT_TRUE(sameVec(lattice.displacement(Vec{0.1f, 0.3f, 0.0f}, positions), Vec{0.0f, 0.0f, 0.0f}));
}

TEST(PanelLatticeOrdered, FoldOverAndCrushing) {
    const PanelLattice lattice = makeLattice(PanelShape{});
    const std::size_t n = lattice.columns.size();
    const std::vector<Vec> rest = restCentres(lattice);
    EXPECT_TRUE(lattice.ordered(rest));

    std::vector<Vec> swapped = rest;
    std::swap(swapped[n + 2].x, swapped[n + 3].x);
    EXPECT_FALSE(lattice.ordered(swapped));

    // Every cell squeezed in x: a tenth of the rest area is the limit.
    auto squeezed = [&](float factor) {
        std::vector<Vec> positions = rest;
        for (Vec& p : positions) p.x *= factor;
        return positions;
    };
    EXPECT_TRUE(lattice.ordered(squeezed(0.11f)));
    EXPECT_FALSE(lattice.ordered(squeezed(0.09f)));
    EXPECT_FALSE(lattice.ordered(squeezed(-1.0f)));  // mirrored

    // Lifting and moving along z does not matter.
    std::vector<Vec> lifted = rest;
    for (Vec& p : lifted) p.z += 0.3f * p.y;
    EXPECT_TRUE(lattice.ordered(lifted));

    std::vector<Vec> broken = rest;
    broken[5].z = kNaN;
    EXPECT_FALSE(lattice.ordered(broken));
    broken = rest;
    broken[7].y = kInf;
    EXPECT_FALSE(lattice.ordered(broken));
    EXPECT_FALSE(lattice.ordered(std::vector<Vec>(rest.begin(), rest.end() - 1)));
}

TEST(PanelLatticeKeepOrdered, BlendsAFoldOverPartWay) {
    PanelLattice lattice = makeLattice(PanelShape{});
    const std::size_t n = lattice.columns.size();
    const std::vector<Vec> rest = lattice.accepted;
    const float cell = lattice.columns[3] - lattice.columns[2];
    const std::size_t moved = n + 2;
    std::vector<Vec> target = rest;
    target[moved].x += 1.5f * cell;
    target[moved].z += 0.1f;

    std::vector<Vec> positions = target;
    lattice.keepOrdered(positions);
    EXPECT_TRUE(lattice.ordered(positions));
    EXPECT_TRUE(samePositions(lattice.accepted, positions));
    EXPECT_GT(positions[moved].x, rest[moved].x + 0.1f * cell);
    EXPECT_LT(positions[moved].x, target[moved].x);
    for (std::size_t i = 0; i < positions.size(); ++i) {
        if (i != moved) {
            EXPECT_TRUE(sameVec(positions[i], rest[i])) << i;
        }
    }

    // The largest ordered blend to 2^-16: one step further folds over.
    const float fraction = std::round((positions[moved].z - rest[moved].z) / 0.1f * 65536.0f) / 65536.0f;
    EXPECT_GT(fraction, 0.5f);
    EXPECT_LT(fraction, 0.7f);
    std::vector<Vec> further = rest;
    const float next = fraction + 1.0f / 65536.0f;
    further[moved] = rest[moved] + (target[moved] - rest[moved]) * next;
    EXPECT_FALSE(lattice.ordered(further));
}

TEST(PanelLatticeKeepOrdered, OrderedPositionsPassAndAreAccepted) {
    PanelLattice lattice = makeLattice(PanelShape{-1.0f, 0.2f, 1.0f, 0.55f});
    std::vector<Vec> positions = lattice.accepted;
    for (Vec& p : positions) p = p + Vec{0.01f, -0.02f, 0.05f};
    const std::vector<Vec> asked = positions;
    lattice.keepOrdered(positions);
    EXPECT_TRUE(samePositions(positions, asked));
    EXPECT_TRUE(samePositions(lattice.accepted, asked));
}

TEST(PanelLatticeKeepOrdered, NonFiniteTargetKeepsTheAcceptedGrid) {
    PanelLattice lattice = makeLattice(PanelShape{});
    std::vector<Vec> step = lattice.accepted;
    for (Vec& p : step) p.y += 0.01f;
    lattice.keepOrdered(step);
    const std::vector<Vec> before = lattice.accepted;

    std::vector<Vec> positions = before;
    positions[3].y = kNaN;
    lattice.keepOrdered(positions);
    EXPECT_TRUE(samePositions(positions, before));
    EXPECT_TRUE(samePositions(lattice.accepted, before));

    positions = before;
    positions[3].x = 1e38f;
    positions[4].x = -1e38f;
    lattice.keepOrdered(positions);
    EXPECT_TRUE(lattice.ordered(positions));
}

TEST(PanelLatticeKeepOrdered, WrongSizeOrItsOwnAcceptedIsLeftAlone) {
    PanelLattice lattice = makeLattice(PanelShape{});
    const std::vector<Vec> before = lattice.accepted;
    std::vector<Vec> shorter(before.begin(), before.end() - 1);
    shorter[0].x += 5.0f;
    const std::vector<Vec> asked = shorter;
    lattice.keepOrdered(shorter);
    EXPECT_TRUE(samePositions(shorter, asked));
    EXPECT_TRUE(samePositions(lattice.accepted, before));

    lattice.accepted[1].x += 10.0f;  // folded over by hand
    const std::vector<Vec> handMade = lattice.accepted;
    lattice.keepOrdered(lattice.accepted);
    EXPECT_TRUE(samePositions(lattice.accepted, handMade));
}

// keepOrdered step by step with a fresh copy of the target: the reference for
// the lattice's own, which blends in the buffer it keeps.
void referenceKeepOrdered(const PanelLattice& lattice, std::vector<Vec>& accepted, std::vector<Vec>& positions) {
    if (!lattice.ordered(positions)) {
        const std::vector<Vec> target = positions;
        auto blend = [&](float fraction) {
            for (std::size_t i = 0; i < positions.size(); ++i)
                positions[i] = accepted[i] + (target[i] - accepted[i]) * fraction;
        };
        float lo = 0.0f, hi = 1.0f;
        for (int step = 0; step < 16; ++step) {
            const float mid = (lo + hi) * 0.5f;
            blend(mid);
            (lattice.ordered(positions) ? lo : hi) = mid;
        }
        blend(lo);
        if (!lattice.ordered(positions)) positions = accepted;
    }
    accepted = positions;
}

// From an ordered accepted grid, whatever positions are asked for, the result
// is ordered, accepted, and bit for bit the reference's, whether the blend
// buffer is the one init sized, stale from the last hit, or taken away.
TEST(PanelLatticeKeepOrdered, NeverLeavesAFoldedCellOverGeneratedCases) {
    std::mt19937 rng(5303);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f), spread(-1.0f, 1.0f);
    int blended = 0;
    for (int i = 0; i < 1000; ++i) {
        PanelLattice lattice = randomLattice(rng);
        const float cellX = lattice.columns[1] - lattice.columns[0];
        const float cellY = lattice.rows[1] - lattice.rows[0];
        for (int hit = 0; hit < 3; ++hit) {
            ASSERT_TRUE(lattice.ordered(lattice.accepted));
            std::vector<Vec> positions = lattice.accepted;
            const float scale = 2.0f * unit(rng) * unit(rng);
            const Vec shift{spread(rng) * cellX, spread(rng) * cellY, spread(rng)};
            for (Vec& p : positions) {
                if (unit(rng) < 0.3f) p = p + Vec{spread(rng) * cellX, spread(rng) * cellY, spread(rng)} * scale;
                p = p + shift;
            }
            if (unit(rng) < 0.05f) positions[static_cast<std::size_t>(unit(rng) * 0.99f * positions.size())].x = kNaN;
            const bool wasOrdered = lattice.ordered(positions);
            std::vector<Vec> expected = positions, expectedAccepted = lattice.accepted;
            referenceKeepOrdered(lattice, expectedAccepted, expected);
            if (i % 4 == 0 && hit == 1) std::vector<Vec>().swap(lattice.blendTarget);
            lattice.keepOrdered(positions);
            blended += !wasOrdered;
            ASSERT_TRUE(lattice.ordered(positions)) << i << " " << hit;
            ASSERT_TRUE(samePositions(lattice.accepted, positions));
            ASSERT_TRUE(sameBits(positions, expected)) << i << " " << hit;
            ASSERT_TRUE(sameBits(lattice.accepted, expectedAccepted));
            if (!wasOrdered) {
                ASSERT_EQ(lattice.blendTarget.size(), positions.size()) << "grown when it was short";
            }
        }
    }
    EXPECT_GT(blended, 300);  // the cases exercise the blending, not only the pass-through
}

TEST(PanelLatticeMove, TakesOverAndEmptiesTheSource) {
    PanelLattice source = makeLattice(PanelShape{});
    const std::vector<float> columns = source.columns, rows = source.rows;
    const std::vector<Vec> accepted = source.accepted;
    const dent::SheetPoint* nodes = source.nodes.data();
    const Vec* blendTarget = source.blendTarget.data();

    PanelLattice target = makeLattice(PanelShape{-1.0f, 0.0f, 2.0f, 0.4f}, -1.0f, 1.0f, 12);
    target = std::move(source);
    EXPECT_EQ(target.columns, columns);
    EXPECT_EQ(target.rows, rows);
    EXPECT_EQ(target.nodes.data(), nodes);  // storage taken over, not copied
    EXPECT_TRUE(samePositions(target.accepted, accepted));
    EXPECT_EQ(target.blendTarget.data(), blendTarget);
    EXPECT_TRUE(source.columns.empty() && source.rows.empty() && source.nodes.empty() && source.accepted.empty() &&
                source.blendTarget.empty());

    PanelLattice& alias = target;
    target = std::move(alias);
    EXPECT_EQ(target.nodes.data(), nodes);
    EXPECT_EQ(target.rows, rows);
}

}  // namespace
