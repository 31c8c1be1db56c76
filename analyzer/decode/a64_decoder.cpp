// The A64 front-end: group selection by bits 28..25, branches, exception generation and system
// instructions. Data processing and loads/stores live in their own files.
#include "common/target_word.h"
#if CORESIFT_TARGET_BITS == 64  // the A64 front-end exists in CoreSift64 only

#include "analyzer/decode/a64_groups.h"

namespace coresift::decode {
namespace a64 {
namespace {

unsigned immediateBranch(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    if (bit(w, 31)) op |= op::kLink;
    return v.onBranch(op, signExtend(bits(w, 25, 0), 26) * 4, kRegNone, 0, c);
}

unsigned compareBranch(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    op = (op & ~withCondition(15)) | sizeTemplate(bit(w, 31)) | op::kCompareZero | withCondition(bit(w, 24));
    return v.onBranch(op, signExtend(bits(w, 23, 5), 19) * 4, zrOr(bits(w, 4, 0)), 0, c);
}

unsigned testBranch(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const unsigned number = (bit(w, 31) << 5) | bits(w, 23, 19);
    op = (op & ~withCondition(15)) | sizeTemplate(bit(w, 31)) | op::kTestBit | withCondition(bit(w, 24));
    return v.onBranch(op, signExtend(bits(w, 18, 5), 14) * 4, zrOr(bits(w, 4, 0)), number, c);
}

unsigned conditionalBranch(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    if (bit(w, 24) || bit(w, 4)) return v.onUndefined(w, 0, c);
    op = (op & ~withCondition(15)) | withCondition(bits(w, 3, 0));
    return v.onBranch(op, signExtend(bits(w, 23, 5), 19) * 4, kRegNone, 0, c);
}

unsigned exceptionGeneration(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    SystemOp s;
    switch ((bits(w, 23, 21) << 5) | bits(w, 4, 0)) {
    case 0x01: s = SystemOp::Svc; break;
    case 0x02: s = SystemOp::Hvc; break;
    case 0x03: s = SystemOp::Smc; break;
    case 0x20: s = SystemOp::Brk; break;
    case 0x40: s = SystemOp::Hlt; break;
    case 0xA1: s = SystemOp::Dcps1; break;
    case 0xA2: s = SystemOp::Dcps2; break;
    case 0xA3: s = SystemOp::Dcps3; break;
    default: return v.onUndefined(w, 0, c);
    }
    return v.onSystem(op | withSystem(s), bits(w, 20, 5), c);
}

unsigned system(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const unsigned l = bit(w, 21), op0 = bits(w, 20, 19), op1 = bits(w, 18, 16), crn = bits(w, 15, 12);
    const unsigned crm = bits(w, 11, 8), op2 = bits(w, 7, 5), rt = bits(w, 4, 0);
    if (l == 0 && op0 == 0 && rt == 31) {
        if (op1 == 3 && crn == 2) {  // hints
            const unsigned hint = (crm << 3) | op2;
            if (hint > 7) return v.onUndefined(w, 1, c);
            static constexpr SystemOp kHints[8] = {SystemOp::Nop, SystemOp::Yield, SystemOp::Wfe, SystemOp::Wfi,
                                                   SystemOp::Sev, SystemOp::Sevl, SystemOp::Nop, SystemOp::Nop};
            return v.onSystem(op | withSystem(kHints[hint]), 0, c);
        }
        if (op1 == 3 && crn == 3) {  // barriers
            switch (op2) {
            case 2: return v.onSystem(op | withSystem(SystemOp::Clrex), crm, c);
            case 4: return v.onSystem(op | withSystem(SystemOp::Dsb), crm, c);
            case 5: return v.onSystem(op | withSystem(SystemOp::Dmb), crm, c);
            case 6: return v.onSystem(op | withSystem(SystemOp::Isb), crm, c);
            default: return v.onUndefined(w, 1, c);
            }
        }
        if (crn == 4) {  // MSR to a processor state field
            if (op1 == 0 && op2 == 5) return v.onSystem(op | withSystem(SystemOp::MsrSpSel), crm, c);
            if (op1 == 3 && op2 == 6) return v.onSystem(op | withSystem(SystemOp::MsrDaifSet), crm, c);
            if (op1 == 3 && op2 == 7) return v.onSystem(op | withSystem(SystemOp::MsrDaifClr), crm, c);
        }
    }
    return v.onUndefined(w, 1, c);
}

// Branch to register. Besides the plain BR/BLR/RET, the pointer-authenticating forms (BRAA, BLRAA,
// RETAA and their variants) are taken as the plain forms: they are ordinary returns and calls in
// code built for current devices, and their authentication changes no address a client computes.
unsigned registerBranch(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const unsigned opc = bits(w, 24, 21), op2 = bits(w, 20, 16), op3 = bits(w, 15, 10);
    const unsigned rn = bits(w, 9, 5), op4 = bits(w, 4, 0);
    if (op2 != 31) return v.onUndefined(w, 0, c);
    const bool plain = op3 == 0 && op4 == 0;
    const bool authenticatedZero = (op3 == 2 || op3 == 3) && op4 == 31;  // BRAAZ, BLRAAZ, RETAA...
    const bool authenticatedModifier = op3 == 2 || op3 == 3;             // BRAA, BLRAA (op4 = modifier)
    switch (opc) {
    case 0: case 1:
        if (!plain && !authenticatedZero) break;
        return v.onBranch(op | op::kRegisterTarget | (opc ? op::kLink : 0), 0, zrOr(rn), 0, c);
    case 2:
        if (plain) return v.onBranch(op | op::kRegisterTarget | op::kReturn, 0, zrOr(rn), 0, c);
        if (!(authenticatedZero && rn == 31)) break;
        return v.onBranch(op | op::kRegisterTarget | op::kReturn, 0, kRegLr, 0, c);  // RETAA/RETAB return through X30
    case 4:
        if (rn != 31 || !(plain || authenticatedZero)) break;
        return v.onSystem(op | withSystem(SystemOp::Eret), 0, c);
    case 5:
        if (rn != 31 || !plain) break;
        return v.onSystem(op | withSystem(SystemOp::Drps), 0, c);
    case 8: case 9:
        if (!authenticatedModifier) break;
        return v.onBranch(op | op::kRegisterTarget | (opc == 9 ? op::kLink : 0), 0, zrOr(rn), 0, c);
    default: break;
    }
    return v.onUndefined(w, 0, c);
}

constexpr Pattern kBranchSystem[] = {
    {0x7C000000, 0x14000000, 0, immediateBranch},
    {0x7E000000, 0x34000000, 0, compareBranch},
    {0xFE000000, 0x54000000, 0, conditionalBranch},
    {0xFF000000, 0xD4000000, 0, exceptionGeneration},
    {0xFFC00000, 0xD5000000, 0, system},
};
constexpr Pattern kBranchTest[] = {
    {0x7C000000, 0x14000000, 0, immediateBranch},
    {0x7E000000, 0x36000000, 0, testBranch},
    {0xFE000000, 0xD6000000, 0, registerBranch},
};
constexpr Pattern kSimd[] = {
    {0, 0, 0, unimplemented},  // SIMD and floating-point data processing
};

}  // namespace
}  // namespace a64

namespace {
constexpr PatternGroup kSimdGroup = group(a64::kSimd);
constexpr PatternGroup kBranchSystemGroup = group(a64::kBranchSystem);
constexpr PatternGroup kBranchTestGroup = group(a64::kBranchTest);
// Indexed by bits 28..25.
constexpr const PatternGroup* kA64Groups[16] = {
    &kEmptyGroup, &kEmptyGroup, &kEmptyGroup, &kEmptyGroup,
    &a64::kLoadStorePairGroup, &a64::kRegisterArithmeticGroup, &a64::kLoadStorePairGroup, &kSimdGroup,
    &a64::kPcRelativeAndAddGroup, &a64::kLogicalMoveBitfieldGroup, &kBranchSystemGroup, &kBranchTestGroup,
    &a64::kLoadStoreRegisterGroup, &a64::kRegisterOtherGroup, &a64::kLoadStoreRegisterGroup, &kSimdGroup,
};
}  // namespace

unsigned decodeA64(std::uint32_t instruction, unsigned& length, const Visitor& visitor, void* context) {
    length = 4;
    return dispatch(*kA64Groups[(instruction >> 25) & 15], instruction, withCondition(kCondAlways), visitor, context);
}

unsigned decodeInstruction(InstructionSet set, std::uint32_t instruction, unsigned& length, const Visitor& visitor,
                           void* context) {
    if (set == InstructionSet::A64) return decodeA64(instruction, length, visitor, context);
    length = set == InstructionSet::Thumb ? thumbLength(static_cast<std::uint16_t>(instruction)) : 4;
    return visitor.onUndefined(instruction, 0, context);
}

}  // namespace coresift::decode

#endif
