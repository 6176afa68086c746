// Length decoder for 32-bit x86 instructions, as found at the start of functions.
// It reports the shape of an instruction (prefixes, opcode, ModRM, displacement and
// immediate sizes) so that the hooking layer can copy whole instructions and find the
// relative operands it has to rewrite. It refuses what it does not know.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kerbmark::hook {

// The longest encoding the processor accepts.
constexpr std::size_t kMaxInstructionLength = 15;

enum class OpcodeMap : std::uint8_t {
    OneByte,      // opcode without escape
    TwoByte,      // 0F xx
    ThreeByte38,  // 0F 38 xx
    ThreeByte3A,  // 0F 3A xx
};

struct Instruction {
    std::uint8_t length = 0;        // all bytes, prefixes included
    std::uint8_t prefixCount = 0;
    OpcodeMap map = OpcodeMap::OneByte;
    std::uint8_t opcode = 0;        // the opcode byte within its map
    bool hasModRm = false;
    std::uint8_t modRm = 0;
    std::uint8_t displacementSize = 0;
    std::uint8_t immediateSize = 0;  // the immediate bytes end the instruction
    bool operandSize16 = false;      // 0x66 prefix present
    bool addressSize16 = false;      // 0x67 prefix present
};

// Decodes the instruction at `code`, reading no byte at or beyond code + available.
// Returns false for an unknown or invalid opcode, a VEX/EVEX/XOP encoding, more than 15
// bytes, or an instruction that does not fit in `available` bytes.
bool decodeInstruction(const std::uint8_t* code, std::size_t available, Instruction& out);

// Length of the instruction at `code`, or 0 when decodeInstruction refuses it.
std::size_t instructionLength(const std::uint8_t* code, std::size_t available);

}  // namespace kerbmark::hook
