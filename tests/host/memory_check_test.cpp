#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "host/memory_check.h"
#include "host/support/memory_pages.h"
#include "host/support/test_geometry.h"

using kerbmark::materialTableValid;
using kerbmark::readableRange;
using testhost::PageBlock;
using testhost::RegionQueryCounter;
using testhost::TestGeometry;

namespace {

const std::size_t kPage = PageBlock::pageSize();

// Copies the first `bytes` of a geometry record to `where`; its table stays where it was.
host::Geometry* placeGeometry(std::uint8_t* where, TestGeometry& source, std::size_t bytes = sizeof(host::Geometry)) {
    std::memcpy(where, source.get(), bytes);
    return reinterpret_cast<host::Geometry*>(where);
}

TEST(ReadableRange, ZeroLengthNeedsNoQueryWhateverTheAddress) {
    RegionQueryCounter queries;
    EXPECT_TRUE(readableRange(std::uintptr_t{0}, 0));
    EXPECT_TRUE(readableRange(std::uintptr_t{0xFFFFFFF0}, 0));
    EXPECT_EQ(queries.count(), 0u);
}

TEST(ReadableRange, FollowsCommittedReadableRegionsToTheEnd) {
    PageBlock block(3);
    block.commit(0, PAGE_READWRITE);
    block.commit(1, PAGE_READONLY);
    block.commit(2, PAGE_EXECUTE_READ);
    RegionQueryCounter queries;
    EXPECT_TRUE(readableRange(block.page(0), static_cast<std::uint32_t>(3 * kPage)));
    EXPECT_GE(queries.count(), 3u);  // one region per protection
    EXPECT_TRUE(readableRange(block.endOfPage(0, 8), 16));
}

TEST(ReadableRange, RefusesAnyByteOutsideCommittedReadableMemory) {
    PageBlock block(5);
    block.commit(0, PAGE_READWRITE);
    // page 1 only reserved
    block.commit(2, PAGE_READWRITE | PAGE_GUARD);
    block.commit(3, PAGE_NOACCESS);
    block.commit(4, PAGE_EXECUTE);  // executable but not readable

    EXPECT_TRUE(readableRange(block.endOfPage(0, 16), 16));
    EXPECT_FALSE(readableRange(block.endOfPage(0, 16), 17)) << "last byte in a reserved page";
    EXPECT_FALSE(readableRange(block.page(1), 1));
    EXPECT_FALSE(readableRange(block.page(2), 4)) << "guard page";
    EXPECT_FALSE(readableRange(block.page(3), 4)) << "no access";
    EXPECT_FALSE(readableRange(block.page(4), 4)) << "execute only";

    // The guard page was only looked at, never touched.
    MEMORY_BASIC_INFORMATION info{};
    VirtualQuery(block.page(2), &info, sizeof info);
    EXPECT_NE(info.Protect & PAGE_GUARD, 0u);
}

TEST(ReadableRange, RangeRunningPastTheAddressSpaceIsRefusedWithoutQuery) {
    RegionQueryCounter queries;
    EXPECT_FALSE(readableRange(std::uintptr_t{0xFFFFFFF0}, 0x20));
    EXPECT_FALSE(readableRange(std::uintptr_t{0xFFFFFFFF}, 2));
    EXPECT_EQ(queries.count(), 0u);
}

bool failingQuery(std::uintptr_t, kerbmark::MemoryRegion&) { return false; }
bool emptyRegionQuery(std::uintptr_t address, kerbmark::MemoryRegion& region) {
    region.base = address;
    region.size = 0;
    region.state = 0x1000;
    region.protection = PAGE_READWRITE;
    return true;
}
bool regionBehindQuery(std::uintptr_t address, kerbmark::MemoryRegion& region) {
    region.base = address - 0x1000;
    region.size = 0x1000;  // ends exactly at the address asked about
    region.state = 0x1000;
    region.protection = PAGE_READWRITE;
    return true;
}

TEST(ReadableRange, RefusesWhenThePlatformGivesNoUsefulAnswer) {
    const kerbmark::RegionQueryFn previous = kerbmark::regionQuery;
    kerbmark::regionQuery = failingQuery;
    EXPECT_FALSE(readableRange(std::uintptr_t{0x20000}, 4));
    kerbmark::regionQuery = emptyRegionQuery;
    EXPECT_FALSE(readableRange(std::uintptr_t{0x20000}, 4)) << "a region that does not advance";
    kerbmark::regionQuery = regionBehindQuery;
    EXPECT_FALSE(readableRange(std::uintptr_t{0x20000}, 4));
    kerbmark::regionQuery = previous;
}

TEST(ReadableMemoryWalk, AsksOncePerReadableRunAndNeverTrustsWhatItHasNotSeen) {
    PageBlock block(4);
    block.commit(0, PAGE_READWRITE);
    block.commit(1, PAGE_READWRITE);
    // page 2 only reserved
    block.commit(3, PAGE_READWRITE);
    kerbmark::ReadableMemoryWalk walk;
    RegionQueryCounter queries;

    EXPECT_TRUE(walk.readable(block.page(0) + 64, 12));
    const unsigned first = queries.count();
    EXPECT_GE(first, 1u);
    // Anywhere else in the same readable run: no further query.
    EXPECT_TRUE(walk.readable(block.page(0), 16));
    EXPECT_TRUE(walk.readable(block.endOfPage(1, 12), 12));
    EXPECT_EQ(queries.count(), first);

    // Running into the reserved page, or lying in it, is refused (with queries).
    EXPECT_FALSE(walk.readable(block.endOfPage(1, 4), 8));
    EXPECT_FALSE(walk.readable(block.page(2), 4));
    EXPECT_GT(queries.count(), first);
    // Another readable run is asked about once, then remembered.
    EXPECT_TRUE(walk.readable(block.page(3), 4));
    const unsigned afterLast = queries.count();
    EXPECT_TRUE(walk.readable(block.page(3) + 100, 4));
    EXPECT_EQ(queries.count(), afterLast);
    EXPECT_TRUE(walk.readable(nullptr, 0));
    EXPECT_FALSE(walk.readable(std::uintptr_t{0xFFFFFFF0}, 0x20));
}

// While a scope lives, its thread's readableRange asks once per readable run
// (up to eight runs); another thread, and the same thread after the scope,
// ask the platform every time.
TEST(ReadableMemoryScope, RemembersRunsForItsOwnThreadOnly) {
    PageBlock blocks[9] = {PageBlock(2), PageBlock(2), PageBlock(2), PageBlock(2), PageBlock(2),
                           PageBlock(2), PageBlock(2), PageBlock(2), PageBlock(2)};
    for (PageBlock& block : blocks) block.commit(0, PAGE_READWRITE);  // page 1 only reserved
    RegionQueryCounter queries;
    {
        kerbmark::ReadableMemoryScope scope;
        for (int i = 0; i < 8; ++i) EXPECT_TRUE(readableRange(blocks[i].page(0), 16));
        const unsigned asked = queries.count();
        for (int i = 0; i < 8; ++i) EXPECT_TRUE(readableRange(blocks[i].page(0) + 100, 16));
        EXPECT_EQ(queries.count(), asked);
        EXPECT_FALSE(readableRange(blocks[0].page(1), 4)) << "never remembered as readable";

        bool otherThread = true;
        const unsigned before = queries.count();
        std::thread([&] { otherThread = readableRange(blocks[0].page(0), 16); }).join();
        EXPECT_TRUE(otherThread);
        EXPECT_GT(queries.count(), before) << "another thread asks for itself";

        // A ninth run takes the place of the oldest.
        EXPECT_TRUE(readableRange(blocks[8].page(0), 16));
        const unsigned ninth = queries.count();
        EXPECT_TRUE(readableRange(blocks[0].page(0), 16));
        EXPECT_GT(queries.count(), ninth);
    }
    const unsigned after = queries.count();
    EXPECT_TRUE(readableRange(blocks[1].page(0), 16));
    EXPECT_GT(queries.count(), after);
}

TEST(MaterialTable, CountAndCapacityLimits) {
    TestGeometry full(128);
    EXPECT_TRUE(materialTableValid(full.get()));
    TestGeometry tooMany(129);
    EXPECT_FALSE(materialTableValid(tooMany.get()));
    TestGeometry largestCapacity(1, 4, 4096);
    EXPECT_TRUE(materialTableValid(largestCapacity.get()));
    TestGeometry tooLargeCapacity(1, 4, 4097);
    EXPECT_FALSE(materialTableValid(tooLargeCapacity.get()));
    TestGeometry capacityBelowCount(3, 4, 2);
    EXPECT_FALSE(materialTableValid(capacityBelowCount.get()));
    TestGeometry none(0);
    EXPECT_FALSE(materialTableValid(none.get())) << "a geometry without materials";
    TestGeometry negative(2);
    negative.geometry.materialCount = -1;
    EXPECT_FALSE(materialTableValid(negative.get()));
}

TEST(MaterialTable, EveryMaterialPointerAlignedAndAbove64KiB) {
    TestGeometry g(4);
    ASSERT_TRUE(materialTableValid(g.get()));
    g.table[3] = reinterpret_cast<void*>(std::uintptr_t{0x20002});
    EXPECT_FALSE(materialTableValid(g.get())) << "misaligned";
    g.table[3] = reinterpret_cast<void*>(std::uintptr_t{0xFFFC});
    EXPECT_FALSE(materialTableValid(g.get())) << "below 64 KiB";
    g.table[3] = reinterpret_cast<void*>(std::uintptr_t{0x10000});
    EXPECT_TRUE(materialTableValid(g.get())) << "the lowest accepted pointer";
    g.table[3] = nullptr;
    EXPECT_FALSE(materialTableValid(g.get()));
}

TEST(MaterialTable, TablePointerAndTableMemory) {
    TestGeometry g(8);
    g.geometry.materials = reinterpret_cast<void**>(std::uintptr_t{0xFFFC});
    EXPECT_FALSE(materialTableValid(g.get())) << "table below 64 KiB";
    g.geometry.materials = reinterpret_cast<void**>(std::uintptr_t{0xFFFFFFF0});
    EXPECT_FALSE(materialTableValid(g.get())) << "table running past the address space";

    // A table whose last pointers lie in a reserved page.
    PageBlock block(2);
    block.commit(0, PAGE_READWRITE);
    auto** table = reinterpret_cast<void**>(block.endOfPage(0, 4 * 4));
    for (int i = 0; i < 4; ++i) table[i] = g.table[i];
    g.geometry.materials = table;
    g.geometry.materialCount = 4;
    EXPECT_TRUE(materialTableValid(g.get()));
    g.geometry.materialCount = 5;
    EXPECT_FALSE(materialTableValid(g.get()));
}

TEST(MaterialTable, GeometryRecordMustBeReadableAsAWhole) {
    TestGeometry source(2);
    PageBlock block(4);
    block.commit(0, PAGE_READWRITE);
    // The fields read (+0x20..+0x2C) are committed, the rest of the 96 bytes is not.
    host::Geometry* straddling = placeGeometry(block.endOfPage(0, 48), source, 48);
    EXPECT_FALSE(materialTableValid(straddling));

    block.commit(1, PAGE_READWRITE);
    EXPECT_TRUE(materialTableValid(straddling)) << "both pages committed";
    block.protect(1, PAGE_READWRITE | PAGE_GUARD);
    EXPECT_FALSE(materialTableValid(straddling)) << "second page is a guard page";
    block.protect(1, PAGE_NOACCESS);
    EXPECT_FALSE(materialTableValid(straddling)) << "second page is no-access";

    block.commit(2, PAGE_READWRITE);
    host::Geometry* readOnly = placeGeometry(block.page(2), source);
    block.protect(2, PAGE_READONLY);
    EXPECT_TRUE(materialTableValid(readOnly));
}

TEST(MaterialTable, AddressesOutsideTheRangeAreRefusedWithoutQuery) {
    RegionQueryCounter queries;
    EXPECT_FALSE(materialTableValid(nullptr));
    EXPECT_FALSE(materialTableValid(reinterpret_cast<void*>(std::uintptr_t{0xFFFF})));
    EXPECT_FALSE(materialTableValid(reinterpret_cast<void*>(std::uintptr_t{0xFFFFFFA0})));
    EXPECT_EQ(queries.count(), 0u);
}

}  // namespace

namespace {

// The material table check asks once when the record and its table share a
// region, once more when the table lies elsewhere, and decides the same way.
TEST(MaterialTable, OneRegionQueryWhenRecordAndTableShareARegion) {
    TestGeometry source(4);
    PageBlock block(3);
    block.commit(0, PAGE_READWRITE);
    block.commit(2, PAGE_READWRITE);
    host::Geometry* g = placeGeometry(block.page(0), source);
    auto** closeTable = reinterpret_cast<void**>(block.page(0) + 512);
    auto** distantTable = reinterpret_cast<void**>(block.page(2));
    for (int i = 0; i < 4; ++i) closeTable[i] = distantTable[i] = source.table[i];

    g->materials = closeTable;
    RegionQueryCounter queries;
    EXPECT_TRUE(materialTableValid(g));
    EXPECT_EQ(queries.count(), 1u);
    g->materials = distantTable;
    queries.reset();
    EXPECT_TRUE(materialTableValid(g));
    EXPECT_EQ(queries.count(), 2u);
    g->materials = reinterpret_cast<void**>(block.endOfPage(0, 8));  // runs into the reserved page
    EXPECT_FALSE(materialTableValid(g));
}

}  // namespace
