// Raw frames to printed frames: module, function (or the inlined scopes at the pc), offset into
// the function and, with details, the source line and the call's arguments.
#pragma once

#include <vector>

#include "analyzer/unwind/backtrace_process.h"
#include "analyzer/unwind/frame.h"

namespace coresift::unwind {

// The frames of a walk, innermost first.
FrameList symbolizeFrames(BacktraceProcess& process, const std::vector<RawFrame>& raw, bool withDetails);

// Frames of return addresses the process recorded (allocation backtraces), innermost first:
// each address less 2 is symbolized as a frame whose pc alone is known.
FrameList framesFromAddresses(BacktraceProcess& process, const std::vector<TargetWord>& addresses, bool withDetails);

}  // namespace coresift::unwind
