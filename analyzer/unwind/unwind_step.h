// What one unwind step takes and gives, whatever table it uses: the frame's registers in, the
// caller's registers out, and a status that tells the backtrace driver what to do next.
#pragma once

#include <cstdint>

#include "analyzer/decode/register_state.h"
#include "analyzer/driver/console.h"
#include "analyzer/unwind/unwind_memory.h"

namespace coresift::unwind {

// The registers of one frame: the decoder's register state, numbered as DWARF numbers them
// (CoreSift: r0-r15; CoreSift64: x0-x30, sp = 31, pc = 32), bit n of `valid` set when register n
// is known. A thread's registers from the core map one to one (RegisterSet's first kCoreCount
// words, all known); in CoreSift the pc gets bit 0 when the status register's Thumb bit is set.
using decode::RegisterState;

enum class StepStatus : std::uint8_t {
    Stepped,       // the registers now hold the caller's frame
    Outermost,     // the table marks the return address undefined: this frame has no caller
    NoEntry,       // no entry of this table covers the pc; another source may
    CannotUnwind,  // the table covers the pc and says it cannot be unwound (EXIDX_CANTUNWIND)
    Failed,        // an entry covers the pc but the step failed (bad entry, unknown register,
                   // unreadable stack); messages were printed where the table is at fault
};

// Where the answer came from.
enum class StepSource : std::uint8_t { None, DebugFrame, EhFrame, Exidx, Prologue };

struct StepResult {
    StepStatus status = StepStatus::NoEntry;
    StepSource source = StepSource::None;
    bool signalFrame = false;  // the CFI entry is a signal frame's ('S' augmentation)

    bool stepped() const { return status == StepStatus::Stepped; }
};

// What every step reads besides the frame: the dead process's memory, where messages go, and the
// number of virtual-address bits that pointer-authentication stripping keeps (CoreSift64; 32 in
// CoreSift, where nothing is stripped).
struct StepEnvironment {
    Console* console = nullptr;  // null: silent
    const UnwindMemory* memory = nullptr;
    unsigned addressBits = kIs64 ? 39 : 32;
};

}  // namespace coresift::unwind
