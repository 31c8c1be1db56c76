// The backtrace driver's seam to the heuristics that work through the code itself: forward
// emulation of a function to its return (when no unwind table and no prologue analysis can step
// a frame), and the values of a frame's call arguments (backtraces with details).
//
// The driver holds one FrameHeuristics for a run (makeFrameHeuristics) and calls it:
//   - forwardStep: after the module's tables (and prologue analysis) failed for a frame, or for
//     code outside every module. `registers` hold the frame (pc as the walk has it: bit 0 for
//     Thumb, moved back to the call site for every frame but the first); reads go through
//     env.memory, which ends at the end of each region.
//   - arguments: once per symbolized frame with details, except signal and marker frames.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "analyzer/unwind/unwind_step.h"

namespace coresift {
class SymbolSource;
}

namespace coresift::unwind {

// How the frame printer shows an argument's value.
enum class ArgumentKind : std::uint8_t {
    Skipped = 0,   // not printed, but counted
    Boolean = 1,   // "true" / "false"
    Signed = 2,    // "%d"
    Unsigned = 3,  // "%u"
    Int64 = 4,     // "%lld"
    Float = 5,     // a 32-bit float, "%f"
    Double = 6,    // a 64-bit double, "%f"
    Text = 7,      // `text`
    Symbolic = 8,  // the value rendered symbolically (a name + offset, a function, hexadecimal)
};

struct FrameArgument {
    std::string name;  // empty: printed by its number
    unsigned index = 0;
    ArgumentKind kind = ArgumentKind::Symbolic;
    std::uint64_t value = 0;  // the raw bits (a float's or double's bits for those kinds)
    std::string text;         // kind Text
};

// What the driver knows of a frame when it asks for the frame's arguments.
struct ArgumentRequest {
    RegisterState registers;  // the frame's registers as unwinding left them (pc at the frame)
    // The frame's function: its start (0 when unknown) and its name as the symbol table stores
    // it (mangled; empty when unknown).
    TargetWord functionStart = 0;
    std::string_view symbolName;
    SymbolSource* symbols = nullptr;  // the module's symbols and debugging information, or null
    // The caller's registers at the call instruction (pc = the call site, moved back from the
    // return address), for recovering arguments the call set up; null for the outermost frame.
    const RegisterState* caller = nullptr;
    TargetWord callerFunctionStart = 0;
};

class FrameHeuristics {
public:
    virtual ~FrameHeuristics() = default;

    // Emulates the frame's function to its return. Stepped: `registers` hold the caller's (the
    // call-clobbered registers unknown); anything else leaves them unchanged.
    virtual StepResult forwardStep(const StepEnvironment& env, RegisterState& registers) = 0;

    // The arguments of the frame's call, in order; empty when nothing is known of them.
    virtual std::vector<FrameArgument> arguments(const StepEnvironment& env, const ArgumentRequest& frame) = 0;
};

std::unique_ptr<FrameHeuristics> makeFrameHeuristics();

}  // namespace coresift::unwind
