// The A32 front-end: group = (condition 15 ? 8 : 0) + bits 27..25, patterns tried in order.
#include "common/target_word.h"
#if CORESIFT_TARGET_BITS == 32  // the A32 and T32 front-ends exist in CoreSift only

#include "analyzer/decode/arm_shared.h"

namespace coresift::decode {
namespace arm {
namespace {

unsigned dp(const Visitor& v, void* c, std::uint32_t op, unsigned rd, unsigned rn, unsigned rm, std::uint64_t imm) {
    return v.onDataProcessing(op, rd, rn, rm, imm, c);
}

// ---- Data processing ----

// Shared tail of the three operand forms: opcode, S, Rn, Rd.
unsigned dataProcessing(std::uint32_t w, std::uint32_t op, unsigned rm, std::uint64_t imm, const Visitor& v, void* c) {
    const DpOpcode d = a32Opcode(bits(w, 24, 21));
    // The unused first-operand field of the moves must be zero.
    if (d.move && bits(w, 19, 16)) return v.onUndefined(w, 0, c);
    op |= sizes(kWord, kWord) | d.templ;
    if (bit(w, 20)) op |= op::kSetFlags;
    const unsigned rd = d.compare ? kRegNone : bits(w, 15, 12);
    const unsigned rn = d.move ? kRegNone : bits(w, 19, 16);
    return dp(v, c, op, rd, rn, rm, imm);
}

unsigned dpImmediateShift(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const ShiftedOperand s = immediateShift(bits(w, 6, 5), bits(w, 11, 7));
    return dataProcessing(w, op | s.opBits, bits(w, 3, 0), s.field, v, c);
}

unsigned dpRegisterShift(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    return dataProcessing(w, op | registerShift(bits(w, 6, 5)), bits(w, 3, 0), bits(w, 11, 8), v, c);
}

unsigned dpImmediate(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    return dataProcessing(w, op, kRegNone, a32Immediate(bits(w, 11, 0)), v, c);
}

unsigned moveWide(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const std::uint64_t imm16 = (bits(w, 19, 16) << 12) | bits(w, 11, 0);
    const unsigned rd = bits(w, 15, 12);
    op |= sizes(kWord, kWord);
    if (bit(w, 22)) return dp(v, c, op | withClass(DpClass::Movk), rd, rd, kRegNone, imm16 | (1u << 20));  // MOVT
    return dp(v, c, op | withClass(DpClass::Add), rd, kRegNone, kRegNone, imm16);                      // MOVW
}

unsigned hintsAndMsr(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    if (bit(w, 22) || bits(w, 19, 16) || bits(w, 15, 8) != 0xF0) return v.onUndefined(w, 1, c);  // MSR immediate
    static constexpr SystemOp kHints[6] = {SystemOp::Nop, SystemOp::Yield, SystemOp::Wfe,
                                           SystemOp::Wfi, SystemOp::Sev, SystemOp::Sevl};
    const unsigned hint = bits(w, 7, 0);
    if (hint >= 6) return v.onUndefined(w, 1, c);
    return v.onSystem(op | withSystem(kHints[hint]), 0, c);
}

// MRS/MSR register, BX, BLX register, CLZ, BKPT and the rest of the miscellaneous space.
unsigned miscellaneous(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const unsigned opc = bits(w, 22, 21), op2 = bits(w, 6, 4), rm = bits(w, 3, 0);
    if (opc == 1 && (op2 == 1 || op2 == 3) && bits(w, 19, 8) == 0xFFF) {
        if (op2 == 3) return v.onBranch(op | op::kRegisterTarget | op::kLink | op::kExchange, 0, rm, 0, c);
        if (rm == 14) return v.onBranch(op | op::kRegisterTarget | op::kReturn, 0, rm, 0, c);
        return v.onBranch(op | op::kRegisterTarget | op::kExchange, 0, rm, 0, c);
    }
    if (opc == 3 && op2 == 1 && bits(w, 19, 16) == 0xF && bits(w, 11, 8) == 0xF)
        return dp(v, c, op | sizes(kWord, kWord) | withClass(DpClass::Clz), bits(w, 15, 12), rm, kRegNone, 0);
    if (opc == 1 && op2 == 7) {
        if (conditionOf(op) != kCondAlways) return v.onUndefined(w, 0, c);
        return v.onSystem((op & ~withCondition(15)) | withCondition(kCondAlways) | withSystem(SystemOp::Brk),
                          (bits(w, 19, 8) << 4) | rm, c);
    }
    return v.onUndefined(w, 1, c);
}

// MUL, MLA, MLS and the long multiplies.
unsigned multiply(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const unsigned kind = bits(w, 23, 21);
    const unsigned hi = bits(w, 19, 16), lo = bits(w, 15, 12), rm = bits(w, 11, 8), rn = bits(w, 3, 0);
    op |= withClass(DpClass::Madd) | (bit(w, 20) ? op::kSetFlags : 0);
    switch (kind) {
    case 0: return dp(v, c, op | sizes(kWord, kWord), hi, rn, rm, kRegNone);  // MUL
    case 1: return dp(v, c, op | sizes(kWord, kWord), hi, rn, rm, lo);        // MLA
    case 3:                                                                   // MLS
        if (bit(w, 20)) return v.onUndefined(w, 0, c);
        return dp(v, c, op | sizes(kWord, kWord) | op::kSubtract, hi, rn, rm, lo);
    case 4: case 5: case 6: case 7: {  // UMULL, UMLAL, SMULL, SMLAL: rd = low half, high half in bits 8..15
        op |= sizes(kDouble, kWord) | ((kind & 2) ? op::kSigned : 0);
        const unsigned accumulator = (kind & 1) ? lo : kRegNone;
        return dp(v, c, op, lo, rn, rm, accumulator | (hi << 8));
    }
    default: return v.onUndefined(w, 1, c);  // UMAAL
    }
}

// SWP/SWPB, the exclusive and the ordered (load-acquire/store-release) forms.
unsigned synchronization(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const unsigned rn = bits(w, 19, 16), rt = bits(w, 15, 12), rt2 = bits(w, 3, 0);
    if (!bit(w, 23)) {
        if (bits(w, 21, 20) || bits(w, 11, 8)) return v.onUndefined(w, 0, c);
        const unsigned element = bit(w, 22) ? kByte : kWord;
        op |= sizes(kWord, 0) | withElement(element) | op::kLoad | withVariant(Variant::Swap);
        RegisterList list(rt);
        return v.onLoadStore(op, list.r, rn, rt2, 0, c);
    }
    static constexpr unsigned kElements[4] = {kWord, kDouble, kByte, kHalf};
    const unsigned form = bits(w, 22, 21), ordering = bits(w, 9, 8);
    const bool load = bit(w, 20);
    if (ordering == 1 || (ordering == 0 && form == 1)) return v.onUndefined(w, 0, c);
    op |= sizes(kWord, 0) | withElement(kElements[form] == kDouble ? kWord : kElements[form]) | (load ? op::kLoad : 0);
    op |= withVariant(ordering == 3 ? Variant::Exclusive : ordering == 2 ? Variant::OrderedExclusive : Variant::Ordered);
    const unsigned transfer = load ? rt : rt2;
    RegisterList list(transfer);
    if (form == 1) {
        if (transfer & 1 || transfer == 14) return v.onUndefined(w, 0, c);
        list.add(transfer + 1);
    }
    const unsigned status = (!load && ordering != 0) ? rt : kRegNone;
    return v.onLoadStore(op, list.r, rn, status, 0, c);
}

// Addressing bits P, U, W of single loads/stores into the word; false for an invalid combination.
std::uint32_t indexing(std::uint32_t w, bool& unprivileged) {
    const bool p = bit(w, 24), wb = bit(w, 21);
    unprivileged = !p && wb;
    if (unprivileged) return withVariant(Variant::Unprivileged) | op::kPostIndex | op::kWriteBack;
    if (!p) return op::kPostIndex | op::kWriteBack;
    return wb ? op::kWriteBack : 0;
}

// LDRH, STRH, LDRSB, LDRSH, LDRD, STRD and their unprivileged forms.
unsigned extraLoadStore(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const unsigned kind = bits(w, 6, 5), rn = bits(w, 19, 16), rt = bits(w, 15, 12);
    const bool load = bit(w, 20), immediate = bit(w, 22), up = bit(w, 23);
    bool unprivileged;
    op |= indexing(w, unprivileged) | sizes(kWord, 0);
    RegisterList list(rt);
    if (kind == 1) {
        op |= withElement(kHalf) | (load ? op::kLoad : 0);
    } else if (!load) {  // LDRD (kind 2), STRD (kind 3)
        if (unprivileged || rt == 15) return v.onUndefined(w, 0, c);  // an odd Rt is read as the pair it names
        op |= withElement(kWord) | (kind == 2 ? op::kLoad : 0);
        list.add(rt + 1);
    } else {
        op |= withElement(kind == 2 ? kByte : kHalf) | op::kLoad | op::kSignExtend;
    }
    if (immediate) {
        const std::int64_t offset = (bits(w, 11, 8) << 4) | bits(w, 3, 0);
        return v.onLoadStore(op, list.r, rn, kRegNone, up ? offset : -offset, c);
    }
    // bits 11..8 should be zero; like the architecture's decoders, other values are still read
    return v.onLoadStore(op | (up ? 0 : op::kSubtract), list.r, rn, bits(w, 3, 0), 0, c);
}

// LDR, STR, LDRB, STRB (and the unprivileged T forms), immediate or register offset.
unsigned loadStoreWord(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const bool load = bit(w, 20), up = bit(w, 23);
    bool unprivileged;
    op |= indexing(w, unprivileged) | sizes(kWord, 0) | withElement(bit(w, 22) ? kByte : kWord);
    if (load) op |= op::kLoad;
    RegisterList list(bits(w, 15, 12));
    const unsigned rn = bits(w, 19, 16);
    if (!bit(w, 25)) {
        const std::int64_t offset = bits(w, 11, 0);
        return v.onLoadStore(op, list.r, rn, kRegNone, up ? offset : -offset, c);
    }
    const ShiftedOperand s = immediateShift(bits(w, 6, 5), bits(w, 11, 7));
    op |= s.opBits | (up ? 0 : op::kSubtract);
    return v.onLoadStore(op, list.r, rn, bits(w, 3, 0), static_cast<std::int64_t>(s.field), c);
}

// ---- Media instructions ----

unsigned extend(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const unsigned kind = bits(w, 22, 20), rotation = 8 * bits(w, 11, 10);
    const unsigned rn = bits(w, 19, 16), rd = bits(w, 15, 12), rm = bits(w, 3, 0);
    if (bits(w, 9, 8) || (kind & 3) == 0 || kind == 1 || kind == 5) return v.onUndefined(w, 1, c);  // *16 forms
    const unsigned width = (kind & 1) ? 16 : 8;
    const std::uint32_t sign = (kind & 4) ? 0 : op::kSigned;
    op |= sizes(kWord, kWord) | withClass(DpClass::Add) | withShift(Shift::Field) | sign;
    if (rn == 15) {
        // SXTB/UXTB/SXTH/UXTH: a move of the extended (rotated) field.
        if (rotation + width > 32) return v.onUndefined(w, 1, c);
        return dp(v, c, op, rd, kRegNone, rm, bitField(rotation, rotation + width - 1));
    }
    if (rotation) return v.onUndefined(w, 1, c);  // rotated extend-and-add is not modelled
    return dp(v, c, op, rd, rn, rm, extendField(width, 0, 32));
}

unsigned reverse(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const unsigned kind = (bit(w, 22) << 1) | bit(w, 7);
    static constexpr DpClass kClasses[3] = {DpClass::Rev, DpClass::Rev16, DpClass::Rbit};
    if (kind == 3) return v.onUndefined(w, 1, c);  // REVSH
    return dp(v, c, op | sizes(kWord, kWord) | withClass(kClasses[kind]), bits(w, 15, 12), bits(w, 3, 0), kRegNone, 0);
}

unsigned divide(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    op |= sizes(kWord, kWord) | withClass(DpClass::Div) | (bit(w, 21) ? 0 : op::kSigned);
    return dp(v, c, op, bits(w, 19, 16), bits(w, 3, 0), bits(w, 11, 8), 0);
}

unsigned bitfieldInsert(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const unsigned msb = bits(w, 20, 16), lsb = bits(w, 11, 7), rn = bits(w, 3, 0);
    if (msb < lsb) return v.onUndefined(w, 0, c);
    const unsigned width = msb - lsb + 1;
    op |= sizes(kWord, kWord) | withClass(DpClass::Bfxil);
    return dp(v, c, op, bits(w, 15, 12), rn == 15 ? kRegNone : rn, kRegNone, bitField((32 - lsb) % 32, width - 1));
}

unsigned bitfieldExtract(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const unsigned widthMinus1 = bits(w, 20, 16), lsb = bits(w, 11, 7);
    if (lsb + widthMinus1 > 31) return v.onUndefined(w, 0, c);
    op |= sizes(kWord, kWord) | withClass(DpClass::Add) | withShift(Shift::Field) | (bit(w, 22) ? 0 : op::kSigned);
    return dp(v, c, op, bits(w, 15, 12), kRegNone, bits(w, 3, 0), bitField(lsb, lsb + widthMinus1));
}

// ---- Load/store multiple, branches, system ----

unsigned loadStoreMultiple(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const std::uint32_t mask = bits(w, 15, 0);
    if (!mask) return v.onUndefined(w, 0, c);
    static constexpr Variant kVariants[4] = {Variant::MultipleDa, Variant::MultipleIa, Variant::MultipleDb,
                                             Variant::MultipleIb};
    const bool up = bit(w, 23);
    op |= sizes(kWord, 0) | withElement(kWord) | op::kMultiple | withVariant(kVariants[bits(w, 24, 23)]);
    if (bit(w, 20)) op |= op::kLoad;
    if (bit(w, 21)) op |= op::kWriteBack;
    if (bit(w, 22)) op |= op::kUserBank;
    const std::int64_t size = 4 * popCount(mask);
    RegisterList list = listOf(mask);
    return v.onLoadStore(op, list.r, bits(w, 19, 16), kRegNone, up ? size : -size, c);
}

unsigned branch(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    if (bit(w, 24)) op |= op::kLink;
    return v.onBranch(op, signExtend(bits(w, 23, 0) << 2, 26), kRegNone, 0, c);
}

unsigned branchExchange(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const std::int64_t offset = signExtend((bits(w, 23, 0) << 2) | (bit(w, 24) << 1), 26);
    return v.onBranch(op | op::kLink | op::kExchange, offset, kRegNone, 0, c);
}

unsigned supervisorCall(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    return v.onSystem(op | withSystem(SystemOp::Svc), bits(w, 23, 0), c);
}

unsigned processorState(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const unsigned imod = bits(w, 19, 18);
    if (imod < 2 || bit(w, 17)) return v.onUndefined(w, 1, c);  // mode changes are not modelled
    return v.onSystem(op | withSystem(imod == 3 ? SystemOp::MsrDaifSet : SystemOp::MsrDaifClr), bits(w, 8, 6), c);
}

unsigned setEndianness(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    return v.onSystem(op | withSystem(SystemOp::Setend), bit(w, 9), c);
}

unsigned barrier(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    switch (bits(w, 7, 4)) {
    case 1: if (bits(w, 3, 0) != 15) break; return v.onSystem(op | withSystem(SystemOp::Clrex), 15, c);
    case 4: return v.onSystem(op | withSystem(SystemOp::Dsb), bits(w, 3, 0), c);
    case 5: return v.onSystem(op | withSystem(SystemOp::Dmb), bits(w, 3, 0), c);
    case 6: return v.onSystem(op | withSystem(SystemOp::Isb), bits(w, 3, 0), c);
    default: break;
    }
    return v.onUndefined(w, 1, c);
}

// PLD, PLDW, PLI with an immediate offset: the prefetch operation goes in the list (PLD 0, PLI 8,
// PLDW 16, as the A64 prefetch operations PLDL1KEEP, PLIL1KEEP, PSTL1KEEP).
unsigned preload(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const unsigned operation = !bit(w, 24) ? 8 : (bit(w, 22) ? 0 : 16);
    const std::int64_t offset = bits(w, 11, 0);
    op |= sizes(kWord, 0) | withElement(kWord) | op::kLoad | withVariant(Variant::Prefetch);
    RegisterList list(operation);
    return v.onLoadStore(op, list.r, bits(w, 19, 16), kRegNone, bit(w, 23) ? offset : -offset, c);
}

unsigned floatTransfer(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    return floatLoadStore(w, w, op, v, c);
}

constexpr Pattern kGroup0[] = {
    {0x0F000010, 0x00000000, 0, dpImmediateShift},
    {0x0F900010, 0x01100000, 0, dpImmediateShift},
    {0x0F800010, 0x01800000, 0, dpImmediateShift},
    {0x0F000090, 0x00000010, 0, dpRegisterShift},
    {0x0F900090, 0x01100010, 0, dpRegisterShift},
    {0x0F800090, 0x01800010, 0, dpRegisterShift},
    {0x0F900080, 0x01000000, 0, miscellaneous},
    {0x0F900090, 0x01000080, 0, unimplemented},  // halfword multiply (SMLAxy family)
    {0x0F0000F0, 0x00000090, 0, multiply},
    {0x0F0000F0, 0x01000090, 0, synchronization},
    {0x0E000090, 0x00000090, 0, extraLoadStore},
};
constexpr Pattern kGroup1[] = {
    {0x0F000000, 0x02000000, 0, dpImmediate},
    {0x0F900000, 0x03100000, 0, dpImmediate},
    {0x0F800000, 0x03800000, 0, dpImmediate},
    {0x0FB00000, 0x03000000, 0, moveWide},
    {0x0FB00000, 0x03200000, 0, hintsAndMsr},
};
constexpr Pattern kGroup2[] = {
    {0x0E000000, 0x04000000, 0, loadStoreWord},
};
constexpr Pattern kGroup3[] = {
    {0x0E000010, 0x06000000, 0, loadStoreWord},
    {0x0F8000F0, 0x06800070, 0, extend},
    {0x0FBF0F70, 0x06BF0F30, 0, reverse},
    {0x0FD0F0F0, 0x0710F010, 0, divide},
    {0x0FE00070, 0x07C00010, 0, bitfieldInsert},
    {0x0FA00070, 0x07A00050, 0, bitfieldExtract},
    {0x0FF000F0, 0x07F000F0, 0, undefined},
    {0x0E000010, 0x06000010, 0, unimplemented},  // other media instructions
};
constexpr Pattern kGroup4[] = {{0x0E000000, 0x08000000, 0, loadStoreMultiple}};
constexpr Pattern kGroup5[] = {{0x0E000000, 0x0A000000, 0, branch}};
constexpr Pattern kGroup6[] = {
    {0x0E000E00, 0x0C000A00, 0, floatTransfer},
    {0x0E000000, 0x0C000000, 0, unimplemented},  // other coprocessor transfers
};
constexpr Pattern kGroup7[] = {
    {0x0F000000, 0x0F000000, 0, supervisorCall},
    {0x0F000000, 0x0E000000, 0, unimplemented},  // coprocessor data operations and register transfers
};
constexpr Pattern kUnconditional0[] = {
    {0xFFF1FE20, 0xF1000000, 0, processorState},
    {0xFFFFFDFF, 0xF1010000, 0, setEndianness},
};
constexpr Pattern kUnconditional2[] = {
    {0xFFFFFF00, 0xF57FF000, 0, barrier},
    {0xFF30F000, 0xF510F000, 0, preload},
    {0xFF70F000, 0xF450F000, 0, preload},
    {0, 0, 0, unimplemented},
};
constexpr Pattern kUnconditional5[] = {{0, 0, 0, branchExchange}};
constexpr Pattern kNotModelled[] = {{0, 0, 0, unimplemented}};

constexpr PatternGroup kA32Groups[16] = {
    group(kGroup0), group(kGroup1), group(kGroup2), group(kGroup3),
    group(kGroup4), group(kGroup5), group(kGroup6), group(kGroup7),
    group(kUnconditional0), group(kNotModelled), group(kUnconditional2), group(kNotModelled),
    group(kNotModelled), group(kUnconditional5), kEmptyGroup, group(kNotModelled),
};

}  // namespace

unsigned floatLoadStore(std::uint32_t w, std::uint32_t original, std::uint32_t op, const Visitor& v, void* c) {
    const bool p = bit(w, 24), up = bit(w, 23), wb = bit(w, 21), load = bit(w, 20), isDouble = bit(w, 8);
    const unsigned rn = bits(w, 19, 16), vd = bits(w, 15, 12), d = bit(w, 22), imm8 = bits(w, 7, 0);
    if (bits(w, 11, 9) != 5) return v.onUndefined(original, 1, c);
    const unsigned first = isDouble ? (d << 4) | vd : (vd << 1) | d;
    const unsigned size = isDouble ? kDouble : kWord;
    op |= sizes(size, 0) | withElement(size) | (load ? op::kLoad : 0);
    if (p && !wb) {  // VLDR/VSTR
        RegisterList list(kRegVector0 + first);
        const std::int64_t offset = 4 * imm8;
        return v.onLoadStore(op, list.r, rn, kRegNone, up ? offset : -offset, c);
    }
    if (p == up || (p && !wb)) return v.onUndefined(original, 1, c);  // 64-bit register transfers
    const unsigned count = isDouble ? imm8 / 2 : imm8;
    if (count == 0 || (isDouble && (imm8 & 1)) || first + count > 32 || (isDouble && count > 16))
        return v.onUndefined(original, 1, c);
    RegisterList list;
    for (unsigned i = 0; i < count; ++i) list.add(kRegVector0 + first + i);
    op |= op::kMultiple | withVariant(up ? Variant::MultipleIa : Variant::MultipleDb) | (wb ? op::kWriteBack : 0);
    const std::int64_t total = 4 * std::int64_t{imm8};
    return v.onLoadStore(op, list.r, rn, kRegNone, up ? total : -total, c);
}

}  // namespace arm

unsigned decodeArm(std::uint32_t instruction, unsigned& length, const Visitor& visitor, void* context) {
    length = 4;
    const unsigned condition = instruction >> 28;
    const unsigned index = (condition == 15 ? 8 : 0) + ((instruction >> 25) & 7);
    return dispatch(arm::kA32Groups[index], instruction, withCondition(condition), visitor, context);
}

}  // namespace coresift::decode

#endif
