// The symbols a module exports: the dump's defined dynamic symbols and its PLT stubs.
//
// PLT stubs are found by their code. The dynamic section gives the PLT relocations (DT_JMPREL,
// DT_PLTRELSZ); stub i jumps through relocation i, so it takes the name of the symbol that
// relocation names. The first stub is found by its pattern past the PLT header: in CoreSift
// "add ip, pc, ..." with "ldr pc, [ip, ...]!" two words later (three in the long form), not
// following "str lr, [sp, #-4]!"; in CoreSift64 "adrp x16; ldr x17, [x16, ...]; add x16, x16,
// ...; br x17", not following the header's "stp x16, x30, [sp, #-16]!". From there the stubs are
// walked one by one, each as long as its code: linkers differ (12 or 16 bytes, Thumb entries,
// trap padding, branch-target instructions), and GNU ld mixes sizes in one PLT.
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

std::uint32_t word(const decode::TargetMemory& memory, TargetWord at) {
    std::uint32_t w = 0;
    return memory.read32(at, w) ? w : 0;
}

// CoreSift64: "adrp x16; ldr x17, [x16, ...]; add x16, x16, ...; br x17" at `at`.
bool isA64Stub(const decode::TargetMemory& memory, TargetWord at) {
    return (word(memory, at) & 0x9F00001Fu) == 0x90000010u && (word(memory, at + 4) & 0xFFC003FFu) == 0xF9400211u &&
           (word(memory, at + 8) & 0xFFC003FFu) == 0x91000210u && word(memory, at + 12) == 0xD61F0220u;
}

// CoreSift: "add ip, pc, ..." whose "ldr pc, [ip, ...]!" comes two words later (or three, in
// the long form with an extra "add ip, ip, ...").
bool isArmStub(const decode::TargetMemory& memory, TargetWord at) {
    return (word(memory, at) >> 12) == 0xE28FCu &&
           ((word(memory, at + 8) >> 12) == 0xE5BCFu || (word(memory, at + 12) >> 12) == 0xE5BCFu);
}

constexpr std::uint32_t kBtiC = 0xD503245Fu, kA64Nop = 0xD503201Fu, kA64PltHeader = 0xA9BF7BF0u;
constexpr std::uint32_t kArmPltHeader = 0xE52DE004u, kThumbBxPc = 0x4778u, kTrap = 0xD4D4D4D4u;

// The start of the first stub: its code as above, not the PLT header's, including the
// branch-target ("bti c") or Thumb entry ("bx pc") that precedes it.
std::optional<TargetWord> firstStub(const decode::TargetMemory& memory, TargetWord at) {
    std::uint32_t before = word(memory, at - 4);
    if constexpr (kIs64) {
        if (!isA64Stub(memory, at) || before == kA64PltHeader) return std::nullopt;
        return before == kBtiC ? at - 4 : at;
    } else {
        if (!isArmStub(memory, at) || before == kArmPltHeader) return std::nullopt;
        return (before & 0xFFFF) == kThumbBxPc ? at - 4 : at;
    }
}

// The size of the stub starting at `at`; 0 when no stub is there. Stubs differ by linker: GNU ld
// writes 12-byte ARM stubs, 16 bytes with a Thumb entry, lld 16-byte ones ending in a trap word;
// AArch64 stubs are 16 bytes, 24 with branch-target identification.
TargetWord stubSize(const decode::TargetMemory& memory, TargetWord at) {
    if constexpr (kIs64) {
        bool bti = word(memory, at) == kBtiC;
        TargetWord code = at + (bti ? 4 : 0);
        if (!isA64Stub(memory, code)) return 0;
        TargetWord end = code + 16;
        if (bti && word(memory, end) == kA64Nop) end += 4;
        return end - at;
    } else {
        std::uint16_t first = 0;
        memory.read16(at, first);
        TargetWord code = at + (first == kThumbBxPc ? 4 : 0);
        if (!isArmStub(memory, code)) return 0;
        TargetWord end = (word(memory, code + 8) >> 12) == 0xE5BCFu ? code + 12 : code + 16;
        if (word(memory, end) == kTrap) end += 4;
        return end - at;
    }
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
            if ((first = firstStub(*memory, at))) break;
        }
    }
    if (!first) {
        source.console().error(Msg::NoPlt, source.moduleName());
        return 0;
    }
    TargetWord stub = *first;
    for (TargetWord i = 0; i < relocations->count; ++i) {
        const TargetWord size = stubSize(*memory, stub);
        if (size == 0 || stub + size > tables->codeEnd) break;
        TargetWord info = 0;
        if (!memory->readWord(relocations->table + i * kRelocationSize + sizeof(TargetWord), info)) break;
        auto symbolIndex = static_cast<std::uint32_t>(kIs64 ? static_cast<std::uint64_t>(info) >> 32 : info >> 8);
        auto symbol = dynamic->at(symbolIndex);
        ExportedSymbol out;
        out.name = symbol ? symbol->name : std::string_view();
        out.address = stub;
        out.size = size;
        out.info = symbol ? symbol->info : 0;
        stub += size;
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
