// Backward recovery of argument values: the instructions before a call are decoded into a small
// table, then each argument register is traced back to the instruction that set it, recursively
// through the registers that instruction read, down to constants, PC-relative addresses, loads
// and the registers the frame knows.
#include "analyzer/decode/argument_scanner.h"

#include <cstring>
#include <optional>

#include "analyzer/decode/effects.h"
#include "analyzer/decode/it_block.h"
#include "analyzer/decode/value_math.h"

namespace coresift::decode {
namespace {

constexpr unsigned kWindowBytes = kIs64 ? 128 : 96;
constexpr unsigned kMaxInstructions = 64;
constexpr unsigned kMaxDepth = 10;
constexpr unsigned kMaxLookups = 4096;  // all the backward look-ups of one scan together

// One decoded instruction before the call: what it writes, and its operands for re-evaluation.
struct Record {
    TargetWord address = 0;
    unsigned length = 4;
    enum Kind : std::uint8_t { Other, Data, Load, Call, Barrier } kind = Other;
    std::uint32_t op = 0;
    unsigned rd = kRegNone, rn = kRegNone, rm = kRegNone;
    std::uint64_t immediate = 0;
    std::uint8_t list[20];
    unsigned base = kRegNone, index = kRegNone;
    std::int64_t offset = 0;
    std::uint64_t written = 0;  // value registers written
};

struct Recorder {
    Record* record;
    Effects effects;
};

unsigned recordUndefined(std::uint32_t w, unsigned unimplemented, void* c) {
    auto& r = *static_cast<Recorder*>(c);
    kEffectsVisitor.onUndefined(w, unimplemented, &r.effects);
    r.record->kind = unimplemented ? Record::Other : Record::Barrier;
    // An unmodelled instruction may write the registers its encodings usually name.
    r.record->written = kIs64 ? (std::uint64_t{1} << (w & 31)) : 0xFFFF & ~((1u << 13) | (1u << 15));
    return 0;
}
unsigned recordBranch(std::uint32_t op, std::int64_t offset, unsigned reg, unsigned bitNumber, void* c) {
    auto& r = *static_cast<Recorder*>(c);
    kEffectsVisitor.onBranch(op, offset, reg, bitNumber, &r.effects);
    if (has(op, op::kLink)) {
        r.record->kind = Record::Call;
        r.record->written = kCallClobbered;
    } else if (!isConditional(op) && !has(op, op::kCompareZero) && !has(op, op::kTestBit)) {
        r.record->kind = Record::Barrier;  // code before an unconditional branch does not flow here
    }
    return 0;
}
unsigned recordDataProcessing(std::uint32_t op, unsigned rd, unsigned rn, unsigned rm, std::uint64_t imm, void* c) {
    auto& r = *static_cast<Recorder*>(c);
    kEffectsVisitor.onDataProcessing(op, rd, rn, rm, imm, &r.effects);
    Record& x = *r.record;
    x.kind = rd == kRegPc ? Record::Barrier : Record::Data;
    x.op = op;
    x.rd = rd;
    x.rn = rn;
    x.rm = rm;
    x.immediate = imm;
    return 0;
}
unsigned recordLoadStore(std::uint32_t op, const std::uint8_t* list, unsigned base, unsigned index, std::int64_t offset,
                         void* c) {
    auto& r = *static_cast<Recorder*>(c);
    kEffectsVisitor.onLoadStore(op, list, base, index, offset, &r.effects);
    Record& x = *r.record;
    x.kind = has(op, op::kLoad) ? Record::Load : Record::Other;
    x.op = op;
    x.base = base;
    x.index = index;
    x.offset = offset;
    unsigned i = 0;
    for (; list[i] != kRegListEnd && i < 19; ++i) x.list[i] = list[i];
    x.list[i] = static_cast<std::uint8_t>(kRegListEnd);
    if (r.effects.written >> kRegPc & 1) x.kind = Record::Barrier;
    return 0;
}
unsigned recordSystem(std::uint32_t op, std::uint64_t imm, void* c) {
    auto& r = *static_cast<Recorder*>(c);
    kEffectsVisitor.onSystem(op, imm, &r.effects);
    if (systemOpOf(op) == SystemOp::Svc) r.record->written = 1;  // R0/X0 holds the result
    return 0;
}
const Visitor kRecorder = {recordUndefined, recordBranch, recordDataProcessing, recordLoadStore, recordSystem};

class Scanner {
public:
    Scanner(const TargetMemory& memory, const RegisterState& atCall, InstructionSet set)
        : memory_(memory), atCall_(atCall), set_(set) {}

    // Decodes [start, callSite); false when the instructions do not end exactly at the call.
    bool decodeWindow(TargetWord start, TargetWord callSite) {
        count_ = 0;
        ItBlock block;
        TargetWord at = start;
        while (at < callSite && count_ < kMaxInstructions) {
            std::uint32_t word = 0;
            if (set_ == InstructionSet::Thumb) {
                std::uint16_t h[2] = {0, 0};
                if (!memory_.read16(at, h[0])) return false;
                if (thumbLength(h[0]) == 4 && !memory_.read16(at + 2, h[1])) return false;
                word = h[0] | (std::uint32_t{h[1]} << 16);
            } else if (!memory_.read32(at, word)) {
                return false;
            }
            Record& record = records_[count_++];
            record = Record{};
            record.address = at;
            Recorder recorder{&record, {}};
            unsigned length = 4;
            if (set_ == InstructionSet::Thumb) decodeThumbInBlock(block, word, length, kRecorder, &recorder);
            else decodeInstruction(set_, word, length, kRecorder, &recorder);
            record.length = length;
            record.written |= recorder.effects.written;
            at += length;
        }
        if (at != callSite) return false;
        // Only the straight run after the last barrier flows into the call.
        first_ = 0;
        for (unsigned i = count_; i-- > 0;)
            if (records_[i].kind == Record::Barrier) {
                first_ = i + 1;
                break;
            }
        return true;
    }

    // The value of `reg` just before instruction `at` (count_ = the call).
    std::optional<TargetWord> valueBefore(unsigned reg, unsigned at, unsigned depth) const {
        if (reg == kRegNone) return TargetWord{0};
        if (!isValueRegister(reg) || depth > kMaxDepth || ++lookups_ > kMaxLookups) return std::nullopt;
        if (reg == kRegPc) return std::nullopt;  // PC operands are resolved by the caller
        for (unsigned j = at; j-- > first_;)
            if (records_[j].written >> reg & 1) return valueWrittenBy(j, reg, depth + 1);
        return valueFromCall(reg, at);
    }

private:
    // No instruction of the window before `at` writes `reg`: its value there is its value at the
    // call when nothing after `at` writes it either (SP may be moved by known amounts).
    std::optional<TargetWord> valueFromCall(unsigned reg, unsigned at) const {
        if (!atCall_.known(reg)) return std::nullopt;
        TargetWord value = atCall_.r[reg];
        for (unsigned j = at; j < count_; ++j) {
            if (!(records_[j].written >> reg & 1)) continue;
            const std::optional<std::int64_t> delta = reg == kRegSp ? stackDelta(records_[j]) : std::nullopt;
            if (!delta) return std::nullopt;
            value -= static_cast<TargetWord>(*delta);
        }
        return value;
    }

    // How much an instruction moves SP, when it is a plain adjustment.
    static std::optional<std::int64_t> stackDelta(const Record& r) {
        if (r.kind == Record::Data && r.rd == kRegSp && r.rn == kRegSp && r.rm == kRegNone &&
            classOf(r.op) == DpClass::Add && !has(r.op, op::kCarry) && !isConditional(r.op)) {
            const std::int64_t amount = static_cast<std::int64_t>(r.immediate);
            return isSubtract(r.op) ? -amount : amount;
        }
        if ((r.kind == Record::Load || r.kind == Record::Other) && r.base == kRegSp && has(r.op, op::kWriteBack) &&
            !isConditional(r.op) && (has(r.op, op::kMultiple) || r.index == kRegNone)) {
            bool loadsSp = false;
            for (unsigned i = 0; r.list[i] != kRegListEnd; ++i) loadsSp |= r.kind == Record::Load && r.list[i] == kRegSp;
            if (!loadsSp) return r.offset;
        }
        return std::nullopt;
    }

    std::optional<TargetWord> operand(const Record& r, unsigned reg, unsigned j, unsigned depth) const {
        if (reg == kRegPc) {
            const TargetWord pc = pcValue(set_, r.address);
            return has(r.op, op::kAlignedPc) ? pc & ~TargetWord{3} : pc;
        }
        return valueBefore(reg, j, depth);
    }

    std::optional<TargetWord> valueWrittenBy(unsigned j, unsigned reg, unsigned depth) const {
        const Record& r = records_[j];
        if (isConditional(r.op) && r.kind != Record::Other) return std::nullopt;
        if (r.kind == Record::Data && reg == r.rd) {
            DpInputs in;
            if (r.rn != kRegNone) in.rn = operand(r, r.rn, j, depth);
            if (r.rm != kRegNone) in.rm = operand(r, r.rm, j, depth);
            const DpClass cls = classOf(r.op);
            if (cls == DpClass::Movk || cls == DpClass::Bfxil) in.rd = operand(r, r.rd, j, depth);
            if (has(r.op, op::kShiftByRegister)) in.shift = operand(r, static_cast<unsigned>(r.immediate), j, depth);
            if (cls == DpClass::Madd) in.accumulator = operand(r, static_cast<unsigned>(r.immediate & 0xFF), j, depth);
            in.pc = pcValue(set_, r.address);
            return evaluate(r.op, r.rn, r.rm, r.immediate, in);
        }
        if (r.kind == Record::Load) return loadedValue(r, j, reg, depth);
        return std::nullopt;
    }

    std::optional<TargetWord> loadedValue(const Record& r, unsigned j, unsigned reg, unsigned depth) const {
        const Variant variant = variantOf(r.op);
        if (variant != Variant::Plain && variant != Variant::Unscaled && variant != Variant::Ordered &&
            variant != Variant::MultipleIa && variant != Variant::MultipleIb && variant != Variant::MultipleDa &&
            variant != Variant::MultipleDb)
            return std::nullopt;
        const std::optional<TargetWord> base = operand(r, r.base, j, depth);
        if (!base) return std::nullopt;
        const bool multiple = has(r.op, op::kMultiple);
        unsigned position = 0, count = 0;
        bool listed = false;
        for (; r.list[count] != kRegListEnd; ++count)
            if (r.list[count] == reg) { position = count; listed = true; }
        if (!listed) {  // the base register moved by write-back
            if (reg != r.base || !has(r.op, op::kWriteBack) || (r.index != kRegNone && !multiple)) return std::nullopt;
            return *base + static_cast<TargetWord>(r.offset);
        }
        TargetWord address;
        unsigned bytes = 1u << elementSizeOf(r.op);
        if (multiple) {
            const TargetWord total = static_cast<TargetWord>(r.offset < 0 ? -r.offset : r.offset);
            switch (variant) {
            case Variant::MultipleIa: address = *base; break;
            case Variant::MultipleIb: address = *base + 4; break;
            case Variant::MultipleDa: address = *base - total + 4; break;
            default: address = *base - total; break;
            }
            bytes = 4;
            for (unsigned i = 0; i < position; ++i) address += isVectorRegister(r.list[i]) ? (1u << elementSizeOf(r.op)) : 4;
        } else {
            std::optional<TargetWord> displacement = static_cast<TargetWord>(r.offset);
            if (r.index != kRegNone) {
                const auto indexValue = operand(r, r.index, j, depth);
                if (!indexValue) return std::nullopt;
                std::uint64_t v = *indexValue;
                if (shiftOf(r.op) == Shift::Field)
                    v = applyField(v, static_cast<std::uint64_t>(r.offset), has(r.op, op::kSigned), kIs64 ? 64 : 32);
                displacement = isSubtract(r.op) ? static_cast<TargetWord>(0 - v) : static_cast<TargetWord>(v);
            }
            address = has(r.op, op::kPostIndex) ? *base : *base + *displacement;
            address += position * bytes;
        }
        if (bytes > sizeof(TargetWord)) return std::nullopt;
        std::uint64_t raw = 0;
        if (!memory_.read(address, &raw, bytes)) return std::nullopt;
        if (has(r.op, op::kSignExtend) && bytes < 8 && (raw >> (8 * bytes - 1) & 1)) {
            raw |= ~((std::uint64_t{1} << (8 * bytes)) - 1);
            if (sizeOf(r.op) == kWord) raw &= 0xFFFFFFFFu;
        }
        return static_cast<TargetWord>(raw);
    }

    const TargetMemory& memory_;
    const RegisterState& atCall_;
    InstructionSet set_;
    Record records_[kMaxInstructions];
    unsigned count_ = 0, first_ = 0;
    mutable unsigned lookups_ = 0;

public:
    unsigned count() const { return count_; }
};

}  // namespace

ArgumentValues recoverArguments(const TargetMemory& memory, TargetWord callSite, const RegisterState& atCall,
                                unsigned count, TargetWord functionStart) {
    ArgumentValues out;
    if (count > kMaxArguments) count = kMaxArguments;
    const InstructionSet set = setOfAddress(callSite);
    const TargetWord call = callSite & ~TargetWord{1};
    unsigned missing = 0;
    for (unsigned a = 0; a < count; ++a) {
        if (atCall.known(a)) {
            out.value[a] = atCall.r[a];
            out.known |= static_cast<std::uint8_t>(1u << a);
        } else {
            missing |= 1u << a;
        }
    }
    if (!missing || !carriesSet(set)) return out;

    const unsigned alignment = set == InstructionSet::Thumb ? 2 : 4;
    TargetWord start = call > kWindowBytes ? call - kWindowBytes : 0;
    start &= ~static_cast<TargetWord>(alignment - 1);
    const TargetWord functionAddress = functionStart & ~TargetWord{1};
    if (functionStart && functionAddress <= call && functionAddress > start) start = functionAddress;

    // Thumb code cannot be decoded backwards; a forward decode from two neighbouring starts
    // meets the call on an instruction boundary in one of them.
    // The window starts at the first readable instruction (a mapping may begin inside it).
    std::uint16_t probe = 0;
    while (start < call && !memory.read16(start, probe)) start += alignment;
    Scanner scanner(memory, atCall, set);
    bool decoded = scanner.decodeWindow(start, call);
    if (!decoded && set == InstructionSet::Thumb && start + 2 < call) decoded = scanner.decodeWindow(start + 2, call);
    if (!decoded) return out;
    for (unsigned a = 0; a < count; ++a) {
        if (!(missing >> a & 1)) continue;
        const auto value = scanner.valueBefore(a, scanner.count(), 0);
        if (value) {
            out.value[a] = *value;
            out.known |= static_cast<std::uint8_t>(1u << a);
        }
    }
    return out;
}

}  // namespace coresift::decode
