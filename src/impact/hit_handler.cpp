#include "impact/hit_handler.h"

#include <cmath>
#include <cstddef>

#include "collision/private_model.h"
#include "deform/atomic_driver.h"
#include "deform/records.h"
#include "foundation/log.h"
#include "foundation/settings.h"
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

void logHit(const VehicleRecord& record, const host::Vehicle& vehicle, bool isPlayer, dent::Response r,
            float healthLoss, const DentRequest& request) {
    logFormatted<320>(
        "Hit: actor=%s handle=%d model=%d episode=%u impact=%.4f impulse=%.1f mass=%.1f speedAfter=%.4f "
        "healthLoss=%.1f depth=%.3f radius=%.3f piece=%u meshes=%u",
        isPlayer ? "player" : "npc", static_cast<int>(record.vehicleRef), static_cast<int>(vehicle.modelId),
        static_cast<unsigned>(record.episode.number), static_cast<double>(r.impact),
        static_cast<double>(vehicle.impulse), static_cast<double>(vehicle.mass),
        static_cast<double>(dent::length(vehicle.velocity)), static_cast<double>(healthLoss),
        static_cast<double>(request.depth), static_cast<double>(request.radius), static_cast<unsigned>(vehicle.piece),
        static_cast<unsigned>(request.meshes));
}

void handle(void* vehiclePointer, bool isPlayer, bool resetRequested, void* playerVehicle) {
    if (!vehiclePointer || !recordList) return;
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

    const float healthLoss = record ? record->healthDrop : 0.0f;
    const float health = vehicle.health;
    if (!std::isfinite(health) || !(health > 0.0f) || !std::isfinite(healthLoss)) return;
    if (vehicle.flags42 & kNotHandledFlag) return;

    const dent::Response r = dent::response(vehicle.impulse, vehicle.mass, settings.impact);
    if (!(r.depth > 0.0f)) return;
    if (vehicle.piece >= kFirstIgnoredPiece && vehicle.piece <= kLastIgnoredPiece) return;

    const dent::Vec normal = vehicle.collisionNormal;
    const dent::Vec contact = vehicle.collisionPoint;
    if (!dent::isFinite(normal) || !dent::isFinite(contact)) return;
    if (!(dent::length(normal) >= kMinNormalLength)) return;

    dent::HostMatrix placement{};
    if (!usableMatrix(vehicle.matrix, placement)) return;

    // Contact and push direction in the vehicle's model frame; the push points
    // against the contact's offset from the origin, into the body.
    const dent::Vec q = dent::toAxes(placement, contact - placement.position);
    if (dent::length(q) > kMaxContactDistance) return;
    dent::Vec push = dent::normalized(dent::toAxes(placement, normal));
    if (dent::dot(push, q) > 0.0f) push = -push;
    // Ground contact under the body.
    if (q.z < kUnderbodyHeight && std::fabs(push.z) > kUnderbodyNormal) return;

    void* clump = vehicle.clump;
    if (!readableRange(clump, sizeof(host::Clump))) return;
    void* frame = static_cast<host::Clump*>(clump)->frame;
    if (!frameRecordReadable(frame)) return;
    dent::HostMatrix world{};
    if (!usableMatrix(game::frameLTM(frame), world)) return;

    const std::uint32_t now = host::at<const volatile std::uint32_t>(host::kClock);

    if (!record) {
        if (!makeRecordRoom(list, playerVehicle, now)) return;
        record = &appendRecord(list, vehiclePointer, game::vehicleRef(vehiclePointer), clump, health, now);
    }
    record->lastHit = now;

    if (!record->episode.observe(q, push, r, now, settings.ContactGapMs)) return;

    smashRearLights(vehiclePointer, record->episode, isPlayer);

    const dent::Episode& episode = record->episode;
    DentRequest request{record,
                        dent::fromAxes(world, episode.point) + world.position,
                        dent::fromAxes(world, episode.direction),
                        episode.depth,
                        episode.radius,
                        episode.number,
                        0,
                        isPlayer};
    breadcrumb("hit: enumerate atomics");
    game::atomics(record->clump, deformAtomic, &request);
    if (request.meshes != 0) collision::updatePrivateCollision(*record, isPlayer);
    breadcrumb("hit: complete; returning to game");

    if (settings.LogHits) logHit(*record, vehicle, isPlayer, r, healthLoss, request);
}

}  // namespace

void handleHit(void* vehicle, bool isPlayer, bool resetRequested, void* playerVehicle) {
    try {
        handle(vehicle, isPlayer, resetRequested, playerVehicle);
    } catch (...) {
        // Out of memory while creating a record: this frame's hit is dropped.
    }
}

}  // namespace kerbmark
