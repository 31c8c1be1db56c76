// Linker stubs (PLT entries) of 32-bit ARM code: a call to a PLT entry is a call to the function
// whose address the entry loads from its GOT slot. Recognized layouts, as the GNU and LLVM
// linkers write them:
//   ARM:   ADD IP, PC, #a ; [ADD IP, IP, #b ...] ; LDR PC, [IP, #c]!   slot = entry + 8 + a + b.. + c
//   ARM:   LDR IP, L ; ADD IP, IP, PC ; LDR PC, [IP] ; L: .word d         slot = entry + 12 + d
//   Thumb: BX PC ; NOP, followed by one of the ARM entries.
#pragma once

#include <optional>

#include "analyzer/decode/target_memory.h"

namespace coresift::decode {

// The GOT slot the stub at `entry` jumps through; nothing when `entry` holds no stub. An odd
// `entry` is Thumb code.
std::optional<TargetWord> linkerStubSlot(const TargetMemory& memory, TargetWord entry);

// The function the stub at `entry` jumps to (the pointer in its slot); nothing when `entry` holds
// no stub or the slot cannot be read.
std::optional<TargetWord> linkerStubTarget(const TargetMemory& memory, TargetWord entry);

}  // namespace coresift::decode
