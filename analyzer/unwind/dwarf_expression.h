// The DWARF expression evaluator: CFA and register rules of call-frame information, and (for the
// type reader) the locations of variables and parameters.
//
// A stack of 256 64-bit entries starts with one entry, `initialValue`. Register operations read
// the frame's known registers; memory operations read the dump. Every failure stops the
// evaluation: a register that is not known, unreadable memory, an unsupported operation (the
// entry-value and implicit-pointer forms fail silently), stack faults and malformed operands
// (with their messages), and more than `maxOperations` operations (branches can loop).
#pragma once

#include <cstdint>
#include <optional>

#include "analyzer/decode/register_state.h"
#include "analyzer/decode/target_memory.h"
#include "analyzer/unwind/cfi_types.h"

namespace coresift::unwind {

inline constexpr unsigned kExpressionStackSize = 256;

struct ExpressionContext {
    TableNames names;
    const decode::RegisterState* registers = nullptr;
    const decode::TargetMemory* memory = nullptr;
    TargetWord initialValue = 0;  // the current SP, or the CFA while register rules are evaluated
    TargetWord cfa = 0;           // pushed by DW_OP_call_frame_cfa
    std::optional<TargetWord> frameBase;
    // DW_OP_addrx / DW_OP_constx: `.debug_addr` with the unit's base offset, and the module's
    // load bias added to every non-zero entry. Without `.debug_addr` they fail.
    std::optional<common::ByteView> debugAddr;
    std::uint64_t addrBase = 0;
    TargetWord loadBias = 0;
    unsigned maxOperations = 100000;
};

// Evaluates `expression`. With `isLocation` the result is an address and `width` (4 or 8) bytes
// are read there, unless the expression made its result a value (DW_OP_stack_value, a register
// name, an implicit value). Nothing on failure.
std::optional<std::uint64_t> evaluateExpression(const ExpressionContext& context, common::ByteView expression,
                                                unsigned width, bool isLocation);

}  // namespace coresift::unwind
