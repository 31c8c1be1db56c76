// The walk of a thread's native stack: one unwind step after the other from the thread's
// registers, choosing per frame between the module's tables, prologue analysis and forward
// emulation, passing signal frames through their saved contexts, and recovering through LR and
// a stack scan where every method failed. The result is the raw frames, innermost first.
#pragma once

#include <cstddef>
#include <vector>

#include "analyzer/unwind/backtrace_process.h"
#include "analyzer/unwind/frame.h"

namespace coresift::unwind {

struct WalkLimits {
    std::size_t maxFrames = 200;  // raw frames, markers included
};

std::vector<RawFrame> walkNativeStack(BacktraceProcess& process, const RegisterState& start,
                                      const WalkLimits& limits = {});

// The pieces of the walk that read code and stack (exposed for tests).

// Whether the 8 code bytes at `pc` are a signal-return trampoline (CoreSift: Thumb when bit 0 of
// `pc` is set).
bool isSignalReturn(const std::uint8_t (&code)[8], TargetWord pc);
// The registers saved in the signal frame at `sp`; false when its words cannot be read.
bool readSignalContext(const UnwindMemory& memory, TargetWord sp, RegisterState& registers);
// The calling instruction of return address `pc`: -4 (Thumb: -4 after a 32-bit branch with link,
// else -2).
TargetWord callSiteOf(const UnwindMemory& memory, TargetWord pc);
// Whether the instruction before return address `candidate` is a call.
bool followsCall(const UnwindMemory& memory, TargetWord candidate);

}  // namespace coresift::unwind
