// The ARM exception-handling ABI's unwind instructions: a byte program that describes how a
// function's prologue saved registers and moved SP, run backwards from a virtual SP (vsp).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "analyzer/decode/target_memory.h"

namespace coresift::unwind {

// The 32-bit ARM registers of one frame, with bit n of `valid` set when rn is known.
struct ArmRegisters {
    std::array<std::uint32_t, 16> r{};
    std::uint32_t valid = 0;

    static constexpr unsigned kSp = 13, kLr = 14, kPc = 15;
    bool known(unsigned n) const { return n < 16 && (valid >> n & 1); }
    void set(unsigned n, std::uint32_t value) {
        r[n] = value;
        valid |= 1u << n;
    }
};

// The instruction bytes of one function, in execution order. A function's table data holds at
// most 3 + 4 * 255 of them.
struct ExidxProgram {
    static constexpr std::size_t kMaxBytes = 3 + 4 * 255;
    std::array<std::uint8_t, kMaxBytes> bytes{};
    std::size_t size = 0;

    void add(std::uint8_t byte) {
        if (size < kMaxBytes) bytes[size++] = byte;
    }
};

enum class ExidxRun : std::uint8_t {
    Done,         // the caller's registers are in `frame`
    Refused,      // the program says the function cannot be unwound (0x80 0x00)
    Failed,       // a reserved or malformed instruction, an unknown register, unreadable stack
};

// Runs `program` on `frame`, whose SP is the starting vsp, popping saved registers from
// `stack`. Registers r4-r11, SP and LR keep their known bits from `frame`; r0-r3, r12 and PC are
// unknown unless popped. On Done the caller's pc is the popped r15, or else r14 (which must be
// known), and r14 becomes unknown when it gave the pc; SP is the final vsp. `frame` is changed
// only on Done.
ExidxRun runExidxProgram(const ExidxProgram& program, const decode::TargetMemory& stack, ArmRegisters& frame);

}  // namespace coresift::unwind
