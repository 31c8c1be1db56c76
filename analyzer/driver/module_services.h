// What the run driver and the report need from the module list: the C library's module and its
// symbols, and every module with its flags. The module list provides it (makeModuleServices);
// tests replace it with a fake.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "analyzer/symbols/module_flags.h"
#include "common/target_word.h"

namespace coresift {

struct RunContext;

struct ModuleSummary {
    std::string name;  // base name
    std::string path;  // full path, as the dynamic linker or the memory map gave it
    std::uint32_t flags = 0;
};

// Symbol look-ups: functions (mask 0xD2004) or data objects (mask 0xD0002).
enum class SymbolKind { Function, Object };

class ModuleServices {
public:
    virtual ~ModuleServices() = default;

    // The C library's module: "libc.so", or the executable's module when the process was loaded
    // in executable-only mode; found (and its symbol file matched) on the first call. Nothing
    // when the process has none.
    virtual std::optional<ModuleSummary> cLibrary() = 0;
    // The address of the C library's symbol `name` of this kind; nothing when there is no such
    // symbol (or no C library).
    virtual std::optional<TargetWord> cLibrarySymbol(std::string_view name, SymbolKind kind) = 0;
    // Sets flag bits on the C library's module.
    virtual void markCLibrary(std::uint32_t flags) = 0;
    // Forgets the C library module found so far (phase 2's clean-up).
    virtual void forgetCLibrary() = 0;

    // Visits every module in module-list order.
    virtual void forEachModule(const std::function<void(const ModuleSummary&)>& visit) = 0;
};

// The run's module services, made once by the run context.
std::unique_ptr<ModuleServices> makeModuleServices(RunContext& context);

}  // namespace coresift
