#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "deform/records.h"
#include "deform/work_queue.h"
#include "foundation/settings.h"
#include "host/bindings.h"
#include "host/support/fake_host.h"
#include "host/support/module_state.h"
#include "host/support/log_capture.h"
#include "host/support/memory_pages.h"

using kerbmark::VehicleRecord;

namespace {

constexpr const char* kRetained = "MaterialGuard: invalid geometry retained; unsafe material release skipped.";

class Records : public ::testing::Test {
protected:
    struct Mesh {
        host::Atomic* atomic;
        host::Geometry* original;
        host::Geometry* copy;
        std::int16_t originalReferencesBefore;
    };
    struct Deformed {
        VehicleRecord* record;
        host::Vehicle* vehicle;
        std::vector<Mesh> meshes;
    };

    // A vehicle with `meshCount` atomics, each already given its own copy the
    // way the deformation driver does it: entry stored, then the copy attached.
    Deformed deformed(std::int32_t handle, int meshCount, std::uint32_t lastHit = 0) {
        Deformed d{};
        d.vehicle = host.vehicle(handle);
        d.record = &kerbmark::appendRecord(list, d.vehicle, handle, d.vehicle->clump, 700.0f, lastHit);
        for (int i = 0; i < meshCount; ++i) {
            host::Geometry* original = host.geometry(2, 10 + i);
            host::Atomic* atomic = host.atomic(d.vehicle, original);
            Mesh mesh{atomic, original, host.geometry(2, 10 + i), original->references};
            EXPECT_NE(kerbmark::addMeshEntry(*d.record, original, mesh.copy, std::vector<dent::Vec>(10 + i)),
                      nullptr);
            game::setGeometry(atomic, mesh.copy, 0);
            d.meshes.push_back(mesh);
        }
        d.record->episode.active = true;
        d.record->episode.number = 3;
        d.record->episode.depth = 0.2f;
        host.setGeometryCalls.clear();
        host.destroyGeometryCalls.clear();
        host.atomicsCalls = 0;
        return d;
    }

    testhost::FakeHost host;
    testhost::LogCapture log;
    kerbmark::RecordList list;
    testhost::ModuleState moduleState;
};

TEST_F(Records, NewRecordAndItsCreaseSeed) {
    host::Vehicle* vehicle = host.vehicle(0x0305);
    VehicleRecord& record = kerbmark::appendRecord(list, vehicle, 0x0305, vehicle->clump, 650.0f, 123456);
    EXPECT_EQ(record.vehicle, vehicle);
    EXPECT_EQ(record.vehicleRef, 0x0305);
    EXPECT_EQ(record.clump, vehicle->clump);
    EXPECT_EQ(record.health, 650.0f);
    EXPECT_EQ(record.lastHit, 123456u);
    EXPECT_EQ(record.creaseSeed, (0x0305u * 0x9E3779B9u) ^ 123456u);
    EXPECT_FALSE(record.episode.active);
    EXPECT_EQ(kerbmark::findRecord(list, vehicle), &record);
    EXPECT_EQ(kerbmark::findRecord(list, &record), nullptr);
}

TEST_F(Records, MeshEntryTakesOneReferenceAndCountsTheCopysVertices) {
    Deformed d = deformed(0x100, 2);
    EXPECT_EQ(d.record->totalVertices, 10u + 11u);
    // Entry +1, the atomic moved to the copy -1.
    EXPECT_EQ(d.meshes[0].original->references, d.meshes[0].originalReferencesBefore);
    EXPECT_EQ(d.meshes[0].copy->references, 2);  // the module's and the atomic's

    testhost::PageBlock reserved(1);
    EXPECT_EQ(kerbmark::addMeshEntry(*d.record, reserved.page(0), host.geometry(1), {}), nullptr);
    EXPECT_EQ(d.record->meshes.size(), 2u);
    EXPECT_EQ(d.record->totalVertices, 21u);

    Deformed other = deformed(0x200, 1);
    EXPECT_EQ(kerbmark::totalVerticesOfAllRecords(list), 21u + other.record->totalVertices);
}

TEST_F(Records, ResetPutsOriginalsBackAndReferencesWhereTheyStarted) {
    Deformed d = deformed(0x100, 3, 4000);
    d.record->healthDrop = 5.0f;
    const std::uint32_t seed = d.record->creaseSeed;

    kerbmark::resetRecord(*d.record);

    ASSERT_EQ(host.setGeometryCalls.size(), 3u);
    std::vector<void*> expectedDestroys;
    for (std::size_t i = 0; i < 3; ++i) {
        const Mesh& mesh = d.meshes[i];
        EXPECT_EQ(host.setGeometryCalls[i].atomic, mesh.atomic);
        EXPECT_EQ(host.setGeometryCalls[i].geometry, mesh.original);
        EXPECT_EQ(host.setGeometryCalls[i].flags, 0u);
        EXPECT_EQ(mesh.atomic->geometry, mesh.original);
        EXPECT_EQ(mesh.original->references, mesh.originalReferencesBefore);
        EXPECT_EQ(mesh.copy->references, 0) << "the copy is gone";
        const Mesh& fromLast = d.meshes[2 - i];
        expectedDestroys.push_back(fromLast.copy);
        expectedDestroys.push_back(fromLast.original);
    }
    EXPECT_EQ(host.destroyGeometryCalls, expectedDestroys) << "entries last to first, copy before original";

    EXPECT_TRUE(d.record->meshes.empty());
    EXPECT_EQ(d.record->totalVertices, 0u);
    EXPECT_FALSE(d.record->episode.active);
    EXPECT_EQ(d.record->episode.number, 0u);
    EXPECT_EQ(d.record->episode.depth, 0.0f);
    // Identity and history stay.
    EXPECT_EQ(d.record->vehicle, d.vehicle);
    EXPECT_EQ(d.record->vehicleRef, 0x100);
    EXPECT_EQ(d.record->lastHit, 4000u);
    EXPECT_EQ(d.record->healthDrop, 5.0f);
    EXPECT_EQ(d.record->creaseSeed, seed);
    EXPECT_EQ(list.records.size(), 1u);
    EXPECT_FALSE(log.exists());
}

TEST_F(Records, ResetOfAVehicleThatIsNoLongerTheSameLeavesItsAtomicsAlone) {
    enum Change { kRemoved, kReplaced, kNoPool, kClumpChanged };
    for (Change change : {kRemoved, kReplaced, kNoPool, kClumpChanged}) {
        host.setPoolPresent(true);
        const std::int32_t handle = 0x300 + change;
        Deformed d = deformed(handle, 2);
        static host::Clump rebuilt;
        switch (change) {
            case kRemoved: host.removeVehicle(handle); break;
            case kReplaced: host.replaceVehicle(handle); break;
            case kNoPool: host.setPoolPresent(false); break;
            case kClumpChanged: d.vehicle->clump = &rebuilt; break;
        }

        kerbmark::resetRecord(*d.record);

        EXPECT_TRUE(host.setGeometryCalls.empty()) << change;
        EXPECT_EQ(host.atomicsCalls, 0u) << change;
        for (const Mesh& mesh : d.meshes) {
            EXPECT_EQ(mesh.atomic->geometry, mesh.copy) << change;
            EXPECT_EQ(mesh.copy->references, 1) << change << ": only the atomic's reference is left";
            EXPECT_EQ(mesh.original->references, mesh.originalReferencesBefore - 1) << change;
        }
        EXPECT_EQ(host.destroyGeometryCalls.size(), 4u) << change;
        EXPECT_TRUE(d.record->meshes.empty()) << change;
    }
}

TEST_F(Records, ResetLeavesAnAtomicThatNoLongerDrawsTheCopy) {
    Deformed d = deformed(0x100, 2);
    // The material guard already put the first original back.
    game::setGeometry(d.meshes[0].atomic, d.meshes[0].original, 0);
    host.setGeometryCalls.clear();

    kerbmark::resetRecord(*d.record);

    ASSERT_EQ(host.setGeometryCalls.size(), 1u);
    EXPECT_EQ(host.setGeometryCalls[0].atomic, d.meshes[1].atomic);
    for (const Mesh& mesh : d.meshes) {
        EXPECT_EQ(mesh.atomic->geometry, mesh.original);
        EXPECT_EQ(mesh.original->references, mesh.originalReferencesBefore);
        EXPECT_EQ(mesh.copy->references, 0);
    }
}

TEST_F(Records, DestroyReleasesWithoutTouchingTheVehicle) {
    Deformed d = deformed(0x100, 2);
    kerbmark::eraseRecord(list, 0);
    EXPECT_TRUE(list.records.empty());
    EXPECT_TRUE(host.setGeometryCalls.empty());
    EXPECT_EQ(host.atomicsCalls, 0u);
    for (const Mesh& mesh : d.meshes) {
        EXPECT_EQ(mesh.atomic->geometry, mesh.copy);
        EXPECT_EQ(host.destroyCallsOf(mesh.copy), 1u);
        EXPECT_EQ(host.destroyCallsOf(mesh.original), 1u);
    }
}

TEST_F(Records, EraseKeepsTheOrderOfTheOthers) {
    Deformed a = deformed(0x1, 1);
    Deformed b = deformed(0x2, 1);
    Deformed c = deformed(0x3, 1);
    kerbmark::eraseRecord(list, 1);
    ASSERT_EQ(list.records.size(), 2u);
    EXPECT_EQ(list.records[0]->vehicle, a.vehicle);
    EXPECT_EQ(list.records[1]->vehicle, c.vehicle);
    EXPECT_EQ(kerbmark::findRecord(list, b.vehicle), nullptr);
    kerbmark::eraseRecord(list, 2);  // past the end: nothing
    EXPECT_EQ(list.records.size(), 2u);
}

TEST_F(Records, ClearAllResetsInListOrderThenEmptiesTheList) {
    Deformed a = deformed(0x1, 2);
    Deformed gone = deformed(0x2, 1);
    Deformed c = deformed(0x3, 1);
    host.removeVehicle(0x2);

    kerbmark::clearAllRecords(list);

    EXPECT_TRUE(list.records.empty());
    ASSERT_EQ(host.setGeometryCalls.size(), 3u);
    EXPECT_EQ(host.setGeometryCalls[0].atomic, a.meshes[0].atomic);
    EXPECT_EQ(host.setGeometryCalls[1].atomic, a.meshes[1].atomic);
    EXPECT_EQ(host.setGeometryCalls[2].atomic, c.meshes[0].atomic);
    EXPECT_EQ(gone.meshes[0].atomic->geometry, gone.meshes[0].copy);
    const std::vector<void*> destroys = {a.meshes[1].copy,    a.meshes[1].original,    a.meshes[0].copy,
                                         a.meshes[0].original, gone.meshes[0].copy, gone.meshes[0].original,
                                         c.meshes[0].copy,    c.meshes[0].original};
    EXPECT_EQ(host.destroyGeometryCalls, destroys);
}

TEST_F(Records, RoomWhileBelowTheLimitAndNoneWithoutRecordsAtAll) {
    kerbmark::settings.MaxTrackedVehicles = 2;
    deformed(0x1, 1, 0);
    EXPECT_TRUE(kerbmark::makeRecordRoom(list, nullptr, 50000));
    EXPECT_EQ(list.records.size(), 1u);
    EXPECT_TRUE(host.setGeometryCalls.empty());

    kerbmark::RecordList empty;
    kerbmark::settings.MaxTrackedVehicles = 0;
    EXPECT_FALSE(kerbmark::makeRecordRoom(empty, nullptr, 50000));
}

TEST_F(Records, NoRoomWhileEveryRecordWasHitWithinASecond) {
    kerbmark::settings.MaxTrackedVehicles = 2;
    deformed(0x1, 1, 9001);
    deformed(0x2, 1, 9500);
    EXPECT_FALSE(kerbmark::makeRecordRoom(list, nullptr, 10000));
    EXPECT_EQ(list.records.size(), 2u);
    EXPECT_TRUE(host.destroyGeometryCalls.empty());
}

TEST_F(Records, EvictsTheLongestIdleAndTheEarlierOnEqualAges) {
    kerbmark::settings.MaxTrackedVehicles = 4;
    Deformed a = deformed(0x1, 1, 8000);
    Deformed b = deformed(0x2, 1, 5000);
    Deformed c = deformed(0x3, 1, 5000);
    Deformed d = deformed(0x4, 1, 9000);  // exactly 1000 ms: also a candidate

    EXPECT_TRUE(kerbmark::makeRecordRoom(list, nullptr, 10000));
    ASSERT_EQ(list.records.size(), 3u);
    EXPECT_EQ(list.records[0]->vehicle, a.vehicle);
    EXPECT_EQ(list.records[1]->vehicle, c.vehicle);
    EXPECT_EQ(list.records[2]->vehicle, d.vehicle);
    EXPECT_EQ(b.meshes[0].atomic->geometry, b.meshes[0].original) << "evicted records are reset first";
    EXPECT_EQ(b.meshes[0].copy->references, 0);
    EXPECT_EQ(d.meshes[0].atomic->geometry, d.meshes[0].copy);
}

TEST_F(Records, ExactlyOneSecondIdleIsEnough) {
    kerbmark::settings.MaxTrackedVehicles = 1;
    Deformed a = deformed(0x1, 1, 9000);
    EXPECT_FALSE(kerbmark::makeRecordRoom(list, nullptr, 9999));
    EXPECT_TRUE(kerbmark::makeRecordRoom(list, nullptr, 10000));
    EXPECT_TRUE(list.records.empty());
}

TEST_F(Records, ThePlayersRecordIsNeverEvicted) {
    kerbmark::settings.MaxTrackedVehicles = 2;
    Deformed player = deformed(0x1, 1, 0);
    Deformed other = deformed(0x2, 1, 500);
    EXPECT_FALSE(kerbmark::makeRecordRoom(list, player.vehicle, 1200)) << "the other was hit 700 ms ago";
    EXPECT_TRUE(kerbmark::makeRecordRoom(list, player.vehicle, 100000));
    ASSERT_EQ(list.records.size(), 1u);
    EXPECT_EQ(list.records[0]->vehicle, player.vehicle);
    EXPECT_EQ(other.meshes[0].atomic->geometry, other.meshes[0].original);
}

// Vertex room for a kept record: the longest idle of the others that hold
// vertices go first, the earlier on equal ages, until the vertices fit; the
// kept record stays however old it is, and nothing goes when it would not help.
TEST_F(Records, VertexRoomEvictsTheLongestIdleOthersUntilItFits) {
    Deformed kept = deformed(0x1, 1, 100);
    Deformed b = deformed(0x2, 1, 5000);
    Deformed c = deformed(0x3, 1, 5000);
    Deformed empty = deformed(0x4, 0, 0);
    Deformed e = deformed(0x5, 1, 9000);
    ASSERT_EQ(kerbmark::totalVerticesOfAllRecords(list), 40u);

    EXPECT_TRUE(kerbmark::makeVertexRoom(list, *kept.record, 0, 40, 10000));
    EXPECT_FALSE(kerbmark::makeVertexRoom(list, *kept.record, 31, 40, 10000)) << "10 of its own + 31";
    EXPECT_EQ(list.records.size(), 5u);
    EXPECT_TRUE(host.destroyGeometryCalls.empty());

    EXPECT_TRUE(kerbmark::makeVertexRoom(list, *kept.record, 15, 40, 10000));
    ASSERT_EQ(list.records.size(), 3u);
    EXPECT_EQ(list.records[0].get(), kept.record);
    EXPECT_EQ(list.records[1].get(), empty.record);
    EXPECT_EQ(list.records[2].get(), e.record);
    for (const Deformed* evicted : {&b, &c}) {
        EXPECT_EQ(evicted->meshes[0].atomic->geometry, evicted->meshes[0].original) << "reset before it goes";
        EXPECT_EQ(evicted->meshes[0].original->references, evicted->meshes[0].originalReferencesBefore);
        EXPECT_EQ(evicted->meshes[0].copy->references, 0);
    }
    EXPECT_EQ(kerbmark::totalVerticesOfAllRecords(list), 20u);
}

TEST_F(Records, AgeIsMeasuredAcrossAClockWrap) {
    kerbmark::settings.MaxTrackedVehicles = 1;
    deformed(0x1, 1, 0xFFFFFF00u);
    EXPECT_TRUE(kerbmark::makeRecordRoom(list, nullptr, 0x00000400u));  // 0x500 ms later
}

TEST_F(Records, ReleaseHandsBackTrustedGeometriesOnly) {
    kerbmark::releaseGeometry(nullptr);
    EXPECT_TRUE(host.destroyGeometryCalls.empty());
    EXPECT_FALSE(log.exists());

    host::Geometry* valid = host.geometry(3);
    host::Geometry* withoutMaterials = host.geometry(0);
    kerbmark::releaseGeometry(valid);
    kerbmark::releaseGeometry(withoutMaterials);
    EXPECT_EQ(host.destroyGeometryCalls, (std::vector<void*>{valid, withoutMaterials}));
    EXPECT_FALSE(log.exists());
}

TEST_F(Records, UnreleasableGeometryIsKeptAndLoggedEachTime) {
    testhost::PageBlock block(2);
    block.commit(0, PAGE_READWRITE);
    host::Geometry* brokenTable = host.geometry(2);
    brokenTable->materials[0] = reinterpret_cast<void*>(std::uintptr_t{0x4002});
    host::Geometry* tooMany = host.geometry(129);
    testhost::RegionQueryCounter queries;
    kerbmark::releaseGeometry(reinterpret_cast<void*>(std::uintptr_t{0x8000}));
    kerbmark::releaseGeometry(reinterpret_cast<void*>(std::uintptr_t{0xFFFFFFA0}));
    EXPECT_EQ(queries.count(), 0u);
    kerbmark::releaseGeometry(block.endOfPage(0, 40));  // runs into the reserved page
    kerbmark::releaseGeometry(brokenTable);
    kerbmark::releaseGeometry(tooMany);

    EXPECT_TRUE(host.destroyGeometryCalls.empty());
    std::string expected;
    for (int i = 0; i < 5; ++i) expected += std::string(kRetained) + "\r\n";
    EXPECT_EQ(log.bytes(), expected);
}

TEST_F(Records, ResetWithABrokenCopyStillDropsTheEntryAndReleasesTheOriginal) {
    Deformed d = deformed(0x100, 1);
    d.meshes[0].copy->materialCapacity = 5000;

    kerbmark::resetRecord(*d.record);

    EXPECT_EQ(log.lines(), std::vector<std::string>{kRetained});
    EXPECT_EQ(host.destroyGeometryCalls, std::vector<void*>{d.meshes[0].original});
    EXPECT_TRUE(d.record->meshes.empty());
    EXPECT_EQ(d.meshes[0].atomic->geometry, d.meshes[0].original);
}

}  // namespace

// Dropping one record's work keeps the count of waiting hits exact, wherever
// its items stand among the others' (the queue admits kMaxQueuedHits hits).
TEST(WorkQueue, DroppingARecordsWorkFreesExactlyItsHits) {
    VehicleRecord a{}, b{}, c{};
    auto item = [](VehicleRecord& record, bool finish) {
        kerbmark::QueuedWork work{};
        work.record = &record;
        work.finish = finish;
        return work;
    };
    kerbmark::dropAllQueuedWork();
    for (std::size_t i = 1; i < kerbmark::kMaxQueuedHits; ++i) kerbmark::queueWork(item(c, true));
    kerbmark::queueWork(item(a, true));
    kerbmark::queueWork(item(b, false));
    EXPECT_TRUE(kerbmark::workQueueFull());
    kerbmark::dropQueuedWork(a);
    EXPECT_FALSE(kerbmark::workQueueFull());
    EXPECT_EQ(kerbmark::queuedItems(), kerbmark::kMaxQueuedHits);
    kerbmark::queueWork(item(a, true));
    EXPECT_TRUE(kerbmark::workQueueFull());
    kerbmark::dropQueuedWork(c);
    kerbmark::dropQueuedWork(b);
    EXPECT_FALSE(kerbmark::workQueueFull());
    EXPECT_EQ(kerbmark::queuedItems(), 1u);
    kerbmark::dropAllQueuedWork();
}
