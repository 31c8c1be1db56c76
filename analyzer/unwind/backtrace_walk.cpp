#include "analyzer/unwind/backtrace_walk.h"

#include <cstring>

#include "analyzer/symbols/symbol_lookup.h"
#include "analyzer/unwind/pointer_auth.h"
#include "analyzer/unwind/prologue_analysis.h"

namespace coresift::unwind {

namespace {

constexpr unsigned kPc = decode::kRegPc, kSp = decode::kRegSp, kLr = decode::kRegLr;
constexpr std::uint32_t kUcontextMagic = 0x5AC3C35A;
constexpr TargetWord kSiginfoSize = 128;
// Where the saved general registers start in the user context, and where the status word lies.
constexpr TargetWord kContextRegisters = kIs64 ? 184 : 32;
constexpr TargetWord kContextStatus = 96;  // CoreSift: cpsr after r0-r15
constexpr std::uint64_t kSignalReturnA64 = 0xD4000001D2801168ull;  // mov x8, #139; svc #0

// Registers a call does not preserve: unknown after resuming at LR.
constexpr std::uint64_t kCallClobbered = kIs64 ? ((std::uint64_t{1} << 19) - 1) | (std::uint64_t{1} << 30)
                                               : 0xFu | (1u << 12) | (1u << 14);

std::uint32_t word32(const std::uint8_t* bytes) {
    std::uint32_t value;
    std::memcpy(&value, bytes, 4);
    return value;
}

bool read32(const UnwindMemory& memory, TargetWord address, std::uint32_t& value) {
    return memory.read(address, &value, 4);
}

class Walk {
public:
    Walk(BacktraceProcess& process, const WalkLimits& limits)
        : process_(process), env_(process.environment()), memory_(*env_.memory), limits_(limits) {}

    std::vector<RawFrame> run(RegisterState registers) {
        bool first = true;
        while (frames_.size() < limits_.maxFrames) {
            const Next next = frame(registers, first);
            if (next == Next::End) break;
            if (next == Next::Lost && !recover(registers, first)) break;
        }
        return std::move(frames_);
    }

private:
    enum class Next { Continue, Lost, End };

    TargetWord lookupAddress(TargetWord address) const {
        TargetWord stripped = stripPointerAuth(address, env_.addressBits);
        return kIs64 ? stripped : stripped & ~TargetWord{1};
    }

    // `foundPc`: the pc before it was moved back to the call site.
    void record(const RegisterState& registers, std::uint32_t flags, TargetWord foundPc) {
        frames_.push_back({registers, flags, foundPc});
    }
    void record(const RegisterState& registers, std::uint32_t flags) { record(registers, flags, registers.r[kPc]); }

    // One frame: record it and step to its caller.
    Next frame(RegisterState& registers, bool& first) {
        if (!registers.known(kPc)) return Next::End;
        const TargetWord pc = registers.r[kPc];
        const TargetWord at = lookupAddress(pc);
        std::optional<CodeRegion> region = process_.regionAt(at);
        if (!region || !region->executable) {
            // A call through a bad or null pointer: the caller is still found through LR.
            record(registers, 0);
            first = false;
            return Next::Lost;
        }
        std::uint8_t code[8];
        if (!memory_.read(at, code, sizeof code)) {
            if (region->module) process_.codeUnreadable(*region->module);
            record(registers, 0);
            return Next::End;
        }
        const bool trampoline = isSignalReturn(code, pc);
        if (!first && !trampoline) registers.r[kPc] = callSiteOf(memory_, pc);
        first = false;
        record(registers, trampoline ? raw_flag::kSignalReturn : 0, pc);
        if (trampoline) {
            if (!registers.known(kSp) || !readSignalContext(memory_, registers.r[kSp], registers)) return Next::End;
            // The interrupted frame's pc is where it stopped, not a return address; a pc of 0
            // there is a call through a null pointer, whose caller LR still names.
            first = true;
            return Next::Continue;
        }
        const TargetWord sp = registers.r[kSp], callSite = registers.r[kPc];
        const bool spKnown = registers.known(kSp);
        const StepResult step = stepFrame(*region, registers);
        if (step.status == StepStatus::Outermost) return Next::End;
        if (!step.stepped()) return Next::Lost;
        if (registers.r[kPc] == 0) return Next::End;
        // A step that leaves SP where it was and the pc at the frame's own would repeat itself.
        const TargetWord next = registers.r[kPc];
        if (spKnown && registers.known(kSp) && registers.r[kSp] == sp && (next == pc || next == callSite))
            return Next::Lost;
        return Next::Continue;
    }

    StepResult stepFrame(const CodeRegion& region, RegisterState& registers) {
        BacktraceModule* module = region.module;
        if (module && !module->managedCode) {
            StepResult result;
            if (module->unwinder) result = module->unwinder->step(env_, registers);
            if (result.stepped() || result.status == StepStatus::Outermost) return result;
            if (result.status == StepStatus::CannotUnwind || result.status == StepStatus::NoEntry) {
                if (stepByFunctionPrologue(*module, registers)) return {StepStatus::Stepped, StepSource::Prologue};
            }
        }
        // Compiled Java code takes its frame layout from the Java runtime's method records, once
        // the Java stack walker provides them; until then it is emulated like any other code.
        return process_.heuristics().forwardStep(env_, registers);
    }

    // Prologue analysis from the start of the function holding the pc: by its symbol, else by
    // the exception index.
    bool stepByFunctionPrologue(BacktraceModule& module, RegisterState& registers) {
        const TargetWord pc = registers.r[kPc];
        const TargetWord at = lookupAddress(pc);
        const TargetWord thumb = kIs64 ? 0 : (pc & 1);
        std::optional<TargetWord> start;
        if (module.symbols) {
            // Thumb function symbols carry bit 0 in their values: look up with the pc's.
            if (std::optional<SymbolHit> hit = symbolAt(*module.symbols, at | thumb, lookup::kFunctionMask))
                start = (hit->start & ~TargetWord{1}) | thumb;
        }
        if (!start && module.unwinder) {
            // The index's entry for the pc may belong to an earlier function when the pc's own
            // function has none: only an entry whose extent holds the pc tells the start.
            std::optional<FunctionExtent> extent = module.unwinder->exidxFunctionAt(env_, pc);
            if (extent && (extent->length == 0 || at - (extent->start & ~TargetWord{1}) < extent->length))
                start = (extent->start & ~TargetWord{1}) | thumb;
        }
        if (!start || (*start & ~TargetWord{1}) > at) return false;
        RegisterState trial = registers;
        trial.r[kPc] = at | thumb;
        if (!stepByPrologue(env_, *start, trial).stepped()) return false;
        registers = trial;
        return true;
    }

    // After a lost frame: resume at LR, else at the first return address the stack holds.
    bool recover(RegisterState& registers, bool& first) {
        first = false;
        if (registers.known(kLr)) {
            const TargetWord lr = registers.r[kLr];
            std::optional<CodeRegion> region = process_.regionAt(lookupAddress(lr));
            const bool aligned = kIs64 ? (lookupAddress(lr) & 3) == 0 : (lr & 3) != 2;
            if (region && region->executable && aligned) {
                registers.r[kPc] = lr;
                registers.forgetMask(kCallClobbered);
                return true;
            }
        }
        return scanStack(registers);
    }

    bool scanStack(RegisterState& registers) {
        if (!registers.known(kSp)) return false;
        constexpr TargetWord kSlot = 2 * sizeof(TargetWord);
        TargetWord from = registers.r[kSp] > scanFloor_ ? registers.r[kSp] : scanFloor_;
        if (from > ~TargetWord{0} - kSlot) return false;
        from = (from + kSlot - 1) & ~(kSlot - 1);
        const common::ByteView stack = memory_.bytesAt(from);
        for (std::size_t offset = 0; stack.size() >= kSlot && offset <= stack.size() - kSlot; offset += kSlot) {
            TargetWord candidate;
            std::memcpy(&candidate, stack.data() + offset + sizeof(TargetWord), sizeof candidate);
            if (!acceptsReturnAddress(candidate)) continue;
            const TargetWord sp = from + static_cast<TargetWord>(offset) + kSlot;
            RegisterState resumed;
            resumed.set(kSp, sp);
            resumed.set(kPc, candidate);
            record(resumed, raw_flag::kMarker);
            registers = resumed;
            scanFloor_ = sp;
            return true;
        }
        return false;
    }

    bool acceptsReturnAddress(TargetWord candidate) {
        const TargetWord at = lookupAddress(candidate);
        if (kIs64 ? (at & 3) != 0 : (candidate & 3) == 2) return false;
        std::optional<CodeRegion> region = process_.regionAt(at);
        if (!region || !region->module || !region->executable) return false;
        return followsCall(memory_, kIs64 ? at : candidate);
    }

    BacktraceProcess& process_;
    const StepEnvironment& env_;
    const UnwindMemory& memory_;
    WalkLimits limits_;
    std::vector<RawFrame> frames_;
    TargetWord scanFloor_ = 0;  // the stack scan resumes above its last find
};

}  // namespace

bool isSignalReturn(const std::uint8_t (&code)[8], TargetWord pc) {
    if constexpr (kIs64) {
        std::uint64_t value;
        std::memcpy(&value, code, 8);
        return value == kSignalReturnA64;
    } else {
        const std::uint32_t first = word32(code), second = word32(code + 4);
        if (pc & 1) {
            // movs r7, #173 (or #119); svc 0 — and glibc's mov.w r7, #173 (#119); svc 0.
            if (first == 0xDF0027ADu || first == 0xDF002777u) return true;
            return (first == 0x07ADF04Fu || first == 0x0777F04Fu) && (second & 0xFFFFu) == 0xDF00u;
        }
        return (first == 0xE3A070ADu || first == 0xE3A07077u) && (second >> 24) == 0xEFu;
    }
}

bool readSignalContext(const UnwindMemory& memory, TargetWord sp, RegisterState& registers) {
    std::uint32_t magic = 0;
    if (!read32(memory, sp, magic)) return false;
    const TargetWord context = magic == kUcontextMagic ? sp : sp + kSiginfoSize;
    if (context < sp) return false;
    TargetWord saved[decode::kValueRegisterCount];
    if (!memory.read(context + kContextRegisters, saved, sizeof saved)) return false;
    RegisterState restored;
    for (unsigned reg = 0; reg < decode::kValueRegisterCount; ++reg) restored.set(reg, saved[reg]);
    if constexpr (!kIs64) {
        std::uint32_t status = 0;
        if (!read32(memory, context + kContextStatus, status)) return false;
        if (status & 0x20) restored.r[kPc] |= 1;
    }
    registers = restored;
    return true;
}

TargetWord callSiteOf(const UnwindMemory& memory, TargetWord pc) {
    if (kIs64 || !(pc & 1)) return pc - 4;
    std::uint32_t before = 0;
    const bool wide = read32(memory, (pc & ~TargetWord{1}) - 4, before) && (before & 0xC000F000u) == 0xC000F000u;
    return pc - (wide ? 4 : 2);
}

bool followsCall(const UnwindMemory& memory, TargetWord candidate) {
    std::uint32_t word = 0;
    if constexpr (kIs64) {
        if (!read32(memory, candidate - 4, word)) return false;
        return (word & 0xFC000000u) == 0x94000000u      // BL
               || (word & 0xFFFFFC1Fu) == 0xD63F0000u   // BLR
               || (word & 0xFEFFF800u) == 0xD63F0800u;  // BLRAA, BLRAAZ, BLRAB, BLRABZ
    } else {
        const TargetWord at = candidate & ~TargetWord{1};
        if (candidate & 1) {
            if (read32(memory, at - 4, word) && (word & 0xC000F800u) == 0xC000F000u) return true;  // BL, BLX
            std::uint16_t half = 0;
            return memory.read(at - 2, &half, 2) && (half & 0xFF87u) == 0x4780u;                  // BLX Rm
        }
        if (!read32(memory, at - 4, word)) return false;
        return (word >> 25) == 0x7Du                     // BLX immediate
               || ((word >> 24) & 0xF) == 0xBu           // BL
               || (word & 0x0FFFFFF0u) == 0x012FFF30u    // BLX register
               || (word & 0x0E70F000u) == 0x0410F000u;   // LDR pc, [...]
    }
}

std::vector<RawFrame> walkNativeStack(BacktraceProcess& process, const RegisterState& start, const WalkLimits& limits) {
    if (!process.environment().memory) return {};
    return Walk(process, limits).run(start);
}

}  // namespace coresift::unwind
