#include "analyzer/unwind/native_backtrace.h"

#include "analyzer/diagnosis/code_symbols.h"
#include "analyzer/diagnosis/crash_stack.h"
#include "analyzer/diagnosis/instruction_listing.h"
#include "analyzer/driver/report_writer.h"
#include "analyzer/driver/run_context.h"
#include "analyzer/process/thread_record.h"
#include "analyzer/process/thread_stacks.h"
#include "analyzer/symbols/symbol_lookup.h"
#include "analyzer/unwind/backtrace_walk.h"
#include "analyzer/unwind/frame_printer.h"
#include "analyzer/unwind/frame_symbolizer.h"
#include "analyzer/unwind/run_process.h"

namespace coresift {

RunProcess* runProcessOf(RunContext& context) {
    if (!context.backtraceProcess) {
        if (!context.addressSpace) return nullptr;
        context.backtraceProcess = std::make_unique<RunProcess>(context);
    }
    return context.backtraceProcess.get();
}

namespace {

class NativeStacks final : public ThreadStacks {
public:
    explicit NativeStacks(RunContext& context) : context_(context) {}

    StackAddresses addresses(ThreadRecord& thread) override {
        StackAddresses stack;
        for (const unwind::Frame& frame : nativeBacktrace(context_, thread.registers, false))
            stack.native.push_back(frame.groupAddress());
        return stack;
    }

    void writeStacks(ReportWriter& report, ThreadRecord& thread) override {
        // The Java state and frames come first once the Java stack walker provides them.
        unwind::FrameList frames = nativeBacktrace(context_, thread.registers, true);
        if (!frames.empty()) printFrames(context_, report, frames, Msg::NativeCallstack);
        // The thread that took the signal: its code around the fault and its registers.
        if (thread.isFirst()) writeInstructionListing(context_, report);
    }

private:
    RunContext& context_;
};

}  // namespace

std::vector<unwind::RawFrame> nativeRawFrames(RunContext& context, const RegisterSet& registers) {
    RunProcess* process = runProcessOf(context);
    if (!process) return {};
    return unwind::walkNativeStack(*process, unwind::threadRegisters(registers));
}

unwind::FrameList symbolizeRawFrames(RunContext& context, const std::vector<unwind::RawFrame>& raw, bool withDetails) {
    RunProcess* process = runProcessOf(context);
    if (!process) return {};
    return unwind::symbolizeFrames(*process, raw, withDetails);
}

unwind::FrameList nativeBacktrace(RunContext& context, const RegisterSet& registers, bool withDetails) {
    return symbolizeRawFrames(context, nativeRawFrames(context, registers), withDetails);
}

unwind::FrameList backtraceFromAddresses(RunContext& context, const std::vector<TargetWord>& addresses) {
    RunProcess* process = runProcessOf(context);
    if (!process) return {};
    return unwind::framesFromAddresses(*process, addresses, false);
}

void printFrames(RunContext& context, ReportWriter& report, const unwind::FrameList& frames, Msg heading) {
    RunProcess* process = runProcessOf(context);
    unwind::ValueText valueText;
    if (process) {
        valueText = [process](TargetWord value) {
            return formatValue([process](TargetWord address) { return process->symbolsAt(address); }, value);
        };
    }
    unwind::printFrames(report, frames, heading, valueText);
}

std::unique_ptr<ThreadStacks> makeNativeStacks(RunContext& context) { return std::make_unique<NativeStacks>(context); }

void releaseNativeBacktrace(RunContext& context) {
    context.crashStack.reset();
    context.codeSymbols.reset();
    context.stacks.reset();
    context.backtraceProcess.reset();
}

}  // namespace coresift
