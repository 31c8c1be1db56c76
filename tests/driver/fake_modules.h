// A stand-in module list for the driver's tests: a C library with a chosen set of symbols and
// flags, a list of modules, and a record of every symbol look-up.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analyzer/driver/module_services.h"

namespace drivertest {

class FakeModules final : public coresift::ModuleServices {
public:
    std::optional<coresift::ModuleSummary> library;
    std::map<std::pair<std::string, coresift::SymbolKind>, TargetWord> symbols;
    std::vector<coresift::ModuleSummary> modules;
    std::vector<std::string> lookups;  // "name" or "name(data)", in order
    int forgotten = 0;

    void addSymbol(const std::string& name, coresift::SymbolKind kind = coresift::SymbolKind::Function,
                   TargetWord address = 0x1000) {
        symbols[{name, kind}] = address;
    }

    std::optional<coresift::ModuleSummary> cLibrary() override { return library; }
    std::optional<TargetWord> cLibrarySymbol(std::string_view name, coresift::SymbolKind kind) override {
        lookups.push_back(std::string(name) + (kind == coresift::SymbolKind::Object ? "(data)" : ""));
        if (!library) return std::nullopt;
        auto it = symbols.find({std::string(name), kind});
        if (it == symbols.end()) return std::nullopt;
        return it->second;
    }
    void markCLibrary(std::uint32_t flags) override {
        if (library) library->flags |= flags;
    }
    void forgetCLibrary() override { ++forgotten; }
    void forEachModule(const std::function<void(const coresift::ModuleSummary&)>& visit) override {
        for (const auto& module : modules) visit(module);
    }
};

}  // namespace drivertest
