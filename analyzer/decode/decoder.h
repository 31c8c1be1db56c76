// The instruction decoder: one instruction word in, exactly one call on a caller-supplied visitor
// out, with the operands already extracted into the normalized form of operation.h.
//
// The decoder reads no memory and allocates nothing; it is a pure function of the word. A client
// supplies a table of five callbacks and a context pointer; whatever the called slot returns is
// returned by the decode call unchanged (clients use 0 = go on, non-zero = stop or a result code).
//
// CoreSift decodes A32 (`decodeArm`) and T32 (`decodeThumb`); CoreSift64 decodes A64
// (`decodeA64`). `decodeInstruction` selects by instruction set and is the entry for code that is
// written once for both programs; asked for a set its program does not carry, it reports an
// undefined instruction.
#pragma once

#include <cstdint>

#include "analyzer/decode/operation.h"

namespace coresift::decode {

struct Visitor {
    // Slot 0. `unimplemented` is 1 for an encoding the decoder knows but does not model, 0 for an
    // encoding that matches nothing (undefined).
    unsigned (*onUndefined)(std::uint32_t instruction, unsigned unimplemented, void* context);
    // Slot 1. `offset`: signed byte displacement from the instruction's PC value (A32: address + 8,
    // T32: address + 4, A64: address). `reg`: target register of a register branch, tested
    // register of CBZ/CBNZ/TBZ/TBNZ, kRegNone for an immediate branch. `bitNumber`: TBZ/TBNZ bit.
    unsigned (*onBranch)(std::uint32_t op, std::int64_t offset, unsigned reg, unsigned bitNumber, void* context);
    // Slot 2. rm = kRegNone for an immediate second operand. `immediate`: the operand value, the
    // MOVK/MOVT value (imm16 | hw << 20), the bitfield description of a shifted register or a
    // bitfield instruction, the shift register (op::kShiftByRegister), or the accumulator of a
    // multiply (bits 0..7; bits 8..15 hold the high destination of a 32-bit long multiply).
    unsigned (*onDataProcessing)(std::uint32_t op, unsigned rd, unsigned rn, unsigned rm, std::uint64_t immediate,
                                 void* context);
    // Slot 3. `registerList`: register numbers ended by kRegListEnd. `indexRegister`: kRegNone for
    // an immediate offset (exclusive stores and atomics pass their status/operand register here).
    // `offset`: signed immediate offset; for LDM/STM the transfer size (negative when
    // decrementing); for a register index with shift field 5 its bitfield description.
    unsigned (*onLoadStore)(std::uint32_t op, const std::uint8_t* registerList, unsigned baseRegister,
                            unsigned indexRegister, std::int64_t offset, void* context);
    // Slot 4. `immediate`: SVC/BKPT/BRK number, barrier option, IT mask, MSR field.
    unsigned (*onSystem)(std::uint32_t op, std::uint64_t immediate, void* context);
};

// Length in bytes of the Thumb instruction whose first halfword is `firstHalfword`: a first
// halfword from 0xE800 up starts a 32-bit instruction (0xE000..0xE7FF is the 16-bit B).
constexpr unsigned thumbLength(std::uint16_t firstHalfword) { return (firstHalfword & 0xF800) >= 0xE800 ? 4 : 2; }

// A32: `instruction` is the word as read little-endian; length is always 4.
unsigned decodeArm(std::uint32_t instruction, unsigned& length, const Visitor& visitor, void* context);
// T32: `instruction` is (first halfword) | (second halfword << 16), i.e. four bytes read
// little-endian; for a 16-bit instruction the upper half is ignored.
unsigned decodeThumb(std::uint32_t instruction, unsigned& length, const Visitor& visitor, void* context);
// A64: length is always 4.
unsigned decodeA64(std::uint32_t instruction, unsigned& length, const Visitor& visitor, void* context);

// The entry for width-independent clients.
unsigned decodeInstruction(InstructionSet set, std::uint32_t instruction, unsigned& length, const Visitor& visitor,
                           void* context);

// The instruction sets this program decodes, and the one a code address is in: Thumb when bit 0
// of a 32-bit address is set.
constexpr bool carriesSet(InstructionSet set) { return kIs64 ? set == InstructionSet::A64 : set != InstructionSet::A64; }
constexpr InstructionSet setOfAddress(TargetWord address) {
    if constexpr (kIs64) return InstructionSet::A64;
    return (address & 1) ? InstructionSet::Thumb : InstructionSet::Arm;
}
// The value an instruction reads for PC: A32 address + 8, T32 address + 4, A64 the address.
constexpr TargetWord pcValue(InstructionSet set, TargetWord address) {
    return set == InstructionSet::Arm ? address + 8 : set == InstructionSet::Thumb ? address + 4 : address;
}

}  // namespace coresift::decode
