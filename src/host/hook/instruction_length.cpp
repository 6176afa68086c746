#include "host/hook/instruction_length.h"

namespace kerbmark::hook {
namespace {

// Immediate operand kinds; "z" is 4 bytes, or 2 under the operand-size prefix.
enum class Immediate : std::uint8_t {
    None,
    Byte,
    Word,
    WordOrDword,     // imm16/32
    EnterFrame,      // ENTER: imm16 then imm8
    FarPointer,      // ptr16:16/32: offset (2 or 4) then selector
    MemoryOffset,    // moffs: 2 or 4 bytes by the address-size prefix
};

struct Shape {
    bool valid = true;
    bool modRm = false;
    Immediate immediate = Immediate::None;
};

constexpr Shape invalid() { return Shape{false, false, Immediate::None}; }
constexpr Shape plain(Immediate imm = Immediate::None) { return Shape{true, false, imm}; }
constexpr Shape withModRm(Immediate imm = Immediate::None) { return Shape{true, true, imm}; }

bool isLegacyPrefix(std::uint8_t b) {
    switch (b) {
    case 0x26: case 0x2E: case 0x36: case 0x3E: case 0x64: case 0x65:  // segment
    case 0x66: case 0x67:                                              // operand / address size
    case 0xF0: case 0xF2: case 0xF3:                                   // lock / repeat
        return true;
    default:
        return false;
    }
}

Shape oneByteShape(std::uint8_t op) {
    if (op < 0x40) {
        // The eight ALU rows: r/m forms, AL/eAX immediates, then one-byte odds and ends.
        switch (op & 7) {
        case 0: case 1: case 2: case 3: return withModRm();
        case 4: return plain(Immediate::Byte);
        case 5: return plain(Immediate::WordOrDword);
        default: return plain();  // PUSH/POP seg, DAA, DAS, AAA, AAS (0F and prefixes never reach here)
        }
    }
    if (op < 0x62) return plain();                               // INC/DEC/PUSH/POP reg, PUSHA, POPA
    if (op >= 0x70 && op <= 0x7F) return plain(Immediate::Byte);  // Jcc rel8
    if (op >= 0x90 && op <= 0x99) return plain();                // XCHG, CBW, CWD
    if (op >= 0xB0 && op <= 0xB7) return plain(Immediate::Byte);
    if (op >= 0xB8 && op <= 0xBF) return plain(Immediate::WordOrDword);
    if (op >= 0xD8 && op <= 0xDF) return withModRm();            // x87
    if (op >= 0xE0 && op <= 0xE7) return plain(Immediate::Byte);  // LOOPcc, JECXZ, IN, OUT
    switch (op) {
    case 0x62: case 0x63: return withModRm();                    // BOUND, ARPL
    case 0x68: return plain(Immediate::WordOrDword);
    case 0x69: return withModRm(Immediate::WordOrDword);
    case 0x6A: return plain(Immediate::Byte);
    case 0x6B: return withModRm(Immediate::Byte);
    case 0x6C: case 0x6D: case 0x6E: case 0x6F: return plain();
    case 0x80: case 0x82: case 0x83: return withModRm(Immediate::Byte);
    case 0x81: return withModRm(Immediate::WordOrDword);
    case 0x9A: return plain(Immediate::FarPointer);
    case 0x9B: case 0x9C: case 0x9D: case 0x9E: case 0x9F: return plain();
    case 0xA0: case 0xA1: case 0xA2: case 0xA3: return plain(Immediate::MemoryOffset);
    case 0xA4: case 0xA5: case 0xA6: case 0xA7: return plain();
    case 0xA8: return plain(Immediate::Byte);
    case 0xA9: return plain(Immediate::WordOrDword);
    case 0xAA: case 0xAB: case 0xAC: case 0xAD: case 0xAE: case 0xAF: return plain();
    case 0xC0: case 0xC1: return withModRm(Immediate::Byte);
    case 0xC2: return plain(Immediate::Word);
    case 0xC3: return plain();
    case 0xC4: case 0xC5: return withModRm();                    // LES, LDS
    case 0xC6: return withModRm(Immediate::Byte);
    case 0xC7: return withModRm(Immediate::WordOrDword);
    case 0xC8: return plain(Immediate::EnterFrame);
    case 0xC9: return plain();
    case 0xCA: return plain(Immediate::Word);
    case 0xCB: case 0xCC: return plain();
    case 0xCD: return plain(Immediate::Byte);
    case 0xCE: case 0xCF: return plain();
    case 0xD0: case 0xD1: case 0xD2: case 0xD3: return withModRm();
    case 0xD4: case 0xD5: return plain(Immediate::Byte);
    case 0xD6: case 0xD7: return plain();
    case 0xE8: case 0xE9: return plain(Immediate::WordOrDword);  // CALL/JMP rel16/32
    case 0xEA: return plain(Immediate::FarPointer);
    case 0xEB: return plain(Immediate::Byte);
    case 0xEC: case 0xED: case 0xEE: case 0xEF: return plain();
    case 0xF1: case 0xF4: case 0xF5: return plain();
    case 0xF6: case 0xF7: return withModRm();                    // immediate only for TEST, below
    case 0xF8: case 0xF9: case 0xFA: case 0xFB: case 0xFC: case 0xFD: return plain();
    case 0xFE: case 0xFF: return withModRm();
    default: return withModRm();                                 // 0x84..0x8F
    }
}

Shape twoByteShape(std::uint8_t op, bool operandSize16, bool repeatNotEqual) {
    if (op >= 0x10 && op <= 0x1F) return withModRm();            // SSE moves, prefetch, hint NOPs
    if (op >= 0x40 && op <= 0x6F) return withModRm();            // CMOVcc, SSE, MMX
    if (op >= 0x80 && op <= 0x8F) return plain(Immediate::WordOrDword);  // Jcc rel16/32
    if (op >= 0x90 && op <= 0x9F) return withModRm();            // SETcc
    if (op >= 0xC8 && op <= 0xCF) return plain();                // BSWAP
    if (op >= 0xD0) return withModRm();                          // SSE/MMX, UD0
    switch (op) {
    case 0x00: case 0x01: case 0x02: case 0x03: return withModRm();
    case 0x05: case 0x06: case 0x07: case 0x08: case 0x09: case 0x0B: return plain();
    case 0x0D: return withModRm();
    case 0x0E: return plain();
    case 0x0F: return withModRm(Immediate::Byte);                // 3DNow!: suffix byte
    case 0x20: case 0x21: case 0x22: case 0x23: return withModRm();
    case 0x28: case 0x29: case 0x2A: case 0x2B: case 0x2C: case 0x2D: case 0x2E: case 0x2F:
        return withModRm();
    case 0x30: case 0x31: case 0x32: case 0x33: case 0x34: case 0x35: case 0x37: return plain();
    case 0x70: case 0x71: case 0x72: case 0x73: return withModRm(Immediate::Byte);
    case 0x74: case 0x75: case 0x76: return withModRm();
    case 0x77: return plain();
    case 0x78: case 0x79:
        // VMREAD/VMWRITE; with 66 or F2 these are EXTRQ/INSERTQ with extra immediates.
        return (operandSize16 || repeatNotEqual) ? invalid() : withModRm();
    case 0x7C: case 0x7D: case 0x7E: case 0x7F: return withModRm();
    case 0xA0: case 0xA1: case 0xA2: return plain();
    case 0xA3: return withModRm();
    case 0xA4: return withModRm(Immediate::Byte);
    case 0xA5: return withModRm();
    case 0xA8: case 0xA9: case 0xAA: return plain();
    case 0xAB: return withModRm();
    case 0xAC: return withModRm(Immediate::Byte);
    case 0xAD: case 0xAE: case 0xAF: return withModRm();
    case 0xB0: case 0xB1: case 0xB2: case 0xB3: case 0xB4: case 0xB5: case 0xB6: case 0xB7:
    case 0xB8: case 0xB9: case 0xBB: case 0xBC: case 0xBD: case 0xBE: case 0xBF:
        return withModRm();
    case 0xBA: return withModRm(Immediate::Byte);
    case 0xC0: case 0xC1: return withModRm();
    case 0xC2: return withModRm(Immediate::Byte);
    case 0xC3: return withModRm();
    case 0xC4: case 0xC5: case 0xC6: return withModRm(Immediate::Byte);
    case 0xC7: return withModRm();
    default: return invalid();  // 04, 0A, 0C, 24-27, 36, 39, 3B-3F, 7A, 7B, A6, A7
    }
}

std::size_t immediateBytes(Immediate kind, bool operandSize16, bool addressSize16) {
    switch (kind) {
    case Immediate::None: return 0;
    case Immediate::Byte: return 1;
    case Immediate::Word: return 2;
    case Immediate::WordOrDword: return operandSize16 ? 2 : 4;
    case Immediate::EnterFrame: return 3;
    case Immediate::FarPointer: return operandSize16 ? 4 : 6;
    case Immediate::MemoryOffset: return addressSize16 ? 2 : 4;
    }
    return 0;
}

}  // namespace

bool decodeInstruction(const std::uint8_t* code, std::size_t available, Instruction& out) {
    out = Instruction{};
    if (code == nullptr) return false;
    const std::size_t limit = available < kMaxInstructionLength ? available : kMaxInstructionLength;

    std::size_t pos = 0;
    bool repeatNotEqual = false;
    while (pos < limit && isLegacyPrefix(code[pos])) {
        if (code[pos] == 0x66) out.operandSize16 = true;
        if (code[pos] == 0x67) out.addressSize16 = true;
        if (code[pos] == 0xF2) repeatNotEqual = true;
        ++pos;
    }
    if (pos >= limit) return false;
    out.prefixCount = static_cast<std::uint8_t>(pos);

    std::uint8_t op = code[pos++];
    Shape shape;
    if (op != 0x0F) {
        shape = oneByteShape(op);
    } else {
        if (pos >= limit) return false;
        op = code[pos++];
        if (op == 0x38 || op == 0x3A) {
            out.map = op == 0x38 ? OpcodeMap::ThreeByte38 : OpcodeMap::ThreeByte3A;
            if (pos >= limit) return false;
            op = code[pos++];
            shape = withModRm(out.map == OpcodeMap::ThreeByte3A ? Immediate::Byte : Immediate::None);
        } else {
            out.map = OpcodeMap::TwoByte;
            shape = twoByteShape(op, out.operandSize16, repeatNotEqual);
        }
    }
    out.opcode = op;
    if (!shape.valid) return false;

    if (shape.modRm) {
        if (pos >= limit) return false;
        const std::uint8_t modRm = code[pos++];
        out.hasModRm = true;
        out.modRm = modRm;
        const unsigned mod = modRm >> 6;
        const unsigned reg = (modRm >> 3) & 7;
        const unsigned rm = modRm & 7;

        if (out.map == OpcodeMap::OneByte) {
            // In 32-bit code these byte patterns start VEX, EVEX or XOP encodings.
            if ((op == 0xC4 || op == 0xC5 || op == 0x62) && mod == 3) return false;
            if (op == 0x8F && reg != 0) return false;
            // Undefined group members.
            if ((op == 0xC6 || op == 0xC7) && reg != 0 && modRm != 0xF8) return false;
            if (op == 0xFE && reg > 1) return false;
            if (op == 0xFF && reg == 7) return false;
            // Only TEST (/0, and its alias /1) of group 3 carries an immediate.
            if ((op == 0xF6 || op == 0xF7) && reg <= 1)
                shape.immediate = op == 0xF6 ? Immediate::Byte : Immediate::WordOrDword;
        }

        // MOV to or from control and debug registers ignores the mod field: always registers.
        const bool registerOnly = out.map == OpcodeMap::TwoByte && op >= 0x20 && op <= 0x23;

        std::size_t displacement = 0;
        if (mod != 3 && !registerOnly) {
            if (out.addressSize16) {
                if (mod == 0 && rm == 6) displacement = 2;
                else if (mod == 1) displacement = 1;
                else if (mod == 2) displacement = 2;
            } else {
                if (rm == 4) {
                    if (pos >= limit) return false;
                    const std::uint8_t sib = code[pos++];
                    if (mod == 0 && (sib & 7) == 5) displacement = 4;  // no base: disp32
                }
                if (mod == 0 && rm == 5) displacement = 4;             // absolute disp32
                else if (mod == 1) displacement = 1;
                else if (mod == 2) displacement = 4;
            }
        }
        out.displacementSize = static_cast<std::uint8_t>(displacement);
        pos += displacement;
    }

    const std::size_t immediate = immediateBytes(shape.immediate, out.operandSize16, out.addressSize16);
    out.immediateSize = static_cast<std::uint8_t>(immediate);
    pos += immediate;
    if (pos > limit) return false;
    out.length = static_cast<std::uint8_t>(pos);
    return true;
}

std::size_t instructionLength(const std::uint8_t* code, std::size_t available) {
    Instruction instruction;
    return decodeInstruction(code, available, instruction) ? instruction.length : 0;
}

}  // namespace kerbmark::hook
