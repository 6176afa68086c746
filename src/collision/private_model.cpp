#include "collision/private_model.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "collision/collision_state.h"
#include "deform/records.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "host/frame_update.h"

namespace collision {

namespace {

// The entity fields the lookup reads (host layout).
struct Entity {
    std::uint8_t unused00[0x18];
    void* clump;                 // +0x18
    std::uint8_t unused1C[0x1A];
    std::uint8_t typeAndState;   // +0x36 low three bits: entity type
    std::uint8_t unused37[0x454];
    std::uint8_t privateModelFlags;  // +0x48B bit 7: may have a private collision model
};
static_assert(offsetof(Entity, clump) == 0x18, "entity clump");
static_assert(offsetof(Entity, typeAndState) == 0x36, "entity type");
static_assert(offsetof(Entity, privateModelFlags) == 0x48B, "vehicle private-model flag");

constexpr std::uint8_t kTypeMask = 0x07;
constexpr std::uint8_t kTypeVehicle = 2;
constexpr std::uint8_t kPrivateModelAllowed = 0x80;
constexpr float kLengthwise = 0.65f;

const Entity& entityAt(const void* entity) { return *static_cast<const Entity*>(entity); }

bool allowsPrivateModel(const void* vehicle) {
    return (entityAt(vehicle).privateModelFlags & kPrivateModelAllowed) != 0;
}

const char* actorName(bool isPlayer) { return isPlayer ? "player" : "npc"; }

// The record's state for host model `hostModel`: the one it holds when that
// was made from `hostModel`, otherwise a new one (null when the model cannot
// get a private copy, which is logged).
State* stateFor(kerbmark::VehicleRecord& record, const Model* hostModel) {
    if (record.collisionState) {
        if (record.collisionState->source == hostModel) return record.collisionState.get();
        // The host now gives the vehicle another model: the old copy is stale.
        record.collisionState.reset();
    }
    std::unique_ptr<State> state(new (std::nothrow) State());
    if (!state) return nullptr;
    construct(&state->model);
    kerbmark::breadcrumb("collision: clone model");
    if (!state->init(hostModel)) {
        kerbmark::logLine("Collision: unsupported model; skipped.");
        return nullptr;
    }
    record.collisionState = std::move(state);
    return record.collisionState.get();
}

void drive(kerbmark::VehicleRecord& record, bool isPlayer, const dent::Episode& episode) {
    // A reload may have switched private models off after the hook went in.
    if (!kerbmark::collisionHookActive || !kerbmark::settings.CollisionEnabled || !original) return;
    if (!isPlayer && !kerbmark::settings.CollisionAffectNPCs) return;
    if (!record.vehicle || !allowsPrivateModel(record.vehicle)) return;
    if (!(std::fabs(episode.direction.y) >= kLengthwise)) return;

    const auto* hostModel = static_cast<const Model*>(original(record.vehicle));
    State* state = stateFor(record, hostModel);
    if (!state) return;

    kerbmark::breadcrumb("collision: compress private model");
    const kerbmark::Settings& settings = kerbmark::settings;
    const bool changed = state->update(episode.number, episode.depth, episode.point, episode.direction,
                                       settings.StrengthPercent, settings.MaxCompressionCm, settings.RefineSpheres);
    if (changed && settings.LogHits) {
        const unsigned spheres = state->model.data ? state->model.data->sphereCount : 0u;
        kerbmark::logHitFormatted<220>("Collision: actor=%s handle=%d spheres=%u front=%.3f rear=%.3f",
                                    actorName(isPlayer), static_cast<int>(record.vehicleRef), spheres,
                                    static_cast<double>(state->crush.front), static_cast<double>(state->crush.rear));
    }
}

// The record of `entity` that holds a private model, or null.
const kerbmark::VehicleRecord* recordWithModel(const kerbmark::RecordList& list, const void* entity) {
    for (const auto& record : list.records) {
        if (record && record->vehicle == entity && record->collisionState) return record.get();
    }
    return nullptr;
}

}  // namespace

void updatePrivateCollision(kerbmark::VehicleRecord& record, bool isPlayer) {
    updatePrivateCollision(record, isPlayer, record.episode);
}

void updatePrivateCollision(kerbmark::VehicleRecord& record, bool isPlayer, const dent::Episode& episode) {
    try {
        drive(record, isPlayer, episode);
    } catch (...) {
        // Out of memory while refitting: the model keeps its last shape.
    }
}

KERBMARK_THISCALL void* privateColModel(void* entity) {
    // The host's own answer comes first, always.
    void* const hostModel = original(entity);
    try {
        const kerbmark::RecordList* list = kerbmark::recordList;
        if (!entity || !list) return hostModel;
        const Entity& view = entityAt(entity);
        if ((view.typeAndState & kTypeMask) != kTypeVehicle || !allowsPrivateModel(entity)) return hostModel;

        const kerbmark::VehicleRecord* record = recordWithModel(*list, entity);
        if (!record) return hostModel;
        State* const state = record->collisionState.get();
        if (state->source != hostModel) return hostModel;
        if (!host::at<void* const volatile>(host::kVehiclePool)) return hostModel;
        if (game::vehicleByRef(record->vehicleRef) != entity || view.clump != record->clump) return hostModel;
        return &state->model;
    } catch (...) {
        // The host calls this from its own code: in any doubt it gets its own model.
        return hostModel;
    }
}

}  // namespace collision
