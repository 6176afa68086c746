// The hooking layer on real code: the test functions are raw machine code written into
// executable memory, so the bytes under the patch are exactly known.
#include "MinHook.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using IntFunction = int(__cdecl*)(int);
using FastIntFunction = int(__fastcall*)(int);

constexpr std::size_t kPage = 4096;

// Executable memory: one committed read-write-execute page followed by reserved,
// uncommitted address space, filled with INT3 like the gaps between compiled functions.
class CodeMemory {
public:
    CodeMemory() {
        base_ = static_cast<std::uint8_t*>(VirtualAlloc(nullptr, 16 * kPage, MEM_RESERVE, PAGE_NOACCESS));
        if (base_ != nullptr && VirtualAlloc(base_, kPage, MEM_COMMIT, PAGE_EXECUTE_READWRITE) != nullptr)
            std::memset(base_, 0xCC, kPage);
    }
    ~CodeMemory() {
        if (base_ != nullptr) VirtualFree(base_, 0, MEM_RELEASE);
    }
    CodeMemory(const CodeMemory&) = delete;
    CodeMemory& operator=(const CodeMemory&) = delete;

    std::uint8_t* at(std::size_t offset) const { return base_ + offset; }

    std::uint8_t* put(std::size_t offset, const Bytes& bytes) {
        std::memcpy(base_ + offset, bytes.data(), bytes.size());
        FlushInstructionCache(GetCurrentProcess(), base_ + offset, bytes.size());
        return base_ + offset;
    }

private:
    std::uint8_t* base_ = nullptr;
};

// The four bytes of a rel32 field ending at `next` that lead to `destination`.
Bytes rel32(const std::uint8_t* next, const void* destination) {
    const auto value = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(destination) -
                                                  reinterpret_cast<std::uintptr_t>(next));
    Bytes out(4);
    std::memcpy(out.data(), &value, 4);
    return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

IntFunction g_originalInt = nullptr;
int __cdecl addThousandDetour(int value) { return g_originalInt(value) + 1000; }

FastIntFunction g_originalFast = nullptr;
int __fastcall addThousandFastDetour(int value) { return g_originalFast(value) + 1000; }

class HookTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(MH_Initialize(), MH_OK);
        g_originalInt = nullptr;
        g_originalFast = nullptr;
    }
    // Removes every hook before the code memory (a member) is released.
    void TearDown() override {
        const MH_STATUS status = MH_Uninitialize();
        EXPECT_TRUE(status == MH_OK || status == MH_ERROR_NOT_INITIALIZED);
    }

    // Creates, enables and removes a hook on `target`, checking the patch bytes and that
    // both the trampoline and the detour behave.
    void expectHookCycle(std::uint8_t* target, int argument, int expected, std::size_t patchSize) {
        const Bytes before(target, target + patchSize + 1);
        auto function = reinterpret_cast<IntFunction>(target);
        ASSERT_EQ(function(argument), expected);

        void* original = nullptr;
        ASSERT_EQ(MH_CreateHook(target, reinterpret_cast<void*>(&addThousandDetour), &original), MH_OK);
        ASSERT_NE(original, nullptr);
        g_originalInt = reinterpret_cast<IntFunction>(original);
        EXPECT_EQ(Bytes(target, target + patchSize + 1), before) << "create must not touch the target";
        EXPECT_EQ(g_originalInt(argument), expected);

        ASSERT_EQ(MH_EnableHook(target), MH_OK);
        EXPECT_EQ(target[0], 0xE9);
        for (std::size_t i = 5; i < patchSize; ++i) EXPECT_EQ(target[i], 0xCC) << "offset " << i;
        EXPECT_EQ(target[patchSize], before[patchSize]) << "the patch must end on an instruction";
        EXPECT_EQ(function(argument), expected + 1000);
        EXPECT_EQ(g_originalInt(argument), expected);

        ASSERT_EQ(MH_RemoveHook(target), MH_OK);
        EXPECT_EQ(Bytes(target, target + patchSize + 1), before);
        EXPECT_EQ(function(argument), expected);
    }

    CodeMemory code_;
};

struct PrologueCase {
    const char* name;
    Bytes bytes;
    int argument;
    int expected;
    std::size_t patchSize;
};

TEST_F(HookTest, CommonProloguesAreMovedIntoTheTrampoline) {
    const PrologueCase cases[] = {
        {"push ebp; mov ebp,esp; sub esp,imm8",
         {0x55, 0x8B, 0xEC, 0x83, 0xEC, 0x08, 0x8B, 0x45, 0x08, 0x83, 0xC0, 0x07, 0x8B, 0xE5, 0x5D, 0xC3},
         5, 12, 6},
        {"push ebp; mov ebp,esp; sub esp,imm32",
         {0x55, 0x8B, 0xEC, 0x81, 0xEC, 0x00, 0x01, 0x00, 0x00, 0x8B, 0x45, 0x08, 0x6B, 0xC0, 0x03, 0xC9, 0xC3},
         7, 21, 9},
        {"push esi; push edi; mov eax,[esp+0Ch]",
         {0x56, 0x57, 0x8B, 0x44, 0x24, 0x0C, 0x8D, 0x04, 0x80, 0x5F, 0x5E, 0xC3}, 4, 20, 6},
        {"mov eax,[esp+4]; add eax,imm32",
         {0x8B, 0x44, 0x24, 0x04, 0x05, 0x11, 0x11, 0x11, 0x11, 0xC3}, 1, 0x11111112, 9},
        {"mov eax,[esp+disp32]",
         {0x8B, 0x84, 0x24, 0x04, 0x00, 0x00, 0x00, 0x01, 0xC0, 0xC3}, 21, 42, 7},
        {"operand-size prefixed add straddling the patch",
         {0x8B, 0x44, 0x24, 0x04, 0x66, 0x05, 0x34, 0x12, 0xC3}, 0x10000, 0x11234, 8},
        {"operand-size prefixed load",
         {0x31, 0xC0, 0x66, 0x8B, 0x44, 0x24, 0x04, 0xC3}, 0x7FFF1234, 0x1234, 7},
        {"enter imm16,imm8",
         {0xC8, 0x08, 0x00, 0x00, 0x8B, 0x45, 0x08, 0xC9, 0xC3}, 99, 99, 7},
    };
    std::size_t offset = 0;
    for (const PrologueCase& c : cases) {
        SCOPED_TRACE(c.name);
        expectHookCycle(code_.put(offset, c.bytes), c.argument, c.expected, c.patchSize);
        offset += 64;
    }
}

TEST_F(HookTest, IndexedLoadWithAbsoluteTableIsCopiedUnchanged) {
    // mov ecx,[esp+4]; mov eax,[table+ecx*4]; ret
    std::uint8_t* table = code_.at(0x800);
    const std::int32_t values[] = {11, 22, 33, 44};
    std::memcpy(table, values, sizeof values);
    const auto address = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(table));
    Bytes function = {0x8B, 0x4C, 0x24, 0x04, 0x8B, 0x04, 0x8D};
    function.resize(function.size() + 4);
    std::memcpy(&function[7], &address, 4);
    function.push_back(0xC3);
    expectHookCycle(code_.put(0, function), 2, 33, 11);
}

TEST_F(HookTest, MovedRelativeCallStillReachesItsCallee) {
    std::uint8_t* callee = code_.put(0x400, {0xB8, 0x2A, 0x00, 0x00, 0x00, 0xC3});  // mov eax,42; ret
    std::uint8_t* target = code_.at(0);
    // call callee; add eax,1; ret
    code_.put(0, concat({{0xE8}, rel32(target + 5, callee), {0x83, 0xC0, 0x01, 0xC3}}));
    expectHookCycle(target, 0, 43, 5);
}

TEST_F(HookTest, LeadingNearJumpIsRelocated) {
    std::uint8_t* destination = code_.put(0x400, {0x8B, 0x44, 0x24, 0x04, 0x40, 0xC3});  // return x + 1
    std::uint8_t* target = code_.at(0);
    code_.put(0, concat({{0xE9}, rel32(target + 5, destination)}));
    expectHookCycle(target, 8, 9, 5);
}

TEST_F(HookTest, ShortJumpOverPaddingIsAccepted) {
    // jmp +3 over int3 padding; mov eax,7; ret. The patch covers only the jump and padding.
    std::uint8_t* target = code_.put(0, {0xEB, 0x03, 0xCC, 0xCC, 0xCC, 0xB8, 0x07, 0x00, 0x00, 0x00, 0xC3});
    expectHookCycle(target, 0, 7, 5);
}

TEST_F(HookTest, FunctionEndingInPaddingIsAccepted) {
    // xor eax,eax; ret; then int3 or nop fill up to the next function.
    expectHookCycle(code_.put(0, {0x31, 0xC0, 0xC3, 0xCC, 0xCC, 0x55}), 0, 0, 5);
    expectHookCycle(code_.put(64, {0x31, 0xC0, 0xC3, 0x90, 0x90, 0x55}), 0, 0, 5);
}

TEST_F(HookTest, ConditionalBranchesAreRewrittenToLongForm) {
    // test ecx,ecx; jz L (rel8 or rel32); mov eax,1; ret; L: mov eax,2; ret
    const Bytes shortForm = {0x85, 0xC9, 0x74, 0x06, 0xB8, 0x01, 0x00, 0x00, 0x00, 0xC3,
                             0xB8, 0x02, 0x00, 0x00, 0x00, 0xC3};
    const Bytes longForm = {0x85, 0xC9, 0x0F, 0x84, 0x06, 0x00, 0x00, 0x00, 0xB8, 0x01, 0x00, 0x00, 0x00,
                            0xC3, 0xB8, 0x02, 0x00, 0x00, 0x00, 0xC3};
    struct BranchCase {
        const char* name;
        Bytes bytes;
        std::size_t patchSize;
    } cases[] = {{"jz rel8", shortForm, 9}, {"jz rel32", longForm, 8}};

    std::size_t offset = 0;
    for (const BranchCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::uint8_t* target = code_.put(offset, c.bytes);
        offset += 64;
        auto function = reinterpret_cast<FastIntFunction>(target);
        ASSERT_EQ(function(0), 2);
        ASSERT_EQ(function(5), 1);

        void* original = nullptr;
        ASSERT_EQ(MH_CreateHook(target, reinterpret_cast<void*>(&addThousandFastDetour), &original), MH_OK);
        g_originalFast = reinterpret_cast<FastIntFunction>(original);
        EXPECT_EQ(g_originalFast(0), 2) << "the taken branch must leave the trampoline for the target";
        EXPECT_EQ(g_originalFast(5), 1);

        ASSERT_EQ(MH_EnableHook(target), MH_OK);
        EXPECT_EQ(target[c.patchSize], c.bytes[c.patchSize]);
        EXPECT_EQ(function(0), 1002);
        EXPECT_EQ(function(5), 1001);
        ASSERT_EQ(MH_RemoveHook(target), MH_OK);
        EXPECT_EQ(Bytes(target, target + c.bytes.size()), c.bytes);
    }
}

TEST_F(HookTest, RefusesFunctionsItCannotMoveSafely) {
    struct RefusedCase {
        const char* name;
        Bytes bytes;
    } cases[] = {
        {"returns before 5 bytes, next function follows", {0x33, 0xC0, 0xC3, 0x55, 0x8B, 0xEC}},
        {"starts with a short jump into code", {0xEB, 0x05, 0xB8, 0x01, 0x00, 0x00, 0x00, 0xC3}},
        {"indirect jump before 5 bytes", {0xFF, 0xE0, 0x55, 0x8B, 0xEC}},
        {"loop branches back into the patch", {0x49, 0x75, 0xFD, 0xB8, 0x07, 0x00, 0x00, 0x00, 0xC3}},
        {"jump to the first byte", {0x90, 0xEB, 0xFD, 0xCC, 0xCC}},
        {"LOOP has no long form", {0xE2, 0xFE, 0xB8, 0x01, 0x00, 0x00, 0x00, 0xC3}},
        {"JECXZ has no long form", {0xE3, 0x05, 0xB8, 0x01, 0x00, 0x00, 0x00, 0xC3}},
        {"call rel16", {0x66, 0xE8, 0x00, 0x00, 0xB8, 0x01, 0x00, 0x00, 0x00, 0xC3}},
        // call $+5; pop eax; sub eax,imm32; ret: the function's own address from the return address.
        {"get-PC call to the end of the moved bytes",
         {0xE8, 0x00, 0x00, 0x00, 0x00, 0x58, 0x2D, 0x05, 0x00, 0x00, 0x00, 0xC3}},
        {"get-PC call after a push", {0x53, 0xE8, 0x00, 0x00, 0x00, 0x00, 0x5B, 0x8B, 0xC3, 0x5B, 0xC3}},
        {"call into the moved bytes", {0x90, 0xE8, 0xFB, 0xFF, 0xFF, 0xFF, 0xC3}},
        {"unknown instruction (VEX)", {0xC5, 0xF8, 0x77, 0xB8, 0x01, 0x00, 0x00, 0x00, 0xC3}},
    };
    std::size_t offset = 0;
    for (const RefusedCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::uint8_t* target = code_.put(offset, c.bytes);
        offset += 64;
        void* original = reinterpret_cast<void*>(0x1234);
        EXPECT_EQ(MH_CreateHook(target, reinterpret_cast<void*>(&addThousandDetour), &original),
                  MH_ERROR_UNSUPPORTED_FUNCTION);
        EXPECT_EQ(original, reinterpret_cast<void*>(0x1234));
        EXPECT_EQ(Bytes(target, target + c.bytes.size()), c.bytes);
        EXPECT_EQ(MH_EnableHook(target), MH_ERROR_NOT_CREATED);
    }
}

TEST_F(HookTest, RefusesCodeRunningIntoUncommittedMemory) {
    // The page after the committed one is only reserved: decoding must not read it.
    std::uint8_t* cutInstruction = code_.put(kPage - 3, {0xB8, 0x01, 0x00});
    EXPECT_EQ(MH_CreateHook(cutInstruction, reinterpret_cast<void*>(&addThousandDetour), nullptr),
              MH_ERROR_UNSUPPORTED_FUNCTION);
    std::uint8_t* shortAtEnd = code_.put(kPage - 3, {0x31, 0xC0, 0xC3});
    EXPECT_EQ(MH_CreateHook(shortAtEnd, reinterpret_cast<void*>(&addThousandDetour), nullptr),
              MH_ERROR_UNSUPPORTED_FUNCTION);
    std::uint8_t* fitsExactly = code_.put(kPage - 5, {0xB8, 0x05, 0x00, 0x00, 0x00});
    EXPECT_EQ(MH_CreateHook(fitsExactly, reinterpret_cast<void*>(&addThousandDetour), nullptr), MH_OK);
}

TEST_F(HookTest, RefusesNonExecutableMemory) {
    void* data = VirtualAlloc(nullptr, kPage, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    ASSERT_NE(data, nullptr);
    std::memcpy(data, "\x55\x8B\xEC\x83\xEC\x08\xC3", 7);
    std::uint8_t* function = code_.put(0, {0x55, 0x8B, 0xEC, 0x83, 0xEC, 0x08, 0xC9, 0xC3});

    EXPECT_EQ(MH_CreateHook(data, reinterpret_cast<void*>(&addThousandDetour), nullptr),
              MH_ERROR_NOT_EXECUTABLE);
    EXPECT_EQ(MH_CreateHook(function, data, nullptr), MH_ERROR_NOT_EXECUTABLE) << "detour in data";
    EXPECT_EQ(MH_CreateHook(nullptr, reinterpret_cast<void*>(&addThousandDetour), nullptr),
              MH_ERROR_NOT_EXECUTABLE);
    EXPECT_EQ(MH_CreateHook(code_.at(kPage), reinterpret_cast<void*>(&addThousandDetour), nullptr),
              MH_ERROR_NOT_EXECUTABLE) << "reserved, not committed";
    VirtualFree(data, 0, MEM_RELEASE);
}

TEST_F(HookTest, StatusCodesFollowTheHookLifecycle) {
    std::uint8_t* target = code_.put(0, {0x8B, 0x44, 0x24, 0x04, 0x05, 0x01, 0x00, 0x00, 0x00, 0xC3});
    void* detour = reinterpret_cast<void*>(&addThousandDetour);

    EXPECT_EQ(MH_Initialize(), MH_ERROR_ALREADY_INITIALIZED);
    EXPECT_EQ(MH_EnableHook(target), MH_ERROR_NOT_CREATED);
    EXPECT_EQ(MH_RemoveHook(target), MH_ERROR_NOT_CREATED);

    void* first = nullptr;
    ASSERT_EQ(MH_CreateHook(target, detour, &first), MH_OK);
    void* second = nullptr;
    EXPECT_EQ(MH_CreateHook(target, detour, &second), MH_ERROR_ALREADY_CREATED);
    EXPECT_EQ(second, nullptr);

    ASSERT_EQ(MH_EnableHook(target), MH_OK);
    EXPECT_EQ(MH_EnableHook(target), MH_ERROR_ENABLED);
    g_originalInt = reinterpret_cast<IntFunction>(first);
    EXPECT_EQ(reinterpret_cast<IntFunction>(target)(1), 1002);

    ASSERT_EQ(MH_RemoveHook(target), MH_OK);
    EXPECT_EQ(MH_RemoveHook(target), MH_ERROR_NOT_CREATED);
    EXPECT_EQ(reinterpret_cast<IntFunction>(target)(1), 2);

    // A removed hook can be built again.
    void* again = nullptr;
    ASSERT_EQ(MH_CreateHook(target, detour, &again), MH_OK);
    g_originalInt = reinterpret_cast<IntFunction>(again);
    ASSERT_EQ(MH_EnableHook(target), MH_OK);
    EXPECT_EQ(reinterpret_cast<IntFunction>(target)(3), 1004);
}

TEST_F(HookTest, NothingWorksBeforeInitialization) {
    std::uint8_t* target = code_.put(0, {0x8B, 0x44, 0x24, 0x04, 0x05, 0x01, 0x00, 0x00, 0x00, 0xC3});
    ASSERT_EQ(MH_Uninitialize(), MH_OK);
    EXPECT_EQ(MH_Uninitialize(), MH_ERROR_NOT_INITIALIZED);
    EXPECT_EQ(MH_CreateHook(target, reinterpret_cast<void*>(&addThousandDetour), nullptr),
              MH_ERROR_NOT_INITIALIZED);
    EXPECT_EQ(MH_EnableHook(target), MH_ERROR_NOT_INITIALIZED);
    EXPECT_EQ(MH_RemoveHook(target), MH_ERROR_NOT_INITIALIZED);
    EXPECT_EQ(MH_Initialize(), MH_OK);
}

TEST_F(HookTest, UninitializeRestoresEveryEnabledTarget) {
    const Bytes plusOne = {0x8B, 0x44, 0x24, 0x04, 0x05, 0x01, 0x00, 0x00, 0x00, 0xC3};
    const Bytes plusTwo = {0x8B, 0x44, 0x24, 0x04, 0x05, 0x02, 0x00, 0x00, 0x00, 0xC3};
    std::uint8_t* enabled = code_.put(0, plusOne);
    std::uint8_t* createdOnly = code_.put(64, plusTwo);
    void* detour = reinterpret_cast<void*>(&addThousandDetour);
    ASSERT_EQ(MH_CreateHook(enabled, detour, nullptr), MH_OK);
    ASSERT_EQ(MH_CreateHook(createdOnly, detour, nullptr), MH_OK);
    ASSERT_EQ(MH_EnableHook(enabled), MH_OK);
    ASSERT_NE(Bytes(enabled, enabled + plusOne.size()), plusOne);

    ASSERT_EQ(MH_Uninitialize(), MH_OK);
    EXPECT_EQ(Bytes(enabled, enabled + plusOne.size()), plusOne);
    EXPECT_EQ(Bytes(createdOnly, createdOnly + plusTwo.size()), plusTwo);
    EXPECT_EQ(reinterpret_cast<IntFunction>(enabled)(5), 6);

    ASSERT_EQ(MH_Initialize(), MH_OK);
    EXPECT_EQ(MH_EnableHook(enabled), MH_ERROR_NOT_CREATED) << "hooks do not survive uninitialization";
}

TEST_F(HookTest, RemoveAfterFailedEnableFreesTheHook) {
    // A target whose page goes away between creation and enabling cannot be patched.
    auto* page = static_cast<std::uint8_t*>(
        VirtualAlloc(nullptr, kPage, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
    ASSERT_NE(page, nullptr);
    const Bytes function = {0x55, 0x8B, 0xEC, 0x8B, 0x45, 0x08, 0x5D, 0xC3};
    std::memcpy(page, function.data(), function.size());

    void* original = nullptr;
    ASSERT_EQ(MH_CreateHook(page, reinterpret_cast<void*>(&addThousandDetour), &original), MH_OK);
    ASSERT_TRUE(VirtualFree(page, kPage, MEM_DECOMMIT));

    EXPECT_EQ(MH_EnableHook(page), MH_ERROR_MEMORY_PROTECT);
    EXPECT_EQ(MH_RemoveHook(page), MH_OK) << "a disabled hook is removed without touching its target";
    EXPECT_EQ(MH_EnableHook(page), MH_ERROR_NOT_CREATED);
    VirtualFree(page, 0, MEM_RELEASE);
}

}  // namespace
