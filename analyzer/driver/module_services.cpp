// The run driver's and the report's view of the module list: the C library module (found and
// matched once, forgotten in phase 2's clean-up), its symbols through its symbol source, and
// every module with its flags.
#include "analyzer/driver/module_services.h"

#include "analyzer/driver/run_context.h"
#include "analyzer/symbols/module_list.h"
#include "analyzer/symbols/module_symbols.h"
#include "analyzer/symbols/symbol_lookup.h"

namespace coresift {

namespace {

ModuleSummary summaryOf(const Module& module) { return {module.name, module.path, module.flags}; }

class ModuleListServices final : public ModuleServices {
public:
    explicit ModuleListServices(RunContext& context) : context_(context) {}

    std::optional<ModuleSummary> cLibrary() override {
        Module* library = find();
        if (!library) return std::nullopt;
        return summaryOf(*library);
    }

    std::optional<TargetWord> cLibrarySymbol(std::string_view name, SymbolKind kind) override {
        Module* library = find();
        SymbolSource* source = library ? moduleSymbols(context_, *library) : nullptr;
        if (!source) return std::nullopt;
        const std::uint32_t mask = kind == SymbolKind::Function ? lookup::kFunctionMask : lookup::kObjectMask;
        const TargetWord address = symbolNamed(*source, name, mask);
        if (!address) return std::nullopt;
        return address;
    }

    void markCLibrary(std::uint32_t flags) override {
        if (Module* library = find()) library->flags |= flags;
    }

    void forgetCLibrary() override {
        if (context_.moduleList) context_.moduleList->cLibrary.reset();
    }

    void forEachModule(const std::function<void(const ModuleSummary&)>& visit) override {
        if (!context_.moduleList) return;
        for (const auto& module : context_.moduleList->modules()) visit(summaryOf(*module));
    }

private:
    Module* find() { return cLibraryModule(context_); }

    RunContext& context_;
};

}  // namespace

std::unique_ptr<ModuleServices> makeModuleServices(RunContext& context) {
    return std::make_unique<ModuleListServices>(context);
}

}  // namespace coresift
