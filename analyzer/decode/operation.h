// The normalized operation word that every instruction decoder front-end (A32, T32, A64) hands to a
// visitor, and the register numbering of the visitor arguments.
//
// One u32 describes what an instruction does independently of its encoding; the meaning of its
// fields depends on the visitor slot that receives it (branch, data processing, load/store,
// system). Clients (printer, emulator, argument scanner, crash evaluation, listing) read the
// fields through the accessors below and never look at encodings.
#pragma once

#include <cstdint>

#include "common/target_word.h"

namespace coresift::decode {

// ---- Register numbers in visitor arguments ----
// CoreSift:   0..15 general registers (13 SP, 14 LR, 15 PC), 16 none, 17+n vector n, 49 list end.
// CoreSift64: 0..30 X0..X30, 31 SP, 32 PC, 33 none or the zero register, 34+n vector n, 66 list end.
inline constexpr unsigned kRegSp = kIs64 ? 31 : 13;
inline constexpr unsigned kRegLr = kIs64 ? 30 : 14;
inline constexpr unsigned kRegPc = kIs64 ? 32 : 15;
inline constexpr unsigned kRegNone = kIs64 ? 33 : 16;
inline constexpr unsigned kRegVector0 = kIs64 ? 34 : 17;
inline constexpr unsigned kRegListEnd = kIs64 ? 66 : 49;
// Registers that hold a value in a register state: the general registers, SP and PC.
inline constexpr unsigned kValueRegisterCount = kRegPc + 1;

constexpr bool isVectorRegister(unsigned r) { return r >= kRegVector0 && r < kRegListEnd; }
constexpr bool isValueRegister(unsigned r) { return r < kValueRegisterCount; }

// The instruction set a word is decoded in. CoreSift decodes Arm and Thumb, CoreSift64 decodes A64.
enum class InstructionSet : std::uint8_t { Arm, Thumb, A64 };

// ---- Fields shared by all slots ----
namespace op {
inline constexpr std::uint32_t kSizeMask = 0x3;           // bits 0..1: destination/transfer size
inline constexpr std::uint32_t kAlignedPc = 1u << 2;      // PC operand reads as Align(PC, 4) (Thumb literals)
inline constexpr unsigned kSourceSizeShift = 3;           // bits 3..5: source register size
inline constexpr std::uint32_t kSigned = 1u << 6;         // signed multiply/divide/extend; LSR -> ASR
inline constexpr std::uint32_t kInverted = 1u << 7;       // inverted second operand (BIC, ORN, MVN)
inline constexpr std::uint32_t kSubtract = 3u << 7;       // subtract (SUB, SBC, CMP) / offset subtracted
inline constexpr unsigned kShiftShift = 9;                // bits 9..11: second operand's shift
inline constexpr unsigned kConditionShift = 12;           // bits 12..15: condition, 14/15 = always

// Data processing
inline constexpr std::uint32_t kSetFlags = 1u << 16;
inline constexpr std::uint32_t kCarry = 1u << 17;
inline constexpr std::uint32_t kShiftByRegister = 1u << 18;  // immediate argument is the shift register
inline constexpr std::uint32_t kTag = 1u << 19;
inline constexpr unsigned kClassShift = 20;                  // bits 20..24

// Branch
inline constexpr std::uint32_t kLink = 1u << 16;
inline constexpr std::uint32_t kExchange = 1u << 17;
inline constexpr std::uint32_t kRegisterTarget = 1u << 18;
inline constexpr std::uint32_t kCompareZero = 1u << 19;   // CBZ/CBNZ (condition 1 = NZ)
inline constexpr std::uint32_t kTestBit = 1u << 20;       // TBZ/TBNZ (condition 1 = NZ)
inline constexpr std::uint32_t kReturn = 1u << 21;

// Load/store
inline constexpr std::uint32_t kLoad = 1u << 16;
inline constexpr std::uint32_t kWriteBack = 1u << 17;
inline constexpr std::uint32_t kSignExtend = 1u << 18;
inline constexpr std::uint32_t kPostIndex = 1u << 19;
inline constexpr std::uint32_t kMultiple = 1u << 22;
inline constexpr std::uint32_t kUserBank = 1u << 23;
inline constexpr unsigned kVariantShift = 24;             // bits 24..28
inline constexpr unsigned kElementShift = 29;             // bits 29..31

// System
inline constexpr unsigned kSystemShift = 16;              // bits 16..20
}  // namespace op

// Shift of a second operand or index register (bits 9..11).
enum class Shift : std::uint8_t { None = 0, Lsl = 1, Lsr = 2, Ror = 3, Rrx = 4, Field = 5 };

// Data processing operation classes (bits 20..24).
enum class DpClass : std::uint8_t {
    None, Add, Rsb, And, Orr, Eor, Adrp, Movk, Lsl, Lsr, Asr, Ror, Extr, Bfxil, Ccmn, Csel,
    Rbit, Rev, Rev16, Rev32, Clz, Cls, Madd, Mulh, Div,
};

// System operation indexes (bits 16..20 of a system word).
enum class SystemOp : std::uint8_t {
    Svc, Hvc, Smc, Brk, Hlt, Dcps1, Dcps2, Dcps3, Nop, Yield, Wfe, Wfi, Sev, Sevl, Clrex,
    Dsb, Dmb, Isb, MsrSpSel, MsrDaifSet, MsrDaifClr, Setend, It, Drps, Eret,
};

// Load/store addressing variants (bits 24..28).
enum class Variant : std::uint8_t {
    Plain, Exclusive, OrderedExclusive, Ordered, Prefetch, NonTemporal, Unscaled, Unprivileged,
    MultipleDa, MultipleDb, MultipleIa, MultipleIb, TableBranch, OrderedUnscaled, Tag,
    CompareSwap, AtomicAdd, AtomicClear, AtomicEor, AtomicOrr, AtomicSmax, AtomicSmin,
    AtomicUmax, AtomicUmin, Swap,
};

// Element size of a load/store (bits 29..31) and register sizes (bits 0..1, 3..5).
enum Size : unsigned { kByte = 0, kHalf = 1, kWord = 2, kDouble = 3, kQuad = 4 };

inline constexpr unsigned kCondAlways = 14;

// ---- Accessors ----
constexpr unsigned sizeOf(std::uint32_t w) { return w & op::kSizeMask; }
constexpr unsigned sourceSizeOf(std::uint32_t w) { return (w >> op::kSourceSizeShift) & 7; }
constexpr Shift shiftOf(std::uint32_t w) { return static_cast<Shift>((w >> op::kShiftShift) & 7); }
constexpr unsigned conditionOf(std::uint32_t w) { return (w >> op::kConditionShift) & 15; }
constexpr bool isConditional(std::uint32_t w) { return conditionOf(w) < kCondAlways; }
constexpr DpClass classOf(std::uint32_t w) { return static_cast<DpClass>((w >> op::kClassShift) & 31); }
constexpr Variant variantOf(std::uint32_t w) { return static_cast<Variant>((w >> op::kVariantShift) & 31); }
constexpr unsigned elementSizeOf(std::uint32_t w) { return w >> op::kElementShift; }
constexpr SystemOp systemOpOf(std::uint32_t w) { return static_cast<SystemOp>((w >> op::kSystemShift) & 31); }
constexpr bool has(std::uint32_t w, std::uint32_t flag) { return (w & flag) == flag; }
constexpr bool isSubtract(std::uint32_t w) { return has(w, op::kSubtract); }
constexpr bool isInvertedOnly(std::uint32_t w) { return (w & op::kSubtract) == op::kInverted; }

// ---- Builders used by the front-ends ----
constexpr std::uint32_t sizes(unsigned destination, unsigned source) {
    return destination | (source << op::kSourceSizeShift);
}
constexpr std::uint32_t withShift(Shift s) { return static_cast<std::uint32_t>(s) << op::kShiftShift; }
constexpr std::uint32_t withCondition(unsigned c) { return c << op::kConditionShift; }
constexpr std::uint32_t withClass(DpClass c) { return static_cast<std::uint32_t>(c) << op::kClassShift; }
constexpr std::uint32_t withVariant(Variant v) { return static_cast<std::uint32_t>(v) << op::kVariantShift; }
constexpr std::uint32_t withElement(unsigned size) { return size << op::kElementShift; }
constexpr std::uint32_t withSystem(SystemOp s) { return static_cast<std::uint32_t>(s) << op::kSystemShift; }

// ---- Bitfield description ----
// A shifted or extended register operand (shift field 5), and the bitfield instructions, carry
// their field in the immediate as the rotate/width pair of the A64 bitfield-move model, in the
// operation's register size: bits 0..15 = rotation (immr), bits 16..31 = top bit (imms).
//   LSR #n / ASR #n (ASR with kSigned): immr = n, imms = size-1      (n may be size: A32 "#32")
//   LSL #n:                          immr = (size-n) mod size, imms = size-1-n
//   ROR #n:                          immr = n, imms = size-1+n     (outside the bitfield-move range)
//   extend of width w then LSL #n:   immr = (size-n) mod size, imms = w-1 (kSigned for SXT*)
//   UBFX/SBFX #lsb, #width:          immr = lsb, imms = lsb+width-1
constexpr std::uint64_t bitField(unsigned immr, unsigned imms) {
    return static_cast<std::uint64_t>(immr) | (static_cast<std::uint64_t>(imms) << 16);
}
constexpr unsigned fieldRotation(std::uint64_t d) { return static_cast<unsigned>(d & 0xFFFF); }
constexpr unsigned fieldTop(std::uint64_t d) { return static_cast<unsigned>((d >> 16) & 0xFFFF); }

constexpr std::uint64_t lslField(unsigned n, unsigned bits) { return bitField((bits - n) % bits, bits - 1 - n); }
constexpr std::uint64_t lsrField(unsigned n, unsigned bits) { return bitField(n, bits - 1); }
constexpr std::uint64_t rorField(unsigned n, unsigned bits) { return bitField(n, bits - 1 + n); }
constexpr std::uint64_t extendField(unsigned width, unsigned n, unsigned bits) {
    return width >= bits ? lslField(n, bits) : bitField((bits - n) % bits, width - 1);
}

// What a bitfield description means for an operand of `bits` bits (the printer's spelling and the
// emulator's arithmetic both use this one interpretation).
enum class FieldKind : std::uint8_t { Lsl, Lsr, Asr, Ror, Extend, Extract, Insert };
struct FieldMeaning {
    FieldKind kind;
    unsigned amount;  // shift amount; extend: left shift after extending; extract/insert: lsb
    unsigned width;   // extend/extract/insert: field width in bits
};
constexpr FieldMeaning interpretField(std::uint64_t d, bool isSigned, unsigned bits) {
    const unsigned immr = fieldRotation(d), imms = fieldTop(d);
    if (imms >= bits) return {FieldKind::Ror, immr, bits};
    if (imms == bits - 1) return {isSigned ? FieldKind::Asr : FieldKind::Lsr, immr, bits};
    if (immr == imms + 1) return {FieldKind::Lsl, bits - immr, bits};  // the field's top is the top bit
    if (imms < immr) {
        const unsigned lsb = bits - immr;
        const unsigned width = imms + 1;
        if (lsb <= 4 && (width == 8 || width == 16 || width == 32)) return {FieldKind::Extend, lsb, width};
        return {FieldKind::Insert, lsb, width};
    }
    if (immr == 0 && (imms == 7 || imms == 15 || imms == 31)) return {FieldKind::Extend, 0, imms + 1};
    return {FieldKind::Extract, immr, imms - immr + 1};
}

}  // namespace coresift::decode
