#include "analyzer/unwind/prologue_analysis.h"

#include <optional>
#include <vector>

#include "analyzer/decode/effects.h"
#include "analyzer/decode/emulator.h"
#include "analyzer/decode/it_block.h"
#include "analyzer/unwind/pointer_auth.h"

namespace coresift::unwind {
namespace {

using decode::kRegLr;
using decode::kRegPc;
using decode::kRegSp;
using decode::kValueRegisterCount;

// The stand-in frame's SP at the function's entry, and the markers the registers start with.
constexpr TargetWord kEntrySp = static_cast<TargetWord>(kIs64 ? 0x5A5A00000000ull : 0xA5A50000ull);
constexpr TargetWord kMarkerBase = static_cast<TargetWord>(kIs64 ? 0xC0DE0000C0DE0000ull : 0xC0DE0000ull);
constexpr TargetWord marker(unsigned reg) { return kMarkerBase + reg * 0x10; }

// Memory for the emulation: the dump for code and literals, nothing around the stand-in stack
// (so that loads from the frame stay unknown instead of reading whatever lies there).
class PrologueMemory final : public decode::TargetMemory {
public:
    PrologueMemory(const UnwindMemory& memory, TargetWord window) : memory_(memory), window_(window) {}
    bool read(TargetWord address, void* out, std::size_t size) const override {
        if (address + size > kEntrySp - window_ && address < kEntrySp + 0x10000) return false;
        return memory_.read(address, out, size);
    }

private:
    const UnwindMemory& memory_;
    TargetWord window_;
};

bool fetch(const decode::TargetMemory& memory, decode::InstructionSet set, TargetWord address, std::uint32_t& word) {
    if (set == decode::InstructionSet::Thumb) {
        std::uint16_t first = 0, second = 0;
        if (!memory.read16(address, first)) return false;
        if (decode::thumbLength(first) == 4 && !memory.read16(address + 2, second)) return false;
        word = first | (std::uint32_t{second} << 16);
        return true;
    }
    return memory.read32(address, word);
}

// A conditional branch forward to at most `pc`: where the walk resumes when the path it did not
// take runs into a return first (an early exit before a shrink-wrapped prologue).
struct Fork {
    TargetWord target;
    RegisterState state;
    decode::StoreLog stores;
};
constexpr unsigned kMaxForks = 8;

// The stand-in frame after running the function from `start` up to `pc`, in address order:
// conditional branches fall through (their forward targets kept as forks), forward jumps up to
// pc are followed, calls clobber what calls clobber, and a return or a backward jump ends the
// path: the walk resumes at the last fork, or ends there with what ran before. Nothing when SP
// got lost or the code cannot be read.
std::optional<RegisterState> runPrologue(const PrologueMemory& memory, decode::StoreLog& stores,
                                         decode::InstructionSet set, TargetWord start, TargetWord pc,
                                         const PrologueLimits& limits) {
    RegisterState state;
    for (unsigned reg = 0; reg < kValueRegisterCount; ++reg) state.set(reg, marker(reg));
    state.set(kRegSp, kEntrySp);
    decode::InstructionEmulator emulator(state, memory, stores);
    decode::ItBlock block;
    std::vector<Fork> forks;
    TargetWord address = start;
    // A path that stops short of pc tells the frame only while it has not begun to pop it: once
    // SP rose above its lowest point the state is an epilogue's, not the frame's at pc.
    TargetWord lowestSp = kEntrySp;
    auto shortOfPc = [&]() -> std::optional<RegisterState> {
        if (state.r[kRegSp] > lowestSp) return std::nullopt;
        return state;
    };
    for (unsigned count = 0; address < pc && count < limits.maxInstructions; ++count) {
        std::uint32_t word = 0;
        if (!fetch(memory, set, address, word)) return std::nullopt;  // code that is not in the dump
        const RegisterState before = state;
        state.set(kRegPc, set == decode::InstructionSet::Thumb ? address | 1 : address);
        const decode::StepResult step = emulator.step(set, address, word, &block);
        const TargetWord target = step.target & ~TargetWord{1};
        const bool forward = step.targetKnown && target > address && target <= pc;
        TargetWord next = address + step.length;
        switch (step.kind) {
            case decode::StepResult::Next: break;
            case decode::StepResult::Call: state.forgetMask(decode::kCallClobbered & ~(std::uint64_t{1} << kRegLr)); break;
            case decode::StepResult::Conditional:
                if (forward && forks.size() < kMaxForks) forks.push_back({target, before, stores});
                break;
            case decode::StepResult::Jump:
                if (forward) {
                    next = target;
                    block.clear();
                    break;
                }
                [[fallthrough]];
            default:
                // A return, a backward jump, an undefined instruction: this path does not lead
                // to pc. Undo the instruction and resume at the last fork.
                state = before;
                if (forks.empty()) return shortOfPc();
                state = forks.back().state;
                stores = forks.back().stores;
                next = forks.back().target;
                forks.pop_back();
                block.clear();
                break;
        }
        if (!state.known(kRegSp)) return std::nullopt;
        if (state.r[kRegSp] < lowestSp) lowestSp = state.r[kRegSp];
        address = next;
    }
    return address < pc ? shortOfPc() : std::optional<RegisterState>(state);
}

}  // namespace

StepResult stepByPrologue(const StepEnvironment& env, TargetWord functionStart, RegisterState& registers,
                          const PrologueLimits& limits) {
    StepResult result;
    result.source = StepSource::Prologue;
    result.status = StepStatus::Failed;
    if (!registers.known(kRegPc) || !registers.known(kRegSp)) return result;
    const TargetWord pcValue = stripPointerAuth(registers.r[kRegPc], env.addressBits);
    const decode::InstructionSet set = decode::setOfAddress(pcValue);
    if (!decode::carriesSet(set)) return result;
    const TargetWord pc = pcValue & ~TargetWord{1};
    const TargetWord start = stripPointerAuth(functionStart, env.addressBits) & ~TargetWord{1};
    if (start > pc || pc - start > limits.maxFrameSize) return result;

    const PrologueMemory memory(*env.memory, limits.maxFrameSize);
    decode::StoreLog stores;
    std::optional<RegisterState> state = runPrologue(memory, stores, set, start, pc, limits);
    if (!state) return result;
    const TargetWord frameSize = kEntrySp - state->r[kRegSp];
    if (state->r[kRegSp] > kEntrySp || frameSize > limits.maxFrameSize) return result;

    // Where each register's marker was stored in the stand-in frame is where the real frame
    // saved it: the same distance below the caller's SP.
    const TargetWord callerSp = registers.r[kRegSp] + frameSize;
    RegisterState caller = registers;
    constexpr unsigned kWord = sizeof(TargetWord);
    for (unsigned reg = 0; reg < kValueRegisterCount; ++reg) {
        if (reg == kRegSp || reg == kRegPc) continue;
        std::optional<TargetWord> slot;
        for (TargetWord offset = kWord; offset <= frameSize && !slot; offset += kWord) {
            std::uint64_t value = 0;
            if (stores.read(memory, kEntrySp - offset, kWord, value) && static_cast<TargetWord>(value) == marker(reg))
                slot = offset;
        }
        if (slot) {
            TargetWord saved = 0;
            if (!env.memory->readWord(callerSp - *slot, saved)) return result;
            caller.set(reg, saved);
        } else if (!state->known(reg) || state->r[reg] != marker(reg)) {
            caller.forget(reg);  // changed and not saved: its caller's value is lost
        }
    }
    if (!caller.known(kRegLr)) return result;
    const TargetWord returnAddress = caller.r[kRegLr];
    caller.forgetMask(decode::kCallClobbered);
    caller.set(kRegSp, callerSp);
    caller.set(kRegPc, returnAddress);
    registers = caller;
    result.status = StepStatus::Stepped;
    return result;
}

}  // namespace coresift::unwind
