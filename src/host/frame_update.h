// The module's heartbeat: once per game frame, after the host's own frame,
// a reload asked for, the reload key, the lazy hooks, the upkeep of the
// vehicle records and the F7 key.
#pragma once

#include <cstdint>

#include "MinHook.h"

namespace kerbmark {

struct RecordList;
class FrameKeyboard;

// Set before the first attempt to install each hook; never cleared.
extern bool materialGuardAttempted;
extern bool collisionHookAttempted;
// The collision-model hook is installed and enabled.
extern bool collisionHookActive;

// The replacement at the host's per-frame call site.
void frameUpdate();

// Every condition under which the host lets the module work this frame: the
// record list exists, the vehicle pool and the engine instance are present,
// and bit 0 of both host state bytes is clear.
bool hostAllowsWork();

// The hooking library's calls, replaceable to reach every outcome in tests.
struct HookingApi {
    MH_STATUS(WINAPI* initialize)();
    MH_STATUS(WINAPI* createHook)(LPVOID target, LPVOID detour, LPVOID* original);
    MH_STATUS(WINAPI* enableHook)(LPVOID target);
    MH_STATUS(WINAPI* removeHook)(LPVOID target);
};
const HookingApi& hookingLibrary();

// The one log line of each outcome of a hook installation.
struct HookMessages {
    const char* alreadyHooked;
    const char* initializationFailed;
    const char* creationFailed;
    const char* activationFailed;
    const char* enabled;
};
extern const HookMessages kMaterialGuardMessages;
extern const HookMessages kCollisionHookMessages;

// Diverts `target` to `replacement` unless another module's jump is already
// there; `saved` receives the way to the target's own code (zero again when
// enabling fails). Writes exactly one line; true when the hook is enabled.
bool installGuardedHook(std::uintptr_t target, void* replacement, void** saved, const HookMessages& messages,
                        const HookingApi& api = hookingLibrary());

// The alpha renderer guard, then (with Collision.Enabled) the collision-model
// hook, each attempted once per process.
void installLazyHooks();

// Takes the records of vehicles that are gone or rebuilt out of the list (to
// be released over the next frames), keeps the others' health up to date and
// resets a record whose vehicle was repaired.
void keepRecordsInStep(RecordList& list);

// Reads F7: true only on the frame on which it goes down, unless it goes down
// as part of the reload key.
bool takeResetRequest(RecordList& list, FrameKeyboard& keys);

// What the frame hands on for the player: the vehicle (null on foot) and this
// frame's F7 request.
struct PlayerInput {
    void* vehicle;
    bool resetRequested;
};
PlayerInput readPlayerInput(RecordList& list, FrameKeyboard& keys);

}  // namespace kerbmark
