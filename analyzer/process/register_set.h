// The saved registers of one thread, as the coredump's NT_PRSTATUS note holds them.
// CoreSift: r0-r15 then cpsr (17 words); r13 is sp, r14 lr, r15 pc (bit 0 set for a thread
// stopped in Thumb state). CoreSift64: x0-x30, sp, pc, then pstate (34 doublewords).
#pragma once

#include <array>

#include "common/target_word.h"

namespace coresift {

struct RegisterSet {
    static constexpr unsigned kCount = kIs64 ? 34 : 17;
    static constexpr unsigned kSp = kIs64 ? 31 : 13;
    static constexpr unsigned kLr = kIs64 ? 30 : 14;
    static constexpr unsigned kPc = kIs64 ? 32 : 15;
    static constexpr unsigned kStatus = kIs64 ? 33 : 16;  // cpsr / pstate
    // General registers printed in register dumps: r0-r15, or x0-x30, sp and pc.
    static constexpr unsigned kCoreCount = kIs64 ? 33 : 16;

    // Status bits. The stored status word always has the mode bit forced on (user mode 0x10 on
    // ARM, 0x100 on AArch64), as the debugger scripts expect a valid mode.
    static constexpr TargetWord kThumbBit = 0x20;
    static constexpr TargetWord kForcedStatusBits = kIs64 ? 0x100 : 0x10;

    std::array<TargetWord, kCount> r{};

    TargetWord sp() const { return r[kSp]; }
    TargetWord lr() const { return r[kLr]; }
    TargetWord pc() const { return r[kPc]; }
    TargetWord status() const { return r[kStatus]; }
};

}  // namespace coresift
