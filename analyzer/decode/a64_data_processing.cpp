// A64 data processing: immediate forms (PC-relative, add/subtract, logical, move wide, bitfield,
// extract) and register forms (logical, add/subtract shifted and extended, with carry, conditional
// compare and select, multiply, divide, variable shifts, one-source operations).
#include "common/target_word.h"
#if CORESIFT_TARGET_BITS == 64  // the A64 front-end exists in CoreSift64 only

#include "analyzer/decode/a64_groups.h"

namespace coresift::decode::a64 {
namespace {

constexpr unsigned regBits(bool sf) { return sf ? 64 : 32; }
constexpr std::uint64_t sizeMask(bool sf) { return sf ? ~std::uint64_t{0} : 0xFFFFFFFFu; }

unsigned dp(const Visitor& v, void* c, std::uint32_t op, unsigned rd, unsigned rn, unsigned rm, std::uint64_t imm) {
    return v.onDataProcessing(op, rd, rn, rm, imm, c);
}

// ---- Immediate forms ----

unsigned pcRelative(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const std::int64_t imm = signExtend((bits(w, 23, 5) << 2) | bits(w, 30, 29), 21);
    const unsigned rd = zrOr(bits(w, 4, 0));
    op |= sizes(kDouble, kDouble);
    if (bit(w, 31))
        return dp(v, c, op | withClass(DpClass::Adrp), rd, kRegNone, kRegNone, static_cast<std::uint64_t>(imm) << 12);
    return dp(v, c, op | withClass(DpClass::Add), rd, kRegPc, kRegNone, static_cast<std::uint64_t>(imm));
}

unsigned addSubImmediate(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const bool sf = bit(w, 31), setFlags = bit(w, 29);
    std::uint64_t imm = bits(w, 21, 10);
    if (bit(w, 22)) imm <<= 12;
    op |= sizeTemplate(sf) | withClass(DpClass::Add);
    if (bit(w, 30)) op |= op::kSubtract;
    if (setFlags) op |= op::kSetFlags;
    const unsigned rd = setFlags ? zrOr(bits(w, 4, 0)) : spOr(bits(w, 4, 0));
    return dp(v, c, op, rd, spOr(bits(w, 9, 5)), kRegNone, imm);
}

unsigned addSubTags(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    if (!bit(w, 31) || bit(w, 29) || bit(w, 22)) return v.onUndefined(w, 0, c);
    op |= sizeTemplate(true) | withClass(DpClass::Add) | op::kTag;
    if (bit(w, 30)) op |= op::kSubtract;
    const std::uint64_t imm = (std::uint64_t{bits(w, 21, 16)} << 4) | (std::uint64_t{bits(w, 13, 10)} << 32);
    return dp(v, c, op, spOr(bits(w, 4, 0)), spOr(bits(w, 9, 5)), kRegNone, imm);
}

// The architecture's DecodeBitMasks for logical immediates; false for reserved encodings.
bool decodeLogicalImmediate(unsigned n, unsigned imms, unsigned immr, unsigned width, std::uint64_t& out) {
    const unsigned combined = (n << 6) | (~imms & 0x3F);
    if (combined == 0) return false;
    unsigned len = 6;
    while (!(combined & (1u << len))) --len;
    if (len < 1) return false;
    const unsigned esize = 1u << len, levels = esize - 1;
    const unsigned s = imms & levels, r = immr & levels;
    if (s == levels) return false;
    std::uint64_t welem = (s + 1 == 64) ? ~std::uint64_t{0} : ((std::uint64_t{1} << (s + 1)) - 1);
    const std::uint64_t emask = esize == 64 ? ~std::uint64_t{0} : ((std::uint64_t{1} << esize) - 1);
    std::uint64_t elem = r ? (((welem >> r) | (welem << (esize - r))) & emask) : welem;
    std::uint64_t value = 0;
    for (unsigned i = 0; i < width; i += esize) value |= elem << i;
    out = value;
    return true;
}

unsigned logicalImmediate(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const bool sf = bit(w, 31);
    if (!sf && bit(w, 22)) return v.onUndefined(w, 0, c);
    std::uint64_t imm;
    if (!decodeLogicalImmediate(bit(w, 22), bits(w, 15, 10), bits(w, 21, 16), regBits(sf), imm))
        return v.onUndefined(w, 0, c);
    static constexpr DpClass kClasses[4] = {DpClass::And, DpClass::Orr, DpClass::Eor, DpClass::And};
    const unsigned opc = bits(w, 30, 29);
    op |= sizeTemplate(sf) | withClass(kClasses[opc]);
    unsigned rd = spOr(bits(w, 4, 0));
    if (opc == 3) { op |= op::kSetFlags; rd = zrOr(bits(w, 4, 0)); }
    return dp(v, c, op, rd, zrOr(bits(w, 9, 5)), kRegNone, imm);
}

unsigned moveWide(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const bool sf = bit(w, 31);
    const unsigned opc = bits(w, 30, 29), hw = bits(w, 22, 21);
    if (opc == 1 || (!sf && hw >= 2)) return v.onUndefined(w, 0, c);
    const std::uint64_t imm16 = bits(w, 20, 5);
    const unsigned rd = zrOr(bits(w, 4, 0));
    op |= sizeTemplate(sf);
    if (opc == 3) return dp(v, c, op | withClass(DpClass::Movk), rd, rd, kRegNone, imm16 | (hw << 20));
    std::uint64_t value = imm16 << (16 * hw);
    if (opc == 0) value = ~value & sizeMask(sf);
    return dp(v, c, op | withClass(DpClass::Add), rd, kRegNone, kRegNone, value);
}

unsigned bitfield(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const bool sf = bit(w, 31);
    const unsigned opc = bits(w, 30, 29), immr = bits(w, 21, 16), imms = bits(w, 15, 10);
    if (opc == 3 || bit(w, 22) != static_cast<unsigned>(sf) || (!sf && (immr >= 32 || imms >= 32)))
        return v.onUndefined(w, 0, c);
    const unsigned rd = zrOr(bits(w, 4, 0)), rn = zrOr(bits(w, 9, 5));
    op |= sizeTemplate(sf);
    if (opc == 1) return dp(v, c, op | withClass(DpClass::Bfxil), rd, rn, kRegNone, bitField(immr, imms));
    // SBFM/UBFM: a move of the described field of rn (LSL, LSR, ASR, extends, UBFX, ...); any
    // field of the zero register is 0.
    if (rn == kRegNone) return dp(v, c, op | withClass(DpClass::Add), rd, kRegNone, kRegNone, 0);
    op |= withClass(DpClass::Add) | withShift(Shift::Field);
    if (opc == 0) op |= op::kSigned;
    return dp(v, c, op, rd, kRegNone, rn, bitField(immr, imms));
}

unsigned extract(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const bool sf = bit(w, 31);
    const unsigned imms = bits(w, 15, 10);
    if (bits(w, 30, 29) || bit(w, 21) || bit(w, 22) != static_cast<unsigned>(sf) || (!sf && imms >= 32))
        return v.onUndefined(w, 0, c);
    op |= sizeTemplate(sf) | withClass(DpClass::Extr);
    return dp(v, c, op, zrOr(bits(w, 4, 0)), zrOr(bits(w, 9, 5)), zrOr(bits(w, 20, 16)), imms);
}

// ---- Register forms ----

// The shifted second operand of logical and add/subtract register forms.
bool shiftedOperand(std::uint32_t w, bool allowRor, std::uint32_t& op, std::uint64_t& field) {
    const bool sf = bit(w, 31);
    const unsigned type = bits(w, 23, 22), amount = bits(w, 15, 10);
    if ((!sf && amount >= 32) || (type == 3 && !allowRor)) return false;
    field = 0;
    if (amount == 0) return true;
    const unsigned width = regBits(sf);
    op |= withShift(Shift::Field);
    switch (type) {
    case 0: field = lslField(amount, width); break;
    case 1: field = lsrField(amount, width); break;
    case 2: field = lsrField(amount, width); op |= op::kSigned; break;
    default: field = rorField(amount, width); break;
    }
    return true;
}

// A shifted or extended zero register is the value 0: no register and a zero immediate.
void zeroRegisterOperand(std::uint32_t w, std::uint32_t& op, std::uint64_t& field) {
    if (bits(w, 20, 16) != 31) return;
    op &= ~(withShift(Shift::Field) | op::kSigned);
    field = 0;
}

unsigned logicalRegister(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    std::uint64_t field;
    if (!shiftedOperand(w, true, op, field)) return v.onUndefined(w, 0, c);
    zeroRegisterOperand(w, op, field);
    static constexpr DpClass kClasses[4] = {DpClass::And, DpClass::Orr, DpClass::Eor, DpClass::And};
    const unsigned opc = bits(w, 30, 29);
    op |= sizeTemplate(bit(w, 31)) | withClass(kClasses[opc]);
    if (opc == 3) op |= op::kSetFlags;
    if (bit(w, 21)) op |= op::kInverted;
    return dp(v, c, op, zrOr(bits(w, 4, 0)), zrOr(bits(w, 9, 5)), zrOr(bits(w, 20, 16)), field);
}

unsigned addSubShifted(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    std::uint64_t field;
    if (!shiftedOperand(w, false, op, field)) return v.onUndefined(w, 0, c);
    zeroRegisterOperand(w, op, field);
    op |= sizeTemplate(bit(w, 31)) | withClass(DpClass::Add);
    if (bit(w, 30)) op |= op::kSubtract;
    if (bit(w, 29)) op |= op::kSetFlags;
    return dp(v, c, op, zrOr(bits(w, 4, 0)), zrOr(bits(w, 9, 5)), zrOr(bits(w, 20, 16)), field);
}

unsigned addSubExtended(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const bool sf = bit(w, 31), setFlags = bit(w, 29);
    const unsigned option = bits(w, 15, 13), amount = bits(w, 12, 10);
    if (bits(w, 23, 22) || amount > 4) return v.onUndefined(w, 0, c);
    op |= sizeTemplate(sf) | withClass(DpClass::Add) | withShift(Shift::Field);
    if (bit(w, 30)) op |= op::kSubtract;
    if (setFlags) op |= op::kSetFlags;
    if (option & 4) op |= op::kSigned;
    std::uint64_t field = extendField(8u << (option & 3), amount, regBits(sf));
    zeroRegisterOperand(w, op, field);
    const unsigned rd = setFlags ? zrOr(bits(w, 4, 0)) : spOr(bits(w, 4, 0));
    return dp(v, c, op, rd, spOr(bits(w, 9, 5)), zrOr(bits(w, 20, 16)), field);
}

unsigned withCarry(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    if (bits(w, 15, 10)) return v.onUndefined(w, 1, c);  // flag manipulation forms
    op |= sizeTemplate(bit(w, 31)) | withClass(DpClass::Add) | op::kCarry;
    if (bit(w, 30)) op |= op::kSubtract;
    if (bit(w, 29)) op |= op::kSetFlags;
    return dp(v, c, op, zrOr(bits(w, 4, 0)), zrOr(bits(w, 9, 5)), zrOr(bits(w, 20, 16)), 0);
}

unsigned conditionalCompare(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    if (!bit(w, 29) || bit(w, 10) || bit(w, 4)) return v.onUndefined(w, 0, c);
    op = (op & ~withCondition(15)) | sizeTemplate(bit(w, 31)) | withClass(DpClass::Ccmn) | withCondition(bits(w, 15, 12)) |
         op::kSetFlags;
    if (bit(w, 30)) op |= op::kSubtract;
    const bool immediate = bit(w, 11);
    const unsigned rm = immediate ? kRegNone : zrOr(bits(w, 20, 16));
    const std::uint64_t imm = bits(w, 3, 0) | (immediate ? bits(w, 20, 16) << 8 : 0);
    return dp(v, c, op, kRegNone, zrOr(bits(w, 9, 5)), rm, imm);
}

unsigned conditionalSelect(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    if (bit(w, 29) || bit(w, 11)) return v.onUndefined(w, 0, c);
    op = (op & ~withCondition(15)) | sizeTemplate(bit(w, 31)) | withClass(DpClass::Csel) | withCondition(bits(w, 15, 12));
    const bool negate = bit(w, 30), increment = bit(w, 10);
    if (negate) op |= increment ? op::kSubtract : op::kInverted;
    else if (increment) op |= op::kCarry;
    return dp(v, c, op, zrOr(bits(w, 4, 0)), zrOr(bits(w, 9, 5)), zrOr(bits(w, 20, 16)), 0);
}

unsigned threeSource(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const bool sf = bit(w, 31);
    const unsigned op31 = bits(w, 23, 21), o0 = bit(w, 15);
    if (bits(w, 30, 29)) return v.onUndefined(w, 0, c);
    const unsigned rd = zrOr(bits(w, 4, 0)), rn = zrOr(bits(w, 9, 5)), rm = zrOr(bits(w, 20, 16));
    const unsigned ra = zrOr(bits(w, 14, 10));
    if (op31 == 0) {
        op |= sizeTemplate(sf) | withClass(DpClass::Madd) | (o0 ? op::kSubtract : 0);
        return dp(v, c, op, rd, rn, rm, ra);
    }
    if (!sf) return v.onUndefined(w, 0, c);
    const bool isSigned = !(op31 & 4);
    switch (op31 & 3) {
    case 1:  // SMADDL/SMSUBL/UMADDL/UMSUBL: 64-bit destination, 32-bit sources
        op |= sizes(kDouble, kWord) | withClass(DpClass::Madd) | (o0 ? op::kSubtract : 0) | (isSigned ? op::kSigned : 0);
        return dp(v, c, op, rd, rn, rm, ra);
    case 2:  // SMULH/UMULH
        if (o0) return v.onUndefined(w, 0, c);
        op |= sizes(kDouble, kDouble) | withClass(DpClass::Mulh) | (isSigned ? op::kSigned : 0);
        return dp(v, c, op, rd, rn, rm, kRegNone);
    default:
        return v.onUndefined(w, 0, c);
    }
}

unsigned twoSource(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const unsigned opcode = bits(w, 15, 10);
    DpClass cls;
    switch (opcode) {
    case 2: cls = DpClass::Div; break;
    case 3: cls = DpClass::Div; op |= op::kSigned; break;
    case 8: cls = DpClass::Lsl; break;
    case 9: cls = DpClass::Lsr; break;
    case 10: cls = DpClass::Asr; break;
    case 11: cls = DpClass::Ror; break;
    default: return v.onUndefined(w, opcode >= 16 && opcode < 24 ? 1 : 0, c);  // CRC32 is known
    }
    if (bit(w, 29)) return v.onUndefined(w, 0, c);
    op |= sizeTemplate(bit(w, 31)) | withClass(cls);
    return dp(v, c, op, zrOr(bits(w, 4, 0)), zrOr(bits(w, 9, 5)), zrOr(bits(w, 20, 16)), 0);
}

unsigned oneSource(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const bool sf = bit(w, 31);
    if (bit(w, 29)) return v.onUndefined(w, 0, c);
    if (bits(w, 20, 16) == 1) return v.onUndefined(w, 1, c);  // pointer authentication
    if (bits(w, 20, 16)) return v.onUndefined(w, 0, c);
    DpClass cls;
    switch (bits(w, 15, 10)) {
    case 0: cls = DpClass::Rbit; break;
    case 1: cls = DpClass::Rev16; break;
    case 2: cls = sf ? DpClass::Rev32 : DpClass::Rev; break;
    case 3: if (!sf) return v.onUndefined(w, 0, c); cls = DpClass::Rev; break;
    case 4: cls = DpClass::Clz; break;
    case 5: cls = DpClass::Cls; break;
    default: return v.onUndefined(w, 0, c);
    }
    op |= sizeTemplate(sf) | withClass(cls);
    return dp(v, c, op, zrOr(bits(w, 4, 0)), zrOr(bits(w, 9, 5)), kRegNone, 0);
}

constexpr Pattern kPcRelativeAndAdd[] = {
    {0x1F000000, 0x10000000, 0, pcRelative},
    {0x1F800000, 0x11000000, 0, addSubImmediate},
    {0x1F800000, 0x11800000, 0, addSubTags},
};
constexpr Pattern kLogicalMoveBitfield[] = {
    {0x1F800000, 0x12000000, 0, logicalImmediate},
    {0x1F800000, 0x12800000, 0, moveWide},
    {0x1F800000, 0x13000000, 0, bitfield},
    {0x1F800000, 0x13800000, 0, extract},
};
constexpr Pattern kRegisterArithmetic[] = {
    {0x1F000000, 0x0A000000, 0, logicalRegister},
    {0x1F200000, 0x0B000000, 0, addSubShifted},
    {0x1F200000, 0x0B200000, 0, addSubExtended},
};
constexpr Pattern kRegisterOther[] = {
    {0x1FE00000, 0x1A000000, 0, withCarry},
    {0x1FE00000, 0x1A400000, 0, conditionalCompare},
    {0x1FE00000, 0x1A800000, 0, conditionalSelect},
    {0x1F000000, 0x1B000000, 0, threeSource},
    {0x5FE00000, 0x1AC00000, 0, twoSource},
    {0x5FE00000, 0x5AC00000, 0, oneSource},
};

}  // namespace

const PatternGroup kPcRelativeAndAddGroup = group(kPcRelativeAndAdd);
const PatternGroup kLogicalMoveBitfieldGroup = group(kLogicalMoveBitfield);
const PatternGroup kRegisterArithmeticGroup = group(kRegisterArithmetic);
const PatternGroup kRegisterOtherGroup = group(kRegisterOther);

}  // namespace coresift::decode::a64

#endif
