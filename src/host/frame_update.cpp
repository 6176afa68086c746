#include "host/frame_update.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "collision/private_model.h"
#include "deform/atomic_driver.h"
#include "deform/player_preparation.h"
#include "deform/records.h"
#include "deform/work_queue.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "foundation/work_meter.h"
#include "host/bindings.h"
#include "host/host_types.h"
#include "host/keyboard.h"
#include "host/material_guard.h"
#include "host/memory_check.h"
#include "host/settings_reload.h"
#include "host/startup.h"
#include "impact/hit_handler.h"
#include "impact/traffic_selection.h"

namespace kerbmark {

bool materialGuardAttempted = false;
bool collisionHookAttempted = false;
bool collisionHookActive = false;

const HookMessages kMaterialGuardMessages = {
    "MaterialGuard: alpha renderer already hooked; guard not installed.",
    "MaterialGuard: initialization failed.",
    "MaterialGuard: hook creation failed.",
    "MaterialGuard: hook activation failed.",
    "MaterialGuard: alpha renderer validation enabled.",
};

const HookMessages kCollisionHookMessages = {
    "Collision: GetColModel already hooked; physical deformation disabled.",
    "Collision: hook initialization failed; visual deformation only.",
    "Collision: cannot create hook; visual deformation only.",
    "Collision: cannot enable hook; visual deformation only.",
    "Collision: private per-vehicle models enabled; longitudinal compression only.",
};

namespace {

constexpr std::uint8_t kKeyF7 = 0x76;
constexpr float kRepairHealthRise = 25.0f;
// Work units a frame may spend while the player's own hit waits at the front
// of the queue to copy a mesh, the frame's hits included (about 1.7 ms): the
// first hit of a car not prepared yet shows within a frame or a few, and no
// frame of it comes near 2 ms. Only that hit's items spend more than the
// traffic budget: other work after them has what the budget leaves. The
// player's later hits, on copies, wait with the traffic budget, so that none
// of their frames costs more than traffic's.
constexpr std::uint64_t kPlayerWorkPerFrame = 170000;

// Opcodes another module's hook starts with: near jump, short jump, and the
// group that holds the indirect jumps and calls.
bool startsWithJump(std::uint8_t opcode) { return opcode == 0xE9 || opcode == 0xEB || opcode == 0xFF; }

// The player's vehicle first (it carries the F7 reset), then the chosen traffic
// around the player's vehicle, or around the player on foot. The work units
// their hits cost in this frame.
std::uint64_t handleVehicles(const PlayerInput& player) {
    void* reference = player.vehicle;
    std::uint64_t units = 0;
    if (player.vehicle) units += handleHit(player.vehicle, true, player.resetRequested, player.vehicle);
    if (!settings.TrafficAffectNPCs) return units;
    if (!reference) {
        reference = game::playerPed(-1);
        if (!reference) return units;
    }
    std::vector<dent::TrafficCandidate> chosen;
    {
        const meter::Scope metered(meter::TrafficChoice);
        chosen = selectTraffic(reference, player.vehicle);
    }
    const std::size_t count = std::min<std::size_t>(chosen.size(), settings.MaxNPCPerFrame);
    for (std::size_t i = 0; i < count && !trafficWorkWaitsForRoom(); ++i) {
        units += handleHit(chosen[i].vehicle, false, false, player.vehicle);
    }
    return units;
}

bool playerCopyWaits(RecordList& list, const PlayerInput& player) {
    const VehicleRecord* record = player.vehicle ? findRecord(list, player.vehicle) : nullptr;
    return record && oldestWorkCopiesFor(*record);
}

// The frame's deferred work under the traffic budget, less what the frame's
// hits (`hitUnits`) cost already: the release of gone cars' records, with at
// most half of the budget, so that cars leaving never hold up the dents for
// long, then queued work with the rest (the player's hit first, with a
// larger share while it copies meshes; the first step always runs), and what
// is still left prepares the player's car. Without a budget the release and
// the dents happen in the frame that makes them, and nothing is prepared.
void runBudgetedWork(RecordList& list, const PlayerInput& player, std::uint64_t hitUnits) {
    const std::uint64_t budget = settings.TrafficWorkPerFrame;
    if (budget == 0) {
        releaseAllLeavingRecords(list);
        return;
    }
    const std::uint64_t frameWork =
        playerCopyWaits(list, player) ? std::max<std::uint64_t>(budget, kPlayerWorkPerFrame) : budget;
    const std::uint64_t playerShare = frameWork - budget;
    const std::uint64_t releaseShare = budget / 2;
    WorkAllowance release{releaseShare, false};
    releaseLeavingRecords(list, release);
    const std::uint64_t released = release.started ? releaseShare - std::min(release.left, releaseShare) : 0;
    WorkAllowance allowance{frameWork - std::min(released, frameWork), false};
    allowance.charge(hitUnits);
    runQueuedTrafficWork(allowance, player.vehicle, playerShare);
    preparePlayerVehicle(player.vehicle, player.resetRequested, allowance);
}

void moduleFrameWork() {
    if (!hostAllowsWork()) return;
    runWaitingReload();
    FrameKeyboard keys;
    watchReloadKey(keys);
    if (!moduleEnabled) return;
    installLazyHooks();
    keepRecordsInStep(*recordList);
    const PlayerInput player = readPlayerInput(*recordList, keys);
    // F7 is immediate, like the host's reset events: nothing waits to be released after it.
    if (player.vehicle && player.resetRequested) releaseAllLeavingRecords(*recordList);
    const std::uint64_t hitUnits = handleVehicles(player);
    runBudgetedWork(*recordList, player, hitUnits);
}

}  // namespace

const HookingApi& hookingLibrary() {
    static const HookingApi library = {&MH_Initialize, &MH_CreateHook, &MH_EnableHook, &MH_RemoveHook};
    return library;
}

bool hostAllowsWork() {
    return recordList != nullptr && host::at<void*>(host::kVehiclePool) != nullptr &&
           host::at<void*>(host::kEngineInstance) != nullptr && (host::at<std::uint8_t>(host::kStateByteA) & 1) == 0 &&
           (host::at<std::uint8_t>(host::kStateByteB) & 1) == 0;
}

bool installGuardedHook(std::uintptr_t target, void* replacement, void** saved, const HookMessages& messages,
                        const HookingApi& api) {
    void* const targetCode = reinterpret_cast<void*>(target);
    if (startsWithJump(*static_cast<const std::uint8_t*>(targetCode))) {
        logLine(messages.alreadyHooked);
        return false;
    }
    const MH_STATUS initialized = api.initialize();
    if (initialized != MH_OK && initialized != MH_ERROR_ALREADY_INITIALIZED) {
        logLine(messages.initializationFailed);
        return false;
    }
    if (api.createHook(targetCode, replacement, saved) != MH_OK) {
        logLine(messages.creationFailed);
        return false;
    }
    if (api.enableHook(targetCode) != MH_OK) {
        api.removeHook(targetCode);
        *saved = nullptr;
        logLine(messages.activationFailed);
        return false;
    }
    logLine(messages.enabled);
    return true;
}

namespace {

// The replacement and the saved way back share one function type, so that a
// replacement with the wrong calling convention does not compile.
template <typename Fn>
bool installHook(std::uintptr_t target, Fn replacement, Fn& saved, const HookMessages& messages) {
    return installGuardedHook(target, reinterpret_cast<void*>(replacement), reinterpret_cast<void**>(&saved),
                              messages);
}

}  // namespace

void installLazyHooks() {
    if (!materialGuardAttempted) {
        materialGuardAttempted = true;
        installHook<AlphaRendererFn>(host::kAlphaRenderer, &alphaRenderGuard, savedAlphaRenderer,
                                     kMaterialGuardMessages);
    }
    if (!collisionHookAttempted && settings.CollisionEnabled) {
        collisionHookAttempted = true;
        collisionHookActive = installHook<collision::ColModelLookupFn>(
            host::kGetColModel, &collision::privateColModel, collision::original, kCollisionHookMessages);
    }
}

// Takes the vehicle's health; true when it rose by more than a repair does.
bool takeHealth(VehicleRecord& record) {
    const float health = static_cast<const host::Vehicle*>(record.vehicle)->health;
    record.healthDrop = record.health - health;
    record.health = health;
    return std::isfinite(health) && record.healthDrop < -kRepairHealthRise;
}

// The first record from `index` on that needs more than its health taken, and
// whether its vehicle is gone or rebuilt (else it was repaired); the records
// before it take their health. Their vehicles lie in the host's pool, and
// nothing here frees host memory, so one region walk answers for them all.
struct RecordChange {
    std::size_t index;
    bool gone;
};
RecordChange takeHealthUntilChange(RecordList& list, std::size_t index) {
    ReadableMemoryScope remembered;
    for (; index < list.records.size(); ++index) {
        VehicleRecord& record = *list.records[index];
        if (!vehicleStillSame(record)) return {index, true};
        if (takeHealth(record)) return {index, false};
    }
    return {index, false};
}

void keepRecordsInStep(RecordList& list) {
    const meter::Scope metered(meter::RecordsInStep);
    for (RecordChange change = takeHealthUntilChange(list, 0); change.index < list.records.size();
         change = takeHealthUntilChange(list, change.index)) {
        if (change.gone) {
            // Gone or rebuilt: the record leaves the list now, without touching the vehicle, and is
            // released over the next frames; the next one moves up.
            retireRecord(list, change.index);
            continue;
        }
        VehicleRecord& repaired = *list.records[change.index++];
        resetRecord(repaired);
        repaired.healthDrop = 0.0f;
    }
}

bool takeResetRequest(RecordList& list, FrameKeyboard& keys) {
    const bool down = keys.down(kKeyF7);
    // F7 pressed as part of the reload key (Shift+F7) is the reload's, which restores every vehicle anyway.
    const bool request = down && !list.f7Down && !keys.down(settings.ReloadKey);
    list.f7Down = down;
    return request;
}

PlayerInput readPlayerInput(RecordList& list, FrameKeyboard& keys) {
    PlayerInput input;
    input.vehicle = game::playerVehicle(-1, 0);
    input.resetRequested = takeResetRequest(list, keys);
    return input;
}

void frameUpdate() {
    setPhase("game process");
    callHostRoutine(frameSiteTarget);
    setPhase("Kerbmark update");
    {
        // The lines of the module's frame reach the log in one write as this scope ends, whichever way
        // the work ends; the host's own frame above writes at once, since the host may exit in it.
        const FrameLogBatch frameLines;
        try {
            moduleFrameWork();
        } catch (...) {
        }
    }
    setPhase("game rendering / between updates");
}

}  // namespace kerbmark
