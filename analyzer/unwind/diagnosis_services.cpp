// What the crash diagnosis and the instruction listing read of the run: the crashed thread's
// frames from the backtrace driver, and the code's symbols from the modules' symbol sources.
#include "analyzer/diagnosis/code_symbols.h"
#include "analyzer/diagnosis/crash_stack.h"
#include "analyzer/driver/run_context.h"
#include "analyzer/process/core_dump.h"
#include "analyzer/process/thread_record.h"
#include "analyzer/symbols/symbol_lookup.h"
#include "analyzer/symbols/symbol_source.h"
#include "analyzer/unwind/native_backtrace.h"
#include "analyzer/unwind/run_process.h"

namespace coresift {

namespace {

constexpr std::string_view kUnknownModule = "......";

// The frames of one raw frame in a symbolized list: its scopes, innermost first, the function
// they are inlined into last. Returns the index one past the group.
std::size_t groupEnd(const unwind::FrameList& frames, std::size_t first) {
    std::size_t end = first + 1;
    while (end < frames.size() && (frames[end].flags & unwind::frame_flag::kInlined)) ++end;
    return end;
}

void takeArguments(CrashFrame& crash, const std::vector<unwind::FrameArgument>& arguments) {
    for (const unwind::FrameArgument& argument : arguments) {
        crash.argumentCount = std::max(crash.argumentCount, argument.index + 1);
        if (argument.index >= kFrameArgumentSlots || argument.kind == unwind::ArgumentKind::Skipped) continue;
        crash.arguments[argument.index] = static_cast<TargetWord>(argument.value);
        crash.argumentsKnown |= std::uint32_t{1} << argument.index;
    }
}

// The crashed thread (the first of the dump) walked once, with details.
class RunCrashStack final : public CrashStack {
public:
    explicit RunCrashStack(RunContext& context) : context_(context) {}

    const std::vector<CrashFrame>& crashFrames() override {
        if (!walked_) {
            walked_ = true;
            if (context_.core && context_.core->firstThread) build(context_.core->firstThread->registers);
        }
        return frames_;
    }

private:
    // One crash frame per printed frame: the inlined scopes of a machine frame share its pc
    // (the return address for callers: the listing finds the call instruction from it) and its
    // registers; the arguments are the machine frame's, on its outermost scope.
    void build(const RegisterSet& registers) {
        const std::vector<unwind::RawFrame> raw = nativeRawFrames(context_, registers);
        const unwind::FrameList printed = symbolizeRawFrames(context_, raw, true);
        bool guessed = false;
        std::size_t at = 0;
        for (const unwind::RawFrame& step : raw) {
            if (at >= printed.size()) break;
            const std::size_t end = groupEnd(printed, at);
            guessed |= (step.flags & unwind::raw_flag::kMarker) != 0;
            for (std::size_t scope = at; scope < end; ++scope) {
                const unwind::Frame& shown = printed[scope];
                CrashFrame frame;
                frame.pc = step.foundPc;
                frame.registers = step.registers;
                frame.registers.r[decode::kRegPc] = step.foundPc;
                frame.ordinary = !guessed;
                frame.inlined = scope > at;
                if (!shown.isMarker() && shown.module != kUnknownModule) frame.module = shown.module;
                frame.function = shown.function;
                takeArguments(frame, shown.arguments);
                frames_.push_back(std::move(frame));
            }
            at = end;
        }
    }

    RunContext& context_;
    bool walked_ = false;
    std::vector<CrashFrame> frames_;
};

// Call targets named for the instruction printer, through the same symbol sources.
class RunNamer final : public decode::SymbolNamer {
public:
    explicit RunNamer(RunProcess& process) : process_(process) {}

    bool functionAt(TargetWord address, std::string_view& name, TargetWord& offset) const override {
        SymbolSource* source = process_.symbolsAt(address);
        if (!source) return false;
        std::optional<SymbolHit> hit = symbolAt(*source, address, lookup::kFunctionMask);
        if (!hit || hit->name == kUnknownFunction) return false;
        const TargetWord start = kIs64 ? hit->start : hit->start & ~TargetWord{1};
        const TargetWord plain = kIs64 ? address : address & ~TargetWord{1};
        if (plain < start) return false;
        name = source->shownName(hit->name);
        offset = plain - start;
        return true;
    }

private:
    RunProcess& process_;
};

class RunCodeSymbols final : public CodeSymbols {
public:
    explicit RunCodeSymbols(RunContext& context) : context_(context) {}

    bool hasSymbolFile(TargetWord address) override {
        SymbolSource* source = sourceAt(address);
        return source && source->symbolFile();
    }

    std::optional<FunctionExtent> functionAt(TargetWord address) override {
        SymbolSource* source = sourceAt(address);
        if (!source) return std::nullopt;
        std::optional<SymbolHit> hit = symbolAt(*source, address, lookup::kFunctionMask);
        if (!hit) return std::nullopt;
        FunctionExtent extent;
        extent.start = hit->start;
        if (hit->name != kUnknownFunction) {
            extent.name = std::string(source->shownName(hit->name));
            // The end is sure only when the name leads back to this very symbol.
            if (symbolNamed(*source, hit->name, lookup::kFunctionMask) == hit->start) extent.size = hit->size;
        }
        return extent;
    }

    std::optional<SourcePosition> lineAt(TargetWord address) override {
        SymbolSource* source = sourceAt(address);
        if (!source) return std::nullopt;
        std::optional<SourceLine> line = coresift::lineAt(*source, address);
        if (!line) return std::nullopt;
        return SourcePosition{line->path(), line->line};
    }

    std::string formatValue(TargetWord value) override {
        return coresift::formatValue([this](TargetWord address) { return sourceAt(address); }, value);
    }

    const decode::SymbolNamer* namer() override {
        RunProcess* process = runProcessOf(context_);
        if (!process) return nullptr;
        if (!namer_) namer_ = std::make_unique<RunNamer>(*process);
        return namer_.get();
    }

private:
    SymbolSource* sourceAt(TargetWord address) {
        RunProcess* process = runProcessOf(context_);
        return process ? process->symbolsAt(address) : nullptr;
    }

    RunContext& context_;
    std::unique_ptr<RunNamer> namer_;
};

}  // namespace

std::unique_ptr<CrashStack> makeCrashStack(RunContext& context) { return std::make_unique<RunCrashStack>(context); }

std::unique_ptr<CodeSymbols> makeCodeSymbols(RunContext& context) { return std::make_unique<RunCodeSymbols>(context); }

}  // namespace coresift
