// The hooking API, with MinHook's names, signatures and status codes, so that a system
// MinHook and the project's own small implementation are interchangeable.
#pragma once

#include <windows.h>

typedef enum MH_STATUS {
    MH_UNKNOWN = -1,
    MH_OK = 0,
    MH_ERROR_ALREADY_INITIALIZED,
    MH_ERROR_NOT_INITIALIZED,
    MH_ERROR_ALREADY_CREATED,
    MH_ERROR_NOT_CREATED,
    MH_ERROR_ENABLED,
    MH_ERROR_DISABLED,
    MH_ERROR_NOT_EXECUTABLE,
    MH_ERROR_UNSUPPORTED_FUNCTION,
    MH_ERROR_MEMORY_ALLOC,
    MH_ERROR_MEMORY_PROTECT,
    MH_ERROR_MODULE_NOT_FOUND,
    MH_ERROR_FUNCTION_NOT_FOUND
} MH_STATUS;

// The module lists the hooking entry points in its export table.
#define MH_API __declspec(dllexport)

#ifdef __cplusplus
extern "C" {
#endif

// Prepares the library; MH_ERROR_ALREADY_INITIALIZED on a second call.
MH_API MH_STATUS WINAPI MH_Initialize(VOID);

// Removes every hook (restoring enabled targets) and returns to the uninitialized state.
MH_API MH_STATUS WINAPI MH_Uninitialize(VOID);

// Builds a disabled hook: `pDetour` will replace `pTarget`; `*ppOriginal` (when not null)
// receives the trampoline through which the target's own code is still reached.
MH_API MH_STATUS WINAPI MH_CreateHook(LPVOID pTarget, LPVOID pDetour, LPVOID* ppOriginal);

// Writes the jump to the detour at the start of the target.
MH_API MH_STATUS WINAPI MH_EnableHook(LPVOID pTarget);

// Restores the target when enabled and frees the hook and its trampoline.
MH_API MH_STATUS WINAPI MH_RemoveHook(LPVOID pTarget);

#ifdef __cplusplus
}
#endif
