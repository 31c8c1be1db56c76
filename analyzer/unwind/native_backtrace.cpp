#include "analyzer/unwind/native_backtrace.h"

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

namespace {

// The run's backtrace process, made on first use; null without a loaded process.
RunProcess* processOf(RunContext& context) {
    if (!context.backtraceProcess) {
        if (!context.addressSpace) return nullptr;
        context.backtraceProcess = std::make_unique<RunProcess>(context);
    }
    return context.backtraceProcess.get();
}

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
        // For the first thread of the dump the instruction listing and the register dump follow.
    }

private:
    RunContext& context_;
};

}  // namespace

std::vector<unwind::RawFrame> nativeRawFrames(RunContext& context, const RegisterSet& registers) {
    RunProcess* process = processOf(context);
    if (!process) return {};
    return unwind::walkNativeStack(*process, unwind::threadRegisters(registers));
}

unwind::FrameList symbolizeRawFrames(RunContext& context, const std::vector<unwind::RawFrame>& raw, bool withDetails) {
    RunProcess* process = processOf(context);
    if (!process) return {};
    return unwind::symbolizeFrames(*process, raw, withDetails);
}

unwind::FrameList nativeBacktrace(RunContext& context, const RegisterSet& registers, bool withDetails) {
    return symbolizeRawFrames(context, nativeRawFrames(context, registers), withDetails);
}

unwind::FrameList backtraceFromAddresses(RunContext& context, const std::vector<TargetWord>& addresses) {
    RunProcess* process = processOf(context);
    if (!process) return {};
    return unwind::framesFromAddresses(*process, addresses, false);
}

void printFrames(RunContext& context, ReportWriter& report, const unwind::FrameList& frames, Msg heading) {
    RunProcess* process = processOf(context);
    unwind::ValueText valueText;
    if (process) {
        valueText = [process](TargetWord value) {
            SourceFinder finder = [process](TargetWord address) -> SymbolSource* {
                std::optional<unwind::CodeRegion> region = process->regionAt(address);
                return region && region->module ? region->module->symbols : nullptr;
            };
            return formatValue(finder, value);
        };
    }
    unwind::printFrames(report, frames, heading, valueText);
}

std::unique_ptr<ThreadStacks> makeNativeStacks(RunContext& context) { return std::make_unique<NativeStacks>(context); }

void releaseNativeBacktrace(RunContext& context) {
    context.stacks.reset();
    context.backtraceProcess.reset();
}

}  // namespace coresift
