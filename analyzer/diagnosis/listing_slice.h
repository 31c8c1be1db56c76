// The backward slice of the instruction listing: from the frame's pc instruction back along the
// path to the function's start, following the registers that fed the fault (or, in a caller's
// frame, the parameters the callee's slice reached), keeping and annotating the instructions that
// produced them and checking the recorded register values against what those instructions did.
#pragma once

#include <cstdint>

#include "analyzer/decode/register_state.h"
#include "analyzer/diagnosis/listing_window.h"

namespace coresift {
class AddressSpace;
class CodeSymbols;
}  // namespace coresift

namespace coresift::listing {

struct SliceState {
    decode::RegisterState registers;  // values and the known set, walking backwards in time
    std::uint64_t traced = 0;         // registers whose origin is still looked for
    bool inconsistent = false;        // a recorded value cannot have come from its instruction
};

struct SliceServices {
    AddressSpace& space;
    CodeSymbols& symbols;
};

// The registers the pc instruction of the crashing frame used to fault: a load's or store's
// address registers, otherwise every register it reads (SP and PC left out).
std::uint64_t faultSources(const Window& window);

// Walks the window backwards from its pc slot (which is printed, not evaluated). Returns the
// registers still traced when the walk passed the window's start (0 when the trace ended first).
std::uint64_t traceBack(Window& window, SliceState& state, SliceServices& services);

}  // namespace coresift::listing
