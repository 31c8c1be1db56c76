// Register, flag and memory effects of an instruction, read off the normalized form.
#include "analyzer/decode/effects.h"

namespace coresift::decode {
namespace {

void use(Effects& e, unsigned r, bool write) {
    if (isValueRegister(r)) (write ? e.written : e.read) |= std::uint64_t{1} << r;
    else if (isVectorRegister(r)) (write ? e.vectorWritten : e.vectorRead) |= std::uint64_t{1} << (r - kRegVector0);
}
void read(Effects& e, unsigned r) { use(e, r, false); }
void write(Effects& e, unsigned r) { use(e, r, true); }

unsigned onUndefined(std::uint32_t, unsigned unimplemented, void* context) {
    auto& e = *static_cast<Effects*>(context);
    (unimplemented ? e.unimplemented : e.undefined) = true;
    return 0;
}

unsigned onBranch(std::uint32_t op, std::int64_t, unsigned r, unsigned, void* context) {
    auto& e = *static_cast<Effects*>(context);
    e.branches = true;
    write(e, kRegPc);
    if (has(op, op::kRegisterTarget) || has(op, op::kCompareZero) || has(op, op::kTestBit)) read(e, r);
    if (has(op, op::kLink)) {
        e.calls = true;
        write(e, kRegLr);
    }
    if (isConditional(op) && !has(op, op::kCompareZero) && !has(op, op::kTestBit)) e.readsFlags = true;
    return 0;
}

unsigned onDataProcessing(std::uint32_t op, unsigned rd, unsigned rn, unsigned rm, std::uint64_t imm, void* context) {
    auto& e = *static_cast<Effects*>(context);
    const DpClass cls = classOf(op);
    write(e, rd);
    read(e, rn);
    read(e, rm);
    if (has(op, op::kShiftByRegister)) read(e, static_cast<unsigned>(imm));
    if (cls == DpClass::Madd) {
        const unsigned accumulator = static_cast<unsigned>(imm & 0xFF);
        read(e, accumulator);
        if (!kIs64 && sizeOf(op) > sourceSizeOf(op)) {  // 32-bit long multiply: RdLo, RdHi pair
            const unsigned high = static_cast<unsigned>((imm >> 8) & 0xFF);
            write(e, high);
            if (accumulator != kRegNone) read(e, high);
        }
    }
    if (cls == DpClass::Bfxil) read(e, rd);
    if (cls == DpClass::Adrp) read(e, kRegPc);
    if (rd == kRegPc) e.branches = true;
    if (has(op, op::kSetFlags)) e.writesFlags = true;
    if (has(op, op::kCarry) && cls != DpClass::Csel) e.readsFlags = true;
    if (shiftOf(op) == Shift::Rrx) e.readsFlags = true;
    if (isConditional(op)) e.readsFlags = true;
    return 0;
}

unsigned onLoadStore(std::uint32_t op, const std::uint8_t* list, unsigned base, unsigned index, std::int64_t,
                     void* context) {
    auto& e = *static_cast<Effects*>(context);
    const Variant variant = variantOf(op);
    const bool load = has(op, op::kLoad);
    read(e, base);
    if (isConditional(op)) e.readsFlags = true;
    if (variant == Variant::Prefetch) {
        read(e, index);
        return 0;
    }
    if (has(op, op::kWriteBack)) write(e, base);
    if (variant == Variant::TableBranch) {
        read(e, index);
        e.loads = e.branches = true;
        write(e, kRegPc);
        return 0;
    }
    const bool status = variant == Variant::Exclusive || variant == Variant::OrderedExclusive;
    if (variant == Variant::CompareSwap || variant == Variant::Swap || variant >= Variant::AtomicAdd) {
        read(e, index);
        e.loads = load;
        e.stores = true;
        for (unsigned i = 0; list[i] != kRegListEnd && i < 40; ++i) {
            if (variant == Variant::CompareSwap) read(e, list[i]);
            if (load) write(e, list[i]);
        }
        return 0;
    }
    if (status && !load) write(e, index);
    else read(e, index);
    (load ? e.loads : e.stores) = true;
    for (unsigned i = 0; list[i] != kRegListEnd && i < 40; ++i) {
        use(e, list[i], load);
        if (load && list[i] == kRegPc) e.branches = true;
    }
    return 0;
}

unsigned onSystem(std::uint32_t op, std::uint64_t, void* context) {
    auto& e = *static_cast<Effects*>(context);
    if (isConditional(op) && systemOpOf(op) != SystemOp::It) e.readsFlags = true;
    return 0;
}

}  // namespace

const Visitor kEffectsVisitor = {onUndefined, onBranch, onDataProcessing, onLoadStore, onSystem};

Effects effectsOf(InstructionSet set, std::uint32_t word, unsigned& length) {
    Effects e;
    decodeInstruction(set, word, length, kEffectsVisitor, &e);
    return e;
}

}  // namespace coresift::decode
