// Traffic mesh work that waits for a later frame: one item per atomic a hit
// reaches, then one that finishes the hit (collision model, "Hit:" line).
// Items run oldest first; every way a record is reset or destroyed drops its
// items first, so no item outlives its record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "deform/dent_job.h"
#include "impact/response.h"

namespace kerbmark {

struct VehicleRecord;

// The "Hit:" line's fields as they stood at the hit; the mesh count comes
// when the hit's work is done.
struct HitSummary {
    bool isPlayer;
    std::int32_t handle;
    std::int32_t model;
    std::uint32_t episode;
    float impact;
    float impulse;
    float mass;
    float speedAfter;
    float healthLoss;
    float depth;
    float radius;
    std::uint32_t piece;
};

struct QueuedWork {
    // The record, checked again with the handle and clump it had at the hit.
    VehicleRecord* record;
    std::int32_t vehicleRef;
    void* clump;
    std::uint32_t hit;       // serial number of the hit; a hit's items are queued together
    bool finish;             // false: one atomic's dent; true: what follows the hit's last dent
    PlannedDent dent;        // the atomic's dent (not for finish)
    dent::Episode episode;   // the episode as it stood at the hit
    HitSummary summary;      // for finish
    // The hit copies meshes first: the player's hit, as its plan found it;
    // a traffic hit, when an atomic it may dent has no copy yet.
    bool makesCopies;
    std::uint32_t meshes = 0;  // finish: meshes the hit's dents have displaced so far
    // The dent's steps done so far, once it has begun; dropping the item
    // drops what they made and did not hand over yet.
    std::unique_ptr<DentJob> job;
};

// Most hits waiting at once; past it, further traffic waits for its frame.
constexpr std::size_t kMaxQueuedHits = 256;

void queueWork(QueuedWork item);
// Queues the item before every other record's, after those of its record
// that lead the queue already: where bringWorkForward would move it, without
// moving the rest of the queue.
void queueWorkAhead(QueuedWork item);
bool workQueueFull();
// Takes the oldest item out; false when there is none.
bool takeOldestWork(QueuedWork& item);
// Puts an item taken by takeOldestWork back in front, to go on next frame.
void putBackOldestWork(QueuedWork item);
// Moves the record's items, in their order, before every other record's; true
// when the record has any.
bool bringWorkForward(const VehicleRecord& record);
// The oldest item waiting is the record's, of a hit that copies meshes first.
bool oldestWorkCopiesFor(const VehicleRecord& record);
// Counts `meshes` more for the hit whose finish item is queued.
void countMeshes(std::uint32_t hit, std::uint32_t meshes);
// Drops the items of one record / of every record.
void dropQueuedWork(const VehicleRecord& record);
void dropAllQueuedWork();
std::size_t queuedItems();

}  // namespace kerbmark
