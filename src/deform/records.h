// Vehicle deformation records: everything the module changed on a vehicle,
// kept so that every change can be undone.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "collision/collision_state.h"
#include "deform/panel_state.h"
#include "foundation/vec.h"
#include "impact/response.h"

namespace kerbmark {

// One copied atomic mesh: the copy the dents go into and the original it replaced.
struct MeshEntry {
    void* original = nullptr;  // host geometry; the entry holds one reference to it
    void* copy = nullptr;      // the entry's own host geometry
    bool materialFault = false;
    std::vector<dent::Vec> restPositions;  // the copy's positions when the entry was made
    std::uint32_t lastEpisode = 0;
    float lastDepth = 0.0f;
    float lastRadius = 0.0f;
    PanelState panel;  // kind 0 for every mesh that is not a bonnet or boot
};

// What the names of a frame of the car and its ancestors say (the frame's
// excludedByName and panelKind): a car's frames keep their names, so each is
// walked once for the record.
struct FrameFacts {
    const void* frame;
    bool excluded;
    std::int32_t panelKind;
};

struct VehicleRecord {
    void* vehicle = nullptr;
    std::int32_t vehicleRef = 0;
    void* clump = nullptr;
    float health = 0.0f;
    float healthDrop = 0.0f;
    std::uint32_t lastHit = 0;
    dent::Episode episode{};
    std::vector<MeshEntry> meshes;
    std::uint32_t totalVertices = 0;
    std::uint32_t creaseSeed = 0;
    std::unique_ptr<collision::State> collisionState;  // the private collision model, or none
    std::vector<FrameFacts> frameFacts;  // of the frames of the clump's atomics met so far
};

struct WorkAllowance;

// The module's records in creation order, and the F7 state of the frame update.
struct RecordList {
    std::vector<std::unique_ptr<VehicleRecord>> records;
    bool f7Down = false;
    // Records of vehicles that are gone, out of `records` and released a
    // share per frame, oldest first. Nothing finds or counts them.
    std::deque<std::unique_ptr<VehicleRecord>> leaving;
};

// Created by start-up once every check has passed; null on every path that stopped earlier.
extern RecordList* recordList;

VehicleRecord* findRecord(RecordList& list, const void* vehicle);

// A record's crease seed: (vehicleRef x 0x9E3779B9) XOR the host clock when it is made.
std::uint32_t creaseSeedFor(std::int32_t vehicleRef, std::uint32_t nowMs);

// Appends a new record for a vehicle (episode inactive, no meshes) with its
// crease seed creaseSeedFor(vehicleRef, nowMs). Call after makeRecordRoom.
VehicleRecord& appendRecord(RecordList& list, void* vehicle, std::int32_t vehicleRef, void* clump, float health,
                            std::uint32_t nowMs);

// Stores a new mesh entry: takes one reference to `original` (host count +0x0E)
// and adds the copy's vertex count to the record's total. Both geometries must
// already have passed the clone's checks; null (nothing stored) when either
// cannot be read.
MeshEntry* addMeshEntry(VehicleRecord& record, void* original, void* copy, std::vector<dent::Vec> restPositions);

// The record's vehicle is still the one it was made for: the vehicle pool
// exists, the handle still names the vehicle, and its clump is unchanged.
bool vehicleStillSame(const VehicleRecord& record);

// True when a new record may be created, after evicting (reset, then erase)
// the longest-idle record other than `protectedVehicle`'s that has not been
// hit for at least 1000 ms.
bool makeRecordRoom(RecordList& list, const void* protectedVehicle, std::uint32_t nowMs);

// Makes room for `vertices` more under the all-vehicles `budget`: evicts, as
// makeRecordRoom does but without its idle minimum, the longest-idle records
// other than `kept` that hold vertices until the records' total plus
// `vertices` is within the budget. Evicts nothing when even every other
// record gone would not be enough. True when the vertices fit.
bool makeVertexRoom(RecordList& list, const VehicleRecord& kept, std::uint64_t vertices, std::uint64_t budget,
                    std::uint32_t nowMs);

// Puts the originals back (only while the vehicle is still the same) and drops
// every copy and the episode; the record stays in the list.
void resetRecord(VehicleRecord& record);

// Drops the record's own data without touching the vehicle.
void destroyRecord(std::unique_ptr<VehicleRecord> record);

// Erases the record at `index` from the list and destroys it.
void eraseRecord(RecordList& list, std::size_t index);

// Takes the record at `index` out of the list at once (its queued work
// dropped first, the vehicle untouched) and leaves its release to
// releaseLeavingRecords.
void retireRecord(RecordList& list, std::size_t index);

// Releases what the leaving records hold, in the order destroyRecord would,
// one step (the collision state, or one mesh entry) at a time while
// `allowance` takes the step's work units.
void releaseLeavingRecords(RecordList& list, WorkAllowance& allowance);

// The same, all of it now.
void releaseAllLeavingRecords(RecordList& list);

// Releases the leaving records, then resets every record in list order and
// destroys them from the last to the first.
void clearAllRecords(RecordList& list);

// Gives one reference of a host geometry back, unless its memory or material
// table cannot be trusted (then logs and keeps nothing).
void releaseGeometry(void* geometry);

// Sum of total vertices over every record.
std::uint32_t totalVerticesOfAllRecords(const RecordList& list);

}  // namespace kerbmark
