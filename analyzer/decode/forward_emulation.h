// Forward emulation: the unwinding heuristic for code that no unwind table covers. Starting at
// the frame's PC, the function's instructions are executed on a copy of its registers until it
// returns; the caller's registers are what the return leaves behind.
//
// Seam for the backtrace driver: it passes the frame's registers (PC with bit 0 for Thumb) and a
// reader of the code and stack bytes of the dump, and takes the caller's registers back. The
// reader must fail past the end of the PC's code region: running off the region ends the
// emulation without a result.
#pragma once

#include <cstdint>

#include "analyzer/decode/register_state.h"
#include "analyzer/decode/target_memory.h"

namespace coresift::decode {

struct EmulationLimits {
    unsigned maxInstructions = 4096;  // all paths together
    unsigned maxDepth = 4;            // nested explorations of backward conditional branches
};

struct EmulationResult {
    bool ok = false;
    RegisterState caller;         // valid when ok: PC = return address, SP above the frame's
    unsigned instructions = 0;    // instructions executed on all paths
};

// Runs the function at `frame`'s PC to its return. The result is accepted only when the final SP
// lies above the frame's SP; the caller's registers then have the call-clobbered registers
// (R0-R3, R12, R14 / X0-X18, X30) unknown.
EmulationResult emulateToReturn(const RegisterState& frame, const TargetMemory& memory,
                                const EmulationLimits& limits = {});

}  // namespace coresift::decode
