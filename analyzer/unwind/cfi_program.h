// The call-frame instruction interpreter: runs a CIE's initial instructions and an FDE's
// instructions up to a pc, and yields the rule row that holds there.
#pragma once

#include <optional>

#include "analyzer/unwind/cfi_entries.h"
#include "analyzer/unwind/cfi_types.h"

namespace coresift::unwind {

// Deepest DW_CFA_remember_state nesting taken; deeper nesting fails the run.
inline constexpr unsigned kMaxRememberedStates = 64;

// The rules every register starts with before a CIE's instructions run: callee-saved registers
// (r4-r11 / x19-x29) and the return-address register keep their value, the rest are unknown.
CfiRow defaultRow(unsigned returnRegister);

// Runs `instructions` (at `address` in the section) on `row`. The location starts at `location`;
// with `pc` given, the run stops before the first instruction decoded once the location has
// passed `pc`. DW_CFA_restore takes rules from `initial`. False after the message of a faulty
// instruction; `row` is then unspecified.
bool runCfiInstructions(const CfiSection& section, const Cie& cie, common::ByteView instructions, TargetWord address,
                        TargetWord location, std::optional<TargetWord> pc, const CfiRow& initial, CfiRow& row);

// The row of `fde` at `pc` (a pc inside the FDE's range, without the Thumb bit): the CIE's
// instructions, then the FDE's up to pc.
std::optional<CfiRow> rowForPc(const CfiSection& section, const Fde& fde, TargetWord pc);

}  // namespace coresift::unwind
