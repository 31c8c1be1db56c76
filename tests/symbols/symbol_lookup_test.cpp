// Symbol look-up over a symbol source: the order of search (dump dynamic symbols, `.symtab`
// global then local part, the unwind tables' functions), the kind mask, look-up by name through
// SysV and GNU hash tables, function match mode, value rendering and PLT stubs.
#include <gtest/gtest.h>

#include <cstring>

#include "analyzer/symbols/dynamic_symbols.h"
#include "analyzer/symbols/symbol_lookup.h"
#include "tests/support/run_capture.h"
#include "tests/symbols/symbol_test_support.h"

namespace {

using coresift::DumpDynamicTables;
using coresift::SymbolSource;
using testsupport::Bytes;
using testsupport::ElfBuilder;
using testsupport::FakeMemory;
using testsupport::SymbolEntry;
namespace lookup = coresift::lookup;

constexpr TargetWord kBias = 0x10000000;
constexpr std::uint8_t kGlobalFunction = 0x12, kLocalFunction = 0x02, kGlobalObject = 0x11, kThumbFunction = 0x1D;

// A dynamic symbol table with its string table and hash table, placed in fake dump memory.
struct DynamicTableBuilder {
    struct Entry {
        std::string name;
        TargetWord value, size;
        std::uint8_t info;
        std::uint16_t shndx = 1;
    };
    std::vector<Entry> entries;  // index 1 up

    DumpDynamicTables place(FakeMemory& memory, TargetWord at, bool gnu) const {
        Bytes strings{0}, symbols(kIs64 ? 24 : 16, 0);
        for (const Entry& e : entries) {
            std::size_t base = symbols.size();
            symbols.resize(base + (kIs64 ? 24 : 16));
            testsupport::put32(symbols, base, static_cast<std::uint32_t>(strings.size()));
            if (kIs64) {
                symbols[base + 4] = e.info;
                testsupport::put16(symbols, base + 6, e.shndx);
                testsupport::put64(symbols, base + 8, e.value);
                testsupport::put64(symbols, base + 16, e.size);
            } else {
                testsupport::put32(symbols, base + 4, static_cast<std::uint32_t>(e.value));
                testsupport::put32(symbols, base + 8, static_cast<std::uint32_t>(e.size));
                symbols[base + 12] = e.info;
                testsupport::put16(symbols, base + 14, e.shndx);
            }
            strings.insert(strings.end(), e.name.begin(), e.name.end());
            strings.push_back(0);
        }
        DumpDynamicTables t;
        t.symbols = at;
        t.strings = at + 0x1000;
        t.symbolCount = static_cast<std::uint32_t>(entries.size() + 1);
        memory.place(t.symbols, symbols);
        memory.place(t.strings, strings);
        const TargetWord hash = at + 0x2000;
        Bytes table;
        const auto count = static_cast<std::uint32_t>(entries.size() + 1);
        if (!gnu) {
            // Two buckets; chains link the symbols of a bucket from the highest index down.
            const std::uint32_t buckets = 2;
            std::vector<std::uint32_t> bucket(buckets, 0), chain(count, 0);
            for (std::uint32_t i = 1; i < count; ++i) {
                std::uint32_t b = coresift::elfHash(entries[i - 1].name) % buckets;
                chain[i] = bucket[b];
                bucket[b] = i;
            }
            testsupport::put32(table, 0, buckets);
            testsupport::put32(table, 4, count);
            for (std::uint32_t b = 0; b < buckets; ++b) testsupport::put32(table, 8 + 4 * b, bucket[b]);
            for (std::uint32_t i = 0; i < count; ++i) testsupport::put32(table, 8 + 4 * buckets + 4 * i, chain[i]);
            t.sysvBucketCount = buckets;
            t.sysvChainCount = count;
            t.sysvBuckets = hash + 8;
            t.sysvChains = hash + 8 + 4 * buckets;
        } else {
            // One bucket holding every symbol from index 1; one bloom word; shift 6.
            const unsigned bits = sizeof(TargetWord) * 8;
            TargetWord bloom = 0;
            for (const Entry& e : entries) {
                std::uint32_t h = coresift::gnuHash(e.name);
                bloom |= TargetWord{1} << (h % bits);
                bloom |= TargetWord{1} << ((h >> 6) % bits);
            }
            testsupport::put32(table, 0, 1);
            testsupport::put32(table, 4, 1);
            testsupport::put32(table, 8, 1);
            testsupport::put32(table, 12, 6);
            table.resize(16 + sizeof(TargetWord));
            std::memcpy(table.data() + 16, &bloom, sizeof bloom);
            testsupport::put32(table, table.size(), 1);  // bucket 0 -> symbol 1
            for (std::uint32_t i = 1; i < count; ++i) {
                std::uint32_t h = coresift::gnuHash(entries[i - 1].name) & ~1u;
                testsupport::put32(table, table.size(), i + 1 == count ? h | 1 : h);
            }
            t.gnu = true;
            t.gnuBucketCount = 1;
            t.gnuSymbolOffset = 1;
            t.gnuBloomCount = 1;
            t.gnuBloomShift = 6;
            t.gnuBloom = hash + 16;
            t.gnuBuckets = hash + 16 + sizeof(TargetWord);
            t.gnuChains = t.gnuBuckets + 4;
        }
        memory.place(hash, table);
        return t;
    }
};

class RangeStarts final : public coresift::FunctionStarts {
public:
    std::optional<TargetWord> functionContaining(TargetWord address) const override {
        for (TargetWord start : {TargetWord{0x6000}, TargetWord{0x8000}, TargetWord{0x5000}})
            if (address >= start && address < start + 0x100) return start;
        return std::nullopt;
    }
};

// Dump addresses map to file addresses 0x20 lower; only the functions at 0x1000 and 0x2000 match.
class ShiftedMatch final : public coresift::FunctionMatch {
public:
    TargetWord toFileAddress(TargetWord address) const override {
        TargetWord file = address - kBias - 0x20;
        return (file >= 0x1000 && file < 0x1100) || (file >= 0x2000 && file < 0x2100) ? file : 0;
    }
    TargetWord toDumpAddress(TargetWord fileAddress) const override {
        return fileAddress == 0x1000 || fileAddress == 0x2000 ? kBias + fileAddress + 0x20 : 0;
    }
};

class SymbolLookupTest : public testing::Test {
protected:
    SymbolLookupTest() {
        run.context().catalog.selectEnglish();
        ElfBuilder builder;
        builder.addSection(".text", 1, Bytes(16, 0), 6, 0x1000);
        // Locals first (sh_info = 4 makes entries 1-3 the local part).
        builder.addSymbols({{"local_fn", 0x1000, 0x100, kLocalFunction},
                            {"zero_local", 0x7000, 0, kLocalFunction},
                            {"local_data", 0x3000, 0x10, 0x01},
                            {"global_fn", 0x1000, 0x80, kGlobalFunction},
                            {"data_obj", 0x3000, 0x40, kGlobalObject},
                            {"undef_fn", 0x4000, 0x10, kGlobalFunction, 0},
                            {"thumb_fn", 0x5001, 0x20, kThumbFunction},
                            {"zero_start", 0x6000, 0, kGlobalFunction},
                            {"_ZN7crashns6Widget4pokeEPVii", 0x2000, 0x40, kGlobalFunction}},
                           coresift::elf::kShtSymtab, 4);
        bytes = builder.build();
        source = std::make_unique<SymbolSource>(run.context().console, "libfoo.so", kBias);
        auto image = coresift::ElfImage::open(run.context().console, coresift::MappedFile::fromBuffer("libfoo.so", bytes),
                                              coresift::elf::kSymbolFileTypes);
        source->setSymbolFile(std::make_unique<coresift::SymbolFile>(run.context().console, std::move(image)), true);
        dynamic.entries = {{"dyn_fn", 0x1040, 0x10, kGlobalFunction}, {"dyn_data", 0x3010, 8, kGlobalObject},
                           {"dyn_undef", 0, 0, kGlobalFunction, 0}, {"global_fn", 0x1000, 0x80, kGlobalFunction}};
    }
    std::string at(TargetWord address, std::uint32_t mask = lookup::kFunctionMask) {
        auto hit = coresift::symbolAt(*source, address, mask);
        if (!hit) return "none";
        return std::string(hit->name) + "@" + std::to_string(hit->start - kBias);
    }

    testsupport::RunCapture run;
    Bytes bytes;
    std::unique_ptr<SymbolSource> source;
    DynamicTableBuilder dynamic;
    FakeMemory memory;
};

TEST_F(SymbolLookupTest, TheGlobalPartComesBeforeTheLocalPartAndTheMaskChoosesTypesAndParts) {
    EXPECT_EQ(at(kBias + 0x1010), "global_fn@4096");
    EXPECT_EQ(at(kBias + 0x1090), "local_fn@4096");
    EXPECT_EQ(at(kBias + 0x1010, 0x92004), "local_fn@4096");  // local part only
    EXPECT_EQ(at(kBias + 0x1090, 0x52004), "none");           // global part only
    EXPECT_EQ(at(kBias + 0x1010, lookup::kObjectMask), "none");
    EXPECT_EQ(at(kBias + 0x3004, lookup::kObjectMask), "data_obj@12288");
    EXPECT_EQ(at(kBias + 0x3004, 0x90002), "local_data@12288");
    EXPECT_EQ(at(kBias + 0x4000), "none");                    // section index 0
    EXPECT_EQ(at(kBias + 0x5010), "thumb_fn@20481");
    EXPECT_EQ(at(kBias + 0x5010, 0xD0004), "none");           // Thumb functions not asked for
    EXPECT_EQ(at(kBias + 0x5000), "none");                    // before its (odd) value
    EXPECT_EQ(at(kBias + 0x6000), "none");                    // size 0 covers nothing
    EXPECT_EQ(at(kBias + 0x2000), "_ZN7crashns6Widget4pokeEPVii@8192");
    EXPECT_TRUE(source->hasFileSymbols());
}

TEST_F(SymbolLookupTest, DumpDynamicSymbolsComeFirst) {
    source->setDumpTables(dynamic.place(memory, 0x20000000, false), memory);
    EXPECT_EQ(at(kBias + 0x1044), "dyn_fn@4160");
    EXPECT_EQ(at(kBias + 0x1050), "global_fn@4096");
    EXPECT_EQ(at(kBias + 0x3010, lookup::kObjectMask), "dyn_data@12304");
    EXPECT_EQ(at(kBias + 0x3010), "none");
}

TEST_F(SymbolLookupTest, TheUnwindTablesNameFunctionStartsAsUnknownUnlessASizelessSymbolStartsThere) {
    RangeStarts starts;
    source->setFunctionStarts(&starts);
    EXPECT_EQ(at(kBias + 0x8010), "??@32768");
    EXPECT_EQ(at(kBias + 0x8011), "??@32769");  // the Thumb bit of the address
    EXPECT_EQ(at(kBias + 0x6010), "zero_start@24576");
    EXPECT_EQ(at(kBias + 0x8010, lookup::kObjectMask), "none");
    EXPECT_EQ(at(kBias + 0x9000), "none");
    EXPECT_EQ(at(kBias + 0x5010), "thumb_fn@20481");  // a covering symbol still comes first
}

TEST_F(SymbolLookupTest, NamesAreFoundThroughEitherHashTableThenInTheSymbolTable) {
    for (bool gnu : {false, true}) {
        SCOPED_TRACE(gnu ? "GNU hash" : "SysV hash");
        source = std::make_unique<SymbolSource>(run.context().console, "libfoo.so", kBias);
        auto image = coresift::ElfImage::open(run.context().console, coresift::MappedFile::fromBuffer("libfoo.so", bytes),
                                              coresift::elf::kSymbolFileTypes);
        source->setSymbolFile(std::make_unique<coresift::SymbolFile>(run.context().console, std::move(image)), true);
        source->setDumpTables(dynamic.place(memory, 0x20000000, gnu), memory);
        TargetWord size = 0;
        EXPECT_EQ(coresift::symbolNamed(*source, "dyn_fn", lookup::kFunctionMask, &size), kBias + 0x1040);
        EXPECT_EQ(size, 0x10u);
        EXPECT_EQ(coresift::symbolNamed(*source, "dyn_fn", lookup::kFunctionMask & ~lookup::kHashed), 0u);
        EXPECT_EQ(coresift::symbolNamed(*source, "dyn_data", lookup::kFunctionMask), 0u);
        EXPECT_EQ(coresift::symbolNamed(*source, "dyn_data", lookup::kObjectMask), kBias + 0x3010);
        EXPECT_EQ(coresift::symbolNamed(*source, "dyn_undef", lookup::kFunctionMask), 0u);
        EXPECT_EQ(coresift::symbolNamed(*source, "global_fn", lookup::kFunctionMask, &size), kBias + 0x1000);
        EXPECT_EQ(size, 0x80u);
        EXPECT_EQ(coresift::symbolNamed(*source, "local_fn", lookup::kFunctionMask), kBias + 0x1000);
        EXPECT_EQ(coresift::symbolNamed(*source, "local_fn", 0x52004), 0u);
        EXPECT_EQ(coresift::symbolNamed(*source, "undef_fn", lookup::kFunctionMask), 0u);
        EXPECT_EQ(coresift::symbolNamed(*source, "missing", lookup::kFunctionMask, &size), 0u);
        EXPECT_EQ(size, 0u);
    }
}

TEST_F(SymbolLookupTest, DamagedHashTablesEndTheirWalks) {
    DumpDynamicTables t = dynamic.place(memory, 0x20000000, false);
    // Chains that loop back to themselves, and a bucket count of 0.
    for (std::uint32_t i = 0; i < t.sysvChainCount; ++i) memory.put32(t.sysvChains + 4 * i, i);
    memory.put32(t.sysvBuckets, 1);
    memory.put32(t.sysvBuckets + 4, 1);
    source->setDumpTables(t, memory);
    EXPECT_EQ(coresift::symbolNamed(*source, "nothing", lookup::kFunctionMask), 0u);
    DumpDynamicTables gnu = dynamic.place(memory, 0x30000000, true);
    gnu.gnuBloomShift = 200;
    gnu.symbolCount = 3;  // chains without an end bit stop at the count
    for (std::uint32_t i = 0; i < 8; ++i) memory.put32(gnu.gnuChains + 4 * i, 0);
    source->setDumpTables(gnu, memory);
    EXPECT_EQ(coresift::symbolNamed(*source, "dyn_fn", lookup::kFunctionMask), 0u);
    gnu.gnuBucketCount = 0;
    source->setDumpTables(gnu, memory);
    EXPECT_EQ(coresift::symbolNamed(*source, "dyn_fn", lookup::kFunctionMask), 0u);
}

TEST_F(SymbolLookupTest, FunctionMatchModeTranslatesIntoTheFileAndBack) {
    ShiftedMatch match;
    RangeStarts starts;
    source->setFunctionMatch(&match);
    source->setFunctionStarts(&starts);
    EXPECT_EQ(at(kBias + 0x1030), "global_fn@4128");    // file 0x1010: the dump function starts 0x20 later
    EXPECT_EQ(at(kBias + 0x2040), "_ZN7crashns6Widget4pokeEPVii@8224");
    EXPECT_EQ(at(kBias + 0x8010), "??@32768");          // no twin: the dump's own unwind tables
    EXPECT_EQ(at(kBias + 0x6010), "??@24576");          // the file's sizeless symbols do not apply
    EXPECT_EQ(coresift::symbolNamed(*source, "global_fn", lookup::kFunctionMask), kBias + 0x1020);
    EXPECT_EQ(coresift::symbolNamed(*source, "thumb_fn", lookup::kFunctionMask), 0u);  // no twin
    EXPECT_EQ(coresift::symbolNamed(*source, "data_obj", lookup::kObjectMask), 0u);
}

TEST_F(SymbolLookupTest, ValuesRenderAsNamesAddressesOrNumbers) {
    RangeStarts starts;
    source->setFunctionStarts(&starts);
    coresift::SourceFinder finder = [this](TargetWord v) -> SymbolSource* {
        return v >= kBias && v < kBias + 0x10000 ? source.get() : nullptr;
    };
    auto show = [&finder](TargetWord v) { return coresift::formatValue(finder, v); };
    EXPECT_EQ(show(kBias + 0x3000), "data_obj");
    EXPECT_EQ(show(kBias + 0x3004), "data_obj + 4");
    EXPECT_EQ(show(kBias + 0x1000), "global_fn()");
    EXPECT_EQ(show(kBias + 0x2000), "crashns::Widget::poke()");
    EXPECT_EQ(show(kBias + 0x8000), kIs64 ? "0x0000000010008000()" : "0x10008000()");
    EXPECT_EQ(show(kBias + 0x1010), kIs64 ? "0x0000000010001010" : "0x10001010");  // not a function start
    EXPECT_EQ(show(0x8000), "32768");
    if constexpr (kIs64) {
        EXPECT_EQ(show(0x8001), "0x0000000000008001");
        EXPECT_EQ(show(static_cast<TargetWord>(-5)), "-5");
        EXPECT_EQ(show(static_cast<TargetWord>(-32767)), "-32767");
        EXPECT_EQ(show(static_cast<TargetWord>(-32768)), "-32768");  // v + 32768 <= 0x10000
        EXPECT_EQ(show(static_cast<TargetWord>(-32769)), "0xFFFFFFFFFFFF7FFF");
        EXPECT_EQ(show(0x8000000000), "0x0000008000000000");
    } else {
        EXPECT_EQ(show(0x8001), "0x00008001");
        EXPECT_EQ(show(0xFFFF0000), "0xFFFF0000");
        EXPECT_EQ(show(0xFFFF7FFF), "0xFFFF7FFF");
        EXPECT_EQ(show(0xFFFF8000), "-32768");
        EXPECT_EQ(show(0xFFFFFFFF), "-1");
        EXPECT_EQ(show(0), "0");
    }
}

// A PLT in fake dump memory: the dynamic section names the relocations, each naming a symbol.
class PltTest : public SymbolLookupTest {
protected:
    void layOut(const std::vector<std::uint32_t>& header, const std::vector<std::uint32_t>& stub, unsigned stubs) {
        DumpDynamicTables t = dynamic.place(memory, kBias + 0x20000, false);
        const TargetWord code = kBias + 0x10000, relocations = kBias + 0x30000, dynamicSection = kBias + 0x40000;
        t.codeStart = code;
        t.codeEnd = code + 0x1000;
        t.dynamicSection = dynamicSection;
        const TargetWord w = sizeof(TargetWord), relSize = kIs64 ? 24 : 8;
        memory.putWord(dynamicSection, 2);
        memory.putWord(dynamicSection + w, stubs * relSize);
        memory.putWord(dynamicSection + 2 * w, 23);
        memory.putWord(dynamicSection + 3 * w, relocations - kBias);
        memory.putWord(dynamicSection + 4 * w, 0);
        memory.putWord(dynamicSection + 5 * w, 0);
        Bytes rel;
        for (unsigned i = 0; i < stubs; ++i) {
            std::uint64_t symbol = 1 + (i % dynamic.entries.size());
            if (kIs64) testsupport::put64(rel, i * relSize + 8, symbol << 32 | 1026);
            else testsupport::put32(rel, i * relSize + 4, static_cast<std::uint32_t>(symbol << 8 | 22));
        }
        memory.place(relocations, rel);
        Bytes text(0x1000, 0);
        std::size_t at = 0x40;
        for (std::uint32_t word : header) testsupport::put32(text, at, word), at += 4;
        for (unsigned i = 0; i < stubs; ++i)
            for (std::uint32_t word : stub) testsupport::put32(text, at, word), at += 4;
        memory.place(code, text);
        source->setDumpTables(t, memory);
    }
    std::vector<std::string> stubs(unsigned which = coresift::kExportPlt) {
        std::vector<std::string> out;
        coresift::forEachExportedSymbol(*source, [&out](const coresift::ExportedSymbol& s) {
            out.push_back(std::string(s.name) + "@" + std::to_string(s.address - kBias - 0x10000) + "/" + std::to_string(s.size));
            return 0;
        }, which);
        return out;
    }
};

TEST_F(PltTest, StubsAreNamedAfterTheSymbolsTheirRelocationsName) {
    if constexpr (kIs64) {
        layOut({0xA9BF7BF0, 0x90000010, 0xF9400211, 0x91000210, 0xD61F0220, 0xD503201F, 0xD503201F, 0xD503201F},
               {0x90000090, 0xF9400611, 0x91002210, 0xD61F0220}, 3);
        EXPECT_EQ(stubs(), (std::vector<std::string>{"dyn_fn@96/16", "dyn_data@112/16", "dyn_undef@128/16"}));
    } else {
        // GNU ld: 12-byte stubs after a 20-byte header.
        layOut({0xE52DE004, 0xE59FE004, 0xE08FE00E, 0xE5BEF008, 0x00010000}, {0xE28FC600, 0xE28CCA10, 0xE5BCF000}, 3);
        EXPECT_EQ(stubs(), (std::vector<std::string>{"dyn_fn@84/12", "dyn_data@96/12", "dyn_undef@108/12"}));
        // lld: 16-byte stubs (the fourth word a trap).
        layOut({0xE52DE004, 0xE59FE004, 0xE08FE00E, 0xE5BEF008, 0xD4D4D4D4, 0xD4D4D4D4, 0xD4D4D4D4, 0xD4D4D4D4},
               {0xE28FC600, 0xE28CCA10, 0xE5BCF000, 0xD4D4D4D4}, 2);
        EXPECT_EQ(stubs(), (std::vector<std::string>{"dyn_fn@96/16", "dyn_data@112/16"}));
    }
    EXPECT_EQ(run.err(), "");
}

TEST_F(PltTest, AMatchedModuleGivesItsStubsOnlyAndAModuleWithoutStubsSaysSo) {
    layOut({}, {0xE1A00000}, 4);  // no stub pattern anywhere
    auto all = stubs(coresift::kExportDynamic | coresift::kExportPlt);
    EXPECT_TRUE(all.empty());  // matched: the dynamic symbols come from the file instead
    EXPECT_EQ(run.err(), "Error: No found libfoo.so's PLT\n");
    source->setSymbolFile(nullptr, false);
    std::vector<std::string> names;
    coresift::forEachExportedSymbol(*source, [&names](const coresift::ExportedSymbol& s) {
        names.emplace_back(s.name);
        return 0;
    }, coresift::kExportDynamic);
    EXPECT_EQ(names, (std::vector<std::string>{"dyn_fn", "dyn_data", "global_fn"}));  // defined ones only
}

}  // namespace
