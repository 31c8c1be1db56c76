// DWARF expressions and location descriptions (DW_OP_*), evaluated against one frame.
//
// Expressions come from the symbol file and are untrusted: evaluation is bounded (steps, stack
// depth), branches must land inside the expression, and arithmetic is defined for every input
// (division by zero fails, the most negative value divided by -1 wraps, shifts by the width or
// more give 0, or all sign bits for an arithmetic shift). Arithmetic uses the generic type of the
// unit's address size.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "analyzer/decode/target_memory.h"
#include "common/byte_reader.h"

namespace coresift {

class DwarfInfo;
class Unit;

struct ExpressionContext {
    unsigned addressSize = 4;
    // DWARF register number -> its value in the frame; nothing when unknown.
    std::function<std::optional<std::uint64_t>(unsigned)> reg;
    // The value a register had when the function was entered (DW_OP_entry_value).
    std::function<std::optional<std::uint64_t>(unsigned)> entryValue;
    const decode::TargetMemory* memory = nullptr;  // DW_OP_deref
    std::optional<std::uint64_t> frameBase;        // DW_OP_fbreg
    std::optional<std::uint64_t> cfa;              // DW_OP_call_frame_cfa
    const DwarfInfo* dwarf = nullptr;              // DW_OP_addrx, DW_OP_constx
    const Unit* unit = nullptr;
    std::uint64_t loadBias = 0;  // added to DW_OP_addr (file addresses) to read the dump
};

struct Location {
    enum class Kind : std::uint8_t { Memory, Register, Value, Implicit, Pieces };
    Kind kind = Kind::Value;
    std::uint64_t value = 0;     // address, register number, or value
    common::ByteView bytes;      // DW_OP_implicit_value
    // Pieces put together (up to 8 bytes); `known` is false when a piece is unavailable.
    std::uint64_t pieces = 0;
    unsigned pieceBytes = 0;
    bool known = true;

    static Location of(Kind kind, std::uint64_t value = 0) {
        Location l;
        l.kind = kind;
        l.value = value;
        return l;
    }
};

inline constexpr unsigned kMaxExpressionSteps = 10000;
inline constexpr std::size_t kMaxExpressionStack = 256;

// Evaluates `expression` (after pushing `initialStack`); nothing when it fails.
std::optional<Location> evaluateExpression(common::ByteView expression, const ExpressionContext& context,
                                           const std::vector<std::uint64_t>& initialStack = {});

// The value of `byteSize` bytes (1-8) a location holds; nothing when it cannot be read.
std::optional<std::uint64_t> locationValue(const Location& location, unsigned byteSize, const ExpressionContext& context);

}  // namespace coresift
