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

// A forward conditional branch passed on a path, kept to be taken when the path fails.
struct Fork {
    TargetWord target;
    RegisterState state;
    StoreLog stores;
};

constexpr unsigned kMaxForks = 8;     // the newest forks of a path are retried
constexpr unsigned kMaxVisited = 64;  // conditional branches remembered per path for loop checks

// The conditional branches a path has passed: reaching one again is a loop that, with unknown
// flags, the emulation would go round until its budget ends.
class Visited {
public:
    bool seen(TargetWord address) const {
        for (unsigned i = 0; i < count_; ++i)
            if (addresses_[i] == address) return true;
        return false;
    }
    void add(TargetWord address) {
        if (count_ < kMaxVisited) addresses_[count_++] = address;
    }

private:
    TargetWord addresses_[kMaxVisited];
    unsigned count_ = 0;
};

bool emulate(Run& run, RegisterState state, StoreLog stores, TargetWord pc, unsigned depth, bool exploring,
             RegisterState& out);

// A path failed: the forward branches it passed are taken instead, the newest first.
bool retryForks(Run& run, Fork* forks, unsigned count, unsigned depth, bool exploring, RegisterState& out) {
    for (unsigned i = count; i-- > 0;) {
        if (run.executed >= run.limits.maxInstructions) return false;
        if (emulate(run, forks[i].state, forks[i].stores, forks[i].target, depth + 1, exploring, out)) return true;
    }
    return false;
}

// Emulates from `pc` until a return. Along the way, a conditional branch back below the start
// is explored first (the function's return may lie in the code before the frame's pc); forward
// conditional branches fall through, and are taken in turn only when the straight path fails
// (a loop, undefined code, the end of the code region). An exploration that comes back to the
// start ends without a result.
bool emulate(Run& run, RegisterState state, StoreLog stores, TargetWord pc, unsigned depth, bool exploring,
             RegisterState& out) {
    ItBlock block;
    InstructionEmulator emulator(state, run.memory, stores);
    const InstructionSet set = setOfAddress(pc);
    Fork forks[kMaxForks];
    unsigned forkCount = 0;
    Visited visited;
    auto failed = [&] { return retryForks(run, forks, forkCount, depth, exploring, out); };
    for (;;) {
        if (run.executed >= run.limits.maxInstructions) return false;
        ++run.executed;
        const TargetWord address = pc & ~TargetWord{1};
        if (exploring && address == run.startPc) return failed();
        std::uint32_t word = 0;
        if (!fetch(run.memory, set, address, word)) return failed();  // ran off the code region
        state.set(kRegPc, pc);
        const StepResult step = emulator.step(set, address, word, &block);
        const TargetWord next = pc + step.length;
        switch (step.kind) {
        case StepResult::Next:
            pc = next;
            break;
        case StepResult::Undefined:
            return failed();
        case StepResult::Call:
            // The callee returns here with the call-clobbered registers changed.
            state.forgetMask(kCallClobbered);
            pc = next;
            break;
        case StepResult::Return:
            if (!step.targetKnown) return failed();
            return finish(run, state, step.target, out) || failed();
        case StepResult::Jump:
            if (!step.targetKnown) return failed();
            // A jump after the frame is popped is a tail call: the return goes to LR.
            if (state.known(kRegSp) && state.r[kRegSp] > run.startSp && state.known(kRegLr) &&
                setOfAddress(step.target) == set)
                return finish(run, state, state.r[kRegLr], out) || failed();
            if (setOfAddress(step.target) != set) return failed();
            pc = step.target;
            block.clear();
            break;
        case StepResult::Conditional:
            if (visited.seen(address)) return failed();
            visited.add(address);
            if ((step.target & ~TargetWord{1}) < run.startPc) {
                if (depth < run.limits.maxDepth &&
                    emulate(run, state, stores, step.target, depth + 1, true, out))
                    return true;
            } else if (depth < run.limits.maxDepth && setOfAddress(step.target) == set) {
                if (forkCount == kMaxForks) {
                    for (unsigned i = 1; i < kMaxForks; ++i) forks[i - 1] = forks[i];
                    --forkCount;
                }
                forks[forkCount++] = Fork{step.target, state, stores};
            }
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
    result.ok = emulate(run, frame, StoreLog{}, pc, 0, false, result.caller);
    result.instructions = run.executed;
    return result;
}

}  // namespace coresift::decode
