// Pieces shared by the A32 and T32 front-ends (CoreSift only): the data-processing opcode map,
// shifted-register operands, immediate expansion, register lists, and the floating-point
// load/store handler, which both instruction sets encode alike.
#pragma once

#include "analyzer/decode/pattern_table.h"

namespace coresift::decode::arm {

// One data-processing opcode in the normalized form. `compare` forms have no destination and
// always set flags; `move` forms have no first operand.
struct DpOpcode {
    bool valid;
    std::uint32_t templ;
    bool compare;
    bool move;
};

// The A32 opcode field (bits 24..21).
constexpr DpOpcode a32Opcode(unsigned opcode) {
    const std::uint32_t add = withClass(DpClass::Add), rsb = withClass(DpClass::Rsb);
    const std::uint32_t andc = withClass(DpClass::And), orr = withClass(DpClass::Orr), eor = withClass(DpClass::Eor);
    switch (opcode) {
    case 0: return {true, andc, false, false};
    case 1: return {true, eor, false, false};
    case 2: return {true, add | op::kSubtract, false, false};
    case 3: return {true, rsb, false, false};
    case 4: return {true, add, false, false};
    case 5: return {true, add | op::kCarry, false, false};
    case 6: return {true, add | op::kCarry | op::kSubtract, false, false};
    case 7: return {true, rsb | op::kCarry, false, false};
    case 8: return {true, andc | op::kSetFlags, true, false};
    case 9: return {true, eor | op::kSetFlags, true, false};
    case 10: return {true, add | op::kSubtract | op::kSetFlags, true, false};
    case 11: return {true, add | op::kSetFlags, true, false};
    case 12: return {true, orr, false, false};
    case 13: return {true, add, false, true};
    case 14: return {true, andc | op::kInverted, false, false};
    default: return {true, orr | op::kInverted, false, true};
    }
}

// The T32 opcode field of the 32-bit data-processing forms (modified immediate, shifted register).
// `rd`/`rn` of 15 turn AND/EOR/ADD/SUB into TST/TEQ/CMN/CMP and ORR/ORN into MOV/MVN.
constexpr DpOpcode t32Opcode(unsigned opcode, unsigned rd, unsigned rn, bool setFlags) {
    const std::uint32_t add = withClass(DpClass::Add), rsb = withClass(DpClass::Rsb);
    const std::uint32_t andc = withClass(DpClass::And), orr = withClass(DpClass::Orr), eor = withClass(DpClass::Eor);
    const bool test = rd == 15 && setFlags;
    switch (opcode) {
    case 0: return {true, andc | (test ? op::kSetFlags : 0), test, false};
    case 1: return {true, andc | op::kInverted, false, false};
    case 2: return {true, rn == 15 ? add : orr, false, rn == 15};
    case 3: return {true, orr | op::kInverted, false, rn == 15};
    case 4: return {true, eor | (test ? op::kSetFlags : 0), test, false};
    case 8: return {true, add | (test ? op::kSetFlags : 0), test, false};
    case 10: return {true, add | op::kCarry, false, false};
    case 11: return {true, add | op::kCarry | op::kSubtract, false, false};
    case 13: return {true, add | op::kSubtract | (test ? op::kSetFlags : 0), test, false};
    case 14: return {true, rsb, false, false};
    default: return {false, 0, false, false};
    }
}

// An immediate-shifted register operand (type, imm5) as shift bits of the word plus the bitfield
// description that goes into the immediate argument.
struct ShiftedOperand {
    std::uint32_t opBits;
    std::uint64_t field;
};
constexpr ShiftedOperand immediateShift(unsigned type, unsigned amount) {
    switch (type) {
    case 0:
        if (amount == 0) return {0, 0};
        return {withShift(Shift::Field), lslField(amount, 32)};
    case 1: return {withShift(Shift::Field), lsrField(amount ? amount : 32, 32)};
    case 2: return {withShift(Shift::Field) | op::kSigned, lsrField(amount ? amount : 32, 32)};
    default:
        if (amount == 0) return {withShift(Shift::Rrx), 0};
        return {withShift(Shift::Field), rorField(amount, 32)};
    }
}
// A register-shifted register operand: shift type in the word, the shift register is the immediate.
constexpr std::uint32_t registerShift(unsigned type) {
    constexpr Shift kShift[4] = {Shift::Lsl, Shift::Lsr, Shift::Lsr, Shift::Ror};
    return withShift(kShift[type]) | (type == 2 ? op::kSigned : 0) | op::kShiftByRegister;
}

constexpr std::uint32_t rotateRight(std::uint32_t v, unsigned n) { return n ? (v >> n) | (v << (32 - n)) : v; }
constexpr std::uint32_t a32Immediate(std::uint32_t imm12) { return rotateRight(imm12 & 0xFF, 2 * (imm12 >> 8)); }
// ThumbExpandImm of i:imm3:imm8.
constexpr std::uint32_t t32Immediate(std::uint32_t imm12) {
    const std::uint32_t imm8 = imm12 & 0xFF;
    if ((imm12 >> 10) == 0) {
        switch ((imm12 >> 8) & 3) {
        case 0: return imm8;
        case 1: return imm8 | (imm8 << 16);
        case 2: return (imm8 << 8) | (imm8 << 24);
        default: return imm8 | (imm8 << 8) | (imm8 << 16) | (imm8 << 24);
        }
    }
    return rotateRight(0x80 | (imm12 & 0x7F), imm12 >> 7);
}

// The registers of a 16-bit mask, in ascending order.
inline RegisterList listOf(std::uint32_t mask) {
    RegisterList list;
    for (unsigned r = 0; r < 16; ++r)
        if (mask & (1u << r)) list.add(r);
    return list;
}
constexpr unsigned popCount(std::uint32_t v) {
    unsigned n = 0;
    for (; v; v &= v - 1) ++n;
    return n;
}

// The floating-point load/store encodings (VLDR, VSTR, VLDM, VSTM, VPUSH, VPOP) given in their
// A32 layout; T32 passes its two halfwords swapped into that layout, with op::kAlignedPc.
unsigned floatLoadStore(std::uint32_t a32Layout, std::uint32_t original, std::uint32_t op, const Visitor& v,
                        void* context);

}  // namespace coresift::decode::arm
