#include "analyzer/diagnosis/fault_evaluation.h"

#include <cstring>

#include "analyzer/decode/decoder.h"
#include "analyzer/decode/value_math.h"
#include "analyzer/diagnosis/transfer_layout.h"
#include "analyzer/process/address_space.h"

namespace coresift {

namespace {

using namespace decode;

constexpr unsigned kListBound = 40;  // more registers than any transfer list holds

struct Evaluation {
    AddressSpace& space;
    const RegisterState& regs;
    InstructionSet set;
    TargetWord address;  // the instruction's address, bit 0 clear
    FaultEvaluation result;

    // The value an operand register reads: the zero register reads 0, the PC its pipeline value
    // (word-aligned when it is a base: literal loads), vector registers 0.
    TargetWord value(unsigned r, bool asBase = false) const {
        if (r == kRegPc) {
            const TargetWord pc = pcValue(set, address);
            return asBase ? pc & ~TargetWord{3} : pc;
        }
        if (!isValueRegister(r)) return 0;
        return regs.r[r];
    }
};

// Whether a region's bytes can be had: regions without a source read as zeros, which stands for
// memory only where the process could have written it (not code or read-only data missing from
// the dump).
bool present(const MapEntry& region) { return !region.readsAsZeros() || (region.kind & region_kind::kWrite); }

// Checks one access of `bytes` bytes at `at`; the code it earns.
FaultCode checkAccess(Evaluation& e, TargetWord at, unsigned bytes, bool load, bool store, unsigned alignment) {
    const MapEntry* region = e.space.regionAt(at);
    const FaultCode denied = store && !load ? FaultCode::BadStore : FaultCode::BadLoad;
    if (!region) return denied;
    if (load && !(region->kind & region_kind::kRead)) return FaultCode::BadLoad;
    if (store && !(region->kind & region_kind::kWrite)) return FaultCode::BadStore;
    if (alignment > 1 && at % alignment != 0) return FaultCode::Unaligned;
    std::uint8_t scratch[16];
    if (!present(*region)) return FaultCode::Unreadable;
    if (!e.space.readMemory(at, scratch, bytes > sizeof scratch ? sizeof scratch : bytes)) return FaultCode::Unreadable;
    return FaultCode::Runs;
}

// Records the failing access and stops the evaluation.
unsigned fail(Evaluation& e, FaultCode code, TargetWord at, bool store, unsigned reg) {
    e.result.code = code;
    e.result.address = at;
    if (store) e.result.value = e.value(reg);
    return 1;
}

unsigned onUndefined(std::uint32_t, unsigned unimplemented, void* c) {
    static_cast<Evaluation*>(c)->result.code = unimplemented ? FaultCode::Unreadable : FaultCode::Undefined;
    return 0;
}
unsigned onBranch(std::uint32_t, std::int64_t, unsigned, unsigned, void* c) {
    static_cast<Evaluation*>(c)->result.code = FaultCode::Runs;
    return 0;
}
unsigned onDataProcessing(std::uint32_t, unsigned, unsigned, unsigned, std::uint64_t, void* c) {
    static_cast<Evaluation*>(c)->result.code = FaultCode::Runs;
    return 0;
}
unsigned onSystem(std::uint32_t, std::uint64_t, void* c) {
    static_cast<Evaluation*>(c)->result.code = FaultCode::Runs;
    return 0;
}

unsigned onLoadStore(std::uint32_t op, const std::uint8_t* list, unsigned base, unsigned index, std::int64_t offset,
                     void* c) {
    auto& e = *static_cast<Evaluation*>(c);
    e.result.code = FaultCode::Runs;
    const Variant variant = variantOf(op);
    if (variant == Variant::Prefetch) return 0;
    const bool multiple = has(op, op::kMultiple);
    bool load = has(op, op::kLoad), store = !load;
    const TargetWord baseValue = e.value(base, true);
    unsigned count = 0;
    while (count < kListBound && list[count] != kRegListEnd) ++count;

    if (variant == Variant::TableBranch) {
        const unsigned bytes = elementSizeOf(op) == kHalf ? 2 : 1;
        const TargetWord at = baseValue + (e.value(index) << (bytes - 1));
        const FaultCode code = checkAccess(e, at, bytes, true, false, 1);
        return code == FaultCode::Runs ? 0 : fail(e, code, at, false, 0);
    }
    if (isAtomicUpdate(variant)) {  // read-modify-write at the base address
        const unsigned bytes = count ? transferBytes(op, list[0], false) : 1u << elementSizeOf(op);
        load = store = true;
        const FaultCode code = checkAccess(e, baseValue, bytes, true, true, bytes);
        const unsigned operand = isValueRegister(index) ? index : (count ? list[0] : kRegNone);
        return code == FaultCode::Runs ? 0 : fail(e, code, baseValue, code == FaultCode::BadStore, operand);
    }

    TargetWord at;
    if (multiple) {
        at = multipleStart(variant, baseValue, offset);
    } else {
        TargetWord displacement = static_cast<TargetWord>(offset);
        const bool statusStore = store && (variant == Variant::Exclusive || variant == Variant::OrderedExclusive);
        if (index != kRegNone && !statusStore) {
            std::uint64_t v = e.value(index);
            if (shiftOf(op) == Shift::Field)
                v = applyField(v, static_cast<std::uint64_t>(offset), has(op, op::kSigned), kIs64 ? 64 : 32);
            displacement = isSubtract(op) ? static_cast<TargetWord>(0 - v) : static_cast<TargetWord>(v);
        }
        at = has(op, op::kPostIndex) ? baseValue : baseValue + displacement;
    }
    for (unsigned i = 0; i < count; ++i) {
        const unsigned bytes = transferBytes(op, list[i], multiple);
        const unsigned alignment = requiredAlignment(op, bytes, count, isVectorRegister(list[i]));
        const FaultCode code = checkAccess(e, at, bytes, load, store, alignment);
        if (code != FaultCode::Runs) return fail(e, code, at, store, list[i]);
        at += bytes;
    }
    return 0;
}

constexpr Visitor kEvaluationVisitor = {onUndefined, onBranch, onDataProcessing, onLoadStore, onSystem};

}  // namespace

unsigned requiredAlignment(std::uint32_t op, unsigned elementBytes, unsigned transferCount, bool vector) {
    const Variant variant = variantOf(op);
    const bool exclusive = variant == Variant::Exclusive || variant == Variant::OrderedExclusive;
    if (exclusive) return transferCount == 2 ? 2 * elementBytes : elementBytes;
    if (variant == Variant::Ordered || variant == Variant::OrderedUnscaled) return elementBytes;
    if (isAtomicUpdate(variant)) return elementBytes;
    if constexpr (!kIs64) {
        if (has(op, op::kMultiple)) return 4;          // LDM/STM, PUSH/POP, VLDM/VSTM
        if (vector) return 4;                          // VLDR/VSTR
        if (transferCount == 2) return 4;              // LDRD/STRD
    }
    return 1;
}

FaultEvaluation evaluateFault(AddressSpace& space, const RegisterState& registers) {
    const TargetWord pc = registers.r[kRegPc];
    const InstructionSet set = setOfAddress(pc);
    Evaluation e{space, registers, set, pc & ~TargetWord{1}, {}};
    e.result.address = e.address;
    e.result.code = FaultCode::BadPc;
    if (set == InstructionSet::Arm && (pc & 2)) return e.result;
    const MapEntry* region = space.regionAt(e.address);
    if (!region || !(region->kind & region_kind::kExecute)) return e.result;

    e.result.code = FaultCode::Unreadable;
    if (!present(*region)) return e.result;
    std::uint32_t word = 0;
    if (set == InstructionSet::Thumb) {
        std::uint16_t halves[2] = {};
        if (!space.readMemory(e.address, &halves[0], 2)) return e.result;
        const bool wide = thumbLength(halves[0]) == 4;
        if (wide && !space.readMemory(e.address + 2, &halves[1], 2)) return e.result;
        word = halves[0] | (std::uint32_t{halves[1]} << 16);
        e.result.value = wide ? (std::uint32_t{halves[0]} << 16) | halves[1] : halves[0];
    } else {
        if (!space.readMemory(e.address, &word, 4)) return e.result;
        e.result.value = word;
    }
    unsigned length = 0;
    decodeInstruction(set, word, length, kEvaluationVisitor, &e);
    return e.result;
}

}  // namespace coresift
