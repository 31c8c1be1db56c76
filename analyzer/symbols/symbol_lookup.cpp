// Symbols by address and by name, source lines, and the symbol source itself.
#include "analyzer/symbols/symbol_lookup.h"

#include "analyzer/symbols/demangle.h"
#include "analyzer/symbols/dynamic_symbols.h"

namespace coresift {

SymbolSource::SymbolSource(Console& console, std::string moduleName, TargetWord loadBias)
    : console_(console), moduleName_(std::move(moduleName)), loadBias_(loadBias) {}

SymbolSource::~SymbolSource() = default;

void SymbolSource::setSymbolFile(std::unique_ptr<SymbolFile> file, bool matched) {
    file_ = std::move(file);
    matched_ = matched && file_;
}

void SymbolSource::setDumpTables(const DumpDynamicTables& tables, const decode::TargetMemory& memory) {
    dumpTables_ = tables;
    memory_ = &memory;
    dynamic_ = std::make_unique<DynamicSymbols>(tables, memory);
}

std::string_view SymbolSource::shownName(std::string_view name) {
    // Names handed out by this source live as long as it does, so they can key the cache.
    auto found = shownNames_.find(name);
    if (found == shownNames_.end()) found = shownNames_.emplace(name, displayName(name)).first;
    return found->second;
}

std::optional<SymbolHit> symbolAt(SymbolSource& source, TargetWord address, std::uint32_t mask) {
    const TargetWord bias = source.loadBias();
    const TargetWord a = address - bias;

    if (DynamicSymbols* dynamic = source.dynamicSymbols()) {
        if (auto s = dynamic->covering(a, mask)) return SymbolHit{s->name, bias + s->value, s->size, s->type()};
    }

    SymbolFile* file = source.symbolFile();
    TargetWord fileAddress = a;
    bool translated = true;
    if (const FunctionMatch* match = source.functionMatch()) {
        fileAddress = match->toFileAddress(address);
        translated = fileAddress != 0;
    }
    if (file && translated && (mask & (lookup::kGlobalPart | lookup::kLocalPart))) {
        if (auto s = file->symbolCovering(fileAddress, mask)) {
            auto value = static_cast<TargetWord>(s->value);
            return SymbolHit{s->name, bias + (a - fileAddress) + value, static_cast<TargetWord>(s->size), s->type()};
        }
    }

    const FunctionStarts* starts = source.functionStarts();
    if (!lookup::acceptsFunctions(mask) || !starts) return std::nullopt;
    auto start = starts->functionContaining(a & ~TargetWord{1});
    if (!start) return std::nullopt;
    const TargetWord thumb = address & 1;
    std::string_view name = kUnknownFunction;
    // Start-up code without symbol sizes: a size-0 function symbol at exactly this start names it.
    if (file && !source.functionMatch()) {
        auto named = file->sizelessFunctionAt(*start | thumb, mask);
        if (!named && thumb) named = file->sizelessFunctionAt(*start, mask);
        if (named) name = named->name;
    }
    return SymbolHit{name, bias + thumb + *start, 0, 2};
}

TargetWord symbolNamed(SymbolSource& source, std::string_view name, std::uint32_t mask, TargetWord* size) {
    const TargetWord bias = source.loadBias();
    auto answer = [size](TargetWord address, std::uint64_t symbolSize) {
        if (size) *size = static_cast<TargetWord>(symbolSize);
        return address;
    };
    if (size) *size = 0;
    if (DynamicSymbols* dynamic = source.dynamicSymbols(); dynamic && (mask & lookup::kHashed)) {
        if (auto s = dynamic->hashed(name, mask)) return answer(bias + s->value, s->size);
    }
    SymbolFile* file = source.symbolFile();
    if (!file) return 0;
    const FunctionMatch* match = source.functionMatch();
    if (!match) {
        if (auto s = file->symbolNamed(name, mask)) return answer(bias + static_cast<TargetWord>(s->value), s->size);
        return 0;
    }
    // Function match mode: the file's function is placed in the dump by its code.
    if (!lookup::acceptsFunctions(mask)) return 0;
    auto s = file->symbolNamed(name, mask);
    if (!s) return 0;
    auto value = static_cast<TargetWord>(s->value);
    TargetWord placed = match->toDumpAddress(value & ~TargetWord{1});
    if (placed == 0) return 0;
    return answer(placed | (value & 1), s->size);
}

std::optional<SourceLine> lineAt(SymbolSource& source, TargetWord address) {
    SymbolFile* file = source.symbolFile();
    DwarfInfo* dwarf = file ? file->dwarf() : nullptr;
    if (!dwarf || !dwarf->sections().has(DebugSection::Line)) return std::nullopt;
    TargetWord fileAddress = address - source.loadBias();
    if (const FunctionMatch* match = source.functionMatch()) {
        fileAddress = match->toFileAddress(address);
        if (fileAddress == 0) return std::nullopt;
    }
    return dwarf->lineTables().lineAt(fileAddress);
}

}  // namespace coresift
