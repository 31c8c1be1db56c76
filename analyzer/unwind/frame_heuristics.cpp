// The backtrace driver's code-reading heuristics: forward emulation of a frame's function to its
// return, and the values of a frame's call arguments from the registers, the call site, the
// stack and the function's debugging information.
#include "analyzer/unwind/frame_heuristics.h"

#include "analyzer/decode/argument_scanner.h"
#include "analyzer/decode/forward_emulation.h"
#include "analyzer/symbols/demangle.h"
#include "analyzer/symbols/frame_parameters.h"

namespace coresift::unwind {
namespace {

using decode::kRegPc;
using decode::kRegSp;

constexpr unsigned kRegisterArguments = decode::kMaxArguments;  // r0-r3 / x0-x7
constexpr unsigned kMaxStackArguments = 16;                        // words read from the stack at most

// Argument words the frame's function takes: the demangled parameter count, or the register
// words of the calling convention when the name says nothing.
unsigned argumentCount(std::string_view symbolName) {
    if (symbolName.empty()) return kRegisterArguments;
    const std::optional<Demangled> demangled = demangle(symbolName);
    if (!demangled) return kRegisterArguments;
    return demangled->parameterCount > 0 ? static_cast<unsigned>(demangled->parameterCount) : 0;
}

ArgumentKind kindOf(const FrameParameter& parameter) {
    if (!parameter.known) return ArgumentKind::Skipped;
    switch (parameter.kind) {
    case ValueKind::Boolean: return ArgumentKind::Boolean;
    case ValueKind::Signed:
    case ValueKind::Character: {
        // CoreSift64 passes integers up to 64 bits in one word: wide values print whole.
        const auto value = static_cast<std::int64_t>(parameter.value);
        return value == static_cast<std::int32_t>(value) ? ArgumentKind::Signed : ArgumentKind::Int64;
    }
    case ValueKind::Unsigned:
        return parameter.value <= 0xFFFFFFFFu ? ArgumentKind::Unsigned : ArgumentKind::Int64;
    case ValueKind::Int64:
    case ValueKind::UInt64: return ArgumentKind::Int64;
    case ValueKind::Float: return ArgumentKind::Float;
    case ValueKind::Double: return ArgumentKind::Double;
    default: return ArgumentKind::Symbolic;
    }
}

// GCC's clones of a function (".isra", ".constprop", ".part") take other parameters than the
// declared ones: their argument registers do not line up with the debugging information's list.
bool isReshapedClone(std::string_view symbolName) {
    for (std::string_view suffix : {".isra", ".constprop", ".part"})
        if (symbolName.find(suffix) != std::string_view::npos) return true;
    return false;
}

// The argument registers' values at the frame's entry, recovered from the caller's call site.
decode::ArgumentValues entryArguments(const StepEnvironment& env, const ArgumentRequest& frame, unsigned count) {
    if (!frame.caller || !frame.caller->known(kRegPc) || !env.memory) return {};
    RegisterState atCall = *frame.caller;
    // The argument registers the caller's frame keeps are not the call's: unwinding cleared them,
    // or they are a later value. Only the code before the call says what they held.
    atCall.forgetMask((std::uint64_t{1} << kRegisterArguments) - 1);
    return decode::recoverArguments(*env.memory, frame.caller->r[kRegPc], atCall, count, frame.callerFunctionStart);
}

// The stack pointer at the frame's entry: the caller's at the call instruction.
std::optional<TargetWord> entryStackPointer(const ArgumentRequest& frame) {
    if (frame.caller && frame.caller->known(kRegSp)) return frame.caller->r[kRegSp];
    return std::nullopt;
}

// Arguments from the function's debugging information; false when it has no entry for the pc.
bool debugArguments(const StepEnvironment& env, const ArgumentRequest& frame, std::vector<FrameArgument>& out) {
    if (!frame.symbols || !env.memory || !frame.registers.known(kRegPc)) return false;
    const TargetWord pc = frame.registers.r[kRegPc] & ~TargetWord{1};
    const Entry subprogram = subprogramAt(*frame.symbols, pc);
    if (!subprogram) return false;

    FrameRegisters registers;
    for (unsigned n = 0; n < decode::kValueRegisterCount && n < registers.values.size(); ++n)
        registers.values[n] = frame.registers.r[n];
    registers.known = frame.registers.valid;
    registers.pc = pc;
    const decode::ArgumentValues entry =
        isReshapedClone(frame.symbolName) ? decode::ArgumentValues{} : entryArguments(env, frame, kRegisterArguments);
    for (unsigned a = 0; a < kRegisterArguments; ++a) {
        if (!(entry.known >> a & 1)) continue;
        registers.values[a] = entry.value[a];
        registers.known |= std::uint64_t{1} << a;
        registers.entryValues |= std::uint64_t{1} << a;
    }
    // Without a caller the entry's stack is unknown: address 0 is never a stack.
    const std::optional<TargetWord> sp = entryStackPointer(frame);
    registers.sp = sp.value_or(0);
    registers.cfa = sp;

    frameParameters(*frame.symbols, subprogram, registers, *env.memory, [&](const FrameParameter& parameter) {
        FrameArgument argument;
        argument.name = std::string(parameter.name);
        argument.index = parameter.index;
        argument.kind = kindOf(parameter);
        argument.value = parameter.value;
        out.push_back(std::move(argument));
        return 0;
    });
    return true;
}

class CodeHeuristics final : public FrameHeuristics {
public:
    StepResult forwardStep(const StepEnvironment& env, RegisterState& registers) override {
        StepResult result;
        result.status = StepStatus::Failed;
        if (!env.memory) return result;
        const decode::EmulationResult emulated = decode::emulateToReturn(registers, *env.memory);
        if (!emulated.ok) return result;
        registers = emulated.caller;
        result.status = StepStatus::Stepped;
        return result;
    }

    std::vector<FrameArgument> arguments(const StepEnvironment& env, const ArgumentRequest& frame) override {
        std::vector<FrameArgument> out;
        if (debugArguments(env, frame, out)) return out;

        const unsigned count = argumentCount(frame.symbolName);
        const unsigned inRegisters = count < kRegisterArguments ? count : kRegisterArguments;
        decode::ArgumentValues values;
        for (unsigned a = 0; a < inRegisters; ++a) {
            if (!frame.registers.known(a)) continue;
            values.value[a] = frame.registers.r[a];
            values.known |= static_cast<std::uint8_t>(1u << a);
        }
        if (values.known != (1u << inRegisters) - 1) {
            const decode::ArgumentValues recovered = entryArguments(env, frame, inRegisters);
            for (unsigned a = 0; a < inRegisters; ++a) {
                if ((values.known >> a & 1) || !(recovered.known >> a & 1)) continue;
                values.value[a] = recovered.value[a];
                values.known |= static_cast<std::uint8_t>(1u << a);
            }
        }
        for (unsigned a = 0; a < inRegisters; ++a) {
            FrameArgument argument;
            argument.index = a;
            argument.kind = (values.known >> a & 1) ? ArgumentKind::Symbolic : ArgumentKind::Skipped;
            argument.value = values.value[a];
            out.push_back(argument);
        }
        // Words past the registers lie on the stack from the entry's SP up.
        const std::optional<TargetWord> sp = entryStackPointer(frame);
        const unsigned last = count - inRegisters > kMaxStackArguments ? inRegisters + kMaxStackArguments : count;
        for (unsigned a = inRegisters; a < last && sp && env.memory; ++a) {
            TargetWord word = 0;
            if (!env.memory->readWord(*sp + static_cast<TargetWord>((a - inRegisters) * sizeof(TargetWord)), word)) continue;
            FrameArgument argument;
            argument.index = a;
            argument.kind = ArgumentKind::Symbolic;
            argument.value = word;
            out.push_back(argument);
        }
        while (!out.empty() && out.back().kind == ArgumentKind::Skipped) out.pop_back();
        return out;
    }
};

}  // namespace

std::unique_ptr<FrameHeuristics> makeFrameHeuristics() { return std::make_unique<CodeHeuristics>(); }

}  // namespace coresift::unwind
