// Addresses to names and names to addresses, for one module's symbol source (symbol_source.h):
// the symbol covering an address, a symbol by name, the source line of an instruction, the
// inlined scopes at an address, a value rendered symbolically, and the symbols a module exports.
//
// Addresses are dump addresses. Look-ups never print (the PLT scan excepted) and answer nothing
// when they find nothing. Names are borrowed: they stay valid as long as the source.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "analyzer/symbols/line_table.h"
#include "analyzer/symbols/symbol_source.h"
#include "common/target_word.h"

namespace coresift {

struct SymbolHit {
    std::string_view name;  // "??" when only the function's start is known
    TargetWord start = 0;   // in dump terms
    TargetWord size = 0;    // 0 when only the start is known
    unsigned type = 0;      // the ELF symbol type
};

inline constexpr std::string_view kUnknownFunction = "??";

// The symbol covering `address`, in this order: the dump's dynamic symbols; the symbol file's
// `.symtab` global part, then local part (in function match mode after translating the address
// into the file); for function look-ups, the function the unwind tables place there, named "??"
// (or by a size-0 function symbol starting exactly there).
std::optional<SymbolHit> symbolAt(SymbolSource& source, TargetWord address, std::uint32_t mask);

// The dump address of the symbol named `name` (0 when there is none), and its size: the dump's
// hash table (mask bit 0x10000), else `.symtab`; in function match mode the file's function is
// placed in the dump by its code, keeping its Thumb bit.
TargetWord symbolNamed(SymbolSource& source, std::string_view name, std::uint32_t mask, TargetWord* size = nullptr);

// The source line of the instruction at `address`.
std::optional<SourceLine> lineAt(SymbolSource& source, TargetWord address);

// The subprogram and inlined-subroutine scopes of the debugging information that contain
// `address`, innermost first. The innermost scope's line is the line of `address`; each outer
// scope's line is where it calls the scope inside it (DW_AT_call_file/DW_AT_call_line).
struct InlineScope {
    std::string_view name;  // linkage name, else DW_AT_name (through abstract origin and specification)
    // Without a linkage name (functions of anonymous namespaces, lambdas): DW_AT_name behind the
    // names of the namespaces and classes that enclose its declaration, "::" separated, as
    // debuggers show it; empty otherwise.
    std::string qualifiedName;
    TargetWord start = 0;   // the scope's lowest address, in dump terms
    bool inlined = false;   // DW_TAG_inlined_subroutine
    std::optional<SourceLine> line;
};
// A non-zero result of `visit` stops the walk and is returned.
int forEachInlineScope(SymbolSource& source, TargetWord address, const std::function<int(const InlineScope&)>& visit);

// The module covering a dump address (for value rendering), or null.
using SourceFinder = std::function<SymbolSource*(TargetWord)>;
// A value rendered symbolically: "name + offset" for data, "name()" for a function's start,
// hexadecimal for other addresses, decimal for small numbers.
std::string formatValue(const SourceFinder& findSource, TargetWord value);

// Symbols a module exports, for the debugger scripts. `which` bit 0: the dump's defined dynamic
// symbols; bit 1: PLT stubs named after the symbols their relocations name (a matched module
// gives PLT stubs only). No stub pattern in the code prints "No found %s's PLT".
struct ExportedSymbol {
    std::string_view name;
    TargetWord address = 0, size = 0;
    std::uint8_t info = 0;
};
inline constexpr unsigned kExportDynamic = 1, kExportPlt = 2;
int forEachExportedSymbol(SymbolSource& source, const std::function<int(const ExportedSymbol&)>& visit,
                          unsigned which);

}  // namespace coresift
