// The symbols a module exports: the dump's defined dynamic symbols and its PLT stubs.
//
// PLT stubs are found by their code. The dynamic section gives the PLT relocations (DT_JMPREL,
// DT_PLTRELSZ); stub i jumps through relocation i, so it takes the name of the symbol that
// relocation names. In CoreSift the first stub is the first word w with (w >> 12) = 0xE28FC
// ("add ip, pc, ...") whose second word after it has (w >> 12) = 0xE5BCF ("ldr pc, [ip, ...]!")
// and which does not follow "str lr, [sp, #-4]!"; stubs are 16 bytes apart (lld, and GNU ld's
// Thumb-entry stubs) or 12 bytes apart when the next stub follows at once (GNU ld's ARM stubs).
// In CoreSift64 a stub is "adrp x16; ldr x17, [x16, ...]; add x16, x16, ...; br x17", 16 bytes,
// not preceded by the PLT header's "stp x16, x30, [sp, #-16]!".
#include "analyzer/driver/console.h"
#include "analyzer/symbols/dynamic_symbols.h"
#include "analyzer/symbols/symbol_lookup.h"

namespace coresift {
namespace {

constexpr TargetWord kDtNull = 0, kDtPltRelSize = 2, kDtJmpRel = 23;
constexpr std::uint32_t kMaxDynamicEntries = 4096;
constexpr TargetWord kRelocationSize = kIs64 ? 24 : 8;  // Elf64_Rela, Elf32_Rel

struct PltRelocations {
    TargetWord table = 0, count = 0;
};

std::optional<PltRelocations> pltRelocations(const DumpDynamicTables& tables, const decode::TargetMemory& memory,
                                             TargetWord loadBias) {
    std::optional<TargetWord> size, table;
    TargetWord at = tables.dynamicSection;
    for (std::uint32_t i = 0; i < kMaxDynamicEntries; ++i, at += 2 * sizeof(TargetWord)) {
        TargetWord tag = 0, value = 0;
        if (!memory.readWord(at, tag) || !memory.readWord(at + sizeof(TargetWord), value) || tag == kDtNull) break;
        if (tag == kDtPltRelSize) size = value;
        else if (tag == kDtJmpRel) table = value;
    }
    if (!size || !table) return std::nullopt;
    // Android's linker leaves the dynamic section as the file has it: addresses are file addresses.
    return PltRelocations{loadBias + *table, *size / kRelocationSize};
}

bool isFirstStub(const decode::TargetMemory& memory, TargetWord at) {
    std::uint32_t w[4] = {};
    std::uint32_t before = 0;
    if (!memory.read(at, w, sizeof w) || !memory.read32(at - 4, before)) return false;
    if constexpr (kIs64) {
        return (w[0] & 0x9F00001Fu) == 0x90000010u && (w[1] & 0xFFC003FFu) == 0xF9400211u &&
               (w[2] & 0xFFC003FFu) == 0x91000210u && w[3] == 0xD61F0220u && before != 0xA9BF7BF0u;
    } else {
        return (w[0] >> 12) == 0xE28FCu && (w[2] >> 12) == 0xE5BCFu && before != 0xE52DE004u;
    }
}

TargetWord stubStride(const decode::TargetMemory& memory, TargetWord first) {
    if constexpr (!kIs64) {
        std::uint32_t next = 0;
        if (memory.read32(first + 12, next) && (next >> 12) == 0xE28FCu) return 12;
    }
    (void)memory;
    (void)first;
    return 16;
}

int forEachPltStub(SymbolSource& source, const std::function<int(const ExportedSymbol&)>& visit) {
    const DumpDynamicTables* tables = source.dumpTables();
    const decode::TargetMemory* memory = source.memory();
    DynamicSymbols* dynamic = source.dynamicSymbols();
    if (!tables || !memory || !dynamic) return 0;
    auto relocations = pltRelocations(*tables, *memory, source.loadBias());
    std::optional<TargetWord> first;
    if (relocations && tables->codeEnd > tables->codeStart + 32) {
        TargetWord from = tables->codeIsHeaderRegion ? relocations->table + relocations->count * kRelocationSize + 16
                                                     : tables->codeStart + 16;
        from = (from + 3) & ~TargetWord{3};
        for (TargetWord at = from; at + 16 <= tables->codeEnd - 16 && at >= from; at += 4) {
            if (isFirstStub(*memory, at)) {
                first = at;
                break;
            }
        }
    }
    if (!first) {
        source.console().error(Msg::NoPlt, source.moduleName());
        return 0;
    }
    const TargetWord stride = stubStride(*memory, *first);
    for (TargetWord i = 0; i < relocations->count; ++i) {
        TargetWord stub = *first + i * stride;
        if (stub < *first || stub + stride > tables->codeEnd) break;
        TargetWord info = 0;
        if (!memory->readWord(relocations->table + i * kRelocationSize + sizeof(TargetWord), info)) break;
        auto symbolIndex = static_cast<std::uint32_t>(kIs64 ? static_cast<std::uint64_t>(info) >> 32 : info >> 8);
        auto symbol = dynamic->at(symbolIndex);
        ExportedSymbol out;
        out.name = symbol ? symbol->name : std::string_view();
        out.address = stub;
        out.size = stride;
        out.info = symbol ? symbol->info : 0;
        if (int result = visit(out)) return result;
    }
    return 0;
}

}  // namespace

int forEachExportedSymbol(SymbolSource& source, const std::function<int(const ExportedSymbol&)>& visit,
                          unsigned which) {
    if (source.matched()) which &= kExportPlt;  // a matched file gives the rest itself
    if ((which & kExportDynamic) && source.dynamicSymbols()) {
        DynamicSymbols& dynamic = *source.dynamicSymbols();
        for (std::uint32_t i = 1; i < dynamic.count(); ++i) {
            auto symbol = dynamic.at(i);
            if (!symbol) break;
            if (symbol->shndx == 0) continue;
            ExportedSymbol out{symbol->name, source.loadBias() + symbol->value, symbol->size, symbol->info};
            if (int result = visit(out)) return result;
        }
    }
    if (which & kExportPlt) return forEachPltStub(source, visit);
    return 0;
}

}  // namespace coresift
