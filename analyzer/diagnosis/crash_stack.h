// Where the crash diagnosis and the instruction listing meet the backtrace driver: the crashed
// thread's native frames, innermost first, as the unwinder found them (inlined functions as
// frames of their own, as the call stack prints them). The backtrace driver
// provides the implementation (RunContext::crashStack); tests supply frames of their own.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "analyzer/decode/register_state.h"
#include "common/target_word.h"

namespace coresift {

inline constexpr unsigned kFrameArgumentSlots = kIs64 ? 8 : 4;  // R0-R3 / X0-X7

struct CrashFrame {
    TargetWord pc = 0;       // bit 0 set for Thumb code in CoreSift
    std::string module;      // the file name of the frame's module ("libc.so"); empty: unknown
    std::string function;    // the shown function name; empty: none known
    // The call arguments the unwinder found: how many, their values, and which are known.
    unsigned argumentCount = 0;
    std::array<TargetWord, kFrameArgumentSlots> arguments{};
    std::uint32_t argumentsKnown = 0;  // bit i: arguments[i] holds the value
    // The frame's registers and the set the unwinder knows (all of them in the innermost frame,
    // the restored ones outside it).
    decode::RegisterState registers;
    // False for a frame the unwinder guessed (scanned from the stack) rather than unwound.
    bool ordinary = true;
    // A function inlined into the frame before it (its call site lies there): both are one
    // machine frame and share the pc and the registers.
    bool inlined = false;

    bool hasFunction() const { return !function.empty(); }
    bool argumentKnown(unsigned i) const { return i < argumentCount && i < kFrameArgumentSlots && (argumentsKnown >> i & 1); }
};

class CrashStack {
public:
    virtual ~CrashStack() = default;
    // The crashed thread's frames, innermost first; empty when the stack cannot be unwound.
    virtual const std::vector<CrashFrame>& crashFrames() = 0;
};

}  // namespace coresift
