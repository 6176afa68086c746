#include "host_image.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/fpu.h"
#include "host_functions.h"
#include "host_world.h"

namespace hostsim {

const FixedRange kFixedRanges[] = {
    {kIdentityWordAddress, 4, "identity word"},
    {kModelInfoTableWord, 4, "model information table word"},
    {kExtensionRegistry, 4, "geometry extension registry"},
    {kVehiclePoolPointer, 4, "vehicle pool pointer"},
    {kStateByteA, 1, "state byte 0xB7CB48"},
    {kStateByteB, 1, "state byte 0xB7CB49"},
    {kClock, 4, "clock"},
    {kEngineInstancePointer, 4, "engine instance pointer"},
    {kFrameSite, kCallSiteSize, "frame call site"},
    {kResetSiteA, kCallSiteSize, "first reset call site"},
    {kResetSiteB, kCallSiteSize, "second reset call site"},
    {kAlphaRenderer, kAlphaRendererSize, "alpha renderer"},
    {kGetColModel, kGetColModelSize, "GetColModel"},
    {kAtomics, kJumpThunkSize, "atomics"},
    {kVehicleByRef, kJumpThunkSize, "vehicleByRef"},
    {kVehicleRef, kJumpThunkSize, "vehicleRef"},
    {kPlayerVehicle, kJumpThunkSize, "playerVehicle"},
    {kPlayerPed, kJumpThunkSize, "playerPed"},
    {kSetGeometry, kJumpThunkSize, "setGeometry"},
    {kDestroyGeometry, kJumpThunkSize, "destroyGeometry"},
    {kCreateGeometry, kJumpThunkSize, "createGeometry"},
    {kTriangleVertices, kJumpThunkSize, "triangleVertices"},
    {kTriangleMaterial, kJumpThunkSize, "triangleMaterial"},
    {kCopyExtensions, kJumpThunkSize, "copyExtensions"},
    {kGeometrySkin, kJumpThunkSize, "geometrySkin"},
    {kLock, kJumpThunkSize, "lock"},
    {kUnlock, kJumpThunkSize, "unlock"},
    {kFrameName, kJumpThunkSize, "frameName"},
    {kFrameLTM, kJumpThunkSize, "frameLTM"},
    {kAtomicFlags, kJumpThunkSize, "atomicFlags"},
    {kGetLightStatus, kJumpThunkSize, "getLightStatus"},
    {kSetLightStatus, kJumpThunkSize, "setLightStatus"},
    {kCollisionConstruct, kJumpThunkSize, "collision construct"},
    {kCollisionDestruct, kJumpThunkSize, "collision destruct"},
    {kCollisionAllocate, kJumpThunkSize, "collision allocate"},
    {kCollisionAssign, kJumpThunkSize, "collision assign"},
    {kCollisionRemoveCachedPlanes, kJumpThunkSize, "collision removeCachedPlanes"},
    {kFrameWorkFunction, kJumpThunkSize, "host frame work"},
    {kResetWorkFunctionA, kJumpThunkSize, "host reset work A"},
    {kResetWorkFunctionB, kJumpThunkSize, "host reset work B"},
    {kScratchCode, kScratchCodeSize, "scratch code"},
};
const std::uint32_t kFixedRangeCount = sizeof kFixedRanges / sizeof kFixedRanges[0];

namespace {

std::uintptr_t memoryStart() { return reinterpret_cast<std::uintptr_t>(host_memory_start); }
std::uintptr_t memoryEnd() { return reinterpret_cast<std::uintptr_t>(host_memory_end); }

std::uint8_t* codeAt(std::uint32_t address) { return reinterpret_cast<std::uint8_t*>(address); }

void writeRelative(std::uint32_t at, std::uint8_t opcode, std::uintptr_t target) {
    std::uint8_t* code = codeAt(at);
    const std::uint32_t displacement = static_cast<std::uint32_t>(target) - (at + 5);
    code[0] = opcode;
    std::memcpy(code + 1, &displacement, 4);
}

// push ebp; mov ebp, esp; sub esp, 8 -- six bytes of plain instructions that a
// detour can move, then the body, then mov esp, ebp; pop ebp; ret.
constexpr std::uint8_t kPrologue[] = {0x55, 0x8B, 0xEC, 0x83, 0xEC, 0x08};
constexpr std::uint8_t kEpilogue[] = {0x8B, 0xE5, 0x5D, 0xC3};

// The alpha renderer: a C function of (atomic, extra) that passes both on.
void writeAlphaRenderer() {
    std::uint8_t* code = codeAt(kAlphaRenderer);
    std::uint32_t at = 0;
    for (std::uint8_t byte : kPrologue) code[at++] = byte;
    const std::uint8_t pushArguments[] = {0xFF, 0x75, 0x0C, 0xFF, 0x75, 0x08};  // push [ebp+12]; push [ebp+8]
    for (std::uint8_t byte : pushArguments) code[at++] = byte;
    writeCall(kAlphaRenderer + at, alphaRendererImplementation());
    at += 5;
    for (std::uint8_t byte : kEpilogue) code[at++] = byte;
    if (at != kAlphaRendererSize) std::abort();
}

// GetColModel: a member function; the entity stays in ECX for the body.
void writeGetColModel() {
    std::uint8_t* code = codeAt(kGetColModel);
    std::uint32_t at = 0;
    for (std::uint8_t byte : kPrologue) code[at++] = byte;
    writeCall(kGetColModel + at, getColModelImplementation());
    at += 5;
    for (std::uint8_t byte : kEpilogue) code[at++] = byte;
    if (at != kGetColModelSize) std::abort();
}

void writeCallSite(std::uint32_t site, std::uint32_t hostFunction) {
    writeCall(site, hostFunction);
    codeAt(site)[5] = 0xC3;
}

}  // namespace

void writeCall(std::uint32_t at, std::uintptr_t target) { writeRelative(at, 0xE8, target); }
void writeJump(std::uint32_t at, std::uintptr_t target) { writeRelative(at, 0xE9, target); }

std::uintptr_t relativeTarget(std::uint32_t at) {
    std::int32_t displacement;
    std::memcpy(&displacement, codeAt(at) + 1, 4);
    return at + 5 + static_cast<std::uint32_t>(displacement);
}

bool claimHostMemory(std::string& problem) {
    if (reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)) != kImageBase) {
        problem = "the program is not loaded at 0x400000";
        return false;
    }
    for (const FixedRange& range : kFixedRanges) {
        if (range.address < memoryStart() || range.address + range.size > memoryEnd()) {
            char text[160];
            std::snprintf(text, sizeof text, "%s at 0x%08X (%u bytes) lies outside host memory 0x%08X..0x%08X",
                          range.what, static_cast<unsigned>(range.address), static_cast<unsigned>(range.size),
                          static_cast<unsigned>(memoryStart()), static_cast<unsigned>(memoryEnd()));
            problem = text;
            return false;
        }
    }
    DWORD previous = 0;
    if (!VirtualProtect(host_memory_start, memoryEnd() - memoryStart(), PAGE_EXECUTE_READWRITE, &previous)) {
        problem = "host memory cannot be made read-write-execute";
        return false;
    }
    return true;
}

bool startHost(const HostOptions& options) {
    std::string problem;
    if (!claimHostMemory(problem)) {
        std::fprintf(stderr, "hostsim: refusing to run: %s\n", problem.c_str());
        return false;
    }
    fixed<std::uint32_t>(kIdentityWordAddress) = options.identityWord;

    const std::vector<HostEntry>& entries = hostEntries();
    for (const HostEntry& entry : entries) writeJump(entry.address, entry.implementation);
    writeCallSite(kFrameSite, kFrameWorkFunction);
    writeCallSite(kResetSiteA, kResetWorkFunctionA);
    writeCallSite(kResetSiteB, kResetWorkFunctionB);
    writeAlphaRenderer();
    writeGetColModel();

    createVehiclePool(options.poolSlots);
    publishModelInfo(true);
    fixed<std::uint8_t>(kStateByteA) = 0;
    fixed<std::uint8_t>(kStateByteB) = 0;
    fixed<std::uint32_t>(kClock) = 0;
    publishEngineInstance(true);
    FlushInstructionCache(GetCurrentProcess(), host_memory_start, memoryEnd() - memoryStart());
    return true;
}

namespace {

GameX87 g_gameX87 = GameX87::Precision24;

// The game thread's x87 word around one call into the module.
class GameThreadX87 {
public:
    explicit GameThreadX87(const char* call) : call_(call), saved_(dent::x87ControlWord()) {
        given_ = g_gameX87 == GameX87::Precision24 ? dent::x87WithPrecision(saved_, dent::kX87Precision24) : saved_;
        dent::setX87ControlWord(given_);
    }
    ~GameThreadX87() {
        const std::uint16_t returned = dent::x87ControlWord();
        dent::setX87ControlWord(saved_);
        if (returned != given_) {
            char text[96];
            std::snprintf(text, sizeof text, "%s: x87 control word 0x%04x came back as 0x%04x", call_, given_,
                          returned);
            hostFault(text);
        }
    }
    GameThreadX87(const GameThreadX87&) = delete;
    GameThreadX87& operator=(const GameThreadX87&) = delete;

private:
    const char* call_;
    std::uint16_t saved_;
    std::uint16_t given_;
};

}  // namespace

void setGameX87(GameX87 mode) { g_gameX87 = mode; }

bool parseGameX87(const char* text, GameX87& mode) {
    if (std::strcmp(text, "24") == 0) {
        mode = GameX87::Precision24;
        return true;
    }
    if (std::strcmp(text, "default") == 0) {
        mode = GameX87::Process;
        return true;
    }
    return false;
}

void callSite(std::uint32_t site) {
    const GameThreadX87 x87("call site");
    reinterpret_cast<void (*)()>(static_cast<std::uintptr_t>(site))();
}
// The host's frame: its processing (with whatever the module does there), then drawing.
void runFrame() {
    callSite(kFrameSite);
    renderVehicles();
}
void runFrames(int count) {
    for (int i = 0; i < count; ++i) runFrame();
}

void advanceClock(std::uint32_t ms) { fixed<std::uint32_t>(kClock) += ms; }

void* drawAlpha(void* atomic, std::uint32_t extra) {
    const GameThreadX87 x87("alpha renderer");
    using Renderer = void* (*)(void*, std::uint32_t);
    return reinterpret_cast<Renderer>(static_cast<std::uintptr_t>(kAlphaRenderer))(atomic, extra);
}

void* colModelOf(void* entity) {
    const GameThreadX87 x87("GetColModel");
    using Lookup = void*(__attribute__((thiscall)) *)(void*);
    return reinterpret_cast<Lookup>(static_cast<std::uintptr_t>(kGetColModel))(entity);
}

std::vector<std::uint8_t> snapshotHostMemory() {
    return std::vector<std::uint8_t>(host_memory_start, host_memory_end);
}

std::vector<ChangedRange> changedSince(const std::vector<std::uint8_t>& snapshot) {
    std::vector<ChangedRange> ranges;
    const std::uint8_t* now = reinterpret_cast<const std::uint8_t*>(host_memory_start);
    const std::uint32_t base = static_cast<std::uint32_t>(memoryStart());
    for (std::size_t i = 0; i < snapshot.size(); ++i) {
        if (now[i] == snapshot[i]) continue;
        const std::uint32_t address = base + static_cast<std::uint32_t>(i);
        if (!ranges.empty() && ranges.back().address + ranges.back().size == address)
            ++ranges.back().size;
        else
            ranges.push_back({address, 1});
    }
    return ranges;
}

std::string describe(const std::vector<ChangedRange>& ranges) {
    std::string text;
    for (const ChangedRange& range : ranges) {
        char item[40];
        std::snprintf(item, sizeof item, "%s0x%08X+%u", text.empty() ? "" : ", ", static_cast<unsigned>(range.address),
                      static_cast<unsigned>(range.size));
        text += item;
    }
    return text.empty() ? "nothing" : text;
}

}  // namespace hostsim
