// The simulated host's memory: the section from 0x401000 that the linker
// reserves (cmake/HostImage.cmake), made read-write-execute and laid out like
// the supported executable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host_layout.h"

extern "C" char host_memory_start[], host_memory_end[];

namespace hostsim {

struct HostOptions {
    std::uint32_t identityWord = kIdentityHoodlum;
    int poolSlots = 16;
};

// Checks that every fixed range lies in the host memory section and makes the
// section read-write-execute. False, with the reason, when the program does
// not own them: it must then not run.
bool claimHostMemory(std::string& problem);

// Claims the memory and lays out the whole host: identity word, call sites,
// binding thunks, the two diverted functions, pool, state bytes, clock and
// engine pointer. Prints the reason and returns false on failure.
bool startHost(const HostOptions& options = {});

// Host data at a fixed address.
template <typename T>
T& fixed(std::uint32_t address) {
    return *reinterpret_cast<T*>(static_cast<std::uintptr_t>(address));
}

// Code writers for host memory (no protection change: the section is RWX).
void writeCall(std::uint32_t at, std::uintptr_t target);   // E8 rel32
void writeJump(std::uint32_t at, std::uintptr_t target);   // E9 rel32
// Where the `E8`/`E9` at `at` leads.
std::uintptr_t relativeTarget(std::uint32_t at);

// The x87 control word the game thread has while the host calls into the
// module (call sites, alpha renderer, collision lookup): the game's Direct3D
// device leaves 24-bit precision, round to nearest (Precision24, the default);
// Process keeps the word the process started with. A call that returns with a
// different word than it was given is a host fault.
enum class GameX87 { Precision24, Process };
void setGameX87(GameX87 mode);
// "24" or "default".
bool parseGameX87(const char* text, GameX87& mode);

// Calls the code at a call site the way the host does (no arguments).
void callSite(std::uint32_t site);
// One host frame: the frame site, then the host draws every vehicle.
void runFrame();
void runFrames(int count);
// Time passing between frames: the host clock moves on by `ms`.
void advanceClock(std::uint32_t ms);
// The host's alpha renderer and collision-model lookup, called through their
// fixed addresses (and so through whatever diverts them).
void* drawAlpha(void* atomic, std::uint32_t extra = 0);
void* colModelOf(void* entity);

// The whole host memory, for "nothing was touched" checks.
std::vector<std::uint8_t> snapshotHostMemory();
struct ChangedRange {
    std::uint32_t address;
    std::uint32_t size;
};
std::vector<ChangedRange> changedSince(const std::vector<std::uint8_t>& snapshot);
std::string describe(const std::vector<ChangedRange>& ranges);

}  // namespace hostsim
