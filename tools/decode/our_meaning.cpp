// The normalizer's reading of this project's decoder: visitor arguments to meaning fields.
#include "tools/decode/our_meaning.h"

#include <cctype>

#include "analyzer/decode/effects.h"
#include "analyzer/decode/printer.h"

namespace decodetools {
namespace {

using namespace coresift::decode;

int canonical(unsigned r) {
    if (r == kRegSp) return kSp;
    if (r == kRegPc) return kPc;
    return static_cast<int>(r);
}
std::uint64_t canonicalMask(std::uint64_t mask) {
    std::uint64_t out = 0;
    for (unsigned r = 0; r < kValueRegisterCount; ++r)
        if (mask >> r & 1) out |= std::uint64_t{1} << canonical(r);
    return out;
}

struct State {
    Meaning m;
    Isa isa;
    std::uint64_t address;
    Effects effects;
};

TargetWord pcOf(const State& s) {
    const InstructionSet set = s.isa == Isa::Arm ? InstructionSet::Arm : s.isa == Isa::Thumb ? InstructionSet::Thumb : InstructionSet::A64;
    return pcValue(set, static_cast<TargetWord>(s.address));
}

unsigned onUndefined(std::uint32_t word, unsigned unimplemented, void* c) {
    auto& s = *static_cast<State*>(c);
    s.m.status = unimplemented ? Status::Unmodelled : Status::Undefined;
    return kEffectsVisitor.onUndefined(word, unimplemented, &s.effects);
}

unsigned onBranch(std::uint32_t op, std::int64_t offset, unsigned r, unsigned bitNumber, void* c) {
    auto& s = *static_cast<State*>(c);
    kEffectsVisitor.onBranch(op, offset, r, bitNumber, &s.effects);
    Meaning& m = s.m;
    m.status = Status::Defined;
    if (has(op, op::kCompareZero)) m.cls = "cbz";
    else if (has(op, op::kTestBit)) m.cls = "tbz";
    else if (has(op, op::kLink)) m.cls = "bl";
    else if (has(op, op::kReturn)) m.cls = "ret";
    else if (has(op, op::kRegisterTarget)) m.cls = "br";
    else m.cls = "b";
    if (!has(op, op::kCompareZero) && !has(op, op::kTestBit)) m.condition = static_cast<int>(conditionOf(op) == 15 ? 14 : conditionOf(op));
    if (!has(op, op::kRegisterTarget)) {
        TargetWord pc = pcOf(s);
        if (has(op, op::kExchange) && s.isa == Isa::Thumb) pc &= ~TargetWord{3};
        m.hasTarget = true;
        m.target = static_cast<TargetWord>(pc + static_cast<TargetWord>(offset));
    }
    return 0;
}

std::string fieldClass(std::uint32_t op, std::uint64_t field) {
    const FieldMeaning f = interpretField(field, has(op, op::kSigned), sizeOf(op) == kDouble ? 64 : 32);
    if (f.kind == FieldKind::Lsl || f.kind == FieldKind::Lsr || f.kind == FieldKind::Asr || f.kind == FieldKind::Ror)
        return f.amount == 0 ? "mov" : "shift";
    return "bitfield";
}

std::string moveClass(std::uint32_t op, unsigned rm, std::uint64_t imm) {
    if (rm == kRegNone || shiftOf(op) == Shift::None) return "mov";
    if (shiftOf(op) == Shift::Field) return fieldClass(op, imm);
    return "shift";
}

std::string dpClass(std::uint32_t op, unsigned rd, unsigned rn, unsigned rm, std::uint64_t imm) {
    const bool sub = isSubtract(op), inverted = isInvertedOnly(op), carry = has(op, op::kCarry);
    const bool compare = rd == kRegNone && has(op, op::kSetFlags);
    const bool address = rn == kRegPc && rm == kRegNone && !has(op, op::kSetFlags);
    switch (classOf(op)) {
    case DpClass::Add:
        if (carry) return sub ? "sbc" : "adc";
        // = rn == kRegPc && rm == kRegNone && !has(op, op::kSetFlags);
        if (sub) return compare ? "cmp" : rn == kRegNone ? "neg" : address ? "adr" : "sub";
        if (compare) return "cmn";
        if (address) return "adr";
        if (rn == kRegNone) return moveClass(op, rm, imm);
        if (rm == kRegNone && imm == 0 && !has(op, op::kTag)) return "mov";
        return "add";
    case DpClass::Rsb: return carry ? "rsc" : "rsb";
    case DpClass::And: return inverted ? "bic" : compare ? "tst" : "and";
    case DpClass::Orr:
        if (inverted) return rn == kRegNone ? "mvn" : "orn";
        return rn == kRegNone ? moveClass(op, rm, imm) : "orr";
    case DpClass::Eor:
        if (inverted) return "eon";
        if (compare) return "teq";
        return rn == kRegNone ? moveClass(op, rm, imm) : "eor";
    case DpClass::Adrp: return "adrp";
    case DpClass::Movk: return "movk";
    case DpClass::Lsl: case DpClass::Lsr: case DpClass::Asr: case DpClass::Ror: return "shift";
    case DpClass::Extr: return rn == rm ? "shift" : "extr";
    case DpClass::Bfxil: return "bitfield";
    case DpClass::Ccmn: return "ccmp";
    case DpClass::Csel: return "csel";
    case DpClass::Rbit: case DpClass::Rev: case DpClass::Rev16: case DpClass::Rev32: return "rev";
    case DpClass::Clz: case DpClass::Cls: return "clz";
    case DpClass::Madd: case DpClass::Mulh: return "mul";
    case DpClass::Div: return "div";
    default: return "???";
    }
}

unsigned onDataProcessing(std::uint32_t op, unsigned rd, unsigned rn, unsigned rm, std::uint64_t imm, void* c) {
    auto& s = *static_cast<State*>(c);
    kEffectsVisitor.onDataProcessing(op, rd, rn, rm, imm, &s.effects);
    Meaning& m = s.m;
    m.status = Status::Defined;
    m.cls = dpClass(op, rd, rn, rm, imm);
    const DpClass cls = classOf(op);
    m.condition = static_cast<int>(conditionOf(op));
    const bool plainImmediate = rm == kRegNone && !has(op, op::kTag) && rn != kRegPc &&
                                (cls == DpClass::Add || cls == DpClass::Rsb || cls == DpClass::And ||
                                 cls == DpClass::Orr || cls == DpClass::Eor);
    if (plainImmediate) {
        m.hasImmediate = true;
        m.immediate = sizeOf(op) == kDouble ? imm : imm & 0xFFFFFFFFu;
    }
    const bool addressOfPc = cls == DpClass::Add && rn == kRegPc && rm == kRegNone &&
                             !has(op, op::kCarry) && !has(op, op::kSetFlags);
    if (cls == DpClass::Adrp || addressOfPc) {
        TargetWord pc = pcOf(s);
        if (has(op, op::kAlignedPc)) pc &= ~TargetWord{3};
        if (cls == DpClass::Adrp) pc &= ~TargetWord{0xFFF};
        m.hasTarget = true;
        m.target = static_cast<TargetWord>(isSubtract(op) ? pc - static_cast<TargetWord>(imm) : pc + static_cast<TargetWord>(imm));
    }
    return 0;
}

unsigned onLoadStore(std::uint32_t op, const std::uint8_t* list, unsigned base, unsigned index, std::int64_t offset, void* c) {
    auto& s = *static_cast<State*>(c);
    kEffectsVisitor.onLoadStore(op, list, base, index, offset, &s.effects);
    Meaning& m = s.m;
    m.status = Status::Defined;
    const Variant v = variantOf(op);
    const bool load = has(op, op::kLoad), multiple = has(op, op::kMultiple);
    if (v == Variant::Prefetch) m.cls = "prefetch";
    else if (v == Variant::TableBranch) m.cls = "tb";
    else if (v == Variant::CompareSwap) m.cls = "cas";
    else if (v == Variant::Swap) m.cls = "swap";
    else if (v >= Variant::AtomicAdd) m.cls = "atomic";
    else if (multiple) m.cls = load ? "loadm" : "storem";
    else m.cls = load ? "load" : "store";
    m.condition = static_cast<int>(conditionOf(op));
    m.hasMemory = true;
    m.memoryBase = canonical(base);
    const bool atomicOperand = v == Variant::CompareSwap || v == Variant::Swap || v >= Variant::AtomicAdd ||
                               ((v == Variant::Exclusive || v == Variant::OrderedExclusive) && !load);
    m.memoryIndex = (index == kRegNone || atomicOperand || v == Variant::TableBranch) ? -1 : canonical(index);
    if (v == Variant::TableBranch) m.memoryIndex = canonical(index);
    m.writeBack = has(op, op::kWriteBack);
    if (!multiple && (index == kRegNone || atomicOperand)) {
        m.displacement = offset;
        if (has(op, op::kAlignedPc) && base == kRegPc) m.displacement = offset;  // compared through the target
    }
    if (base == kRegPc && !multiple && (index == kRegNone || atomicOperand)) {
        TargetWord pc = pcOf(s);
        if (has(op, op::kAlignedPc)) pc &= ~TargetWord{3};
        m.hasTarget = true;
        m.target = static_cast<TargetWord>(pc + static_cast<TargetWord>(offset));
    }
    if (!multiple && v != Variant::Prefetch && v != Variant::TableBranch) m.elementBytes = 1 << elementSizeOf(op);
    return 0;
}

unsigned onSystem(std::uint32_t op, std::uint64_t imm, void* c) {
    auto& s = *static_cast<State*>(c);
    kEffectsVisitor.onSystem(op, imm, &s.effects);
    s.m.status = Status::Defined;
    static const char* const kNames[25] = {"svc", "hvc", "smc", "brk", "hlt", "dcps1", "dcps2", "dcps3", "nop",
                                           "yield", "wfe", "wfi", "sev", "sevl", "clrex", "dsb", "dmb", "isb",
                                           "msr", "msr", "msr", "setend", "it", "drps", "eret"};
    const unsigned index = static_cast<unsigned>(systemOpOf(op));
    std::string name = index < 25 ? kNames[index] : "?";
    if (name == "msr" && !kIs64) name = "cps";
    s.m.cls = "system:" + name;
    if (systemOpOf(op) != SystemOp::It) s.m.condition = static_cast<int>(conditionOf(op));
    return 0;
}

const Visitor kMeaningVisitor = {onUndefined, onBranch, onDataProcessing, onLoadStore, onSystem};

}  // namespace

Meaning ourMeaning(Isa isa, std::uint32_t word, std::uint64_t address, ItBlock* block) {
    State s;
    s.isa = isa;
    s.address = address;
    const InstructionSet set = isa == Isa::Arm ? InstructionSet::Arm : isa == Isa::Thumb ? InstructionSet::Thumb : InstructionSet::A64;
    unsigned length = 4;
    if (block && isa == Isa::Thumb) decodeThumbInBlock(*block, word, length, kMeaningVisitor, &s);
    else decodeInstruction(set, word, length, kMeaningVisitor, &s);
    s.m.length = length;
    s.m.read = canonicalMask(s.effects.read);
    s.m.written = canonicalMask(s.effects.written);
    s.m.vectorRead = s.effects.vectorRead;
    s.m.vectorWritten = s.effects.vectorWritten;
    s.m.setsFlags = s.effects.writesFlags;
    if (s.m.condition == 15) s.m.condition = 14;
    TextSink text;
    printInstruction(set, word, static_cast<TargetWord>(address), text);
    s.m.text = std::string(text.view());
    return s.m;
}

}  // namespace decodetools
