#include "analyzer/unwind/run_process.h"

#include "analyzer/driver/run_context.h"
#include "analyzer/process/address_space.h"
#include "analyzer/process/map_entry.h"
#include "analyzer/symbols/module_list.h"
#include "analyzer/symbols/module_symbols.h"
#include "analyzer/symbols/symbol_file.h"
#include "analyzer/unwind/pointer_auth.h"

namespace coresift {

namespace rk = region_kind;

struct RunProcess::ModuleState {
    unwind::BacktraceModule view;
    std::unique_ptr<unwind::ModuleUnwinder> unwinder;
};

namespace {

// The module's unwind tables: the dump's `.eh_frame_hdr` and `.ARM.exidx`, and the matched
// symbol file's `.debug_frame` and `.eh_frame` section. A file kept in function match mode is not
// the build that ran: only the dump's tables are used.
unwind::ModuleTables tablesOf(const Module& module) {
    unwind::ModuleTables tables;
    const ElfImage* image = module.symbolImage();
    const bool fileUsable = image && module.has(module_flag::kMatched) && !module.has(module_flag::kFunctionMatch);
    if (fileUsable) {
        SymbolFile* file = module.symbols->symbolFile();
        tables = unwind::tablesFromImage(*image, module.loadBias, module.name, file ? file->miniDebugInfo() : nullptr);
    }
    tables.name = module.name;
    tables.loadBias = module.loadBias;
    if (module.unwind.ehFrameHdr) {
        tables.ehFrameHdr = module.unwind.ehFrameHdr;
        tables.ehFrameHdrSize = module.unwind.ehFrameHdrSize;
    }
    if (module.unwind.exidx) {
        tables.exidx = module.unwind.exidx;
        tables.exidxCount = module.unwind.exidxCount;
    }
    return tables;
}

}  // namespace

RunProcess::RunProcess(RunContext& context)
    : context_(context), memory_(*context.addressSpace), heuristics_(unwind::makeFrameHeuristics()) {
    env_.console = &context.console;
    env_.memory = &memory_;
    env_.addressBits = context.addressSpace->addressBits();
}

RunProcess::~RunProcess() = default;

RunProcess::ModuleState& RunProcess::stateOf(Module& module) {
    auto found = modules_.find(&module);
    if (found != modules_.end()) return *found->second;
    SymbolSource* symbols = moduleSymbols(context_, module);  // matches the module
    auto state = std::make_unique<ModuleState>();
    state->view.name = module.name;
    state->view.managedCode = module.has(module_flag::kJavaCode);
    state->unwinder = std::make_unique<unwind::ModuleUnwinder>(tablesOf(module));
    state->view.unwinder = state->unwinder.get();
    state->view.symbols = symbols;
    owners_[&state->view] = &module;
    return *modules_.emplace(&module, std::move(state)).first->second;
}

std::optional<unwind::CodeRegion> RunProcess::regionAt(TargetWord address) {
    MapEntry* region = context_.addressSpace->regionAt(address);
    if (!region) return std::nullopt;
    unwind::CodeRegion code;
    code.start = region->start;
    code.end = region->end;
    code.executable = (region->kind & rk::kExecute) != 0;
    code.managed = (region->kind & rk::kManaged) != 0;
    code.name = region->name;
    if (region->module) code.module = &stateOf(*region->module).view;
    return code;
}

SymbolSource* RunProcess::symbolsAt(TargetWord address) {
    const TargetWord at = unwind::stripPointerAuth(address, env_.addressBits) & ~TargetWord{1};
    std::optional<unwind::CodeRegion> region = regionAt(at);
    return region && region->module && !region->module->managedCode ? region->module->symbols : nullptr;
}

void RunProcess::codeUnreadable(unwind::BacktraceModule& view) {
    auto owner = owners_.find(&view);
    if (owner == owners_.end()) return;
    Module& module = *owner->second;
    if (module.has(module_flag::kMissingReported) || module.has(module_flag::kMatched)) return;
    module.flags |= module_flag::kMissingReported;
    Console& console = context_.console;
    console.warning(Msg::NeedFilePutInFolder, console.text(Msg::WordUnwindNativeCallstack), module.name,
                    context_.options.symbolsDir);
}

}  // namespace coresift
