#include "analyzer/unwind/frame_symbolizer.h"

#include "analyzer/symbols/symbol_lookup.h"
#include "analyzer/unwind/pointer_auth.h"

namespace coresift::unwind {

namespace {

constexpr const char* kUnknownModule = "......";
constexpr const char* kSignalReturnName = "sigreturn";

std::string baseName(const std::string& name) {
    const std::size_t slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

class Symbolizer {
public:
    Symbolizer(BacktraceProcess& process, bool withDetails)
        : process_(process), env_(process.environment()), withDetails_(withDetails) {}

    // Appends the frames of one raw frame: the inlined scopes at its pc, innermost first, or one
    // plain frame. `caller` is the next outer raw frame (for argument recovery), or null.
    void add(FrameList& frames, const RawFrame& raw, const RawFrame* caller) {
        if (raw.flags & raw_flag::kMarker) {
            Frame marker;
            marker.module = kUnknownModule;
            marker.flags = frame_flag::kMarker;
            frames.push_back(std::move(marker));
            return;
        }
        const TargetWord pc = raw.pc();
        const TargetWord at = lookupAddress(pc);
        const std::size_t first = frames.size();
        std::optional<CodeRegion> region = process_.regionAt(at & ~TargetWord{1});
        BacktraceModule* module = region ? region->module : nullptr;
        if (module && module->symbols && !module->managedCode) addScopes(frames, *module, at);
        if (frames.size() == first) frames.push_back(plainFrame(region, at, pc));
        Frame& innermost = frames[first];
        if (raw.flags & raw_flag::kSignalReturn) {
            innermost.flags |= frame_flag::kSignal;
            if (innermost.function.empty()) innermost.function = kSignalReturnName;
        } else if (withDetails_) {
            addArguments(frames.back(), raw, caller, module);
        }
    }

private:
    // The pc for look-ups: without pointer-authentication bits; a Thumb pc keeps bit 0, as the
    // symbol values of Thumb functions carry it.
    TargetWord lookupAddress(TargetWord address) const { return stripPointerAuth(address, env_.addressBits); }

    void addScopes(FrameList& frames, BacktraceModule& module, TargetWord at) {
        SymbolSource& symbols = *module.symbols;
        const std::size_t first = frames.size();
        forEachInlineScope(symbols, at, [&](const InlineScope& scope) {
            Frame frame;
            frame.module = module.name;
            frame.function = scopeName(symbols, scope, at);
            const TargetWord pc = kIs64 ? at : at & ~TargetWord{1};
            frame.address = scope.start;
            frame.offset = pc >= scope.start ? pc - scope.start : 0;
            if (frames.size() > first) frame.flags |= frame_flag::kInlined;
            if (withDetails_ && scope.line) {
                frame.file = std::string(scope.line->file);
                frame.line = scope.line->line;
            }
            frames.push_back(std::move(frame));
            return 0;
        });
    }

    // A scope with a linkage name shows it demangled. Without one (functions of anonymous
    // namespaces) a physical frame takes its symbol's mangled name where there is one (it names
    // template arguments as the demangler does); else the name qualified from the debugging
    // information.
    std::string scopeName(SymbolSource& symbols, const InlineScope& scope, TargetWord at) {
        if (scope.qualifiedName.empty()) return std::string(symbols.shownName(scope.name));
        if (!scope.inlined) {
            std::optional<SymbolHit> hit = symbolAt(symbols, at, lookup::kFunctionMask);
            if (hit && hit->name.substr(0, 2) == "_Z" && (hit->start & ~TargetWord{1}) == (scope.start & ~TargetWord{1})) {
                // A lambda's mangled name omits its enclosing function's parameters, which the
                // debugging information names.
                std::string_view shown = symbols.shownName(hit->name);
                if (shown.find("lambda") == std::string_view::npos) return std::string(shown);
            }
        }
        return scope.qualifiedName;
    }

    Frame plainFrame(const std::optional<CodeRegion>& region, TargetWord at, TargetWord pc) {
        Frame frame;
        frame.address = pc;
        BacktraceModule* module = region ? region->module : nullptr;
        if (module && !module->managedCode) {
            frame.module = module->name;
            if (module->symbols) symbolize(frame, *module->symbols, at);
        } else if (region && !region->name.empty()) {
            // Compiled Java code names its methods once the Java stack walker is there.
            frame.module = baseName(region->name);
        } else {
            frame.module = kUnknownModule;
        }
        return frame;
    }

    void symbolize(Frame& frame, SymbolSource& symbols, TargetWord at) {
        if (std::optional<SymbolHit> hit = symbolAt(symbols, at, lookup::kFunctionMask)) {
            // Thumb symbol values carry bit 0; the printed start and offset do not.
            const TargetWord start = kIs64 ? hit->start : hit->start & ~TargetWord{1};
            const TargetWord pc = kIs64 ? at : at & ~TargetWord{1};
            if (start <= pc) {
                frame.address = start;
                frame.offset = pc - start;
                if (hit->name != kUnknownFunction) frame.function = std::string(symbols.shownName(hit->name));
            }
        }
        if (!withDetails_) return;
        if (std::optional<SourceLine> line = lineAt(symbols, at)) {
            frame.file = std::string(line->file);
            frame.line = line->line;
        }
    }

    // The arguments belong to the physical frame: the outermost of its scopes.
    void addArguments(Frame& frame, const RawFrame& raw, const RawFrame* caller, BacktraceModule* module) {
        ArgumentRequest request;
        request.registers = raw.registers;
        request.symbols = module && !module->managedCode ? module->symbols : nullptr;
        if (request.symbols) {
            if (std::optional<SymbolHit> hit = symbolAt(*request.symbols, lookupAddress(raw.pc()), lookup::kFunctionMask)) {
                request.functionStart = hit->start;
                if (hit->name != kUnknownFunction) request.symbolName = hit->name;
            }
        }
        if (caller && !(caller->flags & raw_flag::kMarker)) {
            request.caller = &caller->registers;
            request.callerFunctionStart = callerStart(*caller);
        }
        frame.arguments = process_.heuristics().arguments(env_, request);
    }

    TargetWord callerStart(const RawFrame& caller) {
        const TargetWord at = lookupAddress(caller.pc());
        std::optional<CodeRegion> region = process_.regionAt(at & ~TargetWord{1});
        if (!region || !region->module || !region->module->symbols) return 0;
        std::optional<SymbolHit> hit = symbolAt(*region->module->symbols, at, lookup::kFunctionMask);
        return hit ? hit->start : 0;
    }

    BacktraceProcess& process_;
    const StepEnvironment& env_;
    bool withDetails_;
};

}  // namespace

FrameList symbolizeFrames(BacktraceProcess& process, const std::vector<RawFrame>& raw, bool withDetails) {
    FrameList frames;
    frames.reserve(raw.size());
    Symbolizer symbolizer(process, withDetails);
    for (std::size_t i = 0; i < raw.size(); ++i)
        symbolizer.add(frames, raw[i], i + 1 < raw.size() ? &raw[i + 1] : nullptr);
    return frames;
}

FrameList framesFromAddresses(BacktraceProcess& process, const std::vector<TargetWord>& addresses, bool withDetails) {
    FrameList frames;
    Symbolizer symbolizer(process, withDetails);
    for (TargetWord address : addresses) {
        RawFrame raw;
        raw.registers.set(decode::kRegPc, address - 2);
        symbolizer.add(frames, raw, nullptr);
    }
    return frames;
}

}  // namespace coresift::unwind
