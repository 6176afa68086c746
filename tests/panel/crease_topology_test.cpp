#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "deform/panel_state.h"
#include "deform/records.h"
#include "deform/support/dent_cases.h"
#include "deform/support/geometry_host.h"
#include "foundation/settings.h"
#include "host/support/fake_host.h"
#include "host/support/log_capture.h"
#include "host/support/module_state.h"
#include "panel/crease_topology.h"
#include "panel/rest_normals.h"
#include "panel/triangle_split.h"
#include "panel/support/panel_host.h"
#include "support/lcg.h"

namespace {

using dent::Vec;
using testdeform::SourceShape;

bool samePosition(Vec a, Vec b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

class CreaseTopology : public ::testing::Test {
protected:
    CreaseTopology() {
        kerbmark::settings.PanelAsymmetry = false;
        state.shape.sign = 1.0f;
        state.shape.crease = 0.5f;
    }

    host::Geometry* build(host::Geometry* source) {
        return static_cast<host::Geometry*>(kerbmark::buildCreaseTopology(source, state));
    }

    host::Geometry* triangleSource(std::vector<Vec> positions) {
        SourceShape shape;
        shape.vertices = static_cast<std::int32_t>(positions.size());
        shape.positions = std::move(positions);
        shape.triangles = 1;
        shape.materials = 1;
        host::Geometry* g = geometries.source(shape);
        g->triangles[0] = host::Triangle{{0, 1, 2}, 0};
        return g;
    }

    testhost::FakeHost host;
    testdeform::GeometryHost geometries{host};
    testhost::LogCapture log;
    kerbmark::RecordList list;
    testhost::ModuleState moduleState{&list};
    kerbmark::PanelState state;
};

// One corner beyond the crease line, two before: the quadrilateral before the
// line is fanned into two triangles that come first, the corner beyond last.
TEST_F(CreaseTopology, OneTriangleAcrossTheCrease) {
    host::Geometry* source = triangleSource({{0, 0.2f, 0}, {1, 0.2f, 0}, {0.5f, 1.2f, 0}});
    host::Geometry* built = build(source);
    ASSERT_NE(built, nullptr);

    EXPECT_EQ(state.shape.start, 0.2f);
    EXPECT_EQ(state.shape.length, 1.0f);
    EXPECT_EQ(state.sides, (std::vector<std::int32_t>{0, 0, 0, 0, 0, 0, 1, 1, 1}));
    ASSERT_EQ(geometries.createCalls.size(), 1u);
    EXPECT_EQ(geometries.createCalls[0].vertices, 9);
    EXPECT_EQ(geometries.createCalls[0].triangles, 3);
    EXPECT_EQ(geometries.createCalls[0].format, (1u << 16) | (0x7Eu & 0xFEu));
    EXPECT_EQ(built->vertexCount, 9);

    // Every triangle has three vertices of its own, in order.
    for (int u = 0; u < 3; ++u) {
        for (int k = 0; k < 3; ++k) EXPECT_EQ(built->triangles[u].vertex[k], 3 * u + k);
        EXPECT_EQ(built->triangles[u].material, 0);
    }
    EXPECT_EQ(built->materials[0], source->materials[0]);

    const Vec* p = built->vertexBlock->positions;
    const Vec* sourceP = source->vertexBlock->positions;
    // Before the line: (A, B, X1) and (A, X1, X2); beyond it: (X1, C, X2).
    EXPECT_TRUE(samePosition(p[0], sourceP[0]));
    EXPECT_TRUE(samePosition(p[1], sourceP[1]));
    EXPECT_TRUE(samePosition(p[3], sourceP[0]));
    EXPECT_TRUE(samePosition(p[7], sourceP[2]));
    // The cut points lie on the crease line at s = 0.2 + 0.5.
    for (int v : {2, 4, 5, 6, 8}) EXPECT_FLOAT_EQ(p[v].y, 0.7f) << v;
    EXPECT_TRUE(samePosition(p[2], p[4]) && samePosition(p[2], p[6]));
    EXPECT_TRUE(samePosition(p[5], p[8]));
    EXPECT_EQ(built->colors[0], source->colors[0]);
    EXPECT_EQ(built->colors[7], source->colors[2]);
    EXPECT_EQ(built->texCoords[0][14], source->texCoords[0][4]);
    EXPECT_EQ(built->texCoords[0][15], source->texCoords[0][5]);
    for (int v = 0; v < 9; ++v) EXPECT_TRUE(samePosition(built->vertexBlock->normals[v], {0, 0, 1})) << v;
    EXPECT_EQ(std::vector<float>(built->vertexBlock->boundingSphere, built->vertexBlock->boundingSphere + 4),
              std::vector<float>(source->vertexBlock->boundingSphere, source->vertexBlock->boundingSphere + 4));
    EXPECT_EQ(geometries.unlockCalls.back(), built);
    EXPECT_FALSE(geometries.unlockSawBadTriangle);
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(CreaseTopology, BootRunsTowardNegativeY) {
    state.shape.sign = -1.0f;
    host::Geometry* built = build(triangleSource({{0, -0.2f, 0}, {1, -0.2f, 0}, {0.5f, -1.2f, 0}}));
    ASSERT_NE(built, nullptr);
    EXPECT_EQ(state.shape.start, 0.2f);
    EXPECT_EQ(state.shape.length, 1.0f);
    EXPECT_EQ(state.sides, (std::vector<std::int32_t>{0, 0, 0, 0, 0, 0, 1, 1, 1}));
}

TEST_F(CreaseTopology, ShapesThatAreNoPanel) {
    geometries.skin = &state;
    EXPECT_EQ(build(testpanel::gridPanel(geometries)), nullptr) << "skinned";
    geometries.skin = nullptr;

    testpanel::Grid shortPanel;
    shortPanel.y1 = 0.2f;
    EXPECT_EQ(build(testpanel::gridPanel(geometries, shortPanel)), nullptr) << "0.2 long";
    testpanel::Grid longPanel;
    longPanel.y1 = 3.6f;
    EXPECT_EQ(build(testpanel::gridPanel(geometries, longPanel)), nullptr) << "3.6 long";

    host::Geometry* tall = testpanel::gridPanel(geometries);
    tall->vertexBlock->positions[12].z = 0.76f;  // 0.75 of the length is the most
    EXPECT_EQ(build(tall), nullptr) << "too tall";

    host::Geometry* huge = testpanel::gridPanel(geometries);
    huge->vertexBlock->positions[3].x = 10001.0f;
    EXPECT_EQ(build(huge), nullptr) << "beyond 10000";
    host::Geometry* notFinite = testpanel::gridPanel(geometries);
    notFinite->vertexBlock->positions[3].z = NAN;
    EXPECT_EQ(build(notFinite), nullptr) << "NaN";

    SourceShape many;
    many.positions = {{-0.5f, 0, 0}, {0.5f, 0, 0}, {0.5f, 1, 0}, {-0.5f, 1, 0}};
    many.vertices = 4;
    many.triangles = 10001;
    EXPECT_EQ(build(geometries.source(many)), nullptr) << "10001 triangles";

    host::Geometry* badIndex = testpanel::gridPanel(geometries);
    badIndex->triangles[5].vertex[1] = 25;
    EXPECT_EQ(build(badIndex), nullptr) << "corner beyond the vertex count";

    EXPECT_TRUE(geometries.createCalls.empty()) << "every refusal comes before anything is created";

    // Just within every limit: 0.25 long, height exactly 0.75 of it.
    testpanel::Grid shortest;
    shortest.y1 = 0.25f;
    host::Geometry* edge = testpanel::gridPanel(geometries, shortest);
    edge->vertexBlock->positions[12].z = 0.1875f;
    EXPECT_NE(build(edge), nullptr);
}

// Limits found only while cutting and filling: more than 10000 cut triangles
// is refused before anything is created; a material index beyond the table
// gives the created geometry back.
TEST_F(CreaseTopology, CutTriangleLimitAndMaterialIndex) {
    SourceShape crossing;
    crossing.positions = {{0, 0.2f, 0}, {1, 0.2f, 0}, {0.5f, 1.2f, 0}};
    crossing.vertices = 3;
    crossing.materials = 1;
    crossing.triangles = 3334;  // three pieces each: 10002
    EXPECT_EQ(build(geometries.source(crossing)), nullptr);
    EXPECT_TRUE(geometries.createCalls.empty());
    crossing.triangles = 3333;  // 9999
    EXPECT_NE(build(geometries.source(crossing)), nullptr);

    host::Geometry* badMaterial = triangleSource({{0, 0.2f, 0}, {1, 0.2f, 0}, {0.5f, 1.2f, 0}});
    badMaterial->triangles[0].material = 1;
    EXPECT_EQ(build(badMaterial), nullptr);
    ASSERT_EQ(geometries.copies().size(), 2u);
    EXPECT_EQ(geometries.copies()[1]->references, 0);
}

TEST_F(CreaseTopology, NarrowPanelOnlyWithoutAsymmetry) {
    testpanel::Grid narrow;
    narrow.x0 = 0.0f;
    narrow.x1 = 0.015f;
    kerbmark::settings.PanelAsymmetry = true;
    EXPECT_EQ(build(testpanel::gridPanel(geometries, narrow)), nullptr);
    EXPECT_TRUE(geometries.createCalls.empty());

    kerbmark::settings.PanelAsymmetry = false;
    EXPECT_NE(build(testpanel::gridPanel(geometries, narrow)), nullptr);
}

// With the span fold in use the panel is cut along stations, rows and cell
// diagonals: every piece lies on one side of the crease, inside one lattice cell.
TEST_F(CreaseTopology, AsymmetricPanelIsCutAlongTheLattice) {
    kerbmark::settings.PanelAsymmetry = true;
    kerbmark::settings.PanelWidthSegments = 4;
    host::Geometry* source = testpanel::gridPanel(geometries);
    host::Geometry* built = build(source);
    ASSERT_NE(built, nullptr);
    EXPECT_EQ(state.spanFold.segments, 4u);
    EXPECT_EQ(state.spanFold.minX, -0.5f);
    EXPECT_EQ(state.spanFold.maxX, 0.5f);
    EXPECT_EQ(state.lattice.columns.size(), 5u);
    EXPECT_EQ(state.lattice.rows.size(), 7u);
    ASSERT_EQ(state.sides.size(), static_cast<std::size_t>(built->vertexCount));
    EXPECT_GT(built->triangleCount, source->triangleCount);

    const float creaseY = state.shape.length * state.shape.crease + state.shape.start;
    const Vec* p = built->vertexBlock->positions;
    for (std::int32_t u = 0; u < built->triangleCount; ++u) {
        const Vec centre = (p[3 * u] + p[3 * u + 1] + p[3 * u + 2]) * (1.0f / 3.0f);
        for (int k = 0; k < 3; ++k) {
            const int side = state.sides[3 * u + k];
            EXPECT_EQ(side, centre.y > creaseY ? 1 : 0) << "triangle " << u;
        }
    }
}

// The build's phase is set before anything is looked at, so that even a
// geometry that cannot be read leaves its mark; a finished build says so.
TEST_F(CreaseTopology, PhaseTrail) {
    kerbmark::diagnostics = true;
    EXPECT_EQ(kerbmark::buildCreaseTopology(nullptr, state), nullptr);
    EXPECT_NE(build(testpanel::gridPanel(geometries)), nullptr);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               "panel: build crease topology",
                               "panel: build crease topology",
                               "panel: crease topology complete",
                           }));
}

TEST_F(CreaseTopology, FailedUnlockReleasesTheNewGeometry) {
    geometries.failUnlock = true;
    EXPECT_EQ(build(testpanel::gridPanel(geometries)), nullptr);
    ASSERT_EQ(geometries.copies().size(), 1u);
    host::Geometry* created = geometries.copies()[0];
    EXPECT_EQ(host.destroyCallsOf(created), 1u);
    EXPECT_EQ(created->references, 0);
}

TEST_F(CreaseTopology, HostRefusalsReleaseTheNewGeometry) {
    geometries.failTriangleMaterialAt = 3;
    EXPECT_EQ(build(testpanel::gridPanel(geometries)), nullptr);
    geometries.failTriangleMaterialAt = -1;
    geometries.failTriangleVerticesAt = 0;
    EXPECT_EQ(build(testpanel::gridPanel(geometries)), nullptr);
    geometries.failTriangleVerticesAt = -1;
    geometries.createOutcome = testdeform::CreateOutcome::NoNormals;
    EXPECT_EQ(build(testpanel::gridPanel(geometries)), nullptr);
    ASSERT_EQ(geometries.copies().size(), 3u);
    for (host::Geometry* created : geometries.copies()) EXPECT_EQ(created->references, 0);

    geometries.createOutcome = testdeform::CreateOutcome::Null;
    EXPECT_EQ(build(testpanel::gridPanel(geometries)), nullptr);
}

TEST_F(CreaseTopology, BrokenMaterialTableIsRejectedWithItsLine) {
    geometries.corruptTableOnUnlock = true;
    EXPECT_EQ(build(testpanel::gridPanel(geometries)), nullptr);
    // The rejected geometry's table cannot be trusted either: it is kept, not released.
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               "MaterialGuard: invalid panel material table; rejected.",
                               "MaterialGuard: invalid geometry retained; unsafe material release skipped.",
                           }));
}

// Duplicates at one place with close normals shade as one on a damaged-variant
// panel; on any other panel they keep the normals they were made with.
TEST_F(CreaseTopology, DamagedVariantSmoothsSeamNormals) {
    kerbmark::settings.PanelAsymmetry = true;
    const std::vector<Vec> positions = {{-0.5f, 0, 0}, {0.5f, 0, 0}, {0, 1, 0}, {0, 1, 0}, {0.5f, 1, 0}, {0.5f, 0, 0}};
    const auto makeSource = [&] {
        SourceShape shape;
        shape.positions = positions;
        shape.vertices = 6;
        shape.triangles = 2;
        host::Geometry* g = geometries.source(shape);
        g->triangles[0] = host::Triangle{{0, 1, 2}, 0};
        g->triangles[1] = host::Triangle{{5, 4, 3}, 1};
        g->vertexBlock->normals[3] = {0, 0.6f, 0.8f};
        return g;
    };
    const auto normalsAtTheSeam = [](host::Geometry* built) {
        std::vector<Vec> found;
        for (std::int32_t v = 0; v < built->vertexCount; ++v) {
            if (samePosition(built->vertexBlock->positions[v], {0, 1, 0})) found.push_back(built->vertexBlock->normals[v]);
        }
        return found;
    };

    state.atomicFlags = 0x12;  // low bits 2: the damaged variant
    host::Geometry* smoothed = build(makeSource());
    ASSERT_NE(smoothed, nullptr);
    // The seam's corner appears in every piece cut from either triangle.
    const std::vector<Vec> blended = normalsAtTheSeam(smoothed);
    ASSERT_GE(blended.size(), 2u);
    for (const Vec& n : blended) {
        EXPECT_NEAR(n.x, 0.0f, 1e-6f);
        EXPECT_NEAR(n.y, 0.3162f, 1e-4f);
        EXPECT_NEAR(n.z, 0.9487f, 1e-4f);
    }

    kerbmark::PanelState plain;
    plain.atomicFlags = 1;
    host::Geometry* authored = static_cast<host::Geometry*>(kerbmark::buildCreaseTopology(makeSource(), plain));
    ASSERT_NE(authored, nullptr);
    unsigned up = 0, tilted = 0;
    for (const Vec& n : normalsAtTheSeam(authored)) {
        up += samePosition(n, {0, 0, 1}) ? 1 : 0;
        tilted += samePosition(n, {0, 0.6f, 0.8f}) ? 1 : 0;
    }
    EXPECT_GT(up, 0u);
    EXPECT_GT(tilted, 0u);
    EXPECT_EQ(up + tilted, normalsAtTheSeam(authored).size());

    // A normal longer than 10 is refused before anything is created.
    host::Geometry* wild = makeSource();
    wild->vertexBlock->normals[4] = {0, 0, 11};
    const std::size_t created = geometries.copies().size();
    EXPECT_EQ(build(wild), nullptr);
    EXPECT_EQ(geometries.copies().size(), created);
}

}  // namespace

namespace {

// The packed colour against the plain std::round it replaced: every quarter
// from -2 to 258 and the floats either side of it, random channels, and
// values past the byte and float ranges.
TEST(PackedColour, SameBytesAsPlainRounding) {
    auto plain = [](const float (&colour)[4]) {
        std::uint32_t packed = 0;
        for (int channel = 0; channel < 4; ++channel) {
            const float rounded = std::round(colour[channel]);
            const float byte = rounded < 0.0f ? 0.0f : (rounded > 255.0f ? 255.0f : rounded);
            packed |= static_cast<std::uint32_t>(byte) << (8 * channel);
        }
        return packed;
    };
    std::vector<float> values{1e30f, -1e30f, 8388607.5f, 8388608.0f, -8388607.5f, 16777215.0f, -0.0f, 1e-40f};
    for (int quarter = -8; quarter <= 4 * 258; ++quarter) {
        const float v = static_cast<float>(quarter) * 0.25f;
        values.insert(values.end(), {v, std::nextafter(v, -1e9f), std::nextafter(v, 1e9f)});
    }
    Lcg rng{0xC010u};
    for (int i = 0; i < 200000; ++i) values.push_back(rng.between(-3.0f, 260.0f));
    for (std::size_t i = 0; i + 3 < values.size(); ++i) {
        const float colour[4] = {values[i], values[i + 1], values[i + 2], values[i + 3]};
        ASSERT_EQ(kerbmark::packedColour(colour), plain(colour)) << values[i];
    }
}

}  // namespace

namespace {

// What the build must give, from the plain pieces: every source triangle with
// its corners' data, cut by the plain splitting, pieces in order.
std::vector<dent::PanelTriangle> plainPieces(const host::Geometry& g, const kerbmark::PanelState& state, bool asymmetry) {
    std::vector<Vec> normals;
    if (g.vertexBlock->normals) normals.assign(g.vertexBlock->normals, g.vertexBlock->normals + g.vertexCount);
    if (asymmetry && !normals.empty() && (state.atomicFlags & 3u) == 2u) {
        normals = dent::panelRestNormalsByMap(
            std::vector<Vec>(g.vertexBlock->positions, g.vertexBlock->positions + g.vertexCount), normals,
            state.atomicFlags);
    }
    std::vector<dent::PanelTriangle> pieces;
    for (std::int32_t i = 0; i < g.triangleCount; ++i) {
        dent::PanelTriangle t{};
        t.material = g.triangles[i].material;
        for (int k = 0; k < 3; ++k) {
            const std::uint16_t j = g.triangles[i].vertex[k];
            dent::PanelVertex& v = t.vertices[k];
            v.position = g.vertexBlock->positions[j];
            if (!normals.empty()) v.normal = normals[j];
            for (int channel = 0; g.colors && channel < 4; ++channel)
                v.color[channel] = static_cast<float>((g.colors[j] >> (8 * channel)) & 0xFFu);
            for (std::int32_t set = 0; set < g.texCoordSets; ++set) {
                v.uv[set][0] = g.texCoords[set][2 * j];
                v.uv[set][1] = g.texCoords[set][2 * j + 1];
            }
        }
        const dent::PanelShape& shape = state.shape;
        const std::vector<dent::PanelTriangle> cut =
            asymmetry ? dent::splitPanelLattice(t, shape, state.spanFold, state.lattice)
                      : dent::splitCrease(t, shape.sign, shape.length * shape.crease + shape.start);
        pieces.insert(pieces.end(), cut.begin(), cut.end());
    }
    return pieces;
}

// The same bytes in two geometries: vertex data and triangles.
void expectSameGeometry(const host::Geometry& a, const host::Geometry& b) {
    ASSERT_EQ(a.vertexCount, b.vertexCount);
    ASSERT_EQ(a.triangleCount, b.triangleCount);
    const auto vertices = static_cast<std::size_t>(a.vertexCount);
    EXPECT_EQ(std::memcmp(a.vertexBlock->positions, b.vertexBlock->positions, vertices * sizeof(Vec)), 0);
    EXPECT_EQ(std::memcmp(a.vertexBlock->normals, b.vertexBlock->normals, vertices * sizeof(Vec)), 0);
    EXPECT_EQ(std::memcmp(a.vertexBlock->boundingSphere, b.vertexBlock->boundingSphere, 16), 0);
    EXPECT_EQ(std::memcmp(a.colors, b.colors, vertices * 4), 0);
    EXPECT_EQ(std::memcmp(a.texCoords[0], b.texCoords[0], vertices * 8), 0);
    EXPECT_EQ(std::memcmp(a.triangles, b.triangles, static_cast<std::size_t>(a.triangleCount) * sizeof(host::Triangle)),
              0);
}

// The whole build on generated panels (jittered grids, bonnet and boot, with
// and without the lattice and the smoothed seams) against the plain pieces:
// the same vertices, sides and triangles, bit for bit, in the same order. The
// build in steps (cut in runs of one to seven source triangles, pieces filled
// in in runs of one to forty) gives the one-go build's geometry and panel state.
TEST_F(CreaseTopology, BuildGivesThePlainPiecesBitForBit) {
    Lcg rng{0xB0B0u};
    for (int panelCase = 0; panelCase < 24; ++panelCase) {
        const bool asymmetry = panelCase % 2 == 0;
        kerbmark::settings.PanelAsymmetry = asymmetry;
        kerbmark::settings.PanelWidthSegments = 2 + panelCase % 11;
        testpanel::Grid grid;
        grid.columns = 4 + static_cast<int>(rng.below(12));
        grid.rows = 4 + static_cast<int>(rng.below(12));
        grid.y1 = rng.between(0.4f, 2.0f);
        host::Geometry* source = testpanel::gridPanel(geometries, grid);
        for (Vec& p : geometries.positionsOf(source)) {
            p.x += rng.between(-0.01f, 0.01f);
            p.y += rng.between(-0.01f, 0.01f);
            p.z += rng.between(-0.02f, 0.02f);
        }
        state = kerbmark::PanelState{};
        state.shape.sign = panelCase % 3 == 0 ? -1.0f : 1.0f;
        state.shape.crease = rng.between(0.35f, 0.65f);
        state.atomicFlags = panelCase % 4 == 0 ? 2u : 1u;
        if (state.shape.sign < 0.0f) {
            for (Vec& p : geometries.positionsOf(source)) p.y = -p.y;
        }

        kerbmark::PanelState stepped = state;
        host::Geometry* built = build(source);
        ASSERT_NE(built, nullptr) << panelCase;

        kerbmark::CreaseCut cut;
        ASSERT_TRUE(kerbmark::beginCreaseCut(source, stepped, cut));
        kerbmark::CutStep step = kerbmark::CutStep::More;
        while (step == kerbmark::CutStep::More) {
            step = kerbmark::continueCreaseCut(source, stepped, cut, static_cast<std::int32_t>(1 + rng.below(7)));
        }
        ASSERT_EQ(step, kerbmark::CutStep::Done);
        // Built in steps too: created, pieces filled in runs, finished.
        auto* inSteps = static_cast<host::Geometry*>(kerbmark::beginCutBuild(source, stepped, cut));
        ASSERT_NE(inSteps, nullptr);
        std::size_t filled = 0;
        while (filled < cut.pieces.size()) {
            ASSERT_TRUE(kerbmark::continueCutBuild(inSteps, source, stepped, cut, filled, 1 + rng.below(40)));
        }
        ASSERT_TRUE(kerbmark::finishCutBuild(inSteps));
        expectSameGeometry(*inSteps, *built);
        EXPECT_EQ(stepped.sides, state.sides);
        EXPECT_EQ(std::memcmp(&stepped.shape, &state.shape, sizeof state.shape), 0);
        EXPECT_EQ(std::memcmp(&stepped.spanFold, &state.spanFold, sizeof state.spanFold), 0);
        EXPECT_TRUE(testdeform::sameBits(stepped.lattice.nodes, state.lattice.nodes));

        const std::vector<dent::PanelTriangle> pieces = plainPieces(*source, state, asymmetry);
        ASSERT_EQ(built->triangleCount, static_cast<std::int32_t>(pieces.size())) << panelCase;
        ASSERT_EQ(state.sides.size(), 3 * pieces.size());
        for (std::size_t u = 0; u < pieces.size(); ++u) {
            ASSERT_EQ(source->materials[pieces[u].material], built->materials[built->triangles[u].material]);
            for (int k = 0; k < 3; ++k) {
                const std::size_t at = 3 * u + static_cast<std::size_t>(k);
                const dent::PanelVertex& v = pieces[u].vertices[k];
                ASSERT_EQ(std::memcmp(&built->vertexBlock->positions[at], &v.position, sizeof(Vec)), 0) << panelCase;
                ASSERT_EQ(std::memcmp(&built->vertexBlock->normals[at], &v.normal, sizeof(Vec)), 0) << panelCase;
                ASSERT_EQ(built->colors[at], kerbmark::packedColour(v.color)) << panelCase;
                ASSERT_EQ(std::memcmp(&built->texCoords[0][2 * at], v.uv[0], 8), 0) << panelCase;
                ASSERT_EQ(state.sides[at], v.side) << panelCase;
            }
        }
    }
}

}  // namespace
