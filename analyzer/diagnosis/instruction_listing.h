// The "assembly inst." block under the crashed thread's native call stack: the backward slice of
// the crash. From the faulting instruction the listing keeps the instructions that produced the
// registers it used, back along the path that reaches the crash to the function's start, with a
// tip beside each (global or local variable, a function's return value, a parameter, or an
// "execute error" where the recorded value cannot have come from that instruction). When the
// suspicious value came in as a parameter, the caller's frame is listed next, tracing the
// argument registers there. The crashed thread's register values close the block.
#pragma once

#include <cstdint>
#include <vector>

#include "analyzer/decode/register_state.h"
#include "analyzer/diagnosis/crash_stack.h"

namespace coresift {

class AddressSpace;
class CodeSymbols;
class ReportWriter;
struct RunContext;

// Bit 31 of listFrame's result: a listing was written. Bits 0..7: the parameter registers
// (R0-R3 / X0-X7) that the caller's listing must trace.
inline constexpr std::uint32_t kListingWritten = 0x80000000u;
inline constexpr std::uint32_t kParameterMask = kIs64 ? 0xFFu : 0xFu;

// Writes one frame's block. `innermost`: the crashing frame (its pc instruction is the fault);
// `tracedParameters`: what the inner frame's block returned (0 for the innermost frame).
std::uint32_t listFrame(AddressSpace& space, CodeSymbols& symbols, ReportWriter& report, const CrashFrame& frame,
                        bool innermost, std::uint32_t tracedParameters);

// "current register values": every general register, SP and PC of `registers`.
void printRegisterValues(ReportWriter& report, const decode::RegisterState& registers);

// The whole block for the crashed thread's frames (innermost first): frames are listed while each
// hands parameters on to its caller; the register values follow when anything was listed.
void writeInstructionListing(AddressSpace& space, CodeSymbols& symbols, ReportWriter& report,
                             const std::vector<CrashFrame>& frames);
// The same with the run's address space, symbols and crashed-thread frames (nothing without them).
void writeInstructionListing(RunContext& context, ReportWriter& report);

}  // namespace coresift
