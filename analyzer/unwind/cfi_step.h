// One unwind step with call-frame information: the rule row of the FDE that covers the pc,
// applied to the frame's registers.
#pragma once

#include "analyzer/unwind/cfi_entries.h"
#include "analyzer/unwind/cfi_types.h"
#include "analyzer/unwind/unwind_step.h"

namespace coresift::unwind {

// Applies `row` to `registers`, reading saved registers from `memory`:
//  - the CFA from its rule (a base register that is not known fails silently; no rule is
//    message "Invalid ... SP rule"); it must lie in a region;
//  - every register but SP by its rule, from the callee's values;
//  - the caller's SP is the CFA (SP's own rule is never used: it would overwrite the CFA);
//  - the caller's pc is the return-address register's value, which then becomes unknown.
// A return address whose rule is "undefined" marks the outermost frame. On anything but
// Stepped the registers are left as they were.
StepStatus applyCfiRow(const CfiRow& row, unsigned returnRegister, const TableNames& names, const UnwindMemory& memory,
                       RegisterState& registers);

// The row of `fde` at `tablePc` applied to `registers`. `tablePc` is the frame's pc in the
// table's addresses (load bias removed, Thumb bit and pointer authentication cleared).
StepResult stepWithFde(const CfiSection& section, const Fde& fde, TargetWord tablePc, const UnwindMemory& memory,
                       RegisterState& registers);

}  // namespace coresift::unwind
