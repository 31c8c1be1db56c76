// The native call stacks of the run: a thread's frames from its saved registers, frames of
// recorded return addresses, and frame lists printed into the report. Every part that shows or
// inspects a native stack (thread report, crash cause, leak and fd sections, scripts, console)
// goes through these.
#pragma once

#include <memory>
#include <vector>

#include "analyzer/driver/messages.h"
#include "analyzer/unwind/frame.h"

namespace coresift {

class CodeSymbols;
class CrashStack;
class ReportWriter;
class ThreadStacks;
struct RegisterSet;
struct RunContext;

// The raw frames of a walk from `registers`, innermost first (registers at each frame).
std::vector<unwind::RawFrame> nativeRawFrames(RunContext& context, const RegisterSet& registers);
// The printed frames of raw frames; `withDetails` adds source lines and arguments.
unwind::FrameList symbolizeRawFrames(RunContext& context, const std::vector<unwind::RawFrame>& raw, bool withDetails);
// Both in one: the call stack of a thread.
unwind::FrameList nativeBacktrace(RunContext& context, const RegisterSet& registers, bool withDetails);
// The frames of return addresses recorded by the process (allocation backtraces), innermost first.
unwind::FrameList backtraceFromAddresses(RunContext& context, const std::vector<TargetWord>& addresses);
// Writes the heading, the frames and the end line into the report.
void printFrames(RunContext& context, ReportWriter& report, const unwind::FrameList& frames, Msg heading);

// The thread report's stacks over the backtrace above.
std::unique_ptr<ThreadStacks> makeNativeStacks(RunContext& context);

// What the crash diagnosis and the instruction listing read: the crashed thread's frames (walked
// once, with arguments) and the symbols of the code through the modules' symbol sources.
std::unique_ptr<CrashStack> makeCrashStack(RunContext& context);
std::unique_ptr<CodeSymbols> makeCodeSymbols(RunContext& context);

// Forgets the per-module unwinders and symbol sources (before the module list goes).
void releaseNativeBacktrace(RunContext& context);

}  // namespace coresift
