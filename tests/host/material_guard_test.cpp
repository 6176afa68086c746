#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "deform/records.h"
#include "foundation/crash_report.h"
#include "foundation/log.h"
#include "host/material_guard.h"
#include "host/support/fake_host.h"
#include "host/support/log_capture.h"
#include "host/support/memory_pages.h"

using kerbmark::alphaDraw;
using kerbmark::alphaRenderGuard;
using kerbmark::AlphaDrawRecord;

namespace {

constexpr std::uint32_t kExtra = 0x77;
void* const kRendererResult = reinterpret_cast<void*>(std::uintptr_t{0x5EED0});

std::string hex8(const void* pointer) {
    char text[16];
    std::snprintf(text, sizeof text, "%08lX", static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(pointer)));
    return text;
}

std::string refusalLine(const void* atomic, const void* geometry, int count, int handle, const char* action) {
    return "MaterialGuard: alpha table invalid atomic=" + hex8(atomic) + " geometry=" + hex8(geometry) +
           " count=" + std::to_string(count) + " handle=" + std::to_string(handle) + " action=" + action;
}

// What the host's renderer saw when it was called.
struct RendererCall {
    void* atomic;
    std::uint32_t extra;
    void* drawnGeometry;
    AlphaDrawRecord record;
    std::string phase;
};
std::vector<RendererCall> rendererCalls;
void (*insideRenderer)(void* atomic) = nullptr;

void* rendererDouble(void* atomic, std::uint32_t extra) {
    rendererCalls.push_back(
        {atomic, extra, static_cast<host::Atomic*>(atomic)->geometry, alphaDraw, std::string(kerbmark::phase)});
    if (insideRenderer) insideRenderer(atomic);
    return kRendererResult;
}

bool sameRecord(const AlphaDrawRecord& a, const AlphaDrawRecord& b) {
    return a.atomic == b.atomic && a.geometry == b.geometry && a.materials == b.materials && a.active == b.active;
}

class MaterialGuard : public ::testing::Test {
protected:
    void SetUp() override {
        kerbmark::recordList = &records;
        kerbmark::savedAlphaRenderer = rendererDouble;
        kerbmark::alphaRefusalCount = 0;
        alphaDraw = AlphaDrawRecord{};
        rendererCalls.clear();
        insideRenderer = nullptr;
        kerbmark::setPhase(kStepPhase);
    }
    void TearDown() override {
        kerbmark::recordList = nullptr;
        kerbmark::savedAlphaRenderer = nullptr;
        insideRenderer = nullptr;
        alphaDraw = AlphaDrawRecord{};
    }

    // A vehicle whose one atomic draws a copy made by the module.
    struct Deformed {
        host::Vehicle* vehicle;
        host::Atomic* atomic;
        host::Geometry* original;
        host::Geometry* copy;
        kerbmark::MeshEntry* entry;
    };
    Deformed deformedVehicle(std::int32_t handle, host::Geometry* copy) {
        Deformed d{};
        d.vehicle = host.vehicle(handle);
        d.original = host.geometry(3);
        d.atomic = host.atomic(d.vehicle, d.original);
        d.copy = copy;
        auto& record = kerbmark::appendRecord(records, d.vehicle, handle, d.vehicle->clump, 1000.0f, 0);
        d.entry = kerbmark::addMeshEntry(record, d.original, d.copy, {});
        host.setAtomicGeometry(d.atomic, d.copy, 0);
        host.setGeometryCalls.clear();
        return d;
    }

    static constexpr const char* kStepPhase = "hit: enumerate atomics";
    testhost::FakeHost host;
    testhost::LogCapture log;
    kerbmark::RecordList records;
};

TEST_F(MaterialGuard, ValidTableIsDrawnWithTheDrawRecordedAndEverythingPutBack) {
    host::Geometry* geometry = host.geometry(5);
    host::Atomic* atomic = host.looseAtomic(geometry);

    EXPECT_EQ(alphaRenderGuard(atomic, kExtra), kRendererResult);

    ASSERT_EQ(rendererCalls.size(), 1u);
    EXPECT_EQ(rendererCalls[0].atomic, atomic);
    EXPECT_EQ(rendererCalls[0].extra, kExtra);
    EXPECT_TRUE(sameRecord(rendererCalls[0].record, AlphaDrawRecord{atomic, geometry, 5, true}));
    EXPECT_EQ(rendererCalls[0].phase, "render: guarded alpha draw");
    EXPECT_TRUE(sameRecord(alphaDraw, AlphaDrawRecord{}));
    EXPECT_STREQ(kerbmark::phase, kStepPhase);
    EXPECT_FALSE(log.exists());
    EXPECT_EQ(kerbmark::alphaRefusalCount, 0u);
}

TEST_F(MaterialGuard, InvalidTableOfAHostGeometrySkipsTheDraw) {
    host::Geometry* geometry = host.geometry(2);
    geometry->materials[1] = reinterpret_cast<void*>(std::uintptr_t{0x30001});
    host::Atomic* atomic = host.looseAtomic(geometry);

    EXPECT_EQ(alphaRenderGuard(atomic, kExtra), atomic);

    EXPECT_TRUE(rendererCalls.empty());
    EXPECT_EQ(log.lines(), std::vector<std::string>{refusalLine(atomic, geometry, 2, -1, "skip draw")});
    EXPECT_EQ(kerbmark::alphaRefusalCount, 1u);
    EXPECT_TRUE(sameRecord(alphaDraw, AlphaDrawRecord{}));
    EXPECT_STREQ(kerbmark::phase, kStepPhase);
    EXPECT_TRUE(host.setGeometryCalls.empty());
}

TEST_F(MaterialGuard, AtomicBelow64KiBIsRefusedWithoutAnyQuery) {
    void* atomic = reinterpret_cast<void*>(std::uintptr_t{0x0000FFFF});
    testhost::RegionQueryCounter queries;
    alphaRenderGuard(atomic, kExtra);
    EXPECT_EQ(queries.count(), 0u);
    EXPECT_TRUE(rendererCalls.empty());
    EXPECT_EQ(log.lines(), std::vector<std::string>{refusalLine(atomic, nullptr, -1, -1, "skip draw")});
}

TEST_F(MaterialGuard, UnreadableAtomicOrGeometryIsNeverFollowed) {
    testhost::PageBlock block(2);
    block.commit(0, PAGE_READWRITE);
    // An atomic whose 112 bytes run into a reserved page.
    void* cutAtomic = block.endOfPage(0, 100);
    alphaRenderGuard(cutAtomic, kExtra);
    // A readable atomic pointing at a geometry in the reserved page.
    host::Atomic* atomic = host.looseAtomic(nullptr);
    atomic->geometry = reinterpret_cast<host::Geometry*>(block.page(1));
    alphaRenderGuard(atomic, kExtra);

    EXPECT_TRUE(rendererCalls.empty());
    EXPECT_EQ(log.lines(), (std::vector<std::string>{refusalLine(cutAtomic, nullptr, -1, -1, "skip draw"),
                                                     refusalLine(atomic, block.page(1), -1, -1, "skip draw")}));
}

TEST_F(MaterialGuard, BrokenCopyWithSameVehicleIsReplacedByTheOriginalAndDrawn) {
    host::Geometry* copy = host.geometry(0);
    Deformed d = deformedVehicle(0x1207, copy);

    EXPECT_EQ(alphaRenderGuard(d.atomic, kExtra), kRendererResult);

    ASSERT_EQ(host.setGeometryCalls.size(), 1u);
    EXPECT_EQ(host.setGeometryCalls[0].atomic, d.atomic);
    EXPECT_EQ(host.setGeometryCalls[0].geometry, d.original);
    EXPECT_EQ(host.setGeometryCalls[0].flags, 0u);
    EXPECT_TRUE(d.entry->materialFault);
    EXPECT_EQ(d.entry->copy, copy) << "the entry keeps its copy";
    EXPECT_EQ(log.lines(), std::vector<std::string>{refusalLine(d.atomic, copy, 0, 0x1207, "restore original")});
    ASSERT_EQ(rendererCalls.size(), 1u);
    EXPECT_EQ(rendererCalls[0].drawnGeometry, d.original);
    EXPECT_TRUE(sameRecord(rendererCalls[0].record, AlphaDrawRecord{d.atomic, d.original, 3, true}));
    EXPECT_TRUE(sameRecord(alphaDraw, AlphaDrawRecord{}));
    EXPECT_STREQ(kerbmark::phase, kStepPhase);
}

TEST_F(MaterialGuard, BrokenCopyIsOnlyMarkedWhenTheVehicleCannotBeConfirmed) {
    enum Change { kRemoved, kReplaced, kNoPool, kClumpChanged, kOriginalBroken };
    for (Change change : {kRemoved, kReplaced, kNoPool, kClumpChanged, kOriginalBroken}) {
        records.records.clear();
        log.clear();
        rendererCalls.clear();
        host.setPoolPresent(true);
        const std::int32_t handle = 0x2000 + change;
        host::Geometry* copy = host.geometry(1);
        copy->materialCapacity = 0;
        Deformed d = deformedVehicle(handle, copy);
        static host::Clump otherClump;
        switch (change) {
            case kRemoved: host.removeVehicle(handle); break;
            case kReplaced: host.replaceVehicle(handle); break;
            case kNoPool: host.setPoolPresent(false); break;
            case kClumpChanged: d.vehicle->clump = &otherClump; break;
            case kOriginalBroken: d.original->materialCount = 200; break;
        }

        EXPECT_EQ(alphaRenderGuard(d.atomic, kExtra), d.atomic) << change;

        EXPECT_TRUE(host.setGeometryCalls.empty()) << change;
        EXPECT_TRUE(rendererCalls.empty()) << change;
        EXPECT_TRUE(d.entry->materialFault) << change;
        EXPECT_EQ(d.atomic->geometry, copy) << change;
        EXPECT_EQ(log.lines(), std::vector<std::string>{refusalLine(d.atomic, copy, 1, handle, "skip draw")}) << change;
    }
}

TEST_F(MaterialGuard, WithoutARecordListNoCopyIsLookedFor) {
    host::Geometry* copy = host.geometry(0);
    Deformed d = deformedVehicle(0x1300, copy);
    kerbmark::recordList = nullptr;
    alphaRenderGuard(d.atomic, kExtra);
    EXPECT_FALSE(d.entry->materialFault);
    EXPECT_TRUE(host.setGeometryCalls.empty());
    EXPECT_EQ(log.lines(), std::vector<std::string>{refusalLine(d.atomic, copy, 0, -1, "skip draw")});
}

TEST_F(MaterialGuard, SeventeenthRefusalIsSilentButStillActs) {
    host::Atomic* broken = host.looseAtomic(host.geometry(0));
    for (int i = 0; i < 16; ++i) alphaRenderGuard(broken, kExtra);
    EXPECT_EQ(log.lines().size(), 16u);

    Deformed d = deformedVehicle(0x1400, host.geometry(0));
    alphaRenderGuard(d.atomic, kExtra);
    alphaRenderGuard(broken, kExtra);

    EXPECT_EQ(log.lines().size(), 16u);
    EXPECT_EQ(kerbmark::alphaRefusalCount, 18u);
    ASSERT_EQ(host.setGeometryCalls.size(), 1u) << "the 17th refusal still restores";
    EXPECT_EQ(d.atomic->geometry, d.original);
    EXPECT_EQ(rendererCalls.size(), 1u);
}

TEST_F(MaterialGuard, NestedDrawLeavesTheOuterDrawAndPhaseInPlace) {
    static host::Atomic* inner = nullptr;
    static host::Atomic* refusedInner = nullptr;
    static AlphaDrawRecord afterInner;
    static std::string phaseAfterInner;
    inner = host.looseAtomic(host.geometry(2));
    refusedInner = host.looseAtomic(host.geometry(0));
    host::Geometry* outerGeometry = host.geometry(4);
    host::Atomic* outer = host.looseAtomic(outerGeometry);
    insideRenderer = [](void* atomic) {
        if (atomic == inner || atomic == refusedInner) return;
        alphaRenderGuard(inner, 1);
        alphaRenderGuard(refusedInner, 2);
        afterInner = alphaDraw;
        phaseAfterInner = kerbmark::phase;
    };

    alphaRenderGuard(outer, kExtra);

    ASSERT_EQ(rendererCalls.size(), 2u);
    EXPECT_EQ(rendererCalls[1].atomic, inner);
    EXPECT_TRUE(sameRecord(afterInner, AlphaDrawRecord{outer, outerGeometry, 4, true}));
    EXPECT_EQ(phaseAfterInner, "render: guarded alpha draw");
    EXPECT_TRUE(sameRecord(alphaDraw, AlphaDrawRecord{}));
    EXPECT_STREQ(kerbmark::phase, kStepPhase);
}

TEST_F(MaterialGuard, NothingEscapesFromTheRenderer) {
    insideRenderer = [](void*) { throw std::runtime_error("renderer"); };
    host::Atomic* atomic = host.looseAtomic(host.geometry(1));
    EXPECT_NO_THROW(alphaRenderGuard(atomic, kExtra));
    EXPECT_TRUE(sameRecord(alphaDraw, AlphaDrawRecord{}));
    EXPECT_STREQ(kerbmark::phase, kStepPhase);
}

TEST_F(MaterialGuard, WithoutTheHostRendererNothingIsCalled) {
    kerbmark::savedAlphaRenderer = nullptr;
    host::Atomic* atomic = host.looseAtomic(host.geometry(1));
    EXPECT_EQ(alphaRenderGuard(atomic, kExtra), atomic);
    EXPECT_TRUE(sameRecord(alphaDraw, AlphaDrawRecord{}));
    EXPECT_STREQ(kerbmark::phase, kStepPhase);
}

TEST_F(MaterialGuard, CrashInsideTheRendererNamesTheDraw) {
    host::Geometry* geometry = host.geometry(6);
    host::Atomic* atomic = host.looseAtomic(geometry);
    insideRenderer = [](void*) {
        EXCEPTION_RECORD record{};
        record.ExceptionCode = 0xC0000005;
        CONTEXT context{};
        EXCEPTION_POINTERS pointers{&record, &context};
        kerbmark::crashReport(&pointers);
    };
    alphaRenderGuard(atomic, kExtra);
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find(" phase=render: guarded alpha draw "), std::string::npos) << lines[0];
    EXPECT_EQ(lines[2], "ALPHA active=1 atomic=" + hex8(atomic) + " geometry=" + hex8(geometry) + " materials=6");
    EXPECT_STREQ(kerbmark::phase, kStepPhase) << "the guard puts its caller's phase back";
}

}  // namespace

namespace {

// An atomic (112 bytes read), its geometry (96 bytes) and a material table
// copied from `source` to the given places.
host::Atomic* placeDraw(std::uint8_t* atomicAt, std::uint8_t* geometryAt, std::uint8_t* tableAt,
                        host::Geometry* source) {
    std::memset(atomicAt, 0, 112);
    std::memcpy(geometryAt, source, sizeof(host::Geometry));
    std::memcpy(tableAt, source->materials, 4u * static_cast<std::uint32_t>(source->materialCount));
    auto* geometry = reinterpret_cast<host::Geometry*>(geometryAt);
    geometry->materials = reinterpret_cast<void**>(tableAt);
    auto* atomic = reinterpret_cast<host::Atomic*>(atomicAt);
    atomic->geometry = geometry;
    return atomic;
}

}  // namespace

// One draw asks the platform once when one region holds the atomic, its
// geometry and the table, once per region when they lie apart, and decides as
// before: a table running into reserved memory is still refused.
TEST_F(MaterialGuard, OneRegionQueryAnswersForEverythingInOneRegion) {
    host::Geometry* source = host.geometry(3);
    testhost::PageBlock block(6);
    for (std::size_t page : {0u, 2u, 4u}) block.commit(page, PAGE_READWRITE);

    host::Atomic* together = placeDraw(block.page(0), block.page(0) + 128, block.page(0) + 256, source);
    {
        testhost::RegionQueryCounter queries;
        EXPECT_EQ(alphaRenderGuard(together, kExtra), kRendererResult);
        EXPECT_EQ(queries.count(), 1u);
    }
    host::Atomic* apart = placeDraw(block.page(0), block.page(2), block.page(4), source);
    {
        testhost::RegionQueryCounter queries;
        EXPECT_EQ(alphaRenderGuard(apart, kExtra), kRendererResult);
        EXPECT_EQ(queries.count(), 3u);
    }
    EXPECT_EQ(rendererCalls.size(), 2u);

    // The last table pointer lies in the reserved page after the atomic's page.
    host::Atomic* cut = placeDraw(block.page(0), block.page(0) + 128, block.page(0) + 256, source);
    auto** lastTwoSlots = reinterpret_cast<void**>(block.endOfPage(0, 8));
    lastTwoSlots[0] = lastTwoSlots[1] = source->materials[0];
    cut->geometry->materials = lastTwoSlots;
    EXPECT_EQ(alphaRenderGuard(cut, kExtra), cut);
    EXPECT_EQ(rendererCalls.size(), 2u);
    EXPECT_EQ(kerbmark::alphaRefusalCount, 1u);
}
