// The T32 front-end, 32-bit encodings. The instruction value is (first halfword) | (second
// halfword << 16); groups by bits 12..9 of the first halfword. In the masks below the first
// halfword is the low half.
#include "common/target_word.h"
#if CORESIFT_TARGET_BITS == 32  // the A32 and T32 front-ends exist in CoreSift only

#include "analyzer/decode/arm_shared.h"

namespace coresift::decode::arm {
namespace {

constexpr std::uint32_t first(std::uint32_t w) { return w & 0xFFFF; }
constexpr std::uint32_t second(std::uint32_t w) { return w >> 16; }
constexpr std::uint32_t kWord2 = sizes(kWord, kWord);

unsigned dp(const Visitor& v, void* c, std::uint32_t op, unsigned rd, unsigned rn, unsigned rm, std::uint64_t imm) {
    return v.onDataProcessing(op, rd, rn, rm, imm, c);
}

// ---- Load/store multiple, dual, exclusive, table branch (first halfword 1110100x) ----

unsigned loadStoreMultiple(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const std::uint32_t h1 = first(w), mask = second(w);
    const unsigned kind = bits(h1, 8, 7);
    if (kind == 0 || kind == 3) return v.onUndefined(w, 1, c);  // SRS, RFE
    const bool load = bit(h1, 4), increment = kind == 1;
    // A store list holds neither SP nor PC.
    if (!mask || (!load && (mask & 0xA000))) return v.onUndefined(w, 0, c);
    op |= sizes(kWord, 0) | withElement(kWord) | op::kMultiple;
    op |= withVariant(increment ? Variant::MultipleIa : Variant::MultipleDb);
    if (load) op |= op::kLoad;
    if (bit(h1, 5)) op |= op::kWriteBack;
    const std::int64_t size = 4 * popCount(mask);
    RegisterList list = listOf(mask);
    return v.onLoadStore(op, list.r, bits(h1, 3, 0), kRegNone, increment ? size : -size, c);
}

unsigned tableBranch(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const bool half = bit(second(w), 4);
    op |= sizes(kWord, 0) | op::kLoad | withVariant(Variant::TableBranch) | withElement(half ? kHalf : kByte);
    if (half) op |= withShift(Shift::Field);
    RegisterList list(kRegPc);
    return v.onLoadStore(op, list.r, bits(w, 3, 0), bits(second(w), 3, 0),
                         half ? static_cast<std::int64_t>(lslField(1, 32)) : 0, c);
}

unsigned dualExclusive(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const std::uint32_t h1 = first(w), h2 = second(w);
    const unsigned op1 = bits(h1, 8, 7), op2 = bits(h1, 5, 4), op3 = bits(h2, 7, 4);
    const unsigned rn = bits(h1, 3, 0), rt = bits(h2, 15, 12), rt2 = bits(h2, 11, 8);
    const bool load = bit(h1, 4);
    const std::uint32_t plainOp = op;
    op |= sizes(kWord, 0) | (load ? op::kLoad : 0);
    if (op1 == 0 && op2 < 2) {  // STREX, LDREX with an 8-bit word offset
        op |= withElement(kWord) | withVariant(Variant::Exclusive);
        RegisterList list(rt);
        return v.onLoadStore(op, list.r, rn, load ? kRegNone : rt2, 4 * bits(h2, 7, 0), c);
    }
    if (op1 == 1 && op2 < 2) {
        if (load && op3 < 2 && bits(h2, 15, 5) == 0x780) return tableBranch(w, plainOp, v, c);
        // byte/halfword/doubleword exclusives and the load-acquire/store-release forms
        static constexpr unsigned kElements[4] = {kByte, kHalf, kWord, kDouble};
        const unsigned element = kElements[op3 & 3];
        Variant variant;
        if (op3 >= 4 && op3 < 8) variant = Variant::Exclusive;
        else if (op3 >= 8 && op3 < 12) variant = Variant::Ordered;
        else if (op3 >= 12) variant = Variant::OrderedExclusive;
        else return v.onUndefined(w, 0, c);
        if ((variant == Variant::Exclusive && op3 == 6) || (variant == Variant::Ordered && op3 == 11))
            return v.onUndefined(w, 0, c);
        const unsigned status = bits(h2, 3, 0);
        RegisterList list(rt);
        if (element == kDouble) {
            if (variant == Variant::Ordered) return v.onUndefined(w, 0, c);
            list.add(rt2);
        }
        op |= withElement(element == kDouble ? kWord : element) | withVariant(variant);
        const bool hasStatus = !load && variant != Variant::Ordered;
        return v.onLoadStore(op, list.r, rn, hasStatus ? status : kRegNone, 0, c);
    }
    // LDRD/STRD immediate (P or W set), literal when the base is the PC.
    const bool p = bit(h1, 8), up = bit(h1, 7), wb = bit(h1, 5);
    if (!p && !wb) return v.onUndefined(w, 0, c);
    op |= withElement(kWord) | (wb ? op::kWriteBack : 0) | (p ? 0 : op::kPostIndex);
    if (rn == 15) op |= op::kAlignedPc;
    const std::int64_t offset = 4 * bits(h2, 7, 0);
    RegisterList list(rt, rt2);
    return v.onLoadStore(op, list.r, rn, kRegNone, up ? offset : -offset, c);
}

// ---- Data processing: shifted register, modified immediate, plain immediate ----

unsigned shiftedRegister(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const std::uint32_t h1 = first(w), h2 = second(w);
    const unsigned rn = bits(h1, 3, 0), rd = bits(h2, 11, 8), rm = bits(h2, 3, 0);
    const bool setFlags = bit(h1, 4);
    const unsigned opcode = bits(h1, 8, 5);
    if (opcode == 6) return v.onUndefined(w, 1, c);  // PKHBT/PKHTB
    const DpOpcode d = t32Opcode(opcode, rd, rn, setFlags);
    if (!d.valid) return v.onUndefined(w, 0, c);
    const ShiftedOperand s = immediateShift(bits(h2, 5, 4), (bits(h2, 14, 12) << 2) | bits(h2, 7, 6));
    op |= kWord2 | d.templ | s.opBits | (setFlags ? op::kSetFlags : 0);
    return dp(v, c, op, d.compare ? kRegNone : rd, d.move ? kRegNone : rn, rm, s.field);
}

unsigned modifiedImmediate(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const std::uint32_t h1 = first(w), h2 = second(w);
    const unsigned rn = bits(h1, 3, 0), rd = bits(h2, 11, 8);
    const bool setFlags = bit(h1, 4);
    const DpOpcode d = t32Opcode(bits(h1, 8, 5), rd, rn, setFlags);
    if (!d.valid) return v.onUndefined(w, 0, c);
    const std::uint32_t imm12 = (bit(h1, 10) << 11) | (bits(h2, 14, 12) << 8) | bits(h2, 7, 0);
    op |= kWord2 | d.templ | (setFlags ? op::kSetFlags : 0);
    return dp(v, c, op, d.compare ? kRegNone : rd, d.move ? kRegNone : rn, kRegNone, t32Immediate(imm12));
}

unsigned plainImmediate(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const std::uint32_t h1 = first(w), h2 = second(w);
    const unsigned rn = bits(h1, 3, 0), rd = bits(h2, 11, 8);
    const std::uint32_t imm12 = (bit(h1, 10) << 11) | (bits(h2, 14, 12) << 8) | bits(h2, 7, 0);
    const unsigned lsb = (bits(h2, 14, 12) << 2) | bits(h2, 7, 6), low5 = bits(h2, 4, 0);
    op |= kWord2;
    const std::uint32_t add = withClass(DpClass::Add);
    switch (bits(h1, 8, 4)) {
    case 0x00:  // ADDW, ADR
        if (rn == 15) return dp(v, c, op | add | op::kAlignedPc, rd, kRegPc, kRegNone, imm12);
        return dp(v, c, op | add, rd, rn, kRegNone, imm12);
    case 0x0A:  // SUBW, ADR (subtract)
        if (rn == 15) return dp(v, c, op | add | op::kSubtract | op::kAlignedPc, rd, kRegPc, kRegNone, imm12);
        return dp(v, c, op | add | op::kSubtract, rd, rn, kRegNone, imm12);
    case 0x04: return dp(v, c, op | add, rd, kRegNone, kRegNone, (rn << 12) | imm12);  // MOVW
    case 0x0C: return dp(v, c, op | withClass(DpClass::Movk), rd, rd, kRegNone, (rn << 12) | imm12 | (1u << 20));
    case 0x14: case 0x1C:  // SBFX, UBFX
        if (lsb + low5 > 31) return v.onUndefined(w, 0, c);
        op |= add | withShift(Shift::Field) | (bit(h1, 7) ? 0 : op::kSigned);
        return dp(v, c, op, rd, kRegNone, rn, bitField(lsb, lsb + low5));
    case 0x16:  // BFI, BFC
        if (low5 < lsb) return v.onUndefined(w, 0, c);
        return dp(v, c, op | withClass(DpClass::Bfxil), rd, rn == 15 ? kRegNone : rn, kRegNone,
                  bitField((32 - lsb) % 32, low5 - lsb));
    case 0x10: case 0x12: case 0x18: case 0x1A: return v.onUndefined(w, 1, c);  // SSAT, USAT
    default: return v.onUndefined(w, 0, c);
    }
}

// ---- Branches and miscellaneous control (second halfword bit 15 set) ----

unsigned miscellaneousControl(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const std::uint32_t h1 = first(w), h2 = second(w);
    if (h1 == 0xF3AF && (h2 & 0xFF00) == 0x8000) {
        static constexpr SystemOp kHints[6] = {SystemOp::Nop, SystemOp::Yield, SystemOp::Wfe,
                                               SystemOp::Wfi, SystemOp::Sev,   SystemOp::Sevl};
        if ((h2 & 0xFF) < 6) return v.onSystem(op | withSystem(kHints[h2 & 0xFF]), 0, c);
        return v.onUndefined(w, 1, c);
    }
    if (h1 == 0xF3BF && (h2 & 0xFF00) == 0x8F00) {
        switch (bits(h2, 7, 4)) {
        case 2: if ((h2 & 15) == 15) return v.onSystem(op | withSystem(SystemOp::Clrex), 15, c); break;
        case 4: return v.onSystem(op | withSystem(SystemOp::Dsb), h2 & 15, c);
        case 5: return v.onSystem(op | withSystem(SystemOp::Dmb), h2 & 15, c);
        case 6: return v.onSystem(op | withSystem(SystemOp::Isb), h2 & 15, c);
        default: break;
        }
    }
    if ((h1 & 0xFFF0) == 0xF7F0 && (h2 & 0xF000) == 0xA000) return v.onUndefined(w, 0, c);  // UDF
    return v.onUndefined(w, 1, c);  // MSR, MRS, CPS, BXJ, SUBS PC, SMC, HVC
}

unsigned branches(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const std::uint32_t h1 = first(w), h2 = second(w);
    const unsigned s = bit(h1, 10), j1 = bit(h2, 13), j2 = bit(h2, 11);
    const unsigned kind = (bit(h2, 14) << 1) | bit(h2, 12);
    if (kind == 0) {  // conditional branch, or miscellaneous control when the condition is 111x
        const unsigned condition = bits(h1, 9, 6);
        if (condition >= 14) return miscellaneousControl(w, op, v, c);
        const std::uint32_t imm = (s << 20) | (j2 << 19) | (j1 << 18) | (bits(h1, 5, 0) << 12) | (bits(h2, 10, 0) << 1);
        op = (op & ~withCondition(15)) | withCondition(condition);
        return v.onBranch(op, signExtend(imm, 21), kRegNone, 0, c);
    }
    const unsigned i1 = !(j1 ^ s), i2 = !(j2 ^ s);
    const std::uint32_t imm = (s << 24) | (i1 << 23) | (i2 << 22) | (bits(h1, 9, 0) << 12) | (bits(h2, 10, 0) << 1);
    if (kind == 1) return v.onBranch(op, signExtend(imm, 25), kRegNone, 0, c);                   // B
    if (kind == 3) return v.onBranch(op | op::kLink, signExtend(imm, 25), kRegNone, 0, c);       // BL
    if (bit(h2, 0)) return v.onUndefined(w, 0, c);
    return v.onBranch(op | op::kLink | op::kExchange, signExtend(imm, 25), kRegNone, 0, c);      // BLX
}

// ---- Load/store single (first halfword 1111100x) ----

unsigned loadStoreSingle(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const std::uint32_t h1 = first(w), h2 = second(w);
    const unsigned size = bits(h1, 6, 5), rn = bits(h1, 3, 0), rt = bits(h2, 15, 12);
    const bool sign = bit(h1, 8), load = bit(h1, 4);
    if (size == 3 || (sign && (!load || size == 2))) return v.onUndefined(w, 0, c);
    if (bit(h1, 8) && !bit(h1, 4)) return v.onUndefined(w, 0, c);
    op |= sizes(kWord, 0) | withElement(size) | (load ? op::kLoad : 0) | (sign ? op::kSignExtend : 0);

    // Loads of bytes and halfwords into the PC are the preload hints.
    const bool preload = load && rt == 15 && size < 2;
    RegisterList list(rt);
    if (preload) {
        const unsigned operation = sign ? 8 : (size == 1 ? 16 : 0);  // PLI, PLDW, PLD
        op = (op & ~(op::kSignExtend | (7u << op::kElementShift))) | withElement(kWord) | withVariant(Variant::Prefetch);
        list = RegisterList(operation);
    }
    if (rn == 15) {  // literal
        if (!load) return v.onUndefined(w, 0, c);
        const std::int64_t offset = bits(h2, 11, 0);
        return v.onLoadStore(op | op::kAlignedPc, list.r, kRegPc, kRegNone, bit(h1, 7) ? offset : -offset, c);
    }
    if (bit(h1, 7)) return v.onLoadStore(op, list.r, rn, kRegNone, bits(h2, 11, 0), c);
    if (bit(h2, 11)) {
        const unsigned puw = bits(h2, 10, 8);
        const std::int64_t imm8 = bits(h2, 7, 0);
        switch (puw) {
        case 4: return v.onLoadStore(op, list.r, rn, kRegNone, -imm8, c);
        case 6:
            if (preload) return v.onUndefined(w, 0, c);
            return v.onLoadStore(op | withVariant(Variant::Unprivileged), list.r, rn, kRegNone, imm8, c);
        case 1: case 3: case 5: case 7: {
            if (preload) return v.onUndefined(w, 0, c);
            const bool pre = puw & 4, up = puw & 2;
            op |= op::kWriteBack | (pre ? 0 : op::kPostIndex);
            return v.onLoadStore(op, list.r, rn, kRegNone, up ? imm8 : -imm8, c);
        }
        default: return v.onUndefined(w, 0, c);
        }
    }
    if (bits(h2, 11, 6)) return v.onUndefined(w, 0, c);
    const unsigned amount = bits(h2, 5, 4);
    std::int64_t field = 0;
    if (amount) {
        op |= withShift(Shift::Field);
        field = static_cast<std::int64_t>(lslField(amount, 32));
    }
    return v.onLoadStore(op, list.r, rn, bits(h2, 3, 0), field, c);
}

// ---- Data processing register, multiply, divide (first halfword 1111101x) ----

unsigned registerForms(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const std::uint32_t h1 = first(w), h2 = second(w);
    const unsigned rn = bits(h1, 3, 0), rd = bits(h2, 11, 8), rm = bits(h2, 3, 0);
    if (bits(h2, 15, 12) != 15) return v.onUndefined(w, 0, c);
    op |= kWord2;
    const std::uint32_t add = withClass(DpClass::Add);
    if (!bit(h1, 7)) {
        if (!bit(h2, 7)) {  // LSL/LSR/ASR/ROR by register
            if (bits(h2, 6, 4)) return v.onUndefined(w, 0, c);
            op |= add | registerShift(bits(h1, 6, 5)) | (bit(h1, 4) ? op::kSetFlags : 0);
            return dp(v, c, op, rd, kRegNone, rn, rm);
        }
        // SXTAH/SXTH, UXTAH/UXTH, SXTAB16, UXTAB16, SXTAB/SXTB, UXTAB/UXTB
        const unsigned kind = bits(h1, 6, 4), rotation = 8 * bits(h2, 5, 4);
        if (kind >= 6 || kind == 2 || kind == 3 || bit(h2, 6)) return v.onUndefined(w, kind < 6 ? 1 : 0, c);
        const unsigned width = kind >= 4 ? 8 : 16;
        op |= add | withShift(Shift::Field) | ((kind & 1) ? 0 : op::kSigned);
        if (rn == 15) {
            if (rotation + width > 32) return v.onUndefined(w, 1, c);
            return dp(v, c, op, rd, kRegNone, rm, bitField(rotation, rotation + width - 1));
        }
        if (rotation) return v.onUndefined(w, 1, c);
        return dp(v, c, op, rd, rn, rm, extendField(width, 0, 32));
    }
    if (bits(h2, 7, 6) != 2) return v.onUndefined(w, 1, c);  // parallel add/subtract
    if (bits(h1, 7, 6) != 2) return v.onUndefined(w, bits(h1, 6, 5) == 2 ? 1 : 0, c);  // CRC32
    const unsigned op1 = bits(h1, 5, 4), op2 = bits(h2, 5, 4);
    if (op1 == 1 && op2 < 3) {
        if (rn != rm) return v.onUndefined(w, 0, c);
        static constexpr DpClass kClasses[3] = {DpClass::Rev, DpClass::Rev16, DpClass::Rbit};
        return dp(v, c, op | withClass(kClasses[op2]), rd, rm, kRegNone, 0);
    }
    if (op1 == 3 && op2 == 0) {
        if (rn != rm) return v.onUndefined(w, 0, c);
        return dp(v, c, op | withClass(DpClass::Clz), rd, rm, kRegNone, 0);
    }
    return v.onUndefined(w, 1, c);  // saturating arithmetic, SEL, REVSH
}

unsigned multiply(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const std::uint32_t h1 = first(w), h2 = second(w);
    const unsigned rn = bits(h1, 3, 0), ra = bits(h2, 15, 12), rd = bits(h2, 11, 8), rm = bits(h2, 3, 0);
    const unsigned op1 = bits(h1, 6, 4), op2 = bits(h2, 7, 4);
    if (!bit(h1, 7)) {
        if (op1 != 0 || op2 > 1) return v.onUndefined(w, 1, c);  // halfword and dual multiplies
        op |= kWord2 | withClass(DpClass::Madd);
        if (op2 == 1) return dp(v, c, op | op::kSubtract, rd, rn, rm, ra);  // MLS
        return dp(v, c, op, rd, rn, rm, ra == 15 ? kRegNone : ra);         // MLA, MUL
    }
    const unsigned lo = ra, hi = rd;
    switch ((op1 << 4) | op2) {
    case 0x00: case 0x20: case 0x40: case 0x60: {  // SMULL, UMULL, SMLAL, UMLAL
        op |= sizes(kDouble, kWord) | withClass(DpClass::Madd) | ((op1 & 2) ? 0 : op::kSigned);
        const unsigned accumulator = (op1 & 4) ? lo : kRegNone;
        return dp(v, c, op, lo, rn, rm, accumulator | (hi << 8));
    }
    case 0x1F: case 0x3F:  // SDIV, UDIV
        if (ra != 15) return v.onUndefined(w, 0, c);
        return dp(v, c, op | kWord2 | withClass(DpClass::Div) | ((op1 & 2) ? 0 : op::kSigned), rd, rn, rm, 0);
    default: return v.onUndefined(w, 1, c);
    }
}

unsigned coprocessorLoadStore(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const std::uint32_t a32Layout = (first(w) << 16) | second(w);
    if (bits(first(w), 3, 0) == 15) op |= op::kAlignedPc;
    return floatLoadStore(a32Layout, w, op, v, c);
}

unsigned immediateOrBranch(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    if (bit(second(w), 15)) return branches(w, op, v, c);
    if (bit(first(w), 9)) return plainImmediate(w, op, v, c);
    return modifiedImmediate(w, op, v, c);
}

constexpr Pattern kMultipleDual[] = {
    {0x0040, 0x0000, 0, loadStoreMultiple},
    {0x0040, 0x0040, 0, dualExclusive},
};
constexpr Pattern kShiftedRegister[] = {{0, 0, 0, shiftedRegister}};
constexpr Pattern kCoprocessorLoadStore[] = {{0, 0, 0, coprocessorLoadStore}};
constexpr Pattern kCoprocessorOther[] = {{0, 0, 0, unimplemented}};
constexpr Pattern kImmediateBranch[] = {{0, 0, 0, immediateOrBranch}};
constexpr Pattern kSingle[] = {
    {0x0110, 0x0100, 0, unimplemented},  // vector element and structure loads/stores
    {0, 0, 0, loadStoreSingle},
};
constexpr Pattern kRegisterMultiply[] = {
    {0x0100, 0x0000, 0, registerForms},
    {0x0100, 0x0100, 0, multiply},
};

constexpr PatternGroup kWideGroups[16] = {
    kEmptyGroup, kEmptyGroup, kEmptyGroup, kEmptyGroup,
    group(kMultipleDual), group(kShiftedRegister), group(kCoprocessorLoadStore), group(kCoprocessorOther),
    group(kImmediateBranch), group(kImmediateBranch), group(kImmediateBranch), group(kImmediateBranch),
    group(kSingle), group(kRegisterMultiply), kEmptyGroup, group(kCoprocessorOther),
};

}  // namespace

unsigned decodeThumbWide(std::uint32_t instruction, const Visitor& v, void* context) {
    return dispatch(kWideGroups[(instruction >> 9) & 15], instruction, withCondition(kCondAlways), v, context);
}

}  // namespace coresift::decode::arm

#endif
