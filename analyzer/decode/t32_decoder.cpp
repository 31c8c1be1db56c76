// The T32 front-end, 16-bit encodings (groups by bits 15..12), and the length rule: a first
// halfword from 0xE800 up starts a 32-bit instruction, handled in t32_wide.cpp.
#include "common/target_word.h"
#if CORESIFT_TARGET_BITS == 32  // the A32 and T32 front-ends exist in CoreSift only

#include "analyzer/decode/arm_shared.h"

namespace coresift::decode {
namespace arm {

unsigned decodeThumbWide(std::uint32_t instruction, const Visitor& v, void* context);

namespace {

// 16-bit data processing sets the flags outside an IT block; the decoder reports the form as it
// reads outside one (clients that follow IT blocks clear the flag, see it_block.h).
constexpr std::uint32_t kWord2 = sizes(kWord, kWord);
constexpr std::uint32_t kMove = kWord2 | withClass(DpClass::Add);

unsigned dp(const Visitor& v, void* c, std::uint32_t op, unsigned rd, unsigned rn, unsigned rm, std::uint64_t imm) {
    return v.onDataProcessing(op, rd, rn, rm, imm, c);
}

unsigned shiftImmediate(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const ShiftedOperand s = immediateShift(bits(w, 12, 11), bits(w, 10, 6));
    return dp(v, c, op | kMove | op::kSetFlags | s.opBits, bits(w, 2, 0), kRegNone, bits(w, 5, 3), s.field);
}

unsigned addSubtractRegister(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    op |= kMove | op::kSetFlags | (bit(w, 9) ? op::kSubtract : 0);
    if (bit(w, 10)) return dp(v, c, op, bits(w, 2, 0), bits(w, 5, 3), kRegNone, bits(w, 8, 6));
    return dp(v, c, op, bits(w, 2, 0), bits(w, 5, 3), bits(w, 8, 6), 0);
}

unsigned moveCompareImmediate(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const unsigned rdn = bits(w, 10, 8);
    const std::uint64_t imm = bits(w, 7, 0);
    op |= kMove | op::kSetFlags;
    switch (bits(w, 12, 11)) {
    case 0: return dp(v, c, op, rdn, kRegNone, kRegNone, imm);                    // MOVS
    case 1: return dp(v, c, op | op::kSubtract, kRegNone, rdn, kRegNone, imm);    // CMP
    case 2: return dp(v, c, op, rdn, rdn, kRegNone, imm);                         // ADDS
    default: return dp(v, c, op | op::kSubtract, rdn, rdn, kRegNone, imm);        // SUBS
    }
}

unsigned dataProcessingRegister(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const unsigned rdn = bits(w, 2, 0), rm = bits(w, 5, 3);
    op |= kWord2 | op::kSetFlags;
    const std::uint32_t add = withClass(DpClass::Add);
    switch (bits(w, 9, 6)) {
    case 0: return dp(v, c, op | withClass(DpClass::And), rdn, rdn, rm, 0);
    case 1: return dp(v, c, op | withClass(DpClass::Eor), rdn, rdn, rm, 0);
    case 2: return dp(v, c, op | add | registerShift(0), rdn, kRegNone, rdn, rm);
    case 3: return dp(v, c, op | add | registerShift(1), rdn, kRegNone, rdn, rm);
    case 4: return dp(v, c, op | add | registerShift(2), rdn, kRegNone, rdn, rm);
    case 5: return dp(v, c, op | add | op::kCarry, rdn, rdn, rm, 0);
    case 6: return dp(v, c, op | add | op::kCarry | op::kSubtract, rdn, rdn, rm, 0);
    case 7: return dp(v, c, op | add | registerShift(3), rdn, kRegNone, rdn, rm);
    case 8: return dp(v, c, op | withClass(DpClass::And), kRegNone, rdn, rm, 0);          // TST
    case 9: return dp(v, c, op | withClass(DpClass::Rsb), rdn, rm, kRegNone, 0);          // RSBS #0
    case 10: return dp(v, c, op | add | op::kSubtract, kRegNone, rdn, rm, 0);             // CMP
    case 11: return dp(v, c, op | add, kRegNone, rdn, rm, 0);                             // CMN
    case 12: return dp(v, c, op | withClass(DpClass::Orr), rdn, rdn, rm, 0);
    case 13: return dp(v, c, op | withClass(DpClass::Madd), rdn, rm, rdn, kRegNone);      // MULS
    case 14: return dp(v, c, op | withClass(DpClass::And) | op::kInverted, rdn, rdn, rm, 0);
    default: return dp(v, c, op | withClass(DpClass::Orr) | op::kInverted, rdn, kRegNone, rm, 0);  // MVNS
    }
}

// ADD, CMP, MOV with high registers; BX and BLX register.
unsigned specialDataAndBranch(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const unsigned rdn = (bit(w, 7) << 3) | bits(w, 2, 0), rm = bits(w, 6, 3);
    switch (bits(w, 9, 8)) {
    case 0: return dp(v, c, op | kMove, rdn, rdn, rm, 0);
    case 1: return dp(v, c, op | kMove | op::kSubtract | op::kSetFlags, kRegNone, rdn, rm, 0);
    case 2: return dp(v, c, op | kMove, rdn, kRegNone, rm, 0);
    default:
        // bits 2..0 should be zero: BLX with other values is undefined, BX is read as its fields say
        if (bit(w, 7) && bits(w, 2, 0)) return v.onUndefined(w, 0, c);
        if (bit(w, 7)) return v.onBranch(op | op::kRegisterTarget | op::kLink | op::kExchange, 0, rm, 0, c);
        if (rm == 14) return v.onBranch(op | op::kRegisterTarget | op::kReturn, 0, rm, 0, c);
        return v.onBranch(op | op::kRegisterTarget | op::kExchange, 0, rm, 0, c);
    }
}

unsigned literalLoad(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    op |= sizes(kWord, 0) | withElement(kWord) | op::kLoad | op::kAlignedPc;
    RegisterList list(bits(w, 10, 8));
    return v.onLoadStore(op, list.r, kRegPc, kRegNone, 4 * bits(w, 7, 0), c);
}

unsigned loadStoreRegister(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    struct Form { unsigned element; bool load, sign; };
    static constexpr Form kForms[8] = {{kWord, false, false}, {kHalf, false, false}, {kByte, false, false},
                                       {kByte, true, true},   {kWord, true, false},  {kHalf, true, false},
                                       {kByte, true, false},  {kHalf, true, true}};
    const Form f = kForms[bits(w, 11, 9)];
    op |= sizes(kWord, 0) | withElement(f.element) | (f.load ? op::kLoad : 0) | (f.sign ? op::kSignExtend : 0);
    RegisterList list(bits(w, 2, 0));
    return v.onLoadStore(op, list.r, bits(w, 5, 3), bits(w, 8, 6), 0, c);
}

// STR/LDR word, byte and halfword with a 5-bit immediate; the element size is in the template.
unsigned loadStoreImmediate(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    op |= sizes(kWord, 0) | (bit(w, 11) ? op::kLoad : 0);
    RegisterList list(bits(w, 2, 0));
    const std::int64_t offset = std::int64_t{bits(w, 10, 6)} << elementSizeOf(op);
    return v.onLoadStore(op, list.r, bits(w, 5, 3), kRegNone, offset, c);
}

unsigned stackRelative(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    op |= sizes(kWord, 0) | withElement(kWord) | (bit(w, 11) ? op::kLoad : 0);
    RegisterList list(bits(w, 10, 8));
    return v.onLoadStore(op, list.r, kRegSp, kRegNone, 4 * bits(w, 7, 0), c);
}

unsigned addressOf(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const std::uint64_t imm = 4 * bits(w, 7, 0);
    if (bit(w, 11)) return dp(v, c, op | kMove, bits(w, 10, 8), kRegSp, kRegNone, imm);
    return dp(v, c, op | kMove | op::kAlignedPc, bits(w, 10, 8), kRegPc, kRegNone, imm);  // ADR
}

unsigned adjustStack(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    op |= kMove | (bit(w, 7) ? op::kSubtract : 0);
    return dp(v, c, op, kRegSp, kRegSp, kRegNone, 4 * bits(w, 6, 0));
}

unsigned compareBranch(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    op = (op & ~withCondition(15)) | withCondition(bit(w, 11)) | sizes(kWord, kWord) | op::kCompareZero;
    const std::int64_t offset = (bit(w, 9) << 6) | (bits(w, 7, 3) << 1);
    return v.onBranch(op, offset, bits(w, 2, 0), 0, c);
}

unsigned extendRegister(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const unsigned kind = bits(w, 7, 6);  // SXTH, SXTB, UXTH, UXTB
    op |= kMove | withShift(Shift::Field) | ((kind & 2) ? 0 : op::kSigned);
    return dp(v, c, op, bits(w, 2, 0), kRegNone, bits(w, 5, 3), extendField((kind & 1) ? 8 : 16, 0, 32));
}

unsigned pushPop(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const bool pop = bit(w, 11);
    const std::uint32_t mask = bits(w, 7, 0) | (bit(w, 8) << (pop ? 15 : 14));
    if (!mask) return v.onUndefined(w, 0, c);
    const std::int64_t size = 4 * popCount(mask);
    op |= sizes(kWord, 0) | withElement(kWord) | op::kMultiple | op::kWriteBack;
    op |= pop ? op::kLoad | withVariant(Variant::MultipleIa) : withVariant(Variant::MultipleDb);
    RegisterList list = listOf(mask);
    return v.onLoadStore(op, list.r, kRegSp, kRegNone, pop ? size : -size, c);
}

unsigned processorState(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    if (bit(w, 4)) return v.onSystem(op | withSystem(SystemOp::MsrDaifSet), bits(w, 2, 0), c);  // CPSID
    return v.onSystem(op | withSystem(SystemOp::MsrDaifClr), bits(w, 2, 0), c);                 // CPSIE
}

unsigned setEndianness(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    return v.onSystem(op | withSystem(SystemOp::Setend), bit(w, 3), c);
}

unsigned reverseBytes(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    static constexpr DpClass kClasses[2] = {DpClass::Rev, DpClass::Rev16};
    const unsigned kind = bits(w, 7, 6);
    if (kind == 2) return v.onSystem(op | withSystem(SystemOp::Hlt), bits(w, 5, 0), c);
    if (kind == 3) return v.onUndefined(w, 1, c);  // REVSH is not modelled
    return dp(v, c, op | kWord2 | withClass(kClasses[kind]), bits(w, 2, 0), bits(w, 5, 3), kRegNone, 0);
}

unsigned breakpoint(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    return v.onSystem(op | withSystem(SystemOp::Brk), bits(w, 7, 0), c);
}

unsigned ifThenAndHints(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    if (bits(w, 3, 0)) {
        // IT: the first condition in the word's condition field, the mask as the immediate.
        op = (op & ~withCondition(15)) | withCondition(bits(w, 7, 4));
        return v.onSystem(op | withSystem(SystemOp::It), bits(w, 7, 0), c);
    }
    static constexpr SystemOp kHints[5] = {SystemOp::Nop, SystemOp::Yield, SystemOp::Wfe, SystemOp::Wfi,
                                           SystemOp::Sev};
    const unsigned hint = bits(w, 7, 4);
    if (hint >= 5) return v.onUndefined(w, 1, c);
    return v.onSystem(op | withSystem(kHints[hint]), 0, c);
}

unsigned loadStoreMultiple(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const unsigned rn = bits(w, 10, 8);
    const std::uint32_t mask = bits(w, 7, 0);
    if (!mask) return v.onUndefined(w, 0, c);
    const bool load = bit(w, 11);
    op |= sizes(kWord, 0) | withElement(kWord) | op::kMultiple | withVariant(Variant::MultipleIa);
    if (load) op |= op::kLoad;
    if (!load || !(mask & (1u << rn))) op |= op::kWriteBack;
    RegisterList list = listOf(mask);
    return v.onLoadStore(op, list.r, rn, kRegNone, 4 * popCount(mask), c);
}

unsigned conditionalBranch(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const unsigned condition = bits(w, 11, 8);
    if (condition == 14) return v.onUndefined(w, 0, c);  // UDF
    if (condition == 15) return v.onSystem(op | withSystem(SystemOp::Svc), bits(w, 7, 0), c);
    op = (op & ~withCondition(15)) | withCondition(condition);
    return v.onBranch(op, signExtend(bits(w, 7, 0) << 1, 9), kRegNone, 0, c);
}

unsigned unconditionalBranch(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    return v.onBranch(op, signExtend(bits(w, 10, 0) << 1, 12), kRegNone, 0, c);
}

constexpr Pattern kShifts[] = {{0xF000, 0x0000, 0, shiftImmediate}};
constexpr Pattern kAddSubtract[] = {
    {0xF800, 0x1000, 0, shiftImmediate},
    {0xF800, 0x1800, 0, addSubtractRegister},
};
constexpr Pattern kImmediate8[] = {{0xE000, 0x2000, 0, moveCompareImmediate}};
constexpr Pattern kDataRegister[] = {
    {0xFC00, 0x4000, 0, dataProcessingRegister},
    {0xFC00, 0x4400, 0, specialDataAndBranch},
    {0xF800, 0x4800, 0, literalLoad},
};
constexpr Pattern kRegisterOffset[] = {{0xF000, 0x5000, 0, loadStoreRegister}};
constexpr Pattern kWordImmediate[] = {{0xF000, 0x6000, withElement(kWord), loadStoreImmediate}};
constexpr Pattern kByteImmediate[] = {{0xF000, 0x7000, withElement(kByte), loadStoreImmediate}};
constexpr Pattern kHalfImmediate[] = {{0xF000, 0x8000, withElement(kHalf), loadStoreImmediate}};
constexpr Pattern kStackRelative[] = {{0xF000, 0x9000, 0, stackRelative}};
constexpr Pattern kAddress[] = {{0xF000, 0xA000, 0, addressOf}};
constexpr Pattern kMiscellaneous[] = {
    {0xFF00, 0xB000, 0, adjustStack},
    {0xF500, 0xB100, 0, compareBranch},
    {0xFF00, 0xB200, 0, extendRegister},
    {0xFE00, 0xB400, 0, pushPop},
    {0xFFE8, 0xB660, 0, processorState},
    {0xFFF7, 0xB650, 0, setEndianness},
    {0xFF00, 0xBA00, 0, reverseBytes},
    {0xFE00, 0xBC00, 0, pushPop},
    {0xFF00, 0xBE00, 0, breakpoint},
    {0xFF00, 0xBF00, 0, ifThenAndHints},
};
constexpr Pattern kMultiple[] = {{0xF000, 0xC000, 0, loadStoreMultiple}};
constexpr Pattern kConditional[] = {{0xF000, 0xD000, 0, conditionalBranch}};
constexpr Pattern kBranch[] = {{0xF800, 0xE000, 0, unconditionalBranch}};

constexpr PatternGroup kT32NarrowGroups[16] = {
    group(kShifts), group(kAddSubtract), group(kImmediate8), group(kImmediate8),
    group(kDataRegister), group(kRegisterOffset), group(kWordImmediate), group(kByteImmediate),
    group(kHalfImmediate), group(kStackRelative), group(kAddress), group(kMiscellaneous),
    group(kMultiple), group(kConditional), group(kBranch), kEmptyGroup,
};

}  // namespace
}  // namespace arm

unsigned decodeThumb(std::uint32_t instruction, unsigned& length, const Visitor& visitor, void* context) {
    length = thumbLength(static_cast<std::uint16_t>(instruction));
    if (length == 4) return arm::decodeThumbWide(instruction, visitor, context);
    const std::uint32_t halfword = instruction & 0xFFFF;
    return dispatch(arm::kT32NarrowGroups[halfword >> 12], halfword, withCondition(kCondAlways), visitor, context);
}

unsigned decodeInstruction(InstructionSet set, std::uint32_t instruction, unsigned& length, const Visitor& visitor,
                           void* context) {
    if (set == InstructionSet::Arm) return decodeArm(instruction, length, visitor, context);
    if (set == InstructionSet::Thumb) return decodeThumb(instruction, length, visitor, context);
    length = 4;
    return visitor.onUndefined(instruction, 0, context);
}

}  // namespace coresift::decode

#endif
