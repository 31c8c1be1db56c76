// Stand-in until the module list serves the driver: the process has no modules, so the C library
// is never found and no symbol file is missing.
#include "analyzer/driver/module_services.h"

namespace coresift {

namespace {

class NoModules final : public ModuleServices {
public:
    std::optional<ModuleSummary> cLibrary() override { return std::nullopt; }
    std::optional<TargetWord> cLibrarySymbol(std::string_view, SymbolKind) override { return std::nullopt; }
    void markCLibrary(std::uint32_t) override {}
    void forgetCLibrary() override {}
    void forEachModule(const std::function<void(const ModuleSummary&)>&) override {}
};

}  // namespace

std::unique_ptr<ModuleServices> makeModuleServices(RunContext&) { return std::make_unique<NoModules>(); }

}  // namespace coresift
