// The project's own hooking layer: a 5-byte `JMP rel32` at the target leads to the detour;
// the target's first whole instructions, relocated, plus a jump back form the trampoline
// through which the target's own code is still reached.
//
// One thread only: the module installs and calls its hooks on the host's game thread, so
// no other thread is suspended or redirected while a target is patched.
#include "MinHook.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "host/hook/instruction_length.h"

#if !defined(__i386__) && !defined(_M_IX86)
#error "The hooking layer relocates 32-bit x86 code only."
#endif

namespace {

using kerbmark::hook::Instruction;
using kerbmark::hook::OpcodeMap;
using kerbmark::hook::decodeInstruction;
using kerbmark::hook::kMaxInstructionLength;

constexpr std::size_t kJumpSize = 5;  // E9 rel32
// The copied instructions end at most 4 bytes before the patch end plus one whole instruction.
constexpr std::size_t kMaxCopied = kJumpSize - 1 + kMaxInstructionLength;
// Worst case: short branches grow from 2 to 6 bytes, then the jump back.
constexpr std::size_t kTrampolineSize = 64;
constexpr std::uint8_t kInt3 = 0xCC;
constexpr std::uint8_t kNop = 0x90;

// One hook, kept together with its trampoline in one executable allocation of its own.
struct HookEntry {
    std::uint8_t trampoline[kTrampolineSize];
    std::uint8_t original[kMaxCopied];  // the target's bytes under the patch
    std::uint8_t* target;
    void* detour;
    HookEntry* next;
    std::uint8_t patchSize;             // bytes overwritten at the target, at least kJumpSize
    bool enabled;
};

bool g_initialized = false;
HookEntry* g_hooks = nullptr;

bool isExecutableProtection(DWORD protect) {
    if (protect & (PAGE_GUARD | PAGE_NOACCESS)) return false;
    return (protect & (PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE |
                       PAGE_EXECUTE_WRITECOPY)) != 0;
}

// Number of bytes from `address` on (at most `wanted`) that lie in committed executable memory.
std::size_t executableSpan(const void* address, std::size_t wanted) {
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(address);
    std::size_t span = 0;
    while (span < wanted) {
        MEMORY_BASIC_INFORMATION info;
        if (VirtualQuery(reinterpret_cast<const void*>(start + span), &info, sizeof info) == 0) break;
        if (info.State != MEM_COMMIT || !isExecutableProtection(info.Protect)) break;
        const std::uintptr_t regionEnd =
            reinterpret_cast<std::uintptr_t>(info.BaseAddress) + info.RegionSize;
        if (regionEnd <= start + span) break;
        span = regionEnd - start;
    }
    return span < wanted ? span : wanted;
}

HookEntry* findHook(const void* target) {
    for (HookEntry* entry = g_hooks; entry != nullptr; entry = entry->next)
        if (entry->target == target) return entry;
    return nullptr;
}

void unlinkHook(HookEntry* entry) {
    for (HookEntry** link = &g_hooks; *link != nullptr; link = &(*link)->next) {
        if (*link == entry) {
            *link = entry->next;
            return;
        }
    }
}

bool writeCode(std::uint8_t* address, const std::uint8_t* bytes, std::size_t size) {
    DWORD previous = 0;
    if (!VirtualProtect(address, size, PAGE_EXECUTE_READWRITE, &previous)) return false;
    std::memcpy(address, bytes, size);
    DWORD ignored = 0;
    VirtualProtect(address, size, previous, &ignored);
    FlushInstructionCache(GetCurrentProcess(), address, size);
    return true;
}

std::uint32_t address32(const void* p) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
}

std::int32_t readInt32(const std::uint8_t* p) {
    std::int32_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

void writeInt32(std::uint8_t* p, std::uint32_t value) { std::memcpy(p, &value, sizeof value); }

enum class Flow {
    Straight,      // copied as it is
    Call,          // CALL rel32
    Jump,          // JMP rel8/rel32
    Branch,        // Jcc rel8/rel32
    End,           // RET, IRET, far or indirect JMP: copied, and nothing follows it
    Unsupported,   // a relative form that cannot be moved
};

Flow classify(const Instruction& ins) {
    const bool sizeOverride = ins.operandSize16 || ins.addressSize16;
    if (ins.map == OpcodeMap::TwoByte) {
        if (ins.opcode >= 0x80 && ins.opcode <= 0x8F) return sizeOverride ? Flow::Unsupported : Flow::Branch;
        return Flow::Straight;
    }
    if (ins.map != OpcodeMap::OneByte) return Flow::Straight;
    const std::uint8_t op = ins.opcode;
    if (op >= 0x70 && op <= 0x7F) return sizeOverride ? Flow::Unsupported : Flow::Branch;
    if (op >= 0xE0 && op <= 0xE3) return Flow::Unsupported;  // LOOPcc / JECXZ have no long form
    switch (op) {
    case 0xE8: return sizeOverride ? Flow::Unsupported : Flow::Call;
    case 0xE9: case 0xEB: return sizeOverride ? Flow::Unsupported : Flow::Jump;
    case 0xC2: case 0xC3: case 0xCA: case 0xCB: case 0xCF: case 0xEA: return Flow::End;
    case 0xFF: {
        const unsigned reg = (ins.modRm >> 3) & 7;
        return (reg == 4 || reg == 5) ? Flow::End : Flow::Straight;
    }
    case 0xC7: return ins.modRm == 0xF8 ? Flow::Unsupported : Flow::Straight;  // XBEGIN rel32
    default: return Flow::Straight;
    }
}

// Destination of a relative CALL/JMP/Jcc whose immediate is its displacement.
std::uint32_t branchDestination(const std::uint8_t* instruction, const Instruction& ins) {
    const std::uint8_t* immediate = instruction + ins.length - ins.immediateSize;
    const std::int32_t displacement = ins.immediateSize == 1
                                          ? static_cast<std::int8_t>(immediate[0])
                                          : readInt32(immediate);
    return address32(instruction) + ins.length + static_cast<std::uint32_t>(displacement);
}

bool isPadding(std::uint8_t byte) { return byte == kInt3 || byte == kNop; }

// Copies the target's first whole instructions (at least kJumpSize bytes) into the entry's
// trampoline, relocating relative branches, and records the bytes the patch will cover.
bool buildTrampoline(std::uint8_t* target, HookEntry& entry) {
    const std::size_t available = executableSpan(target, kMaxCopied);
    std::uint8_t* out = entry.trampoline;
    std::uint8_t* const outEnd = entry.trampoline + kTrampolineSize;

    struct Reference {
        std::uint32_t destination;
        bool isCall;
    };
    Reference references[kJumpSize];
    std::size_t referenceCount = 0;

    std::size_t copied = 0;
    bool flowEnds = false;
    while (copied < kJumpSize) {
        const std::uint8_t* source = target + copied;
        Instruction ins;
        if (!decodeInstruction(source, available - copied, ins)) return false;
        const Flow flow = classify(ins);
        if (flow == Flow::Unsupported) return false;

        if (flow == Flow::Call || flow == Flow::Jump || flow == Flow::Branch) {
            const std::uint32_t destination = branchDestination(source, ins);
            references[referenceCount++] = Reference{destination, flow == Flow::Call};
            const std::size_t size = flow == Flow::Branch ? 6 : 5;
            if (out + size + kJumpSize > outEnd) return false;
            if (flow == Flow::Branch) {
                const std::uint8_t condition =
                    (ins.map == OpcodeMap::TwoByte ? ins.opcode - 0x80 : ins.opcode - 0x70) & 0x0F;
                out[0] = 0x0F;
                out[1] = static_cast<std::uint8_t>(0x80 | condition);
            } else {
                out[0] = flow == Flow::Call ? 0xE8 : 0xE9;
            }
            writeInt32(out + size - 4, destination - (address32(out) + static_cast<std::uint32_t>(size)));
            out += size;
        } else {
            if (out + ins.length + kJumpSize > outEnd) return false;
            std::memcpy(out, source, ins.length);
            out += ins.length;
        }
        copied += ins.length;
        if (flow == Flow::Jump || flow == Flow::End) {
            flowEnds = true;
            break;
        }
    }

    std::size_t patchSize = copied;
    if (copied < kJumpSize) {
        // The function ends before the patch does: only alignment padding may be overwritten.
        if (available < kJumpSize) return false;
        for (std::size_t i = copied; i < kJumpSize; ++i)
            if (!isPadding(target[i])) return false;
        patchSize = kJumpSize;
    }

    // A branch back into the patched bytes would land in the middle of the jump. A call
    // that continues the function's own code (into the moved bytes or right after them:
    // the get-PC idiom "call $+5; pop reg") would hand that code the trampoline's address
    // as its return address, and it reads its data relative to that. A call to the first
    // byte is recursion through the hook, which is sound.
    const std::uint32_t patchStart = address32(target);
    for (std::size_t i = 0; i < referenceCount; ++i) {
        const std::uint32_t offset = references[i].destination - patchStart;
        const bool intoPatch = references[i].isCall ? (offset > 0 && offset <= patchSize) : offset < patchSize;
        if (intoPatch) return false;
    }

    if (!flowEnds) {
        out[0] = 0xE9;
        writeInt32(out + 1, address32(target + copied) - (address32(out) + kJumpSize));
        out += kJumpSize;
    }
    std::memset(out, kInt3, static_cast<std::size_t>(outEnd - out));
    std::memcpy(entry.original, target, patchSize);
    entry.patchSize = static_cast<std::uint8_t>(patchSize);
    FlushInstructionCache(GetCurrentProcess(), entry.trampoline, kTrampolineSize);
    return true;
}

HookEntry* allocateHook() {
    return static_cast<HookEntry*>(
        VirtualAlloc(nullptr, sizeof(HookEntry), MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
}

void freeHook(HookEntry* entry) { VirtualFree(entry, 0, MEM_RELEASE); }

MH_STATUS removeHook(HookEntry* entry) {
    if (entry->enabled) {
        // A target that cannot be restored still leads into the trampoline: keep it.
        if (!writeCode(entry->target, entry->original, entry->patchSize)) return MH_ERROR_MEMORY_PROTECT;
        entry->enabled = false;
    }
    unlinkHook(entry);
    freeHook(entry);
    return MH_OK;
}

}  // namespace

extern "C" {

MH_STATUS WINAPI MH_Initialize(VOID) {
    if (g_initialized) return MH_ERROR_ALREADY_INITIALIZED;
    g_initialized = true;
    return MH_OK;
}

MH_STATUS WINAPI MH_Uninitialize(VOID) {
    if (!g_initialized) return MH_ERROR_NOT_INITIALIZED;
    MH_STATUS status = MH_OK;
    HookEntry* entry = g_hooks;
    while (entry != nullptr) {
        HookEntry* next = entry->next;
        const MH_STATUS removed = removeHook(entry);
        if (removed != MH_OK) status = removed;
        entry = next;
    }
    if (status == MH_OK) g_initialized = false;
    return status;
}

MH_STATUS WINAPI MH_CreateHook(LPVOID pTarget, LPVOID pDetour, LPVOID* ppOriginal) {
    if (!g_initialized) return MH_ERROR_NOT_INITIALIZED;
    if (executableSpan(pTarget, 1) == 0 || executableSpan(pDetour, 1) == 0) return MH_ERROR_NOT_EXECUTABLE;
    if (findHook(pTarget) != nullptr) return MH_ERROR_ALREADY_CREATED;

    HookEntry* entry = allocateHook();
    if (entry == nullptr) return MH_ERROR_MEMORY_ALLOC;
    std::uint8_t* target = static_cast<std::uint8_t*>(pTarget);
    if (!buildTrampoline(target, *entry)) {
        freeHook(entry);
        return MH_ERROR_UNSUPPORTED_FUNCTION;
    }
    entry->target = target;
    entry->detour = pDetour;
    entry->enabled = false;
    entry->next = g_hooks;
    g_hooks = entry;
    if (ppOriginal != nullptr) *ppOriginal = entry->trampoline;
    return MH_OK;
}

MH_STATUS WINAPI MH_EnableHook(LPVOID pTarget) {
    if (!g_initialized) return MH_ERROR_NOT_INITIALIZED;
    HookEntry* entry = findHook(pTarget);
    if (entry == nullptr) return MH_ERROR_NOT_CREATED;
    if (entry->enabled) return MH_ERROR_ENABLED;

    std::uint8_t patch[kMaxCopied];
    std::memset(patch, kInt3, sizeof patch);
    patch[0] = 0xE9;
    writeInt32(patch + 1, address32(entry->detour) - (address32(entry->target) + kJumpSize));
    if (!writeCode(entry->target, patch, entry->patchSize)) return MH_ERROR_MEMORY_PROTECT;
    entry->enabled = true;
    return MH_OK;
}

MH_STATUS WINAPI MH_RemoveHook(LPVOID pTarget) {
    if (!g_initialized) return MH_ERROR_NOT_INITIALIZED;
    HookEntry* entry = findHook(pTarget);
    if (entry == nullptr) return MH_ERROR_NOT_CREATED;
    return removeHook(entry);
}

}  // extern "C"
