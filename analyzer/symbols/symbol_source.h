// What a module gives the symbol look-ups: where every look-up of an address or a name starts.
//
// A `SymbolSource` bundles, for one loaded module:
//   - the load bias (dump address = file address + load bias);
//   - its matched symbol file (optional), which supplies `.symtab` (or MiniDebugInfo), the
//     debugging information and the line tables;
//   - the dynamic symbol tables found in the dump (optional: module flag 0x4), read through the
//     memory seam, with their SysV or GNU hash table, the dynamic section and the code region
//     (for PLT stubs);
//   - the module's unwind tables as a "function containing this address" seam (optional), the
//     last resort of a function look-up;
//   - in function match mode (optional), the translation of dump addresses into the file and
//     back, by function-body matching.
// The module owns one source and fills it in as it learns these things; the look-ups
// (symbol_lookup.h) take the source. Nothing here prints, except where a look-up says so.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "analyzer/decode/target_memory.h"
#include "analyzer/symbols/symbol_file.h"
#include "common/target_word.h"

namespace coresift {

class Console;
class DynamicSymbols;

// The dynamic linking tables of a module as they lie in the dump (all addresses in dump terms).
struct DumpDynamicTables {
    TargetWord symbols = 0;             // DT_SYMTAB
    TargetWord strings = 0;             // DT_STRTAB
    TargetWord stringsSize = 0;         // DT_STRSZ, 0 when absent
    std::uint32_t symbolCount = 0;      // entries of the symbol table, the null entry 0 included

    // SysV hash (DT_HASH): nbucket, nchain, the bucket and chain arrays.
    std::uint32_t sysvBucketCount = 0, sysvChainCount = 0;
    TargetWord sysvBuckets = 0, sysvChains = 0;

    // GNU hash (DT_GNU_HASH), used instead of the SysV table when present. Bloom words are 32
    // bits wide in CoreSift and 64 bits in CoreSift64; `gnuChains` is the address of the chain
    // entry of symbol `gnuSymbolOffset`.
    bool gnu = false;
    std::uint32_t gnuBucketCount = 0, gnuSymbolOffset = 0, gnuBloomCount = 0, gnuBloomShift = 0;
    std::uint32_t gnuBloomMask = 0;  // gnuBloomCount - 1
    TargetWord gnuBloom = 0, gnuBuckets = 0, gnuChains = 0;

    // DT_REL / DT_RELSZ (32-bit text relocations are undone with these).
    TargetWord relocations = 0, relocationsSize = 0;

    // For PLT stubs: the dynamic section, and the module's code region [codeStart, codeEnd);
    // `codeIsHeaderRegion` for single-segment layouts.
    TargetWord dynamicSection = 0;
    TargetWord codeStart = 0, codeEnd = 0;
    bool codeIsHeaderRegion = false;
};

// The module's unwind tables (`.eh_frame_hdr`, else `.ARM.exidx`) as a function finder.
class FunctionStarts {
public:
    // Start (file address) of the function containing file address `address`, or nothing.
    virtual std::optional<TargetWord> functionContaining(TargetWord address) const = 0;

protected:
    ~FunctionStarts() = default;
};

// Function match mode: the symbol file is not the build that ran, but its functions are placed
// in the dump by comparing function bodies.
class FunctionMatch {
public:
    // The file address of the instruction at dump address `address`; 0 when no function matches.
    virtual TargetWord toFileAddress(TargetWord address) const = 0;
    // The dump address of the function that starts at file address `fileAddress` (its Thumb bit
    // clear); 0 when no function in the dump matches its code.
    virtual TargetWord toDumpAddress(TargetWord fileAddress) const = 0;

protected:
    ~FunctionMatch() = default;
};

class SymbolSource {
public:
    SymbolSource(Console& console, std::string moduleName, TargetWord loadBias);
    ~SymbolSource();
    SymbolSource(const SymbolSource&) = delete;
    SymbolSource& operator=(const SymbolSource&) = delete;

    Console& console() const { return console_; }
    const std::string& moduleName() const { return moduleName_; }
    TargetWord loadBias() const { return loadBias_; }

    // The matched (or, in function match mode, the kept) symbol file.
    void setSymbolFile(std::unique_ptr<SymbolFile> file, bool matched);
    SymbolFile* symbolFile() const { return file_.get(); }
    bool matched() const { return matched_; }

    // The dump's dynamic tables and the memory they are read through (`memory` must outlive
    // the source). Usable tables are module flag 0x4.
    void setDumpTables(const DumpDynamicTables& tables, const decode::TargetMemory& memory);
    const DumpDynamicTables* dumpTables() const { return dumpTables_ ? &*dumpTables_ : nullptr; }
    const decode::TargetMemory* memory() const { return memory_; }
    DynamicSymbols* dynamicSymbols() const { return dynamic_.get(); }

    void setFunctionStarts(const FunctionStarts* starts) { functionStarts_ = starts; }
    const FunctionStarts* functionStarts() const { return functionStarts_; }
    void setFunctionMatch(const FunctionMatch* match) { functionMatch_ = match; }
    const FunctionMatch* functionMatch() const { return functionMatch_; }

    // Module flag 0x8: the file's symbol table (or its MiniDebugInfo stand-in) is there.
    bool hasFileSymbols() const { return file_ && file_->hasSymbols(); }

    // The shown (demangled) form of a name this source handed out, demangled once per name.
    std::string_view shownName(std::string_view name);

private:
    Console& console_;
    std::string moduleName_;
    TargetWord loadBias_;
    std::unique_ptr<SymbolFile> file_;
    bool matched_ = false;
    std::optional<DumpDynamicTables> dumpTables_;
    const decode::TargetMemory* memory_ = nullptr;
    std::unique_ptr<DynamicSymbols> dynamic_;
    const FunctionStarts* functionStarts_ = nullptr;
    const FunctionMatch* functionMatch_ = nullptr;
    std::unordered_map<std::string_view, std::string> shownNames_;  // keys borrowed from the tables
};

}  // namespace coresift
