// The instruction listing's working area for one frame: the window of code from the function's
// start to its end (or to the frame's pc instruction), one line record per instruction slot (4
// bytes in A32 and A64, 2 bytes in T32), and the search for the path from the function's start to
// the pc instruction.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analyzer/decode/decoder.h"

namespace coresift::listing {

enum class Tip : std::uint8_t { None, Parameter, GlobalVariable, LocalVariable, ReturnValue, StopHere, Join, ExecuteError };

struct Line {
    bool instruction = false;  // an instruction starts in this slot
    bool taken = false;        // a branch taken on the path to the pc
    bool printed = false;
    Tip tip = Tip::None;
    std::uint32_t parameters = 0;  // the parameter tip's registers (bit 0 = first parameter)
    std::string annotation;
    long backLink = -1;            // for a branch target on the path: the slot of its branch
};

struct Window {
    TargetWord start = 0;  // address of the first byte (Thumb bit clear)
    decode::InstructionSet set = decode::InstructionSet::A64;
    std::vector<std::uint8_t> bytes;
    std::size_t pcSlot = 0;
    std::vector<Line> lines;

    unsigned slotBytes() const { return set == decode::InstructionSet::Thumb ? 2 : 4; }
    std::size_t slotCount() const { return lines.size(); }
    TargetWord addressOf(std::size_t slot) const { return start + static_cast<TargetWord>(slot * slotBytes()); }
    // The instruction word at a slot as the decoder takes it (missing bytes past the end read 0);
    // false past the window.
    bool wordAt(std::size_t slot, std::uint32_t& word) const;
    // Decodes the slot's instruction on `visitor` (Thumb IT blocks are not followed: each
    // instruction is read alone). Returns its length in bytes, 0 past the window.
    unsigned decodeAt(std::size_t slot, const decode::Visitor& visitor, void* context) const;
    // The nearest instruction slot before `slot`, skipping branches taken on the path; -1: none.
    long previousSlot(std::size_t slot) const;
};

// Bounds of the path search: nested conditional branches explored at once, and instructions
// decoded in all (a function with many branches must not exhaust the stack or take long).
struct PathLimits {
    unsigned maxDepth = 256;
    unsigned maxInstructions = 200000;
};

// Marks every instruction slot, then searches the path from the window's start to the pc slot
// and writes its taken branches into the lines (the branch's `taken`, the target's `backLink`).
// False when no path was found within the limits; the lines then hold no branch marks.
bool findPath(Window& window, const PathLimits& limits = {});

}  // namespace coresift::listing
