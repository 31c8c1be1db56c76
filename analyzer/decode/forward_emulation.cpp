// Forward emulation to a function's return, with bounded exploration of backward branches.
#include "analyzer/decode/forward_emulation.h"

#include "analyzer/decode/effects.h"
#include "analyzer/decode/emulator.h"

namespace coresift::decode {
namespace {

struct Run {
    const TargetMemory& memory;
    const EmulationLimits& limits;
    TargetWord startPc;       // without the Thumb bit
    TargetWord startSp;
    unsigned executed = 0;
};

bool fetch(const TargetMemory& memory, InstructionSet set, TargetWord address, std::uint32_t& word) {
    if (set == InstructionSet::Thumb) {
        std::uint16_t first = 0, second = 0;
        if (!memory.read16(address, first)) return false;
        if (thumbLength(first) == 4 && !memory.read16(address + 2, second)) return false;
        word = first | (std::uint32_t{second} << 16);
        return true;
    }
    return memory.read32(address, word);
}

// The caller's registers once a return has been reached with `target` in `state`.
bool finish(const Run& run, RegisterState& state, TargetWord target, RegisterState& out) {
    if (!state.known(kRegSp) || state.r[kRegSp] <= run.startSp) return false;
    out = state;
    out.forgetMask(kCallClobbered);
    out.set(kRegPc, target);
    return true;
}

// Emulates from `pc` until a return. `stopAt` (an exploration's start) ends a path that loops
// back to it without a result.
bool emulate(Run& run, RegisterState state, TargetWord pc, unsigned depth, bool exploring, RegisterState& out) {
    StoreLog stores;
    ItBlock block;
    InstructionEmulator emulator(state, run.memory, stores);
    const InstructionSet set = setOfAddress(pc);
    for (;;) {
        if (run.executed >= run.limits.maxInstructions) return false;
        ++run.executed;
        const TargetWord address = pc & ~TargetWord{1};
        if (exploring && address == run.startPc) return false;
        std::uint32_t word = 0;
        if (!fetch(run.memory, set, address, word)) return false;  // ran off the code region
        state.set(kRegPc, pc);
        const StepResult step = emulator.step(set, address, word, &block);
        const TargetWord next = pc + step.length;
        switch (step.kind) {
        case StepResult::Next:
            pc = next;
            break;
        case StepResult::Undefined:
            return false;
        case StepResult::Call:
            // The callee returns here with the call-clobbered registers changed.
            state.forgetMask(kCallClobbered);
            pc = next;
            break;
        case StepResult::Return:
            if (!step.targetKnown) return false;
            return finish(run, state, step.target, out);
        case StepResult::Jump:
            if (!step.targetKnown) return false;
            // A jump after the frame is popped is a tail call: the return goes to LR.
            if (state.known(kRegSp) && state.r[kRegSp] > run.startSp && state.known(kRegLr) &&
                setOfAddress(step.target) == set)
                return finish(run, state, state.r[kRegLr], out);
            if (setOfAddress(step.target) != set) return false;
            pc = step.target;
            block.clear();
            break;
        case StepResult::Conditional:
            if ((step.target & ~TargetWord{1}) < run.startPc && depth < run.limits.maxDepth &&
                emulate(run, state, step.target, depth + 1, true, out))
                return true;
            pc = next;  // the path that does not branch
            break;
        }
    }
}

}  // namespace

EmulationResult emulateToReturn(const RegisterState& frame, const TargetMemory& memory, const EmulationLimits& limits) {
    EmulationResult result;
    if (!frame.known(kRegPc) || !frame.known(kRegSp)) return result;
    const TargetWord pc = frame.r[kRegPc];
    if (!carriesSet(setOfAddress(pc))) return result;
    Run run{memory, limits, pc & ~TargetWord{1}, frame.r[kRegSp]};
    result.ok = emulate(run, frame, pc, 0, false, result.caller);
    result.instructions = run.executed;
    return result;
}

}  // namespace coresift::decode
