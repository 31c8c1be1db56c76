// Arithmetic of the normalized form: the value a data-processing operation produces from the
// values of the registers it reads. Shared by the instruction emulator and the argument scanner.
#pragma once

#include <cstdint>
#include <optional>

#include "analyzer/decode/operation.h"

namespace coresift::decode {

// Values of what a data-processing operation reads; nothing = unknown.
struct DpInputs {
    std::optional<TargetWord> rd;           // MOVK and bitfield inserts keep part of it
    std::optional<TargetWord> rn;
    std::optional<TargetWord> rm;
    std::optional<TargetWord> shift;        // the shift register of op::kShiftByRegister
    std::optional<TargetWord> accumulator;  // multiply-accumulate
    TargetWord pc = 0;                      // the value the instruction reads for PC (ADRP)
};

// The operand of a register shifted or extended as `field` describes, at `bits` width.
std::uint64_t applyField(std::uint64_t value, std::uint64_t field, bool isSigned, unsigned bits);

// The result of the operation, or nothing when it depends on something unknown (an unknown
// register, the flags) or on two destinations (32-bit long multiplies).
std::optional<TargetWord> evaluate(std::uint32_t op, unsigned rn, unsigned rm, std::uint64_t immediate,
                                   const DpInputs& in);

}  // namespace coresift::decode
