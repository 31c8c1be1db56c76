// Where the coredump loader hands over to the module list.
#pragma once

#include "common/target_word.h"

namespace coresift {

struct RunContext;

enum class ModuleListResult {
    Built,     // the dynamic linker's list gave the modules
    NoLinker,  // no linker mapped: a statically linked or linker-less process
    Failed,    // the linker's records are corrupt; the load fails
};

// Empties the module list and builds it from the dynamic linker's records in the dump.
ModuleListResult buildModuleList(RunContext& context);

// Executable-only mode: creates the executable's module with its head region at `start` and
// matches its symbol file. True when the module then has symbols.
bool loadExecutableModule(RunContext& context, TargetWord start);

}  // namespace coresift
