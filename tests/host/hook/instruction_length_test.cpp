#include "host/hook/instruction_length.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using kerbmark::hook::decodeInstruction;
using kerbmark::hook::Instruction;
using kerbmark::hook::instructionLength;
using kerbmark::hook::OpcodeMap;

struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;  // exactly one instruction
};

// Each instruction decodes to its full length; trailing bytes after it must be ignored,
// and one byte less must be refused rather than read past.
void expectDecodes(const Case& c) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> padded = c.bytes;
    padded.insert(padded.end(), {0x90, 0x90, 0x90, 0x90});
    EXPECT_EQ(instructionLength(padded.data(), padded.size()), c.bytes.size());
    EXPECT_EQ(instructionLength(c.bytes.data(), c.bytes.size()), c.bytes.size());
    EXPECT_EQ(instructionLength(c.bytes.data(), c.bytes.size() - 1), 0u);
}

TEST(InstructionLength, FunctionPrologues) {
    const Case cases[] = {
        {"push ebp", {0x55}},
        {"mov ebp,esp", {0x8B, 0xEC}},
        {"mov ebp,esp (89 form)", {0x89, 0xE5}},
        {"sub esp,imm8", {0x83, 0xEC, 0x08}},
        {"sub esp,imm32", {0x81, 0xEC, 0x00, 0x01, 0x00, 0x00}},
        {"push esi", {0x56}},
        {"push imm8", {0x6A, 0xFF}},
        {"push imm32", {0x68, 0x78, 0x56, 0x34, 0x12}},
        {"mov eax,[esp+4]", {0x8B, 0x44, 0x24, 0x04}},
        {"mov eax,[esp+disp32]", {0x8B, 0x84, 0x24, 0x00, 0x01, 0x00, 0x00}},
        {"mov eax,[esp]", {0x8B, 0x04, 0x24}},
        {"mov eax,[eax*4+disp32] (SIB without base)", {0x8B, 0x04, 0x85, 0x10, 0x20, 0x30, 0x40}},
        {"mov eax,[ebp+0] (SIB base ebp, disp8)", {0x8B, 0x44, 0x25, 0x00}},
        {"mov eax,[disp32]", {0x8B, 0x05, 0x10, 0x20, 0x30, 0x40}},
        {"mov ecx,[ebp+8]", {0x8B, 0x4D, 0x08}},
        {"mov ecx,[ebp+disp32]", {0x8B, 0x8D, 0x00, 0xF0, 0xFF, 0xFF}},
        {"lea esp,[esp+0]", {0x8D, 0x64, 0x24, 0x00}},
        {"lea esp,[esp+disp32]", {0x8D, 0xA4, 0x24, 0x00, 0x00, 0x00, 0x00}},
        {"mov dword [ebp-4],imm32", {0xC7, 0x45, 0xFC, 0x01, 0x00, 0x00, 0x00}},
        {"mov dword [disp32],imm32", {0xC7, 0x05, 1, 2, 3, 4, 5, 6, 7, 8}},
        {"mov dword [esp+disp32],imm32", {0xC7, 0x84, 0x24, 1, 2, 3, 4, 5, 6, 7, 8}},
        {"mov byte [ecx],imm8", {0xC6, 0x01, 0x7F}},
        {"mov eax,imm32", {0xB8, 0x2A, 0x00, 0x00, 0x00}},
        {"mov al,imm8", {0xB0, 0x01}},
        {"xor eax,eax", {0x33, 0xC0}},
        {"cmp eax,imm32", {0x3D, 1, 2, 3, 4}},
        {"and al,imm8", {0x24, 0x0F}},
        {"imul eax,eax,imm32", {0x69, 0xC0, 1, 2, 3, 4}},
        {"imul eax,eax,imm8", {0x6B, 0xC0, 0x03}},
        {"shl eax,imm8", {0xC1, 0xE0, 0x02}},
        {"test ecx,ecx", {0x85, 0xC9}},
        {"enter imm16,imm8", {0xC8, 0x10, 0x00, 0x00}},
        {"ret imm16", {0xC2, 0x08, 0x00}},
        {"ret", {0xC3}},
        {"int3", {0xCC}},
        {"int imm8", {0xCD, 0x2E}},
        {"call rel32", {0xE8, 1, 2, 3, 4}},
        {"jmp rel32", {0xE9, 1, 2, 3, 4}},
        {"jmp rel8", {0xEB, 0x10}},
        {"jz rel8", {0x74, 0xFE}},
        {"jmp [disp32]", {0xFF, 0x25, 1, 2, 3, 4}},
        {"call [eax+disp8]", {0xFF, 0x50, 0x10}},
        {"call far ptr16:32", {0x9A, 1, 2, 3, 4, 5, 6}},
        {"mov eax,[moffs32]", {0xA1, 1, 2, 3, 4}},
        {"fld dword [ebp+8]", {0xD9, 0x45, 0x08}},
        {"fld qword [disp32]", {0xDD, 0x05, 1, 2, 3, 4}},
        {"fnclex", {0xDB, 0xE2}},
    };
    for (const Case& c : cases) expectDecodes(c);
}

TEST(InstructionLength, GroupThreeImmediateOnlyForTest) {
    const Case cases[] = {
        {"test cl,imm8", {0xF6, 0xC1, 0x05}},
        {"test byte [eax],imm8 (/1 alias)", {0xF6, 0x08, 0x05}},
        {"not cl", {0xF6, 0xD1}},
        {"test ecx,imm32", {0xF7, 0xC1, 1, 2, 3, 4}},
        {"test dword [ebp+8],imm32", {0xF7, 0x45, 0x08, 1, 2, 3, 4}},
        {"neg ecx", {0xF7, 0xD9}},
        {"div dword [ebp+8]", {0xF7, 0x75, 0x08}},
        {"test cx,imm16", {0x66, 0xF7, 0xC1, 0x34, 0x12}},
    };
    for (const Case& c : cases) expectDecodes(c);
}

TEST(InstructionLength, PrefixesChangeOperandAndAddressSizes) {
    const Case cases[] = {
        {"mov ax,imm16", {0x66, 0xB8, 0x34, 0x12}},
        {"add ax,imm16", {0x66, 0x05, 0x01, 0x00}},
        {"add cx,imm16", {0x66, 0x81, 0xC1, 0x01, 0x00}},
        {"add cx,imm8 (sign extended)", {0x66, 0x83, 0xC1, 0x01}},
        {"mov word [disp32],imm16", {0x66, 0xC7, 0x05, 1, 2, 3, 4, 0x34, 0x12}},
        {"push imm16", {0x66, 0x68, 0x34, 0x12}},
        {"imul ax,ax,imm16", {0x66, 0x69, 0xC0, 0x34, 0x12}},
        {"call rel16", {0x66, 0xE8, 0x01, 0x00}},
        {"jmp far ptr16:16", {0x66, 0xEA, 1, 2, 3, 4}},
        {"ret imm16 ignores 66", {0x66, 0xC2, 0x04, 0x00}},
        {"enter ignores 66", {0x66, 0xC8, 0x10, 0x00, 0x00}},
        {"mov ax,[moffs32] (66 leaves the address size)", {0x66, 0xA1, 1, 2, 3, 4}},
        {"mov eax,[moffs16]", {0x67, 0xA1, 0x34, 0x12}},
        {"mov eax,[bp+si]", {0x67, 0x8B, 0x02}},
        {"mov eax,[disp16]", {0x67, 0x8B, 0x06, 0x34, 0x12}},
        {"mov eax,[bp+disp8]", {0x67, 0x8B, 0x46, 0x02}},
        {"mov eax,[bx+disp16]", {0x67, 0x8B, 0x87, 0x34, 0x12}},
        {"67 drops the SIB byte", {0x67, 0x8B, 0x04}},
        {"mov eax,fs:[0]", {0x64, 0xA1, 0, 0, 0, 0}},
        {"mov ecx,fs:[disp32]", {0x64, 0x8B, 0x0D, 0, 0, 0, 0}},
        {"rep movsd", {0xF3, 0xA5}},
        {"lock cmpxchg [edx],ecx", {0xF0, 0x0F, 0xB1, 0x0A}},
        {"branch hint jz rel8", {0x3E, 0x74, 0x10}},
        {"xchg ax,ax", {0x66, 0x90}},
        {"nopw cs:[eax+eax+0]", {0x66, 0x2E, 0x0F, 0x1F, 0x84, 0x00, 0x00, 0x00, 0x00, 0x00}},
    };
    for (const Case& c : cases) expectDecodes(c);
}

TEST(InstructionLength, TwoAndThreeByteOpcodes) {
    const Case cases[] = {
        {"movzx eax,byte [ebp+8]", {0x0F, 0xB6, 0x45, 0x08}},
        {"jz rel32", {0x0F, 0x84, 1, 2, 3, 4}},
        {"jz rel16", {0x66, 0x0F, 0x84, 0x01, 0x00}},
        {"nop dword [eax+eax]", {0x0F, 0x1F, 0x44, 0x00, 0x00}},
        {"nop dword [eax+eax+disp32]", {0x0F, 0x1F, 0x84, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {"imul eax,ecx", {0x0F, 0xAF, 0xC1}},
        {"bt eax,imm8", {0x0F, 0xBA, 0xE0, 0x05}},
        {"shld edx,eax,imm8", {0x0F, 0xA4, 0xC2, 0x03}},
        {"shld edx,eax,cl", {0x0F, 0xA5, 0xC2}},
        {"bswap eax", {0x0F, 0xC8}},
        {"rdtsc", {0x0F, 0x31}},
        {"cpuid", {0x0F, 0xA2}},
        {"ud2", {0x0F, 0x0B}},
        {"sete al", {0x0F, 0x94, 0xC0}},
        {"cmovne eax,[ecx+disp8]", {0x0F, 0x45, 0x41, 0x04}},
        {"movss xmm0,[esp+4]", {0xF3, 0x0F, 0x10, 0x44, 0x24, 0x04}},
        {"movaps xmm0,xmm1", {0x0F, 0x28, 0xC1}},
        {"pshufd xmm0,xmm1,imm8", {0x66, 0x0F, 0x70, 0xC1, 0x1B}},
        {"shufps xmm0,xmm1,imm8", {0x0F, 0xC6, 0xC1, 0x44}},
        {"cmpps xmm0,[disp32],imm8", {0x0F, 0xC2, 0x05, 1, 2, 3, 4, 0x01}},
        {"pshufb xmm0,xmm1", {0x66, 0x0F, 0x38, 0x00, 0xC1}},
        {"palignr xmm0,xmm1,imm8", {0x66, 0x0F, 0x3A, 0x0F, 0xC1, 0x08}},
        {"roundss xmm0,[esp+disp32],imm8", {0x66, 0x0F, 0x3A, 0x0A, 0x84, 0x24, 1, 2, 3, 4, 0x00}},
        {"xgetbv", {0x0F, 0x01, 0xD0}},
        {"cmpxchg8b [esi]", {0x0F, 0xC7, 0x0E}},
        {"lfence", {0x0F, 0xAE, 0xE8}},
        {"3DNow! pfadd", {0x0F, 0x0F, 0xC1, 0x9E}},
        {"mov cr0,ebp ignores the mod field", {0x0F, 0x22, 0x05}},
        {"mov eax,dr7 ignores the mod field", {0x0F, 0x21, 0x78}},
    };
    for (const Case& c : cases) expectDecodes(c);
}

TEST(InstructionLength, ReportsShapeForRelocation) {
    const std::uint8_t call[] = {0x3E, 0x0F, 0x85, 0x10, 0x00, 0x00, 0x00};
    Instruction ins;
    ASSERT_TRUE(decodeInstruction(call, sizeof call, ins));
    EXPECT_EQ(ins.length, 7);
    EXPECT_EQ(ins.prefixCount, 1);
    EXPECT_EQ(ins.map, OpcodeMap::TwoByte);
    EXPECT_EQ(ins.opcode, 0x85);
    EXPECT_EQ(ins.immediateSize, 4);
    EXPECT_FALSE(ins.hasModRm);

    const std::uint8_t store[] = {0x66, 0xC7, 0x44, 0x24, 0x08, 0x34, 0x12};
    ASSERT_TRUE(decodeInstruction(store, sizeof store, ins));
    EXPECT_EQ(ins.length, 7);
    EXPECT_EQ(ins.map, OpcodeMap::OneByte);
    EXPECT_EQ(ins.opcode, 0xC7);
    EXPECT_TRUE(ins.hasModRm);
    EXPECT_EQ(ins.modRm, 0x44);
    EXPECT_EQ(ins.displacementSize, 1);
    EXPECT_EQ(ins.immediateSize, 2);
    EXPECT_TRUE(ins.operandSize16);
    EXPECT_FALSE(ins.addressSize16);
}

TEST(InstructionLength, RefusesWhatItDoesNotKnow) {
    const Case cases[] = {
        {"vzeroupper (VEX C5)", {0xC5, 0xF8, 0x77}},
        {"vmovaps (VEX C4)", {0xC4, 0xE1, 0x78, 0x28, 0xC1}},
        {"EVEX 62 with register form", {0x62, 0xF1, 0x7C, 0x48, 0x28, 0xC1}},
        {"XOP 8F with reg field", {0x8F, 0xE9, 0x78, 0xE1, 0xC1}},
        {"0F 04 undefined", {0x0F, 0x04}},
        {"0F 39 undefined", {0x0F, 0x39, 0xC0}},
        {"0F A6 undefined", {0x0F, 0xA6, 0xC0}},
        {"FF /7 undefined", {0xFF, 0xF8}},
        {"FE /2 undefined", {0xFE, 0xD0}},
        {"C7 /1 undefined", {0xC7, 0xC8, 1, 2, 3, 4}},
        {"EXTRQ (66 0F 78) with immediates", {0x66, 0x0F, 0x78, 0xC0, 0x04, 0x08}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(instructionLength(c.bytes.data(), c.bytes.size()), 0u);
    }

    EXPECT_EQ(instructionLength(nullptr, 16), 0u);
    const std::uint8_t nop[] = {0x90};
    EXPECT_EQ(instructionLength(nop, 0), 0u);

    // Fifteen bytes is the architectural limit, prefixes included.
    std::vector<std::uint8_t> longest(11, 0x66);
    longest.insert(longest.end(), {0x81, 0xC1, 0x01, 0x00});
    EXPECT_EQ(instructionLength(longest.data(), longest.size()), 15u);
    std::vector<std::uint8_t> tooLong(12, 0x66);
    tooLong.insert(tooLong.end(), {0x81, 0xC1, 0x01, 0x00});
    EXPECT_EQ(instructionLength(tooLong.data(), tooLong.size()), 0u);
    const std::vector<std::uint8_t> onlyPrefixes(20, 0xF3);
    EXPECT_EQ(instructionLength(onlyPrefixes.data(), onlyPrefixes.size()), 0u);
}

TEST(InstructionLength, RefusesInstructionsCutShort) {
    // Every proper prefix of these needs a byte that is not there: opcode escape, ModRM,
    // SIB, displacement or immediate.
    const std::vector<std::uint8_t> instructions[] = {
        {0x0F, 0x38, 0x00, 0xC1},
        {0xC7, 0x84, 0x24, 1, 2, 3, 4, 5, 6, 7, 8},
        {0x66, 0x0F, 0x3A, 0x0F, 0xC1, 0x08},
    };
    for (const auto& bytes : instructions) {
        for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
            SCOPED_TRACE(cut);
            EXPECT_EQ(instructionLength(bytes.data(), cut), 0u);
        }
        EXPECT_EQ(instructionLength(bytes.data(), bytes.size()), bytes.size());
    }
}

}  // namespace
