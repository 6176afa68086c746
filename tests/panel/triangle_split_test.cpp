#include "panel/triangle_split.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "support/lcg.h"

namespace {

using dent::PanelLattice;
using dent::PanelShape;
using dent::PanelTriangle;
using dent::PanelVertex;
using dent::SpanFold;
using dent::Vec;

// Corner k carries distinct normals, colours and texture coordinates.
PanelVertex corner(Vec p, int k) {
    PanelVertex v{};
    v.position = p;
    v.normal = dent::normalized(Vec{0.2f * k, 0.1f, 1.0f});
    for (int c = 0; c < 4; ++c) v.color[c] = 40.0f * k + 10.0f * c;
    for (int set = 0; set < dent::kPanelUvSets; ++set) {
        v.uv[set][0] = 0.25f * k + set;
        v.uv[set][1] = 1.0f - 0.25f * k;
    }
    return v;
}

PanelTriangle triangle(Vec a, Vec b, Vec c, std::uint32_t material = 3) {
    return PanelTriangle{{corner(a, 0), corner(b, 1), corner(c, 2)}, material};
}

bool sameVertex(const PanelVertex& a, const PanelVertex& b) { return std::memcmp(&a, &b, sizeof(PanelVertex)) == 0; }

bool sameTriangle(const PanelTriangle& a, const PanelTriangle& b) {
    return std::memcmp(&a, &b, sizeof(PanelTriangle)) == 0;
}

double area(const PanelTriangle& t) {
    const Vec p = t.vertices[0].position, q = t.vertices[1].position, r = t.vertices[2].position;
    const double ux = double(q.x) - p.x, uy = double(q.y) - p.y, uz = double(q.z) - p.z;
    const double vx = double(r.x) - p.x, vy = double(r.y) - p.y, vz = double(r.z) - p.z;
    const double cx = uy * vz - uz * vy, cy = uz * vx - ux * vz, cz = ux * vy - uy * vx;
    return 0.5 * std::sqrt(cx * cx + cy * cy + cz * cz);
}

std::vector<int> sides(const PanelTriangle& t) {
    return {t.vertices[0].side, t.vertices[1].side, t.vertices[2].side};
}

// One corner beyond the crease: the fanned quadrilateral before the line comes
// first, then the triangle beyond; the new corners lie exactly on the line,
// are shared bit for bit by both sides and carry interpolated attributes.
TEST(SplitCrease, OneCornerBeyondGivesQuadrilateralThenTriangle) {
    for (float sign : {1.0f, -1.0f}) {
        const PanelTriangle t = triangle({0, 0, 0}, {1, 0, 0.5f}, {0, sign * 1.0f, 0});
        const std::vector<PanelTriangle> pieces = dent::splitCrease(t, sign, 0.5f);
        ASSERT_EQ(pieces.size(), 3u) << sign;
        EXPECT_EQ(sides(pieces[0]), (std::vector<int>{0, 0, 0}));
        EXPECT_EQ(sides(pieces[1]), (std::vector<int>{0, 0, 0}));
        EXPECT_EQ(sides(pieces[2]), (std::vector<int>{1, 1, 1}));
        for (const PanelTriangle& piece : pieces) EXPECT_EQ(piece.material, 3u);

        const PanelVertex& x12 = pieces[0].vertices[2];  // on edge corner 1 -> corner 2
        const PanelVertex& x20 = pieces[1].vertices[2];  // on edge corner 2 -> corner 0
        EXPECT_TRUE(sameVertex(pieces[0].vertices[0], t.vertices[0]));
        EXPECT_TRUE(sameVertex(pieces[1].vertices[1], x12));
        EXPECT_EQ(x12.position.y, 0.5f / sign);
        EXPECT_EQ(x20.position.y, 0.5f / sign);
        EXPECT_EQ(x12.position.x, 0.5f);
        EXPECT_EQ(x12.position.z, 0.25f);
        EXPECT_EQ(x12.color[0], 60.0f);
        EXPECT_EQ(x12.uv[5][0], 5.375f);
        EXPECT_NEAR(dent::length(x12.normal), 1.0f, 1e-6f);
        EXPECT_NEAR(x20.normal.x, dent::normalized(t.vertices[2].normal + t.vertices[0].normal).x, 1e-6f);

        // The high side: (x12, corner 2, x20), same crossing values as below.
        EXPECT_EQ(pieces[2].vertices[0].position.y, x12.position.y);
        EXPECT_EQ(pieces[2].vertices[0].position.x, x12.position.x);
        EXPECT_EQ(std::memcmp(pieces[2].vertices[0].uv, x12.uv, sizeof x12.uv), 0);
        EXPECT_EQ(pieces[2].vertices[1].position.y, sign);
        EXPECT_EQ(std::memcmp(&pieces[2].vertices[2].normal, &x20.normal, sizeof(Vec)), 0);

        EXPECT_NEAR(area(pieces[0]) + area(pieces[1]) + area(pieces[2]), area(t), 1e-6);
    }
}

TEST(SplitCrease, UncutTrianglesComeBackWithTheirSide) {
    PanelTriangle before = triangle({0, 0, 0}, {1, 0, 0}, {0, 0.4f, 0});
    for (PanelVertex& v : before.vertices) v.side = 1;
    std::vector<PanelTriangle> pieces = dent::splitCrease(before, 1.0f, 0.5f);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(sides(pieces[0]), (std::vector<int>{0, 0, 0}));
    pieces[0].vertices[0].side = pieces[0].vertices[1].side = pieces[0].vertices[2].side = 1;
    EXPECT_TRUE(sameTriangle(pieces[0], before));

    // One corner on the line, two beyond: whole, beyond.
    const PanelTriangle touching = triangle({0, 0.5f, 0}, {1, 0.9f, 0}, {0, 1.0f, 0});
    pieces = dent::splitCrease(touching, 1.0f, 0.5f);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(sides(pieces[0]), (std::vector<int>{1, 1, 1}));

    // Boot: sign -1 puts y = -0.8 beyond s = 0.5.
    pieces = dent::splitCrease(triangle({0, -0.6f, 0}, {1, -0.8f, 0}, {0, -0.9f, 0}), -1.0f, 0.5f);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(sides(pieces[0]), (std::vector<int>{1, 1, 1}));
}

// A corner on the line with the other two on opposite sides: one triangle per
// side, the zero-area fan piece dropped.
TEST(SplitCrease, CornerOnTheLineGivesOnePiecePerSide) {
    const PanelTriangle t = triangle({0, 0.5f, 0}, {1, 0, 0}, {1, 1, 0});
    const std::vector<PanelTriangle> pieces = dent::splitCrease(t, 1.0f, 0.5f);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(sides(pieces[0]), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(sides(pieces[1]), (std::vector<int>{1, 1, 1}));
    EXPECT_NEAR(area(pieces[0]), 0.25, 1e-7);
    EXPECT_NEAR(area(pieces[1]), 0.25, 1e-7);
}

TEST(ClipFamily, PolygonsPerSide) {
    PanelTriangle t = triangle({0, 0, 0}, {2, 0, 0}, {0, 2, 0});
    t.vertices[0].side = 0;
    t.vertices[1].side = 1;
    t.vertices[2].side = 0;

    const std::vector<PanelVertex> low = dent::clipWidth(t, 0.5f, false);
    const std::vector<PanelVertex> high = dent::clipWidth(t, 0.5f, true);
    ASSERT_EQ(low.size(), 4u);
    ASSERT_EQ(high.size(), 3u);
    EXPECT_EQ(low[1].position.x, 0.5f);
    EXPECT_EQ(low[1].side, 0);   // from corner 0's edge
    EXPECT_EQ(high[0].side, 0);  // same crossing, started at corner 0
    EXPECT_EQ(high[2].side, 1);  // crossing on edge corner 1 -> corner 2
    EXPECT_EQ(high[2].position.x, 0.5f);

    // Corners on the line belong to both sides.
    EXPECT_EQ(dent::clipWidth(t, 0.0f, true).size(), 3u);
    // The far side keeps the two corners on the line, each also met as a
    // crossing of its edge with the corner beyond: a polygon without area.
    const std::vector<PanelVertex> sliver = dent::clipWidth(t, 0.0f, false);
    ASSERT_EQ(sliver.size(), 4u);
    for (const PanelVertex& v : sliver) EXPECT_EQ(v.position.x, 0.0f);
    EXPECT_EQ(dent::splitWidth(t, 0.0f).size(), 1u);
    EXPECT_EQ(dent::clipWidth(t, 3.0f, true).size(), 0u);

    const std::vector<PanelVertex> beyond = dent::clipCrease(t, 1.0f, 1.0f, true);
    ASSERT_EQ(beyond.size(), 3u);
    for (const PanelVertex& v : beyond) EXPECT_GE(v.position.y, 1.0f);
    EXPECT_EQ(beyond[0].side, 0);
    EXPECT_EQ(dent::clipCrease(t, 1.0f, 1.0f, false).size(), 4u);
}

TEST(SplitWidth, CornerOnTheLineAndSidesCarried) {
    const PanelTriangle t = triangle({0.5f, 0, 0}, {1, 0, 0}, {1, 1, 0});
    std::vector<PanelTriangle> pieces = dent::splitWidth(t, 0.5f);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_TRUE(sameTriangle(pieces[0], t));

    PanelTriangle mixed = triangle({0, 0, 0}, {1, 0, 0}, {1, 1, 0});
    mixed.vertices[1].side = 1;
    pieces = dent::splitWidth(mixed, 0.5f);
    ASSERT_EQ(pieces.size(), 3u);
    double total = 0.0;
    for (const PanelTriangle& piece : pieces) total += area(piece);
    EXPECT_NEAR(total, area(mixed), 1e-7);
    // Low side first: the single piece left of x = 0.5.
    for (const PanelVertex& v : pieces[0].vertices) EXPECT_LE(v.position.x, 0.5f);
    for (int k = 1; k < 3; ++k)
        for (const PanelVertex& v : pieces[k].vertices) EXPECT_GE(v.position.x, 0.5f);
    int beyond = 0;
    for (const PanelTriangle& piece : pieces)
        for (const PanelVertex& v : piece.vertices) beyond += v.side;
    EXPECT_GT(beyond, 0);
}

TEST(SplitLatticeDiagonal, CutsAlongTheCellDiagonal) {
    const PanelTriangle t = triangle({0.1f, 0.9f, 0}, {0.9f, 0.1f, 0}, {0.8f, 0.9f, 0});
    const std::vector<PanelTriangle> pieces = dent::splitLatticeDiagonal(t, 0.0f, 0.0f, 1.0f, 1.0f);
    ASSERT_EQ(pieces.size(), 3u);
    double total = 0.0;
    for (const PanelTriangle& piece : pieces) {
        total += area(piece);
        float lowest = 1.0f, highest = -1.0f;
        for (const PanelVertex& v : piece.vertices) {
            const float d = v.position.x - v.position.y;
            lowest = std::fmin(lowest, d);
            highest = std::fmax(highest, d);
        }
        EXPECT_TRUE(highest <= 1e-6f || lowest >= -1e-6f);
    }
    EXPECT_NEAR(total, area(t), 1e-7);
}

TEST(SplitFamily, UnusableInputPassesTheTriangleThrough) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const PanelTriangle t = triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
    PanelTriangle broken = t;
    broken.vertices[1].position.y = nan;

    for (const std::vector<PanelTriangle>& out :
         {dent::splitCrease(broken, 1.0f, 0.5f), dent::splitWidth(broken, 0.5f),
          dent::splitLatticeDiagonal(broken, 0, 0, 1, 1)}) {
        ASSERT_EQ(out.size(), 1u);
        EXPECT_TRUE(sameTriangle(out[0], broken));
    }
    for (const std::vector<PanelTriangle>& out :
         {dent::splitCrease(t, 1.0f, nan), dent::splitWidth(t, inf), dent::splitLatticeDiagonal(t, 0, 0, 0.0f, 1),
          dent::splitLatticeDiagonal(t, 0, 0, 1, nan)}) {
        ASSERT_EQ(out.size(), 1u);
        EXPECT_TRUE(sameTriangle(out[0], t));
    }
    EXPECT_TRUE(dent::clipCrease(t, 1.0f, nan, false).empty());
    EXPECT_TRUE(dent::clipWidth(broken, 0.5f, true).empty());

    PanelShape shape;
    shape.length = nan;
    const std::vector<PanelTriangle> surface = dent::splitPanelSurface(t, shape, 0.0f, 1.0f, 6);
    ASSERT_EQ(surface.size(), 1u);
    EXPECT_TRUE(sameTriangle(surface[0], t));
}

// A span of 0.0005 makes no station cuts, but the crease and the five rows still cut.
TEST(SplitPanelSurface, NarrowSpanCutsOnlyCreaseAndRows) {
    PanelShape shape;
    shape.sign = 1.0f;
    shape.start = 0.0f;
    shape.length = 1.2f;
    shape.crease = 0.45f;
    const PanelTriangle t = triangle({0.0f, 0.0f, 0}, {0.0005f, 0.0f, 0}, {0.0f, 1.2f, 0});
    const std::vector<PanelTriangle> narrow = dent::splitPanelSurface(t, shape, 0.0f, 0.0005f, 6);
    const std::vector<PanelTriangle> none = dent::splitPanelSurface(t, shape, 0.0f, 0.0f, 6);
    ASSERT_EQ(narrow.size(), none.size());
    for (std::size_t i = 0; i < narrow.size(); ++i) EXPECT_TRUE(sameTriangle(narrow[i], none[i])) << i;

    // Seven bands along the length (six sixths, one split by the crease at 0.54).
    const float bounds[] = {0.0f, 0.2f, 0.4f, 0.54f, 0.6f, 0.8f, 1.0f, 1.2f};
    std::vector<int> perBand(7, 0);
    double total = 0.0;
    for (const PanelTriangle& piece : narrow) {
        total += area(piece);
        const float cy = (piece.vertices[0].position.y + piece.vertices[1].position.y + piece.vertices[2].position.y) / 3;
        int band = 0;
        while (band < 6 && cy > bounds[band + 1]) ++band;
        ++perBand[band];
        for (const PanelVertex& v : piece.vertices) {
            EXPECT_GE(v.position.y, bounds[band] - 1e-6f);
            EXPECT_LE(v.position.y, bounds[band + 1] + 1e-6f);
            EXPECT_EQ(v.side, band >= 3 ? 1 : 0);
        }
    }
    for (int band = 0; band < 7; ++band) EXPECT_GT(perBand[band], 0) << band;
    EXPECT_NEAR(total, area(t), 1e-8);

    // A wider span also cuts at the five interior stations.
    EXPECT_GT(dent::splitPanelSurface(t, shape, 0.0f, 0.0012f, 6).size(), narrow.size());
}

struct Panel {
    PanelShape shape;
    SpanFold fold;
    PanelLattice lattice;
    float lowY, highY;  // y extent of the panel
};

Panel makePanel(Lcg& rng) {
    Panel panel;
    panel.shape.sign = rng.unit() < 0.5f ? 1.0f : -1.0f;
    panel.shape.start = rng.between(-2.0f, 1.0f);
    panel.shape.length = rng.between(0.25f, 3.5f);
    panel.shape.crease = rng.between(0.35f, 0.65f);
    const float minX = rng.between(-1.0f, 0.0f);
    const float maxX = minX + rng.between(0.02f, 2.0f);
    const unsigned segments = static_cast<unsigned>(rng.between(0.0f, 14.0f));
    panel.fold.init(minX, maxX, rng.between(-0.5f, 0.5f), segments, panel.shape);
    panel.lattice.init(panel.fold, panel.shape);
    const float a = panel.shape.start * panel.shape.sign;
    const float b = (panel.shape.start + panel.shape.length) * panel.shape.sign;
    panel.lowY = std::fmin(a, b);
    panel.highY = std::fmax(a, b);
    return panel;
}

Vec pointOn(Lcg& rng, const Panel& panel) {
    return {rng.between(panel.fold.minX, panel.fold.maxX), rng.between(panel.lowY, panel.highY),
            rng.between(-0.3f, 0.3f)};
}

// Over thousands of generated panels and triangles: every piece lies on one
// side of the crease with the matching side mark, inside one lattice triangle
// (up to rounding on the cut lines), and the pieces add up to the source
// (less the slivers the area test drops).
TEST(SplitPanelLattice, PiecesFitCreaseAndLatticeAndKeepTheArea) {
    Lcg rng{0x5EEDu};
    std::size_t totalPieces = 0;
    for (int panelCase = 0; panelCase < 300; ++panelCase) {
        const Panel panel = makePanel(rng);
        ASSERT_TRUE(panel.lattice.usable()) << panelCase;
        const PanelShape& shape = panel.shape;
        const float creaseS = shape.length * shape.crease + shape.start;
        const std::vector<float>& columns = panel.lattice.columns;
        const std::vector<float>& rows = panel.lattice.rows;
        const float tolerance = 4e-6f;

        for (int triangleCase = 0; triangleCase < 20; ++triangleCase) {
            PanelTriangle t = triangle(pointOn(rng, panel), pointOn(rng, panel), pointOn(rng, panel), 7);
            if (triangleCase % 4 == 0) {
                // Small triangles near a cut line, as a real mesh has them.
                const Vec centre = t.vertices[0].position;
                for (int k = 1; k < 3; ++k) {
                    t.vertices[k].position = centre + Vec{rng.between(-0.05f, 0.05f), rng.between(-0.05f, 0.05f), 0};
                    t.vertices[k].position.x = std::fmin(std::fmax(t.vertices[k].position.x, panel.fold.minX), panel.fold.maxX);
                    t.vertices[k].position.y = std::fmin(std::fmax(t.vertices[k].position.y, panel.lowY), panel.highY);
                }
            }
            const std::vector<PanelTriangle> pieces = dent::splitPanelLattice(t, shape, panel.fold, panel.lattice);
            totalPieces += pieces.size();
            double total = 0.0;
            for (const PanelTriangle& piece : pieces) {
                total += area(piece);
                ASSERT_EQ(piece.material, 7u);
                const int side = piece.vertices[0].side;
                const Vec p0 = piece.vertices[0].position, p1 = piece.vertices[1].position,
                          p2 = piece.vertices[2].position;
                const Vec centroid{(p0.x + p1.x + p2.x) * 0.33333334f, (p0.y + p1.y + p2.y) * 0.33333334f, 0};
                const std::uint32_t base = panel.lattice.sample(centroid).index[0];
                const std::size_t c = base % columns.size(), r = base / columns.size();
                const float w = columns[c + 1] - columns[c], h = rows[r + 1] - rows[r];
                float lowestDiagonal = 1e30f, highestDiagonal = -1e30f;
                for (const PanelVertex& v : piece.vertices) {
                    ASSERT_EQ(v.side, side);
                    const float d = shape.sign * v.position.y - creaseS;
                    if (side == 0) {
                        ASSERT_LE(d, tolerance) << panelCase << " " << triangleCase;
                    } else {
                        ASSERT_GE(d, -tolerance) << panelCase << " " << triangleCase;
                    }
                    ASSERT_GE(v.position.x, columns[c] - tolerance);
                    ASSERT_LE(v.position.x, columns[c + 1] + tolerance);
                    ASSERT_GE(v.position.y, rows[r] - tolerance);
                    ASSERT_LE(v.position.y, rows[r + 1] + tolerance);
                    const float diagonal = (v.position.x - columns[c]) / w - (v.position.y - rows[r]) / h;
                    lowestDiagonal = std::fmin(lowestDiagonal, diagonal);
                    highestDiagonal = std::fmax(highestDiagonal, diagonal);
                    ASSERT_TRUE(dent::isFinite(v.normal));
                }
                ASSERT_TRUE(highestDiagonal <= 1e-4f || lowestDiagonal >= -1e-4f)
                    << panelCase << " " << triangleCase << " " << lowestDiagonal << " " << highestDiagonal;
            }
            const double source = area(t);
            // Nothing overlaps; what is missing beyond rounding are the pieces
            // of at most 0.000001 that the area test drops, a few per cut
            // line crossed (a thin sliver can vanish whole).
            ASSERT_LE(total, source * (1.0 + 1e-4) + 1e-12) << panelCase << " " << triangleCase;
            const double dropAllowance = 1e-6 * 3.0 * (static_cast<double>(pieces.size()) + 20.0);
            ASSERT_GE(total, source * (1.0 - 1e-4) - dropAllowance) << panelCase << " " << triangleCase;
        }
    }
    EXPECT_GT(totalPieces, 6000u);
}

// A lattice that was never built leaves the surface pieces as they are.
TEST(SplitPanelLattice, EmptyLatticeLeavesSurfacePieces) {
    PanelShape shape;
    SpanFold fold;
    fold.init(0.0f, 1.0f, 0.0f, 4, shape);
    const PanelLattice empty;
    const PanelTriangle t = triangle({0.1f, 0.1f, 0}, {0.9f, 0.2f, 0}, {0.5f, 0.9f, 0});
    const std::vector<PanelTriangle> surface = dent::splitPanelSurface(t, shape, 0.0f, 1.0f, 4);
    const std::vector<PanelTriangle> lattice = dent::splitPanelLattice(t, shape, fold, empty);
    ASSERT_EQ(lattice.size(), surface.size());
    for (std::size_t i = 0; i < surface.size(); ++i) EXPECT_TRUE(sameTriangle(lattice[i], surface[i]));
}

}  // namespace

namespace {

// A corner placed exactly on one of the panel's cut lines (crease, station or
// row), where the cutting decides by a zero distance.
Vec onCutLine(Lcg& rng, const Panel& panel, Vec p) {
    const PanelShape& shape = panel.shape;
    switch (rng.below(3)) {
        case 0:
            p.y = (shape.length * shape.crease + shape.start) / shape.sign;
            break;
        case 1: {
            const float span = panel.fold.maxX - panel.fold.minX;
            p.x = static_cast<float>(1 + rng.below(5)) * span / 6.0f + panel.fold.minX;
            break;
        }
        default:
            p.y = (static_cast<float>(1 + rng.below(5)) * shape.length / 6.0f + shape.start) * shape.sign;
    }
    return p;
}

std::vector<PanelTriangle> appended(const std::vector<PanelTriangle>& before, const std::vector<PanelTriangle>& out) {
    return std::vector<PanelTriangle>(out.begin() + static_cast<std::ptrdiff_t>(before.size()), out.end());
}

void expectSame(const std::vector<PanelTriangle>& fast, const std::vector<PanelTriangle>& reference, int panelCase,
                int triangleCase) {
    ASSERT_EQ(fast.size(), reference.size()) << panelCase << " " << triangleCase;
    for (std::size_t i = 0; i < fast.size(); ++i)
        ASSERT_TRUE(sameTriangle(fast[i], reference[i])) << panelCase << " " << triangleCase << " piece " << i;
}

}  // namespace

// The crease build's fast cutting against the plain functions: generated
// panels and triangles of every size, corners exactly on cut lines, unusable
// coordinates and an unbuilt lattice; one scratch for all of them, and the
// pieces appended after what the output already held, bit for bit the same.
TEST(FastCutting, SameBitsAsThePlainCutting) {
    Lcg rng{0xC0DEu};
    dent::PanelCutScratch scratch;
    const PanelTriangle held = triangle({9, 9, 9}, {8, 9, 9}, {9, 8, 9}, 1);
    std::size_t compared = 0;
    for (int panelCase = 0; panelCase < 400; ++panelCase) {
        Panel panel = makePanel(rng);
        if (panelCase % 50 == 49) panel.lattice = PanelLattice{};
        const PanelShape& shape = panel.shape;
        const float creaseS = shape.length * shape.crease + shape.start;
        for (int triangleCase = 0; triangleCase < 30; ++triangleCase) {
            PanelTriangle t = triangle(pointOn(rng, panel), pointOn(rng, panel), pointOn(rng, panel), 5);
            const float size = triangleCase % 3 == 0 ? 1.0f : (triangleCase % 3 == 1 ? 0.1f : 0.01f);
            for (int k = 1; k < 3; ++k) {
                Vec& p = t.vertices[k].position;
                p = t.vertices[0].position + (p - t.vertices[0].position) * size;
            }
            for (int k = 0; k < 3; ++k) {
                if (rng.below(4) == 0) t.vertices[k].position = onCutLine(rng, panel, t.vertices[k].position);
            }
            if (triangleCase == 29) t.vertices[rng.below(3)].position.x = std::numeric_limits<float>::quiet_NaN();
            if (triangleCase == 28) t.vertices[rng.below(3)].position.y = 3e38f;

            std::vector<PanelTriangle> out{held};
            dent::appendPanelLattice(t, shape, panel.fold, panel.lattice, scratch, out);
            ASSERT_TRUE(sameTriangle(out[0], held));
            expectSame(appended({held}, out), dent::splitPanelLattice(t, shape, panel.fold, panel.lattice), panelCase,
                       triangleCase);

            out.assign(1, held);
            dent::appendCrease(t, shape.sign, creaseS, out);
            expectSame(appended({held}, out), dent::splitCrease(t, shape.sign, creaseS), panelCase, triangleCase);
            compared += out.size();
        }
    }
    EXPECT_GT(compared, 20000u);
}
