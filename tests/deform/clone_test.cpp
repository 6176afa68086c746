#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "deform/geometry_clone.h"
#include "deform/support/geometry_host.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "host/support/fake_host.h"
#include "host/support/log_capture.h"
#include "host/support/memory_pages.h"

namespace {

using testdeform::CreateOutcome;
using testdeform::SourceShape;

constexpr const char* kUnsupported = "clone: unsupported or incomplete CPU geometry; skipped";
constexpr const char* kMissingUV = "clone: missing UV buffer; skipped";
constexpr const char* kBadTriangle = "clone: invalid triangle indices or material; skipped";
constexpr const char* kComplete = "clone: complete (direct copy; no serialization)";
constexpr const char* kBadSource = "MaterialGuard: invalid source material table; clone skipped.";
constexpr const char* kBadCopy = "MaterialGuard: invalid cloned material table; rejected.";
constexpr const char* kRetained = "MaterialGuard: invalid geometry retained; unsafe material release skipped.";

class Clone : public ::testing::Test {
protected:
    void SetUp() override {
        savedDiagnostics = kerbmark::diagnostics;
        kerbmark::diagnostics = false;
    }
    void TearDown() override { kerbmark::diagnostics = savedDiagnostics; }

    std::string phase() const { return kerbmark::phase; }

    // Every material reference the source's table holds is the only one.
    void expectMaterialsUnreferenced(host::Geometry* source) {
        for (std::int32_t i = 0; i < source->materialCount; ++i) {
            EXPECT_EQ(geometries.material(source, i)->references, 1) << "material " << i;
        }
    }

    testhost::FakeHost host;
    testdeform::GeometryHost geometries{host};
    testhost::LogCapture log;
    bool savedDiagnostics = false;
};

TEST_F(Clone, CopiesEveryAttributeAndReferencesEachMaterialOnce) {
    SourceShape shape;
    shape.texCoordSets = 2;
    shape.materials = 3;
    shape.triangles = 5;
    shape.positions = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0.5f, 0.5f, 1}, {0.25f, 0.75f, 0.5f}};
    host::Geometry* source = geometries.source(shape);
    source->vertexBlock->boundingSphere[0] = 0.5f;
    source->vertexBlock->boundingSphere[1] = 0.5f;
    source->vertexBlock->boundingSphere[2] = 0.25f;
    source->vertexBlock->normals[4] = {0, 0.6f, 0.8f};
    const std::vector<dent::Vec> sourcePositions = geometries.positionsOf(source);

    void* result = kerbmark::cloneGeometry(source);
    ASSERT_NE(result, nullptr);
    ASSERT_EQ(geometries.copies().size(), 1u);
    auto* copy = static_cast<host::Geometry*>(result);
    EXPECT_EQ(copy, geometries.copies()[0]);
    EXPECT_EQ(phase(), kComplete);

    ASSERT_EQ(copy->vertexCount, 6);
    ASSERT_EQ(copy->triangleCount, 5);
    const std::size_t n = 6;
    EXPECT_EQ(std::memcmp(copy->vertexBlock->positions, source->vertexBlock->positions, n * 12), 0);
    EXPECT_EQ(std::memcmp(copy->vertexBlock->normals, source->vertexBlock->normals, n * 12), 0);
    EXPECT_EQ(std::memcmp(copy->colors, source->colors, n * 4), 0);
    EXPECT_EQ(std::memcmp(copy->texCoords[0], source->texCoords[0], n * 8), 0);
    EXPECT_EQ(std::memcmp(copy->texCoords[1], source->texCoords[1], n * 8), 0);
    EXPECT_EQ(std::memcmp(copy->vertexBlock->boundingSphere, source->vertexBlock->boundingSphere, 16), 0);

    for (std::int32_t t = 0; t < 5; ++t) {
        const host::Triangle& from = source->triangles[t];
        const host::Triangle& to = copy->triangles[t];
        EXPECT_EQ(std::memcmp(to.vertex, from.vertex, sizeof to.vertex), 0) << "triangle " << t;
        EXPECT_EQ(copy->materials[to.material], source->materials[from.material]) << "triangle " << t;
    }
    // The copy's material list holds one reference to each material it uses.
    for (std::int32_t i = 0; i < 3; ++i) EXPECT_EQ(geometries.material(source, i)->references, 2);

    ASSERT_EQ(geometries.extensionsCalls.size(), 1u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(geometries.extensionsCalls[0].registry), 0x8D628Cu);
    EXPECT_EQ(geometries.extensionsCalls[0].destination, copy);
    EXPECT_EQ(geometries.extensionsCalls[0].source, source);
    EXPECT_EQ(geometries.unlockCalls, std::vector<void*>{copy});
    EXPECT_FALSE(geometries.unlockSawBadTriangle);

    // The source is only read.
    EXPECT_EQ(source->references, 1);
    EXPECT_EQ(std::memcmp(source->vertexBlock->positions, sourcePositions.data(), n * 12), 0);
    EXPECT_TRUE(host.destroyGeometryCalls.empty());
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(Clone, FormatWordFromFlagsAttributesAndSets) {
    // 0x7E & (0x63 | 0x10 | 0x08) = 0x7A, then the single-set bit.
    EXPECT_EQ(kerbmark::cloneFormat(0x7E, true, true, 1), 0x1007Eu);
    EXPECT_EQ(kerbmark::cloneFormat(0xFF, true, true, 2), 0x200FBu);  // 0x80 instead of 0x04
    EXPECT_EQ(kerbmark::cloneFormat(0x7E, false, true, 1), 0x1006Eu);  // no normals: no 0x10
    EXPECT_EQ(kerbmark::cloneFormat(0x7E, true, false, 0), 0x72u);     // no colours, no sets
    EXPECT_EQ(kerbmark::cloneFormat(0x61, true, true, 8), 0x800E1u);   // flags lacking 0x10 and 0x08
    EXPECT_EQ(kerbmark::cloneFormat(0xFF000000u, true, true, 1), 0x10004u);

    SourceShape one;
    ASSERT_NE(kerbmark::cloneGeometry(geometries.source(one)), nullptr);
    SourceShape two;
    two.texCoordSets = 2;
    ASSERT_NE(kerbmark::cloneGeometry(geometries.source(two)), nullptr);
    SourceShape bare;
    bare.normals = false;
    bare.colours = false;
    bare.flags = 0xFF;
    host::Geometry* bareSource = geometries.source(bare);
    void* bareCopy = kerbmark::cloneGeometry(bareSource);
    ASSERT_NE(bareCopy, nullptr);

    ASSERT_EQ(geometries.createCalls.size(), 3u);
    EXPECT_EQ(geometries.createCalls[0].format & 0xFF0084u, 0x010004u);
    EXPECT_EQ(geometries.createCalls[1].format & 0xFF0084u, 0x020080u);
    EXPECT_EQ(geometries.createCalls[2].format & 0x18u, 0u);
    EXPECT_EQ(geometries.createCalls[2].vertices, 6);
    EXPECT_EQ(geometries.createCalls[2].triangles, 4);
    EXPECT_EQ(static_cast<host::Geometry*>(bareCopy)->vertexBlock->normals, nullptr);
    EXPECT_EQ(static_cast<host::Geometry*>(bareCopy)->colors, nullptr);
}

TEST_F(Clone, VertexAndTriangleCountLimits) {
    SourceShape largest;
    largest.vertices = 30000;
    EXPECT_NE(kerbmark::cloneGeometry(geometries.source(largest)), nullptr);
    SourceShape manyTriangles;
    manyTriangles.triangles = 60000;
    host::Geometry* triangleSource = geometries.source(manyTriangles);
    void* triangleCopy = kerbmark::cloneGeometry(triangleSource);
    ASSERT_NE(triangleCopy, nullptr);
    EXPECT_EQ(std::memcmp(static_cast<host::Geometry*>(triangleCopy)->triangles[59999].vertex,
                          triangleSource->triangles[59999].vertex, 6),
              0);
    EXPECT_EQ(geometries.createCalls.size(), 2u);

    for (auto [vertices, triangles] : {std::pair{30001, 4}, std::pair{0, 4}, std::pair{6, 60001}, std::pair{6, 0}}) {
        SourceShape shape;
        shape.vertices = vertices;
        shape.triangles = triangles;
        kerbmark::setPhase("before");
        EXPECT_EQ(kerbmark::cloneGeometry(geometries.source(shape)), nullptr) << vertices << " " << triangles;
        EXPECT_EQ(phase(), kUnsupported) << vertices << " " << triangles;
    }
    EXPECT_EQ(geometries.createCalls.size(), 2u);
}

TEST_F(Clone, RefusesUnsupportedOrIncompleteSources) {
    const std::vector<std::pair<const char*, std::function<void(host::Geometry&)>>> breaks = {
        {"two vertex blocks", [](host::Geometry& g) { g.vertexBlockCount = 2; }},
        {"no vertex block", [](host::Geometry& g) { g.vertexBlock = nullptr; }},
        {"no positions", [](host::Geometry& g) { g.vertexBlock->positions = nullptr; }},
        {"no triangles", [](host::Geometry& g) { g.triangles = nullptr; }},
        {"nine texture sets", [](host::Geometry& g) { g.texCoordSets = 9; }},
        {"flag 0x01000000", [](host::Geometry& g) { g.flags |= 0x01000000; }},
        {"flag 0x02000000", [](host::Geometry& g) { g.flags |= 0x02000000; }},
    };
    for (const auto& [what, breakIt] : breaks) {
        host::Geometry* source = geometries.source();
        breakIt(*source);
        kerbmark::setPhase("before");
        EXPECT_EQ(kerbmark::cloneGeometry(source), nullptr) << what;
        EXPECT_EQ(phase(), kUnsupported) << what;
    }
    EXPECT_TRUE(geometries.createCalls.empty());
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(Clone, MissingTextureSetArray) {
    SourceShape shape;
    shape.texCoordSets = 2;
    host::Geometry* source = geometries.source(shape);
    source->texCoords[1] = nullptr;
    EXPECT_EQ(kerbmark::cloneGeometry(source), nullptr);
    EXPECT_EQ(phase(), kMissingUV);
    EXPECT_TRUE(geometries.createCalls.empty());
}

TEST_F(Clone, RefusesTrianglesOutOfRange) {
    host::Geometry* badMaterial = geometries.source();
    badMaterial->triangles[3].material = static_cast<std::uint16_t>(badMaterial->materialCount);
    EXPECT_EQ(kerbmark::cloneGeometry(badMaterial), nullptr);
    EXPECT_EQ(phase(), kBadTriangle);

    host::Geometry* badVertex = geometries.source();
    badVertex->triangles[2].vertex[1] = static_cast<std::uint16_t>(badVertex->vertexCount);
    kerbmark::setPhase("before");
    EXPECT_EQ(kerbmark::cloneGeometry(badVertex), nullptr);
    EXPECT_EQ(phase(), kBadTriangle);

    // A null material pointer already fails the material table itself.
    host::Geometry* nullMaterial = geometries.source();
    nullMaterial->materials[1] = nullptr;
    EXPECT_EQ(kerbmark::cloneGeometry(nullMaterial), nullptr);
    EXPECT_EQ(log.lines(), std::vector<std::string>{kBadSource});

    EXPECT_TRUE(geometries.createCalls.empty());
}

TEST_F(Clone, InvalidSourceTableIsLoggedAndSkipped) {
    host::Geometry* source = geometries.source();
    source->materialCapacity = 4097;
    EXPECT_EQ(kerbmark::cloneGeometry(source), nullptr);
    EXPECT_EQ(log.lines(), std::vector<std::string>{kBadSource});
    EXPECT_TRUE(geometries.createCalls.empty());
}

TEST_F(Clone, EveryFailingHostStepReleasesTheHalfBuiltCopy) {
    struct Failure {
        const char* what;
        std::function<void(testdeform::GeometryHost&)> arm;
    };
    const std::vector<Failure> failures = {
        {"no vertex block", [](auto& g) { g.createOutcome = CreateOutcome::NoVertexBlock; }},
        {"no positions", [](auto& g) { g.createOutcome = CreateOutcome::NoPositions; }},
        {"no triangles", [](auto& g) { g.createOutcome = CreateOutcome::NoTriangles; }},
        {"no normals", [](auto& g) { g.createOutcome = CreateOutcome::NoNormals; }},
        {"no colours", [](auto& g) { g.createOutcome = CreateOutcome::NoColours; }},
        {"no texture sets", [](auto& g) { g.createOutcome = CreateOutcome::NoTexCoords; }},
        {"first triangle's vertices", [](auto& g) { g.failTriangleVerticesAt = 0; }},
        {"third triangle's vertices", [](auto& g) { g.failTriangleVerticesAt = 2; }},
        {"third triangle's material", [](auto& g) { g.failTriangleMaterialAt = 2; }},
        {"last triangle's material", [](auto& g) { g.failTriangleMaterialAt = 3; }},
        {"extensions", [](auto& g) { g.failCopyExtensions = true; }},
        {"render meshes", [](auto& g) { g.failUnlock = true; }},
    };
    for (const Failure& failure : failures) {
        SCOPED_TRACE(failure.what);
        geometries.createOutcome = CreateOutcome::Normal;
        geometries.failTriangleVerticesAt = geometries.failTriangleMaterialAt = -1;
        geometries.failCopyExtensions = geometries.failUnlock = false;
        failure.arm(geometries);
        host.destroyGeometryCalls.clear();

        SourceShape shape;
        shape.materials = 3;
        host::Geometry* source = geometries.source(shape);
        const std::size_t copiesBefore = geometries.copies().size();
        EXPECT_EQ(kerbmark::cloneGeometry(source), nullptr);
        ASSERT_EQ(geometries.copies().size(), copiesBefore + 1);
        host::Geometry* copy = geometries.copies().back();
        EXPECT_EQ(host.destroyGeometryCalls, std::vector<void*>{copy});
        EXPECT_EQ(copy->references, 0);
        EXPECT_EQ(source->references, 1);
        expectMaterialsUnreferenced(source);
    }
    EXPECT_TRUE(log.lines().empty());

    // Nothing created, nothing to give back.
    geometries.createOutcome = CreateOutcome::Null;
    geometries.failCopyExtensions = geometries.failUnlock = false;
    host.destroyGeometryCalls.clear();
    EXPECT_EQ(kerbmark::cloneGeometry(geometries.source()), nullptr);
    EXPECT_TRUE(host.destroyGeometryCalls.empty());
}

TEST_F(Clone, CopyWithAnInvalidTableIsRejected) {
    geometries.corruptTableOnUnlock = true;
    host::Geometry* source = geometries.source();
    EXPECT_EQ(kerbmark::cloneGeometry(source), nullptr);
    // The release refuses the broken table as well and keeps its hands off it.
    EXPECT_EQ(log.lines(), (std::vector<std::string>{kBadCopy, kRetained}));
    EXPECT_TRUE(host.destroyGeometryCalls.empty());
}

TEST_F(Clone, PhasesReachTheLogWithDiagnostics) {
    kerbmark::diagnostics = true;
    ASSERT_NE(kerbmark::cloneGeometry(geometries.source()), nullptr);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               "clone: validate CPU geometry",
                               "clone: create independent geometry",
                               "clone: copy vertex attributes",
                               "clone: copy triangles and reference materials",
                               "clone: copy registered geometry extensions",
                               "clone: build render meshes",
                               kComplete,
                           }));
}

// A source whose triangles use their materials out of table order and whose
// arrays all differ, so that any slip of a step shows.
host::Geometry* mixedSource(testdeform::GeometryHost& geometries) {
    SourceShape shape;
    shape.vertices = 9;
    shape.triangles = 13;
    shape.texCoordSets = 2;
    shape.materials = 3;
    host::Geometry* source = geometries.source(shape);
    for (std::int32_t i = 0; i < shape.vertices; ++i) {
        source->vertexBlock->normals[i] = {0.1f * static_cast<float>(i), 0.5f, -0.25f};
    }
    for (std::int32_t t = 0; t < shape.triangles; ++t) {
        source->triangles[t].material = static_cast<std::uint16_t>(2 - (t * 5 / 3) % 3);
        source->triangles[t].vertex[1] = static_cast<std::uint16_t>((t * 4) % shape.vertices);
    }
    const float sphere[4] = {0.5f, -0.25f, 0.125f, 2.5f};
    std::memcpy(source->vertexBlock->boundingSphere, sphere, sizeof sphere);
    return source;
}

void expectSameBytes(const host::Geometry& copy, const host::Geometry& reference) {
    const auto vertices = static_cast<std::size_t>(reference.vertexCount);
    ASSERT_EQ(copy.vertexCount, reference.vertexCount);
    ASSERT_EQ(copy.triangleCount, reference.triangleCount);
    ASSERT_EQ(copy.materialCount, reference.materialCount);
    EXPECT_EQ(copy.flags, reference.flags);
    EXPECT_EQ(std::memcmp(copy.vertexBlock->positions, reference.vertexBlock->positions, vertices * 12), 0);
    EXPECT_EQ(std::memcmp(copy.vertexBlock->normals, reference.vertexBlock->normals, vertices * 12), 0);
    EXPECT_EQ(std::memcmp(copy.vertexBlock->boundingSphere, reference.vertexBlock->boundingSphere, 16), 0);
    EXPECT_EQ(std::memcmp(copy.colors, reference.colors, vertices * 4), 0);
    for (std::int32_t set = 0; set < reference.texCoordSets; ++set) {
        EXPECT_EQ(std::memcmp(copy.texCoords[set], reference.texCoords[set], vertices * 8), 0) << "set " << set;
    }
    EXPECT_EQ(std::memcmp(copy.triangles, reference.triangles,
                          static_cast<std::size_t>(reference.triangleCount) * sizeof(host::Triangle)),
              0);
    EXPECT_EQ(std::memcmp(copy.materials, reference.materials,
                          static_cast<std::size_t>(reference.materialCount) * sizeof(void*)),
              0);
}

// The clone in steps, in runs of every length from one triangle to more than
// there are, gives the one-go clone byte for byte, with the same phases.
TEST_F(Clone, CloneInStepsEqualsTheCloneInOneGo) {
    kerbmark::diagnostics = true;
    host::Geometry* source = mixedSource(geometries);
    auto* reference = static_cast<host::Geometry*>(kerbmark::cloneGeometry(source));
    ASSERT_NE(reference, nullptr);
    const std::vector<std::string> phases = log.lines();

    for (std::int32_t run = 1; run <= source->triangleCount + 1; ++run) {
        SCOPED_TRACE(run);
        log.clear();
        kerbmark::CloneJob job;
        ASSERT_TRUE(kerbmark::beginClone(source, job));
        int steps = 0;
        while (kerbmark::cloneTrianglesLeft(job) > 0) {
            ASSERT_TRUE(kerbmark::cloneSourceUnchanged(job));
            ASSERT_TRUE(kerbmark::continueClone(job, run));
            ++steps;
        }
        EXPECT_EQ(steps, (source->triangleCount + run - 1) / run);
        auto* copy = static_cast<host::Geometry*>(kerbmark::finishClone(job));
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(job.copy, nullptr);  // the caller's now
        expectSameBytes(*copy, *reference);
        EXPECT_EQ(geometries.extensionsCalls.back().destination, copy);
        EXPECT_EQ(geometries.extensionsCalls.back().source, source);
        EXPECT_EQ(geometries.unlockCalls.back(), copy);
        EXPECT_EQ(log.lines(), phases);
    }
    EXPECT_FALSE(geometries.unlockSawBadTriangle);
    EXPECT_TRUE(host.destroyGeometryCalls.empty());
}

// A source that changes between two steps is noticed before the next one, and
// a half-made copy dropped then goes back with its material references.
TEST_F(Clone, AHalfMadeCloneNoticesAChangedSourceAndIsReleased) {
    const std::vector<std::pair<const char*, std::function<void(host::Geometry&)>>> changes = {
        {"nothing", [](host::Geometry&) {}},
        {"triangle count", [](host::Geometry& g) { g.triangleCount -= 1; }},
        {"vertex count", [](host::Geometry& g) { g.vertexCount += 1; }},
        {"triangle array", [](host::Geometry& g) { g.triangles += 1; }},
        {"material count", [](host::Geometry& g) { g.materialCount -= 1; }},
        {"material table", [](host::Geometry& g) { g.materialCapacity = 5000; }},
    };
    for (const auto& [what, change] : changes) {
        SCOPED_TRACE(what);
        host.destroyGeometryCalls.clear();
        host::Geometry* source = mixedSource(geometries);
        kerbmark::CloneJob job;
        ASSERT_TRUE(kerbmark::beginClone(source, job));
        ASSERT_TRUE(kerbmark::continueClone(job, 5));
        auto* half = static_cast<host::Geometry*>(job.copy);
        const host::Geometry before = *source;
        change(*source);
        EXPECT_EQ(kerbmark::cloneSourceUnchanged(job), std::string(what) == "nothing");
        *source = before;
        kerbmark::releaseClone(job);
        EXPECT_EQ(job.copy, nullptr);
        EXPECT_EQ(host.destroyGeometryCalls, std::vector<void*>{half});
        EXPECT_EQ(half->references, 0);
        expectMaterialsUnreferenced(source);
    }
    // A triangle rewritten in place out of range fails its run; the copy goes back.
    host::Geometry* source = mixedSource(geometries);
    kerbmark::CloneJob job;
    ASSERT_TRUE(kerbmark::beginClone(source, job));
    ASSERT_TRUE(kerbmark::continueClone(job, 5));
    void* half = job.copy;
    source->triangles[7].vertex[2] = static_cast<std::uint16_t>(source->vertexCount);
    host.destroyGeometryCalls.clear();
    EXPECT_FALSE(kerbmark::continueClone(job, 5));
    EXPECT_EQ(job.copy, nullptr);
    EXPECT_EQ(host.destroyGeometryCalls, std::vector<void*>{half});
    EXPECT_EQ(kerbmark::finishClone(job), nullptr);
    expectMaterialsUnreferenced(source);
}

}  // namespace

namespace {

// The source's arrays are checked through one memory walk: an array that
// runs from readable memory into a reserved page still refuses the source,
// the same array wholly readable is copied.
TEST_F(Clone, ArrayRunningIntoReservedMemoryRefusesTheSource) {
    host::Geometry* source = geometries.source();
    const std::size_t bytes = 12u * static_cast<std::size_t>(source->vertexCount);
    testhost::PageBlock block(2);
    block.commit(0, PAGE_READWRITE);
    auto* normals = reinterpret_cast<dent::Vec*>(block.endOfPage(0, bytes - 12));  // last normal in page 1
    source->vertexBlock->normals = normals;
    EXPECT_EQ(kerbmark::cloneGeometry(source), nullptr);
    EXPECT_EQ(phase(), kUnsupported);
    EXPECT_TRUE(geometries.createCalls.empty());

    block.commit(1, PAGE_READWRITE);
    for (std::int32_t i = 0; i < source->vertexCount; ++i) normals[i] = {0.0f, 0.0f, 1.0f};
    auto* copy = static_cast<host::Geometry*>(kerbmark::cloneGeometry(source));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(std::memcmp(copy->vertexBlock->normals, normals, bytes), 0);
}

}  // namespace
