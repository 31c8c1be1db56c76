#include "analyzer/diagnosis/listing_slice.h"

#include "analyzer/decode/effects.h"
#include "analyzer/decode/value_math.h"
#include "analyzer/diagnosis/code_symbols.h"
#include "analyzer/diagnosis/transfer_layout.h"
#include "analyzer/process/address_space.h"
#include "common/text_format.h"

namespace coresift::listing {

namespace {

using namespace decode;

constexpr std::uint64_t bit(unsigned r) { return r < 64 ? std::uint64_t{1} << r : 0; }
constexpr std::uint64_t kSpPc = bit(kRegSp) | bit(kRegPc);
constexpr std::uint64_t kArgumentRegisters = kIs64 ? 0xFF : 0xF;
constexpr unsigned kListBound = 40;
constexpr const char* kHex = kIs64 ? "0x%llX" : "0x%X";

std::string hex(TargetWord v) { return common::format(kHex, v).text; }

struct Step {
    Window& window;
    SliceState& state;
    SliceServices& services;
    std::size_t slot;
    TargetWord address;
    Effects effects;
    bool kept = false;

    Line& line() { return window.lines[slot]; }
    RegisterState& regs() { return state.registers; }
    bool known(unsigned r) const { return state.registers.known(r); }
    bool traced(unsigned r) const { return (state.traced & bit(r)) != 0; }
    // The value an operand reads: the PC its pipeline value, the zero register 0.
    std::optional<TargetWord> value(unsigned r, bool alignedPc = false) const {
        if (r == kRegNone) return TargetWord{0};
        if (r == kRegPc) {
            const TargetWord pc = pcValue(window.set, address);
            return alignedPc ? pc & ~TargetWord{3} : pc;
        }
        if (!known(r)) return std::nullopt;
        return state.registers.r[r];
    }
    void markError() {
        line().tip = Tip::ExecuteError;
        state.inconsistent = true;
    }
};

// ---- Data processing ----

void annotateSources(Step& s, std::uint64_t sources) {
    for (unsigned r = 0; r < kValueRegisterCount; ++r) {
        if (!(sources & bit(r)) || r == kRegPc || !s.known(r)) continue;
        s.line().annotation += common::format(kIs64 ? " R%d:0x%llX" : " R%d:0x%X", static_cast<int>(r), s.regs().r[r]).text;
    }
}

// Recomputes the result from the known sources; a result other than the recorded destination
// value marks the line.
void checkResult(Step& s, std::uint32_t op, unsigned rd, unsigned rn, unsigned rm, std::uint64_t imm) {
    // A destination that is also a source holds the result, not the operand, from here on.
    if (!s.known(rd) || (s.effects.read & bit(rd)) || (s.effects.read & ~bit(kRegPc) & ~s.regs().valid) != 0) return;
    DpInputs in;
    in.rd = s.value(rd);
    in.rn = s.value(rn, has(op, op::kAlignedPc));
    in.rm = s.value(rm, has(op, op::kAlignedPc));
    if (has(op, op::kShiftByRegister)) in.shift = s.value(static_cast<unsigned>(imm));
    if (classOf(op) == DpClass::Madd) in.accumulator = s.value(static_cast<unsigned>(imm & 0xFF));
    in.pc = pcValue(s.window.set, s.address);
    const std::optional<TargetWord> result = evaluate(op, rn, rm, imm, in);
    if (!result || *result == s.regs().r[rd]) return;
    std::string text = hex(s.regs().r[rd]) + " != " + hex(*result) + "(" + s.line().annotation;
    if (rm == kRegNone && imm != 0 && !has(op, op::kShiftByRegister)) text += " " + hex(static_cast<TargetWord>(imm));
    s.line().annotation = text + ")";
    s.markError();
}

// The value a source register held before the instruction, derived from the destination's:
// a copied register, an added or subtracted immediate, an immediate exclusive-or.
void deriveSource(Step& s, std::uint32_t op, unsigned rn, unsigned rm, std::uint64_t imm, TargetWord result) {
    if (kIs64 && sizeOf(op) != kDouble) return;
    const DpClass cls = classOf(op);
    const bool plainOperand = shiftOf(op) == Shift::None && !has(op, op::kShiftByRegister) && !has(op, op::kCarry);
    if (!plainOperand) return;
    const TargetWord k = static_cast<TargetWord>(imm);
    if (rn == kRegNone && isValueRegister(rm) && rm != kRegPc && !has(op, op::kInverted) &&
        (cls == DpClass::Add || cls == DpClass::Orr || cls == DpClass::Eor)) {
        if (!s.known(rm)) s.regs().set(rm, result);
        return;
    }
    if (!isValueRegister(rn) || rn == kRegPc || rm != kRegNone || s.known(rn)) return;
    if (cls == DpClass::Add && !has(op, op::kInverted)) s.regs().set(rn, result - k);
    else if (cls == DpClass::Add && isSubtract(op)) s.regs().set(rn, result + k);
    else if (cls == DpClass::Eor && !has(op, op::kInverted)) s.regs().set(rn, result ^ k);
}

unsigned onDataProcessing(std::uint32_t op, unsigned rd, unsigned rn, unsigned rm, std::uint64_t imm, void* c) {
    auto& s = *static_cast<Step*>(c);
    const bool destination = isValueRegister(rd) && rd != kRegNone;
    if (destination && s.traced(rd)) {
        s.kept = true;
        s.state.traced = (s.state.traced & ~bit(rd)) | s.effects.read;
        if ((rn == kRegPc && rm == kRegNone) || classOf(op) == DpClass::Adrp) s.line().tip = Tip::GlobalVariable;
        annotateSources(s, s.effects.read & ~bit(rd));
        checkResult(s, op, rd, rn, rm, imm);
    }
    const std::optional<TargetWord> result = destination ? s.value(rd) : std::nullopt;
    s.regs().forgetMask(s.effects.written);
    if (result) deriveSource(s, op, rn, rm, imm, *result);
    if (rd == kRegPc) s.regs().valid = 0;
    return 0;
}

// ---- Loads and stores ----

// Annotates the load of `reg` from `at`: the loaded value and where it came from, or the
// disagreement between the recorded value and the memory.
void annotateLoad(Step& s, std::uint32_t op, unsigned reg, TargetWord at, unsigned bytes) {
    if (!isValueRegister(reg) || bytes > 8) return;
    std::uint64_t raw = 0;
    if (!s.services.space.readMemory(at, &raw, bytes)) return;
    if (has(op, op::kSignExtend) && bytes < 8 && ((raw >> (8 * bytes - 1)) & 1)) raw |= ~std::uint64_t{0} << (8 * bytes);
    const TargetWord loaded = static_cast<TargetWord>(raw);
    const MapEntry* region = s.services.space.regionAt(at);
    const std::string source = "[" + (region ? region->name : std::string()) + ":" + s.services.symbols.formatValue(at) + "]";
    std::string& text = s.line().annotation;
    if (!text.empty()) text += " ";
    if (s.known(reg) && s.regs().r[reg] != loaded) {
        text += hex(s.regs().r[reg]) + " != " + hex(loaded) + " <- " + source;
        s.markError();
        return;
    }
    text += s.services.symbols.formatValue(loaded) + " <- " + source;
}

unsigned onLoadStore(std::uint32_t op, const std::uint8_t* list, unsigned base, unsigned index, std::int64_t offset,
                     void* c) {
    auto& s = *static_cast<Step*>(c);
    const Variant variant = variantOf(op);
    const bool load = has(op, op::kLoad), multiple = has(op, op::kMultiple);
    unsigned count = 0;
    while (count < kListBound && list[count] != kRegListEnd) ++count;
    const bool statusStore = !load && (variant == Variant::Exclusive || variant == Variant::OrderedExclusive);
    const bool atomic = isAtomicUpdate(variant);
    const bool indexed = index != kRegNone && !statusStore && !atomic && variant != Variant::TableBranch;

    // The base as the instruction saw it: undo a write-back that the recorded value includes.
    // (Plain flags and words rather than std::optional: GCC misjudges optionals here.)
    const std::optional<TargetWord> recordedBase = s.value(base, true);
    bool baseKnown = recordedBase.has_value();
    TargetWord baseValue = recordedBase.value_or(0);
    bool displacementKnown = true;
    TargetWord displacement = static_cast<TargetWord>(offset);
    if (indexed) {
        const std::optional<TargetWord> indexValue = s.value(index);
        displacementKnown = indexValue.has_value();
        std::uint64_t v = indexValue.value_or(0);
        if (shiftOf(op) == Shift::Field)
            v = applyField(v, static_cast<std::uint64_t>(offset), has(op, op::kSigned), kIs64 ? 64 : 32);
        displacement = isSubtract(op) ? static_cast<TargetWord>(0 - v) : static_cast<TargetWord>(v);
    }
    bool baseLoaded = false;
    for (unsigned i = 0; i < count; ++i) baseLoaded |= load && list[i] == base;
    if (baseLoaded) baseKnown = false;  // the recorded value is what the load put there
    if (has(op, op::kWriteBack) && baseKnown) {
        if (multiple) baseValue -= static_cast<TargetWord>(offset);
        else if (displacementKnown) baseValue -= displacement;
        else baseKnown = false;
    }

    bool anyTraced = false;
    for (unsigned i = 0; i < count; ++i) anyTraced |= load && isValueRegister(list[i]) && s.traced(list[i]);
    if (anyTraced && variant != Variant::TableBranch && !atomic) {
        s.kept = true;
        if (base == kRegPc) s.line().tip = Tip::GlobalVariable;
        else if (base == kRegSp) s.line().tip = Tip::LocalVariable;
        const bool addressKnown = baseKnown && (multiple || displacementKnown);
        TargetWord next = multiple                    ? multipleStart(variant, baseValue, offset)
                          : has(op, op::kPostIndex) ? baseValue
                                                      : baseValue + displacement;
        for (unsigned i = 0; i < count; ++i) {
            const unsigned bytes = transferBytes(op, list[i], multiple);
            if (addressKnown && isValueRegister(list[i]) && s.traced(list[i])) annotateLoad(s, op, list[i], next, bytes);
            next += bytes;
        }
        for (unsigned i = 0; i < count; ++i) s.state.traced &= ~bit(list[i]);
        s.state.traced |= bit(base) | (indexed ? bit(index) : 0);
    }
    s.regs().forgetMask(s.effects.written);
    if (has(op, op::kWriteBack) && baseKnown && !baseLoaded && isValueRegister(base) && base != kRegPc)
        s.regs().set(base, baseValue);
    if (s.effects.written & bit(kRegPc)) s.regs().valid = 0;
    return 0;
}

// ---- Branches, system and undefined instructions ----

unsigned onBranch(std::uint32_t op, std::int64_t, unsigned, unsigned, void* c) {
    auto& s = *static_cast<Step*>(c);
    if (has(op, op::kLink)) {
        if (s.state.traced & kArgumentRegisters) {
            s.kept = true;
            s.line().tip = Tip::ReturnValue;
            s.state.traced &= ~kCallClobbered;
        }
        s.regs().forgetMask(kCallClobbered);
        return 0;
    }
    if (has(op, op::kRegisterTarget)) s.regs().valid = 0;
    return 0;
}

unsigned onSystem(std::uint32_t, std::uint64_t, void* c) {
    static_cast<Step*>(c)->regs().valid = 0;
    return 0;
}

unsigned onUndefined(std::uint32_t, unsigned, void* c) {
    static_cast<Step*>(c)->regs().valid = 0;
    return 0;
}

constexpr Visitor kTrackingVisitor = {onUndefined, onBranch, onDataProcessing, onLoadStore, onSystem};

// Collects the address registers of a load or store.
struct AddressRegisters {
    std::uint64_t mask = 0;
    bool access = false;
};
unsigned noteUndefined(std::uint32_t, unsigned, void*) { return 0; }
unsigned noteBranch(std::uint32_t, std::int64_t, unsigned, unsigned, void*) { return 0; }
unsigned noteDp(std::uint32_t, unsigned, unsigned, unsigned, std::uint64_t, void*) { return 0; }
unsigned noteSystem(std::uint32_t, std::uint64_t, void*) { return 0; }
unsigned noteLoadStore(std::uint32_t op, const std::uint8_t*, unsigned base, unsigned index, std::int64_t, void* c) {
    auto& a = *static_cast<AddressRegisters*>(c);
    const Variant variant = variantOf(op);
    const bool statusStore = !has(op, op::kLoad) && (variant == Variant::Exclusive || variant == Variant::OrderedExclusive);
    const bool atomic = isAtomicUpdate(variant);
    a.access = true;
    a.mask = bit(base);
    if (isValueRegister(index) && !statusStore && !atomic) a.mask |= bit(index);
    return 0;
}
constexpr Visitor kAddressVisitor = {noteUndefined, noteBranch, noteDp, noteLoadStore, noteSystem};

}  // namespace

std::uint64_t faultSources(const Window& window) {
    AddressRegisters address;
    window.decodeAt(window.pcSlot, kAddressVisitor, &address);
    std::uint32_t word = 0;
    if (!window.wordAt(window.pcSlot, word)) return 0;
    unsigned length = 0;
    const std::uint64_t sources = address.access ? address.mask : effectsOf(window.set, word, length).read;
    return sources & ~kSpPc;
}

std::uint64_t traceBack(Window& window, SliceState& state, SliceServices& services) {
    // After the instruction at `slot`: a branch target on the path continues at its branch
    // (printed, not evaluated), an instruction not kept there becoming a join line.
    auto advance = [&](std::size_t slot, bool kept) -> long {
        long link = window.lines[slot].backLink;
        if (link < 0) return window.previousSlot(slot);
        Line& target = window.lines[slot];
        if (!kept && target.tip == Tip::None) {
            target.tip = Tip::Join;
            target.printed = true;
        }
        std::size_t last = slot;
        for (std::size_t guard = 0; link >= 0 && guard < window.slotCount(); ++guard) {
            window.lines[link].printed = true;
            last = static_cast<std::size_t>(link);
            link = window.lines[last].backLink;
        }
        return window.previousSlot(last);
    };

    window.lines[window.pcSlot].printed = true;
    state.traced &= ~kSpPc;
    long next = advance(window.pcSlot, true);
    while (state.traced != 0 && next >= 0) {
        const std::size_t slot = static_cast<std::size_t>(next);
        std::uint32_t word = 0;
        window.wordAt(slot, word);
        Step step{window, state, services, slot, window.addressOf(slot), {}, false};
        unsigned length = 0;
        step.effects = effectsOf(window.set, word, length);
        window.decodeAt(slot, kTrackingVisitor, &step);
        if (step.kept) window.lines[slot].printed = true;
        state.traced &= ~kSpPc;
        next = advance(slot, step.kept);
    }
    return next < 0 ? state.traced : 0;
}

}  // namespace coresift::listing
