// Re-execution of the faulting instruction on the crash-time registers against the dead
// process's memory map: which address was read, written or jumped to, and why that failed.
//
// The evaluation decodes the instruction at the crashed thread's PC and checks each memory
// access the instruction makes, in transfer order, against the mappings: present, permitted,
// aligned where the architecture insists, and readable from the dump. The first access that
// fails decides the result.
#pragma once

#include <cstdint>

#include "analyzer/decode/register_state.h"
#include "common/target_word.h"

namespace coresift {

class AddressSpace;

enum class FaultCode : std::uint8_t {
    Unreadable = 0,  // the instruction, or the memory it accesses, is not in the dump
    Runs = 1,        // the instruction executes without fault on the recorded state
    BadPc = 2,       // no mapping holds the PC, it is not executable, or an A32 PC has bit 1 set
    Undefined = 3,   // the instruction is undefined
    Unaligned = 4,   // an access the architecture requires to be aligned is not
    BadLoad = 5,     // a load from an unmapped address or a mapping without read permission
    BadStore = 6,    // a store to an unmapped address or a mapping without write permission
};

struct FaultEvaluation {
    TargetWord address = 0;  // the failing access's address; else the PC with bit 0 clear
    TargetWord value = 0;    // the value a failing store writes; else the instruction word
    FaultCode code = FaultCode::Unreadable;
};

// Evaluates the instruction at `registers`' PC (bit 0 set for Thumb in CoreSift). Every value
// register must be known (the crashed thread's saved registers).
FaultEvaluation evaluateFault(AddressSpace& space, const decode::RegisterState& registers);

// Whether a misaligned access of this kind faults under Linux: plain loads and stores may be
// unaligned on ARMv7 and AArch64; exclusives, acquire/release, atomics and (on ARMv7) load/store
// multiple, two-register and floating-point transfers may not. Returns the alignment in bytes the
// access needs (1: none).
unsigned requiredAlignment(std::uint32_t op, unsigned elementBytes, unsigned transferCount, bool vector);

}  // namespace coresift
