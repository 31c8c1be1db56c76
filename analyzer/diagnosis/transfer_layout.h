// Where the registers of a load or store lie in memory, as the architecture lays them out: the
// first address of a load/store multiple, each register's size, and which forms are atomic
// read-modify-writes. Shared by the fault evaluation and the listing's slice.
#pragma once

#include <cstdint>

#include "analyzer/decode/operation.h"

namespace coresift {

// The first address of a load/store multiple from its base and its transfer size (`offset`:
// positive when incrementing, negative when decrementing).
inline TargetWord multipleStart(decode::Variant variant, TargetWord base, std::int64_t offset) {
    const TargetWord total = static_cast<TargetWord>(offset < 0 ? -offset : offset);
    switch (variant) {
        case decode::Variant::MultipleIa: return base;
        case decode::Variant::MultipleIb: return base + 4;
        case decode::Variant::MultipleDa: return base - total + 4;
        default: return base - total;  // decrement before (PUSH, VPUSH, STMDB)
    }
}

// The bytes one register of the transfer moves: general registers of a multiple move words.
inline unsigned transferBytes(std::uint32_t op, unsigned reg, bool multiple) {
    const unsigned element = decode::elementSizeOf(op) > decode::kQuad ? decode::kQuad : decode::elementSizeOf(op);
    if (decode::isVectorRegister(reg)) return 1u << element;
    return multiple ? 4 : 1u << element;
}

inline bool isAtomicUpdate(decode::Variant v) {
    return v == decode::Variant::CompareSwap || v == decode::Variant::Swap || v >= decode::Variant::AtomicAdd;
}

}  // namespace coresift
