// A module's symbol source for the backtrace, made from what matching kept: the symbol file
// (opened again from its path) at the module's load bias.
#pragma once

#include <memory>
#include <string>

#include "common/target_word.h"

namespace coresift {

class Console;
class SymbolSource;

struct ModuleSymbolFacts {
    std::string name;
    TargetWord loadBias = 0;
    std::string symbolFilePath;  // empty: no symbol file
    bool matched = false;
};

// A source owned by the caller, through a deleter that does not need the complete type here.
struct SymbolSourceDeleter {
    void operator()(SymbolSource* source) const;
};
using OwnedSymbolSource = std::unique_ptr<SymbolSource, SymbolSourceDeleter>;

OwnedSymbolSource makeModuleSymbolSource(Console& console, const ModuleSymbolFacts& facts);

}  // namespace coresift
