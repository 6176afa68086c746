#include "impact/hit_handler.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "collision/private_model.h"
#include "deform/atomic_driver.h"
#include "deform/atomic_names.h"
#include "deform/dent_job.h"
#include "deform/mesh_copies.h"
#include "deform/player_preparation.h"
#include "deform/records.h"
#include "deform/work_queue.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "foundation/work_meter.h"
#include "host/bindings.h"
#include "host/host_types.h"
#include "host/memory_check.h"
#include "impact/rear_lights.h"
#include "impact/response.h"

namespace kerbmark {

namespace {

constexpr std::uint8_t kNotHandledFlag = 0x10;
constexpr std::uint16_t kFirstIgnoredPiece = 13;
constexpr std::uint16_t kLastIgnoredPiece = 16;
constexpr float kMinNormalLength = 0.01f;
constexpr float kMaxContactDistance = 12.0f;
constexpr float kUnderbodyHeight = -0.15f;
constexpr float kUnderbodyNormal = 0.75f;

// A copy of a host matrix that passed isOrthonormal; false when the pointer is
// null, unreadable or the matrix is unusable.
bool usableMatrix(const dent::HostMatrix* pointer, dent::HostMatrix& matrix) {
    if (!pointer || !readableRange(pointer, sizeof *pointer)) return false;
    matrix = *pointer;
    return dent::isOrthonormal(matrix);
}

void logHit(const HitSummary& hit, std::uint32_t meshes) {
    logHitFormatted<320>(
        "Hit: actor=%s handle=%d model=%d episode=%u impact=%.4f impulse=%.1f mass=%.1f speedAfter=%.4f "
        "healthLoss=%.1f depth=%.3f radius=%.3f piece=%u meshes=%u",
        hit.isPlayer ? "player" : "npc", static_cast<int>(hit.handle), static_cast<int>(hit.model),
        static_cast<unsigned>(hit.episode), static_cast<double>(hit.impact), static_cast<double>(hit.impulse),
        static_cast<double>(hit.mass), static_cast<double>(hit.speedAfter), static_cast<double>(hit.healthLoss),
        static_cast<double>(hit.depth), static_cast<double>(hit.radius), static_cast<unsigned>(hit.piece),
        static_cast<unsigned>(meshes));
}

HitSummary summarize(const VehicleRecord& record, const host::Vehicle& vehicle, bool isPlayer, dent::Response r,
                     float healthLoss, const DentRequest& request) {
    return HitSummary{isPlayer,         record.vehicleRef, vehicle.modelId, record.episode.number,
                      r.impact,         vehicle.impulse,   vehicle.mass,    dent::length(vehicle.velocity),
                      healthLoss,       request.depth,     request.radius,  vehicle.piece};
}

// Work units (10 ns each, as the work meter of the benchmarks measures them)
// of a queued item's checks, each frame it runs in: its record, car and
// atomic again, and the atomic's own checks before its steps; and of a
// finished hit: the collision model's update and the log line.
constexpr std::uint64_t kQueuedCheckUnits = 700;
constexpr std::uint64_t kFinishUnits = 1100;
// The hit's own frame work, charged to the frame's budget: a car's contact
// read (whether or not it dents), a hit's rear lights and request, its plan
// (the clump's atomics walked, the items queued) and each atomic planned.
constexpr std::uint64_t kContactUnits = 550;
constexpr std::uint64_t kHitUnits = 520;
constexpr std::uint64_t kPlanUnits = 2800;
constexpr std::uint64_t kPlannedAtomicUnits = 84;

bool recordListed(const VehicleRecord* record) {
    if (!recordList) return false;
    for (const auto& held : recordList->records) {
        if (held.get() == record) return true;
    }
    return false;
}

// The atomic still belongs to the clump and draws the geometry it had at the
// hit, or the copy an earlier item made of it.
bool atomicStillSame(VehicleRecord& record, const PlannedDent& dent) {
    if (!clumpHoldsAtomic(record.clump, dent.atomic) || !readableRange(dent.atomic, sizeof(host::Atomic))) return false;
    void* now = static_cast<const host::Atomic*>(dent.atomic)->geometry;
    if (now == dent.geometry) return true;
    for (const MeshEntry& entry : record.meshes) {
        if (entry.original == dent.geometry && entry.copy == now) return true;
    }
    return false;
}

// What follows a hit's last dent: the collision model, when a mesh was
// dented, and the "Hit:" line.
void finishHit(VehicleRecord& record, const HitSummary& summary, const dent::Episode& episode,
               std::uint32_t meshes) {
    if (meshes != 0) collision::updatePrivateCollision(record, summary.isPlayer, episode);
    breadcrumb("hit: complete; returning to game");
    if (settings.LogHits) logHit(summary, meshes);
}

// The item's record, car and (for a dent) atomic are still what they were at the hit.
bool itemStillSame(const QueuedWork& item) {
    VehicleRecord* record = item.record;
    if (!recordListed(record) || record->vehicleRef != item.vehicleRef || record->clump != item.clump ||
        !vehicleStillSame(*record)) {
        return false;
    }
    return item.finish || atomicStillSame(*record, item.dent);
}

// Runs one queued item, or its next steps, as far as the allowance takes
// them; true when the item is done. An item whose record, car, atomic or
// geometry is no longer what it was at the hit is dropped quietly. Its
// copies come first (other cars make room) while its car is the one the
// player sits in now, whoever's it was at the hit.
bool runQueued(QueuedWork& item, WorkAllowance& allowance, const void* playerVehicle) {
    VehicleRecord* record = item.record;
    host::Atomic* atomic = nullptr;
    {
        const meter::Scope metered(meter::QueuedChecks, &allowance.left);
        if (allowance.started && allowance.left < kQueuedCheckUnits) return false;
        allowance.charge(kQueuedCheckUnits);
        // Only reads: the car, its atomic and its geometry share a few memory
        // regions, asked about once each for all the checks.
        ReadableMemoryScope remembered;
        if (!itemStillSame(item)) return true;
        if (!item.finish && !(atomic = plannedAtomicNow(item.dent.atomic, *record))) return true;
    }
    if (item.finish) {
        const meter::Scope metered(meter::HitFinish, &allowance.left);
        if (!allowance.take(kFinishUnits)) return false;
        finishHit(*record, item.summary, item.episode, item.meshes);
        return true;
    }
    DentRequest request{record, {}, {}, item.episode.depth, item.episode.radius, item.episode.number, 0,
                        playerVehicle && record->vehicle == playerVehicle};
    if (!item.job) item.job = std::make_unique<DentJob>();
    const DentStep step = advanceCheckedDent(*atomic, item.dent.at, request, *item.job, allowance);
    if (request.meshes != 0) countMeshes(item.hit, request.meshes);
    return step == DentStep::Done;
}

// Every atomic of the record's car that the hit may dent, with the dent
// taken into its frame now. With `namesLater`, also atomics that their names
// exclude: the queued work drops those before it begins.
std::vector<PlannedDent> planHit(VehicleRecord& record, const DentRequest& request, bool namesLater) {
    std::vector<PlannedDent> dents;
    DentPlan plan{&request, &dents, namesLater};
    breadcrumb("hit: plan atomics");
    // The planning only reads: a car's atomics, frames and geometries share a
    // few memory regions, asked about once each.
    ReadableMemoryScope remembered;
    game::atomics(record.clump, planAtomicDent, &plan);
    return dents;
}

bool hitMakesCopies(const std::vector<PlannedDent>& dents, VehicleRecord& record, float radius) {
    for (const PlannedDent& dent : dents) {
        if (plannedDentMakesCopy(dent, record, radius)) return true;
    }
    return false;
}

// The player's hit, its own work (`units`) and its finish included, may cost
// more than the frame's traffic budget if its dents are worked out now.
bool hitOutgrowsFrame(const std::vector<PlannedDent>& dents, VehicleRecord& record, std::uint64_t units) {
    std::uint64_t total = units + kFinishUnits;
    for (const PlannedDent& dent : dents) total += plannedDentUnits(dent, record);
    return total > settings.TrafficWorkPerFrame;
}

// An atomic the hit may dent has no copy yet; without the player's reach
// scans, which would cost every traffic hit its frame's work.
bool hitMayMakeCopies(const std::vector<PlannedDent>& dents, VehicleRecord& record) {
    for (const PlannedDent& dent : dents) {
        if (!entryOfCopy(record, dent.geometry)) return true;
    }
    return false;
}

// The hit's mesh work goes into the queue: the planned dents, then the hit's
// finish; the player's ahead of every other car's.
void queueHit(VehicleRecord& record, const std::vector<PlannedDent>& dents, const HitSummary& summary,
              bool makesCopies) {
    static std::uint32_t hitSerial = 0;
    const std::uint32_t hit = ++hitSerial;
    auto item = [&](bool finish, const PlannedDent& dent) {
        return QueuedWork{&record, record.vehicleRef, record.clump, hit,         finish,
                          dent,    record.episode,    summary,      makesCopies, 0,      nullptr};
    };
    const auto add = summary.isPlayer ? &queueWorkAhead : &queueWork;
    for (const PlannedDent& dent : dents) add(item(false, dent));
    add(item(true, PlannedDent{}));
}

// A collision the vehicle recorded, as the hit's inputs.
struct Contact {
    dent::Response response;
    dent::Vec point;      // in the vehicle's model frame
    dent::Vec push;       // unit, in the model frame, into the body
    dent::HostMatrix world;  // the clump's frame in the world
};

// The vehicle's latest collision when it may dent: a usable response, contact
// and matrices; false otherwise. Only reads (the host's memory is asked
// about once per region).
bool readContact(const host::Vehicle& vehicle, Contact& out) {
    ReadableMemoryScope remembered;
    if (vehicle.flags42 & kNotHandledFlag) return false;

    out.response = dent::response(vehicle.impulse, vehicle.mass, settings.impact);
    if (!(out.response.depth > 0.0f)) return false;
    if (vehicle.piece >= kFirstIgnoredPiece && vehicle.piece <= kLastIgnoredPiece) return false;

    const dent::Vec normal = vehicle.collisionNormal;
    const dent::Vec contact = vehicle.collisionPoint;
    if (!dent::isFinite(normal) || !dent::isFinite(contact)) return false;
    if (!(dent::length(normal) >= kMinNormalLength)) return false;

    dent::HostMatrix placement{};
    if (!usableMatrix(vehicle.matrix, placement)) return false;

    // Contact and push direction in the vehicle's model frame; the push points
    // against the contact's offset from the origin, into the body.
    out.point = dent::toAxes(placement, contact - placement.position);
    if (dent::length(out.point) > kMaxContactDistance) return false;
    out.push = dent::normalized(dent::toAxes(placement, normal));
    if (dent::dot(out.push, out.point) > 0.0f) out.push = -out.push;
    // Ground contact under the body.
    if (out.point.z < kUnderbodyHeight && std::fabs(out.push.z) > kUnderbodyNormal) return false;

    void* clump = vehicle.clump;
    if (!readableRange(clump, sizeof(host::Clump))) return false;
    void* frame = static_cast<host::Clump*>(clump)->frame;
    if (!frameRecordReadable(frame)) return false;
    return usableMatrix(game::frameLTM(frame), out.world);
}

// The units of the hit's own frame work go to `units`.
void handle(void* vehiclePointer, bool isPlayer, bool resetRequested, void* playerVehicle, std::uint64_t& units) {
    meter::Laps laps(meter::HitResponse, &units);
    if (!vehiclePointer || !recordList) return;
    units += kContactUnits;
    if (!readableRange(vehiclePointer, sizeof(host::Vehicle))) return;
    auto& vehicle = *static_cast<host::Vehicle*>(vehiclePointer);
    if (vehicle.word594 != 0 || !vehicle.clump) return;
    if (!host::isHandledVehicleModel(vehicle.modelId)) return;

    RecordList& list = *recordList;
    VehicleRecord* record = findRecord(list, vehiclePointer);
    if (record && resetRequested) {
        resetRecord(*record);
        logLine("Player deformation reset.");
        return;
    }
    // Work a car the player took over had queued as traffic goes first, within
    // the frame's budget; the player's hits on it wait behind that work.
    const bool workWaiting = record && isPlayer && bringWorkForward(*record);

    const float healthLoss = record ? record->healthDrop : 0.0f;
    const float health = vehicle.health;
    if (!std::isfinite(health) || !(health > 0.0f) || !std::isfinite(healthLoss)) return;
    Contact contact;
    if (!readContact(vehicle, contact)) return;
    const dent::Response r = contact.response;
    const dent::HostMatrix& world = contact.world;
    void* clump = vehicle.clump;

    const std::uint32_t now = host::clockMs();

    if (!record) {
        if (!makeRecordRoom(list, playerVehicle, now)) return;
        record = &appendRecord(list, vehiclePointer, game::vehicleRef(vehiclePointer), clump, health, now);
        takePreparedSeed(*record);
    }
    record->lastHit = now;

    if (!record->episode.observe(contact.point, contact.push, r, now, settings.ContactGapMs)) return;

    laps.next(meter::HitLights);
    units += kHitUnits;
    {
        ReadableMemoryScope remembered;  // the lights only read, but for their own states
        smashRearLights(vehiclePointer, record->episode, isPlayer);
    }
    laps.next(meter::HitPlan);

    const dent::Episode& episode = record->episode;
    DentRequest request{record,
                        dent::fromAxes(world, episode.point) + world.position,
                        dent::fromAxes(world, episode.direction),
                        episode.depth,
                        episode.radius,
                        episode.number,
                        0,
                        isPlayer};
    const HitSummary summary = summarize(*record, vehicle, isPlayer, r, healthLoss, request);
    if (settings.TrafficWorkPerFrame != 0) {
        // Traffic hits wait in the queue. So does the player's hit on a car
        // whose work as traffic still waits, one that would make copies (the
        // car was not prepared yet) and one that may cost more than the
        // frame's budget: at the queue's front, so that no frame makes them
        // all. The player's planned dents decide whether the hit waits: only
        // those its names allow.
        const std::vector<PlannedDent> dents = planHit(*record, request, !isPlayer);
        units += kPlanUnits + kPlannedAtomicUnits * dents.size();
        const bool makesCopies =
            isPlayer ? hitMakesCopies(dents, *record, request.radius) : hitMayMakeCopies(dents, *record);
        if (!isPlayer || workWaiting || makesCopies || hitOutgrowsFrame(dents, *record, units)) {
            queueHit(*record, dents, summary, makesCopies);
            return;
        }
        // Every other player's hit dents in its own frame, its atomics as just planned.
        laps.next(meter::HitImmediate);
        for (const PlannedDent& dent : dents) deformPlannedAtomic(dent, request);
    } else {
        laps.next(meter::HitImmediate);
        breadcrumb("hit: enumerate atomics");
        game::atomics(record->clump, deformAtomic, &request);
    }
    finishHit(*record, summary, record->episode, request.meshes);
    units += request.units + kFinishUnits;
}

// An item of the player's car's hit that copies meshes first.
bool playerCopyWork(const QueuedWork& item, const void* playerVehicle) {
    return item.makesCopies && playerVehicle && item.record->vehicle == playerVehicle;
}

// What the player's copies left of their larger share is not for other work.
void withdrawPlayerShare(WorkAllowance& allowance, std::uint64_t& playerShare) {
    allowance.charge(playerShare);
    playerShare = 0;
}

}  // namespace

void runQueuedTrafficWork(WorkAllowance& allowance, const void* playerVehicle, std::uint64_t playerShare) {
    try {
        QueuedWork item{};
        while ((allowance.left != 0 || !allowance.started) && takeOldestWork(item)) {
            if (!playerCopyWork(item, playerVehicle)) withdrawPlayerShare(allowance, playerShare);
            if (!runQueued(item, allowance, playerVehicle)) {
                putBackOldestWork(std::move(item));
                break;
            }
        }
    } catch (...) {
        // Out of memory in a dent: the item is gone, the rest waits for the next frame.
    }
    withdrawPlayerShare(allowance, playerShare);
}

bool trafficWorkWaitsForRoom() { return settings.TrafficWorkPerFrame != 0 && workQueueFull(); }

std::uint64_t handleHit(void* vehicle, bool isPlayer, bool resetRequested, void* playerVehicle) {
    std::uint64_t units = 0;
    try {
        handle(vehicle, isPlayer, resetRequested, playerVehicle, units);
    } catch (...) {
        // Out of memory while creating a record: this frame's hit is dropped.
    }
    return units;
}

}  // namespace kerbmark
