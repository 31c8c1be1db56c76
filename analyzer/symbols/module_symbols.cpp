// The module's symbol source and the seams it reads the dead process through.
#include "analyzer/symbols/module_symbols.h"

#include "analyzer/driver/run_context.h"
#include "analyzer/process/address_space.h"
#include "analyzer/symbols/function_tables.h"
#include "analyzer/symbols/module_list.h"
#include "analyzer/symbols/module_regions.h"

namespace coresift {

namespace {

// Target memory over the address space; a read may cross adjoining regions.
class DumpMemory final : public decode::TargetMemory {
public:
    explicit DumpMemory(AddressSpace& space) : space_(space) {}
    bool read(TargetWord address, void* out, std::size_t size) const override {
        return readSpan(space_, address, static_cast<std::uint8_t*>(out), size) == SpanRead::Ok;
    }

private:
    AddressSpace& space_;
};

// The function starts of the module's dump-side unwind index, in file addresses; the index is
// read on first use.
class DumpFunctionStarts final : public FunctionStarts {
public:
    DumpFunctionStarts(AddressSpace& space, const Module& module) : space_(space), module_(module) {}
    std::optional<TargetWord> functionContaining(TargetWord address) const override {
        if (!read_) {
            read_ = true;
            index_ = dumpFunctionIndex(space_, module_);
        }
        if (!index_) return std::nullopt;
        auto entry = index_->containing(address + module_.loadBias);
        if (!entry) return std::nullopt;
        return index_->start(*entry) - module_.loadBias;
    }

private:
    AddressSpace& space_;
    const Module& module_;
    mutable bool read_ = false;
    mutable std::optional<FunctionIndex> index_;
};

class ModuleFunctionMatch final : public FunctionMatch {
public:
    ModuleFunctionMatch(RunContext& context, Module& module) : context_(context), module_(module) {}
    TargetWord toFileAddress(TargetWord address) const override {
        return coresift::toFileAddress(context_, module_, address);
    }
    TargetWord toDumpAddress(TargetWord fileAddress) const override {
        return coresift::toDumpAddress(context_, module_, fileAddress);
    }

private:
    RunContext& context_;
    Module& module_;
};

}  // namespace

struct ModuleSymbolSeams {
    ModuleSymbolSeams(RunContext& context, Module& module)
        : memory(*context.addressSpace), starts(*context.addressSpace, module), match(context, module) {}
    DumpMemory memory;
    DumpFunctionStarts starts;
    ModuleFunctionMatch match;
};

Module::Module() = default;
Module::~Module() = default;

void attachSymbolSource(RunContext& context, Module& module, std::unique_ptr<ElfImage> file,
                        std::unique_ptr<ElfImage> miniDebugInfo) {
    if (module.symbols || !context.addressSpace) return;
    module.seams = std::make_unique<ModuleSymbolSeams>(context, module);
    auto source = std::make_unique<SymbolSource>(context.console, module.name, module.loadBias);
    if (file) {
        const bool matched = module.has(module_flag::kMatched);
        source->setSymbolFile(std::make_unique<SymbolFile>(context.console, std::move(file), std::move(miniDebugInfo)),
                              matched);
        if (module.has(module_flag::kFunctionMatch)) source->setFunctionMatch(&module.seams->match);
    }
    if (module.has(module_flag::kDynamicSymbols)) {
        DumpDynamicTables tables = module.dynamic;
        tables.dynamicSection = module.dynamicAddress;
        tables.codeStart = module.code.start;
        tables.codeEnd = module.code.end();
        tables.codeIsHeaderRegion = module.codeIsHeader();
        source->setDumpTables(tables, module.seams->memory);
    }
    source->setFunctionStarts(&module.seams->starts);
    module.symbols = std::move(source);
}

SymbolSource* moduleSymbols(RunContext& context, Module& module) {
    matchModule(context, module);
    return module.symbols.get();
}

}  // namespace coresift
