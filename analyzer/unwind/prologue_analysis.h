// Prologue analysis: unwinding a function whose table says it cannot be unwound (noreturn C
// functions such as abort) or that no table covers, from what its first instructions did.
//
// The instructions from the function's start up to the frame's pc are emulated in order on a
// stand-in frame whose SP is a known value and whose registers each hold a distinct marker;
// the emulation stops at the first branch, call or return (a prologue does not branch) or at
// the pc. How far SP moved gives the frame size, and where the markers were stored gives the
// slots of LR and the callee-saved registers: push/stmdb with LR, sub sp, frame-pointer set-up,
// vpush; on AArch64 stp x29, x30, [sp, #-N]!, stp/str of callee-saved registers, sub sp.
#pragma once

#include "analyzer/unwind/unwind_step.h"

namespace coresift::unwind {

struct PrologueLimits {
    unsigned maxInstructions = 256;
    TargetWord maxFrameSize = 1u << 20;
};

// One step for the frame in `registers` (pc = the frame's pc, SP known), whose function starts
// at `functionStart` (same instruction set as the pc). Stepped with the caller's registers
// (SP above the frame, pc = the saved or unchanged LR; call-clobbered registers unknown), or
// Failed when the prologue does not tell where the return address is.
StepResult stepByPrologue(const StepEnvironment& env, TargetWord functionStart, RegisterState& registers,
                          const PrologueLimits& limits = {});

}  // namespace coresift::unwind
