// The backward scanner for argument values: from a call site back through the instructions
// before it, the values the argument registers held when the call was made.
//
// Seam for the backtrace driver: for a caller frame it passes the call instruction's address
// (bit 0 set for Thumb), the frame's registers as unwinding restored them (usually without the
// argument registers) and, when the symbol look-up knows it, the calling function's start. The
// scanner reads code and stack through the memory reader. Registers whose values cannot be
// derived stay unknown; nothing is guessed.
#pragma once

#include <cstdint>

#include "analyzer/decode/register_state.h"
#include "analyzer/decode/target_memory.h"

namespace coresift::decode {

inline constexpr unsigned kMaxArguments = kIs64 ? 8 : 4;  // R0-R3 / X0-X7

struct ArgumentValues {
    TargetWord value[kMaxArguments] = {};
    std::uint8_t known = 0;  // bit i: value[i] recovered
};

// Recovers arguments 0..count-1 (at most kMaxArguments) at the call at `callSite`. Registers the
// frame already knows are taken from it. `functionStart` (0 = unknown) bounds the scan.
ArgumentValues recoverArguments(const TargetMemory& memory, TargetWord callSite, const RegisterState& atCall,
                                unsigned count, TargetWord functionStart = 0);

}  // namespace coresift::decode
