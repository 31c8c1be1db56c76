// The instruction emulator's visitor slots: register arithmetic, memory through the store log,
// and the control-flow outcome of one instruction.
#include "analyzer/decode/emulator.h"

#include <cstring>
#include <optional>

#include "analyzer/decode/value_math.h"

namespace coresift::decode {

void StoreLog::record(TargetWord address, TargetWord value, unsigned size) {
    for (unsigned i = 0; i < count_; ++i) {
        if (entries_[i].address == address && entries_[i].size == size) {
            entries_[i].value = value;
            return;
        }
    }
    if (count_ < kCapacity) {
        entries_[count_++] = {address, value, size};
        return;
    }
    entries_[next_] = {address, value, size};
    next_ = (next_ + 1) % kCapacity;
}

bool StoreLog::read(const TargetMemory& memory, TargetWord address, unsigned size, std::uint64_t& value) const {
    // The newest store covering exactly this location wins; partial overlaps read the dump.
    for (unsigned i = count_; i-- > 0;) {
        if (entries_[i].address == address && entries_[i].size == size) {
            value = entries_[i].value;
            return true;
        }
    }
    std::uint8_t bytes[8] = {};
    if (size == 0 || size > 8 || !memory.read(address, bytes, size)) return false;
    value = 0;
    std::memcpy(&value, bytes, size);
    return true;
}

struct InstructionEmulator::Step {
    RegisterState& regs;
    const TargetMemory& memory;
    StoreLog& stores;
    InstructionSet set;
    TargetWord address;
    std::uint32_t word;
    StepResult result;

    std::optional<TargetWord> value(unsigned r, bool alignedPc = false) const {
        if (r == kRegNone) return TargetWord{0};
        if (r == kRegPc) {
            const TargetWord pc = pcValue(set, address & ~TargetWord{1});
            return alignedPc ? pc & ~TargetWord{3} : pc;
        }
        if (!regs.known(r)) return std::nullopt;
        return regs.r[r];
    }
    // A write of a destination register; the zero register and vector registers are ignored.
    void write(unsigned r, std::optional<TargetWord> v) {
        if (!isValueRegister(r) || r == kRegPc) return;
        if (v) regs.set(r, *v);
        else regs.forget(r);
    }
    bool thumb() const { return set == InstructionSet::Thumb; }
};

namespace {

using Step = InstructionEmulator::Step;

// Registers an unmodelled encoding may write, by where its encodings keep a destination: A64
// bits 4..0; A32 bits 15..12 (and 19..16 for two-register transfers); T32 the second
// halfword's bits 15..12 and 11..8. Vector structure loads/stores with write-back change their
// base register.
void clobberUnmodelled(Step& s, std::uint32_t w) {
    auto forgetGeneral = [&](unsigned r) {
        if (r != kRegSp && r != kRegPc) s.regs.forget(r);
    };
    if constexpr (kIs64) {
        forgetGeneral(w & 31);
        const bool structure = (w & 0xBF000000) == 0x0C000000 || (w & 0xBF000000) == 0x0D000000;
        if (structure && (w & (1u << 23))) s.regs.forget(((w >> 5) & 31) == 31 ? kRegSp : (w >> 5) & 31);
    } else if (s.set == InstructionSet::Arm) {
        forgetGeneral((w >> 12) & 15);
        if ((w & 0x0FE00000) == 0x0C400000) forgetGeneral((w >> 16) & 15);
        if ((w >> 24) == 0xF4 && (w & 15) != 15) s.regs.forget((w >> 16) & 15);
    } else {
        forgetGeneral((w >> 28) & 15);
        forgetGeneral((w >> 24) & 15);
        if ((w & 0xFF10) == 0xF900 && ((w >> 16) & 15) != 15) s.regs.forget(w & 15);
    }
}

unsigned onUndefined(std::uint32_t w, unsigned unimplemented, void* c) {
    auto& s = *static_cast<Step*>(c);
    if (!unimplemented) s.result.kind = StepResult::Undefined;
    else clobberUnmodelled(s, w);
    return 0;
}

unsigned onBranch(std::uint32_t op, std::int64_t offset, unsigned r, unsigned bitNumber, void* c) {
    auto& s = *static_cast<Step*>(c);
    StepResult& out = s.result;
    const bool link = has(op, op::kLink), exchange = has(op, op::kExchange);
    if (has(op, op::kRegisterTarget)) {
        const auto target = s.value(r);
        out.targetKnown = target.has_value();
        out.target = target.value_or(0);
        if (isConditional(op)) {
            out.kind = StepResult::Next;  // a conditional return or call may not happen
            return 0;
        }
        out.kind = link ? StepResult::Call : StepResult::Return;
        return 0;
    }
    TargetWord pc = s.value(kRegPc).value_or(0);
    if (exchange && s.thumb()) pc &= ~TargetWord{3};
    TargetWord target = pc + static_cast<TargetWord>(offset);
    if constexpr (!kIs64) {
        const bool thumbTarget = s.thumb() != exchange;
        target = thumbTarget ? (target | 1) : (target & ~TargetWord{3});
    }
    out.target = target;
    if (has(op, op::kCompareZero) || has(op, op::kTestBit)) {
        const auto tested = s.value(r);
        if (!tested) {
            out.kind = StepResult::Conditional;
            return 0;
        }
        const bool zero = has(op, op::kCompareZero) ? *tested == 0 : !((*tested >> bitNumber) & 1);
        const bool taken = conditionOf(op) ? !zero : zero;
        out.kind = taken ? StepResult::Jump : StepResult::Next;
        return 0;
    }
    if (isConditional(op)) out.kind = link ? StepResult::Next : StepResult::Conditional;
    else out.kind = link ? StepResult::Call : StepResult::Jump;
    return 0;
}

unsigned onDataProcessing(std::uint32_t op, unsigned rd, unsigned rn, unsigned rm, std::uint64_t imm, void* c) {
    auto& s = *static_cast<Step*>(c);
    const bool longPair = !kIs64 && classOf(op) == DpClass::Madd && sizeOf(op) > sourceSizeOf(op);
    if (longPair) s.write(static_cast<unsigned>((imm >> 8) & 0xFF), std::nullopt);
    if (isConditional(op)) {
        if (rd != kRegPc) s.write(rd, std::nullopt);  // a conditional move to PC may not happen
        return 0;
    }
    const bool aligned = has(op, op::kAlignedPc);
    DpInputs in;
    in.rd = s.value(rd);
    in.rn = s.value(rn, aligned);
    in.rm = s.value(rm, aligned);
    if (has(op, op::kShiftByRegister)) in.shift = s.value(static_cast<unsigned>(imm));
    if (classOf(op) == DpClass::Madd) in.accumulator = s.value(static_cast<unsigned>(imm & 0xFF));
    in.pc = s.value(kRegPc).value_or(0);
    const std::optional<TargetWord> result = longPair ? std::nullopt : evaluate(op, rn, rm, imm, in);
    if (rd == kRegPc) {
        s.result.kind = StepResult::Return;
        s.result.targetKnown = result.has_value();
        s.result.target = result.value_or(0);
        return 0;
    }
    s.write(rd, result);
    return 0;
}

unsigned elementBytes(std::uint32_t op, unsigned reg) {
    if (isVectorRegister(reg)) return 1u << (elementSizeOf(op) > kQuad ? kQuad : elementSizeOf(op));
    return 1u << elementSizeOf(op);
}

// A loaded value, extended to the register as the operation says.
TargetWord extendLoaded(std::uint32_t op, std::uint64_t raw, unsigned bytes) {
    if (has(op, op::kSignExtend) && bytes < 8) {
        const unsigned bits = 8 * bytes;
        if ((raw >> (bits - 1)) & 1) raw |= ~((std::uint64_t{1} << bits) - 1);
        if (sizeOf(op) == kWord) raw &= 0xFFFFFFFFu;
    }
    return static_cast<TargetWord>(raw);
}

// A memory address that may be unknown (kept apart from std::optional for GCC's sake).
struct Where {
    bool known;
    TargetWord address;
};

void loadInto(Step& s, std::uint32_t op, unsigned reg, Where where, unsigned bytes) {
    if (isVectorRegister(reg) || reg == kRegNone) return;
    std::uint64_t raw = 0;
    const bool ok = where.known && s.stores.read(s.memory, where.address, bytes > 8 ? 8 : bytes, raw);
    const std::optional<TargetWord> value = ok ? std::optional<TargetWord>(extendLoaded(op, raw, bytes)) : std::nullopt;
    if (reg == kRegPc) {
        s.result.kind = StepResult::Return;
        s.result.targetKnown = value.has_value();
        s.result.target = value.value_or(0);
        return;
    }
    s.write(reg, value);
}

void storeFrom(Step& s, unsigned reg, Where where, unsigned bytes) {
    if (!where.known || bytes > sizeof(TargetWord)) return;
    const auto value = s.value(reg);
    if (!value || isVectorRegister(reg)) return;
    s.stores.record(where.address, *value & (bytes >= 8 ? ~TargetWord{0} : static_cast<TargetWord>((std::uint64_t{1} << (8 * bytes)) - 1)), bytes);
}

unsigned onLoadStore(std::uint32_t op, const std::uint8_t* list, unsigned base, unsigned index, std::int64_t offset,
                     void* c) {
    auto& s = *static_cast<Step*>(c);
    const Variant variant = variantOf(op);
    const bool load = has(op, op::kLoad), multiple = has(op, op::kMultiple);
    const std::optional<TargetWord> baseValue = s.value(base, has(op, op::kAlignedPc));
    if (variant == Variant::Prefetch) return 0;
    if (isConditional(op)) {  // may or may not happen: what it would write becomes unknown
        if (load)
            for (unsigned i = 0; list[i] != kRegListEnd && i < 40; ++i)
                if (list[i] != kRegPc) s.write(list[i], std::nullopt);
        if (has(op, op::kWriteBack)) s.write(base, std::nullopt);
        return 0;
    }
    if (variant == Variant::TableBranch) {
        const auto indexValue = s.value(index);
        std::uint64_t entry = 0;
        const unsigned bytes = elementSizeOf(op) == kHalf ? 2 : 1;
        const bool ok = baseValue && indexValue &&
                        s.stores.read(s.memory, *baseValue + (*indexValue << (bytes - 1)), bytes, entry);
        s.result.kind = StepResult::Jump;
        s.result.targetKnown = ok;
        s.result.target = (s.value(kRegPc).value_or(0) + static_cast<TargetWord>(2 * entry)) | 1;
        return 0;
    }
    const bool atomic = variant == Variant::CompareSwap || variant == Variant::Swap || variant >= Variant::AtomicAdd;
    if (atomic) {
        for (unsigned i = 0; list[i] != kRegListEnd && i < 40; ++i)
            if (load) s.write(list[i], std::nullopt);
        return 0;
    }
    const bool statusStore = !load && (variant == Variant::Exclusive || variant == Variant::OrderedExclusive);
    if (statusStore) s.write(index, TargetWord{0});  // the exclusive store is taken to succeed

    if (multiple) {
        const std::int64_t total = offset < 0 ? -offset : offset;
        std::optional<TargetWord> address;
        if (baseValue) {
            switch (variant) {
            case Variant::MultipleIa: address = *baseValue; break;
            case Variant::MultipleIb: address = *baseValue + 4; break;
            case Variant::MultipleDa: address = *baseValue - static_cast<TargetWord>(total) + 4; break;
            default: address = *baseValue - static_cast<TargetWord>(total); break;
            }
        }
        std::optional<TargetWord> newBase;
        if (baseValue) newBase = *baseValue + static_cast<TargetWord>(offset);
        if (has(op, op::kWriteBack)) s.write(base, newBase);
        TargetWord at = address.value_or(0);
        for (unsigned i = 0; list[i] != kRegListEnd && i < 40; ++i) {
            const unsigned bytes = isVectorRegister(list[i]) ? elementBytes(op, list[i]) : 4;
            const Where where{address.has_value(), at};
            if (load) loadInto(s, op, list[i], where, bytes);
            else storeFrom(s, list[i], where, bytes);
            at += bytes;
        }
        return 0;
    }

    std::optional<TargetWord> displacement;
    const bool atomicIndex = statusStore;
    if (index != kRegNone && !atomicIndex) {
        const auto indexValue = s.value(index);
        if (indexValue) {
            std::uint64_t v = *indexValue;
            if (shiftOf(op) == Shift::Field) v = applyField(v, static_cast<std::uint64_t>(offset), has(op, op::kSigned), kIs64 ? 64 : 32);
            displacement = isSubtract(op) ? static_cast<TargetWord>(0 - v) : static_cast<TargetWord>(v);
        }
    } else {
        displacement = static_cast<TargetWord>(offset);
    }
    std::optional<TargetWord> address, updated;
    if (baseValue && displacement) updated = *baseValue + *displacement;
    address = has(op, op::kPostIndex) ? baseValue : updated;
    unsigned count = 0;
    while (list[count] != kRegListEnd && count < 2) ++count;
    const unsigned bytes = count ? elementBytes(op, list[0]) : 0;
    for (unsigned i = 0; i < count; ++i) {
        const Where where{address.has_value(), address.value_or(0) + i * bytes};
        if (load) loadInto(s, op, list[i], where, bytes);
        else storeFrom(s, list[i], where, bytes);
    }
    if (has(op, op::kWriteBack)) {
        bool baseLoaded = false;
        for (unsigned i = 0; i < count; ++i) baseLoaded |= load && list[i] == base;
        if (!baseLoaded) s.write(base, updated);
    }
    return 0;
}

unsigned onSystem(std::uint32_t op, std::uint64_t, void* c) {
    auto& s = *static_cast<Step*>(c);
    if (systemOpOf(op) == SystemOp::Svc) s.write(0, std::nullopt);  // the system call's result
    return 0;
}

const Visitor kEmulatorVisitor = {onUndefined, onBranch, onDataProcessing, onLoadStore, onSystem};

}  // namespace

StepResult InstructionEmulator::step(InstructionSet set, TargetWord address, std::uint32_t word, ItBlock* block) {
    Step s{registers_, memory_, stores_, set, address, word, StepResult{}};
    unsigned length = 4;
    if (set == InstructionSet::Thumb && block) decodeThumbInBlock(*block, word, length, kEmulatorVisitor, &s);
    else decodeInstruction(set, word, length, kEmulatorVisitor, &s);
    s.result.length = length;
    return s.result;
}

}  // namespace coresift::decode
