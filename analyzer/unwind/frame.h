// A thread's native call stack: the raw frames a walk records (registers at each frame) and the
// symbolized frames the report prints.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analyzer/unwind/frame_heuristics.h"
#include "analyzer/unwind/unwind_step.h"

namespace coresift::unwind {

namespace raw_flag {
inline constexpr std::uint32_t kSignalReturn = 0x1;  // a signal-return trampoline: the next frame was interrupted
inline constexpr std::uint32_t kMarker = 0x2;        // the walk lost track here and resumed from the stack scan
}  // namespace raw_flag

// One unwound step: the frame's registers (pc moved back to the call site for every frame but the
// first and the one after a signal frame; bit 0 for Thumb).
struct RawFrame {
    RegisterState registers;
    std::uint32_t flags = 0;
    TargetWord foundPc = 0;  // the pc as the walk found it: the return address of a moved-back frame

    TargetWord pc() const { return registers.r[decode::kRegPc]; }
    TargetWord sp() const { return registers.r[decode::kRegSp]; }
};

namespace frame_flag {
inline constexpr std::uint32_t kNativeMethod = 0x4;  // a Java native method
inline constexpr std::uint32_t kJavaMethod = 0x8;    // a Java method: argument numbers start at 0
inline constexpr std::uint32_t kSignal = 0x10;       // a signal-return trampoline
inline constexpr std::uint32_t kInlined = 0x40;      // a scope inlined into the frame below it
inline constexpr std::uint32_t kMarker = 0x100;      // where the stack scan resumed: printed as "......"
}  // namespace frame_flag

// One printed frame.
struct Frame {
    TargetWord address = 0;  // the function's start when it is known, else the pc; 0: a marker
    TargetWord offset = 0;   // pc - function start
    std::uint32_t line = 0;
    std::uint32_t flags = 0;
    std::string module;      // base name, region name, or "......"
    std::string function;    // shown name; empty: none
    std::string file;        // source file; empty: none
    std::vector<FrameArgument> arguments;

    bool isMarker() const { return (flags & frame_flag::kMarker) != 0; }
    // What grouping compares: the function's start plus the offset (the pc without a symbol).
    TargetWord groupAddress() const { return address + offset; }
};

using FrameList = std::vector<Frame>;

}  // namespace coresift::unwind
