// What the instruction listing asks of the module list and the symbol look-up: whether code lies
// in a module with a loaded symbol file, the function around an address, source positions,
// symbolic renderings of values, and names for call targets. The module list provides the
// implementation (RunContext::codeSymbols); tests supply their own.
#pragma once

#include <optional>
#include <string>

#include "analyzer/decode/symbol_namer.h"
#include "common/target_word.h"

namespace coresift {

struct FunctionExtent {
    TargetWord start = 0;  // bit 0 set for Thumb code in CoreSift
    // start + size is the function's end when the symbol found for the address is the one its
    // name resolves back to; 0 when the end is not known that surely.
    TargetWord size = 0;
    std::string name;      // the shown (demangled) name; empty when none is known
};

struct SourcePosition {
    std::string file;
    unsigned line = 0;
};

class CodeSymbols {
public:
    virtual ~CodeSymbols() = default;
    // True when `address` lies in an ELF file mapping whose module has a loaded symbol file.
    virtual bool hasSymbolFile(TargetWord address) = 0;
    virtual std::optional<FunctionExtent> functionAt(TargetWord address) = 0;
    virtual std::optional<SourcePosition> lineAt(TargetWord address) = 0;
    // A value rendered as the report shows it: "name + offset", "name()", hexadecimal or decimal.
    virtual std::string formatValue(TargetWord value) = 0;
    // Names of call targets for the instruction printer; null: targets print as addresses.
    virtual const decode::SymbolNamer* namer() { return nullptr; }
};

}  // namespace coresift
