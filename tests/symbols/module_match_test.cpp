// Matching a module with its symbol file, on real cross-compiled libraries mapped into
// hand-built processes (the memory map names them; the linker has no records): the build that
// ran, the same code built another day, another build, code in and not in the dump, damaged
// dynamic sections, files without symbols, text relocations, and the pages the file serves.
#include <gtest/gtest.h>

#include <cstring>

#include "analyzer/process/address_space.h"
#include "tests/symbols/elf_builder.h"
#include "tests/symbols/module_test_support.h"
#include "tools/corekit/elf_constants.h"

namespace {

using namespace testsupport;
namespace mf = coresift::module_flag;
namespace fs = std::filesystem;

const std::string kPath = libraryFolder() + "libmodfix.so";
const std::string kRelative = kPath.substr(1);

struct Scenario {
    ProcessCore core;
    ModuleDb db;
    const MappedLibrary* library = nullptr;

    // The linker (without records) and the library that ran, `symbolFile` in the symbols tree.
    explicit Scenario(const std::string& ran, const std::string& symbolFile = "libmodfix.so", LibraryPlacement placement = {}) {
        core.addLinker();
        placement.devicePath = kPath;
        placement.file = moduleFixtures() / ran;
        library = &core.addLibrary(placement);
        if (!symbolFile.empty()) placeSymbolFile(db.path(), kRelative, moduleFixtures() / symbolFile);
    }

    coresift::Module& load() {
        EXPECT_TRUE(db.load(core)) << db.out() << db.err();
        coresift::Module* module = db.named("libmodfix.so");
        if (!module) throw std::runtime_error("no module: " + db.summary());
        return *module;
    }

    // The dump address of a function of the library.
    std::uint64_t function(const std::string& name) const {
        for (const auto& s : library->elf.symbols())
            if (s.name == name && s.type == corekit::elf::STT_FUNC) return library->placement.bias + (s.value & ~1ull);
        throw std::runtime_error("no symbol " + name);
    }

    // The errors and warnings without the soinfo warning every scenario prints.
    std::string messages() const {
        std::string err = db.err();
        const std::string soinfo = std::string("Warning: Fail to find <") + (kIs64 ? "linker64" : "linker") + "> soinfo segment\n";
        if (err.rfind(soinfo, 0) == 0) err.erase(0, soinfo.size());
        return err;
    }
};

std::string fileBuildId(const fs::path& file) {
    auto elf = corekit::ElfFile::load(file.string());
    auto note = elf ? elf->section(".note.gnu.build-id") : nullptr;
    auto bytes = note ? elf->sectionBytes(*note) : std::nullopt;
    std::string hex;
    for (std::size_t i = 16; bytes && i < bytes->size(); ++i) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", bytes->data()[i]);
        hex += digits;
    }
    return hex;
}

TEST(ModuleMatch, TheBuildThatRanMatchesAndItsHeadersAreReadFromTheDump) {
    REQUIRE_MODULE_FIXTURES();
    Scenario s("libmodfix.so");
    coresift::Module& m = s.load();
    EXPECT_EQ(s.messages(), "");
    EXPECT_NE(s.db.out().find("Loading libmodfix.so ...\n"), std::string::npos);
    EXPECT_TRUE(m.has(mf::kMatchRan | mf::kMatched | mf::kDynamicSymbols | mf::kSymbolTables | mf::kHeadersRead |
                      mf::kCodeInDump | mf::kCreated))
        << std::hex << m.flags;
    EXPECT_FALSE(m.has(mf::kFunctionMatch));
    EXPECT_EQ(m.buildId, fileBuildId(moduleFixtures() / "libmodfix.so"));
    EXPECT_EQ(m.buildId.size(), 32u);
    // The dump's dynamic tables: as many symbols as the file's .dynsym holds.
    const corekit::ElfSection* dynsym = s.library->elf.section(".dynsym");
    ASSERT_NE(dynsym, nullptr);
    EXPECT_EQ(m.dynamic.symbolCount, dynsym->size / dynsym->entsize);
    EXPECT_EQ(m.dynamic.symbols, s.library->placement.bias + dynsym->addr);
    EXPECT_EQ(m.headersSize, dynsym->addr);  // the code comparison starts at the symbol table
    EXPECT_EQ(m.dynamicAddress, s.library->dynamicAddress);
    for (const auto& p : s.library->elf.programHeaders()) {
        if (p.type == 0x6474E550) {
            EXPECT_EQ(m.unwind.ehFrameHdr, s.library->placement.bias + p.vaddr);
        }
        if (p.type == 0x70000001) {
            EXPECT_EQ(m.unwind.exidx, s.library->placement.bias + p.vaddr);
            EXPECT_EQ(m.unwind.exidxCount, p.filesz / 8);
        }
    }
    EXPECT_TRUE(m.unwind.ehFrameHdr || m.unwind.exidx);
    ASSERT_NE(m.symbolImage(), nullptr);
}

TEST(ModuleMatch, CompileDateTimeAndBuildIdDifferencesAreBenign) {
    REQUIRE_MODULE_FIXTURES();
    Scenario s("libmodfix_date.so");
    coresift::Module& m = s.load();
    EXPECT_TRUE(m.has(mf::kMatched));
    EXPECT_NE(m.buildId, fileBuildId(moduleFixtures() / "libmodfix.so"));
    EXPECT_EQ(s.messages(), "");
}

TEST(ModuleMatch, OneShortUnexplainedRunPrintsTheDiffBlockAndTheBuildIdDecides) {
    REQUIRE_MODULE_FIXTURES();
    Scenario s("libmodfix.so");
    const std::uint64_t at = s.function("fixture_spread") + 8;
    auto original = s.core.read(at, 12);
    s.core.patch(at, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC});
    coresift::Module& m = s.load();
    EXPECT_TRUE(m.has(mf::kMatched));
    auto word = [&](std::size_t i) {
        std::uint32_t w;
        std::memcpy(&w, original.data() + 4 * i, 4);
        char text[16];
        std::snprintf(text, sizeof text, " %08X", w);
        return std::string(text);
    };
    char address[40], offset[40];
    std::snprintf(address, sizeof address, kIs64 ? "0x%016llX" : "0x%08llX", static_cast<unsigned long long>(at));
    std::snprintf(offset, sizeof offset, "0x%llX", static_cast<unsigned long long>(at - s.library->placement.bias));
    EXPECT_EQ(s.messages(), std::string("Diff region, ") + address + "<fixture_spread() + 8> ++ 12:\ncoredump:\n    44332211 88776655 "
                            "CCBBAA99\nlibmodfix.so(offset: " + offset + "):\n   " + word(0) + word(1) + word(2) + "\n\n");
    EXPECT_EQ(s.db.context().console.formatMismatches(), 0u);
}

TEST(ModuleMatch, TwoUnexplainedRunsWithTheSameBuildIdStillMatch) {
    REQUIRE_MODULE_FIXTURES();
    Scenario s("libmodfix.so");
    s.core.patchWord(s.function("fixture_spread") + 16, 0xE7F000F0, 4);
    s.core.patchWord(s.function("fixture_last"), 0xE7F000F0, 4);
    coresift::Module& m = s.load();
    EXPECT_TRUE(m.has(mf::kMatched));
    EXPECT_EQ(s.messages(), "");  // no diff block for more than one run
}

// Another build of the library: with a symbol table in the file and the dump's headers read,
// its functions are placed by their code; without one the file is dropped.
TEST(ModuleMatch, AnotherBuildIsKeptInFunctionMatchModeOrDropped) {
    REQUIRE_MODULE_FIXTURES();
    {
        Scenario s("libmodfix_other.so", "libmodfix.so");
        coresift::Module& m = s.load();
        EXPECT_FALSE(m.has(mf::kMatched));
        EXPECT_TRUE(m.has(mf::kFunctionMatch | mf::kSymbolTables));
        ASSERT_NE(m.symbolImage(), nullptr);
        EXPECT_EQ(s.messages(), "Warning: symbols/" + kRelative +
                                    " and coredump are not matched, please leave symbols folder before test, using "
                                    "function match mode\n");
        // The same function (unchanged between the builds) at the same place in both.
        Scenario twin("libmodfix.so", "");
        const std::uint64_t dumpSpread = s.function("fixture_spread");
        const std::uint64_t fileSpread = twin.function("fixture_spread") - twin.library->placement.bias;
        const TargetWord inside = static_cast<TargetWord>(dumpSpread + 12);
        EXPECT_EQ(coresift::toFileAddress(s.db.context(), m, inside), fileSpread + 12);
        EXPECT_EQ(coresift::toDumpAddress(s.db.context(), m, static_cast<TargetWord>(fileSpread)), dumpSpread);
        // The page source does not serve a file that is another build.
        EXPECT_FALSE(m.has(mf::kMatched));
    }
    {
        Scenario s("libmodfix_other.so", "libmodfix_strip.so");
        coresift::Module& m = s.load();
        EXPECT_FALSE(m.has(mf::kMatched | mf::kFunctionMatch));
        EXPECT_EQ(m.symbolImage(), nullptr);
        EXPECT_EQ(s.messages(), "Error: symbols/" + kRelative +
                                    " and coredump are unmatched, please leave symbols folder before test\n");
    }
}

// Without the code in the dump the dynamic section (tags and values but DT_NEEDED and
// DT_DEBUG) and the constructor tables decide; a matched file then serves the missing pages.
TEST(ModuleMatch, WithoutCodeTheDynamicSectionAndTablesDecide) {
    REQUIRE_MODULE_FIXTURES();
    LibraryPlacement noCode;
    noCode.codeInDump = false;
    auto dynamicEntry = [](Scenario& s, std::uint64_t tag) {
        const unsigned w = kIs64 ? 8 : 4;
        for (std::uint64_t at = s.library->dynamicAddress;; at += 2 * w) {
            auto bytes = s.core.read(at, 2 * w);
            std::uint64_t t = 0;
            std::memcpy(&t, bytes.data(), w);
            if (t == tag) return at;
            if (t == 0) throw std::runtime_error("no dynamic tag");
        }
    };
    {
        Scenario s("libmodfix.so", "libmodfix.so", noCode);
        s.core.patchWord(dynamicEntry(s, 1) + (kIs64 ? 8 : 4), 0x7777);  // DT_NEEDED
        coresift::Module& m = s.load();
        EXPECT_TRUE(m.has(mf::kMatched));
        EXPECT_FALSE(m.has(mf::kCodeInDump));
        EXPECT_EQ(s.messages(), "");
        // The code now reads from the file, and the headers were read once it matched.
        const std::uint64_t spread = s.function("fixture_spread");
        std::uint8_t dump[16];
        ASSERT_TRUE(s.db.context().addressSpace->readMemory(static_cast<TargetWord>(spread), dump, sizeof dump));
        auto offset = s.library->elf.fileOffsetOf(spread - s.library->placement.bias);
        EXPECT_EQ(std::memcmp(dump, s.library->elf.data().data() + *offset, sizeof dump), 0);
        EXPECT_TRUE(m.has(mf::kHeadersRead | mf::kDynamicSymbols));
    }
    {
        Scenario s("libmodfix.so", "libmodfix.so", noCode);
        s.core.patchWord(dynamicEntry(s, 10) + (kIs64 ? 8 : 4), 0x7777);  // DT_STRSZ
        coresift::Module& m = s.load();
        EXPECT_FALSE(m.has(mf::kMatched));
        EXPECT_EQ(s.messages(), "Error: symbols/" + kRelative +
                                    " and coredump are unmatched, please leave symbols folder before test\n");
        std::uint8_t byte;
        EXPECT_FALSE(s.db.context().addressSpace->readMemory(static_cast<TargetWord>(s.function("fixture_spread")), &byte, 1));
    }
    {
        // The constructor table as the file has it, not relocated by the loader.
        Scenario s("libmodfix.so", "libmodfix.so", noCode);
        const corekit::ElfSection* init = s.library->elf.section(".init_array");
        ASSERT_NE(init, nullptr);
        const std::uint64_t at = s.library->placement.bias + init->addr;
        auto word = s.core.read(at, kIs64 ? 8 : 4);
        std::uint64_t value = 0;
        std::memcpy(&value, word.data(), word.size());
        s.core.patchWord(at, value - s.library->placement.bias);
        EXPECT_FALSE(s.load().has(mf::kMatched));
    }
    {
        LibraryPlacement readOnly = noCode;
        readOnly.writableAsReadOnly = true;
        Scenario s("libmodfix.so", "libmodfix.so", readOnly);
        EXPECT_TRUE(s.load().has(mf::kMatched));
        EXPECT_EQ(s.messages(), "Warning: Message is not enough, can't check if libmodfix.so is matched with coredump\n");
    }
    {
        LibraryPlacement unmapped = noCode;
        unmapped.writableMapped = false;
        Scenario s("libmodfix.so", "libmodfix.so", unmapped);
        EXPECT_FALSE(s.load().has(mf::kMatched));
    }
}

TEST(ModuleMatch, FilesWithoutLineInformation) {
    REQUIRE_MODULE_FIXTURES();
    const std::string warning = "Warning: No symbols in symbols/" + kRelative +
                                ", please provide under out/target/product/$proj/symbols folder\n";
    {
        Scenario s("libmodfix.so", "libmodfix_nodebug.so");
        coresift::Module& m = s.load();
        EXPECT_TRUE(m.has(mf::kMatched | mf::kSymbolTables));
        EXPECT_EQ(s.messages(), warning);
    }
    {
        // Nothing in the file the dump does not have: dropped.
        Scenario s("libmodfix.so", "libmodfix_strip.so");
        coresift::Module& m = s.load();
        EXPECT_FALSE(m.has(mf::kMatched));
        EXPECT_EQ(m.symbolImage(), nullptr);
        EXPECT_EQ(s.messages(), "Error: No symbols in symbols/" + kRelative +
                                    ", please provide under out/target/product/$proj/symbols folder\n");
    }
    {
        // Without the dump's headers the file still gives the code: kept.
        LibraryPlacement noCode;
        noCode.codeInDump = false;
        Scenario s("libmodfix.so", "libmodfix_strip.so", noCode);
        coresift::Module& m = s.load();
        EXPECT_TRUE(m.has(mf::kMatched));
        EXPECT_FALSE(m.has(mf::kSymbolTables));
        EXPECT_EQ(s.messages(), warning);
    }
}

// A file whose only symbols are its MiniDebugInfo counts as one with a symbol table.
TEST(ModuleMatch, MiniDebugInfoSymbolsKeepAFileWithoutLineInformation) {
    const fs::path mini = fs::path(FERROVANE_TEST_DATA_DIR) / "elf" / (kIs64 ? "arm64" : "arm") / "libfixture_mini.so";
    if (!fs::exists(mini)) GTEST_SKIP() << "ELF reader test files not built";
    ProcessCore core;
    core.addLinker();
    core.addLibrary({kPath, mini, kFirstBias});
    ModuleDb db;
    placeSymbolFile(db.path(), kRelative, mini);
    ASSERT_TRUE(db.load(core)) << db.err();
    coresift::Module* m = db.named("libmodfix.so");
    ASSERT_NE(m, nullptr);
    EXPECT_TRUE(m->has(mf::kMatched | mf::kSymbolTables | mf::kHeadersRead));
    ASSERT_NE(m->symbols, nullptr);
    ASSERT_NE(m->symbols->symbolFile(), nullptr);
    EXPECT_TRUE(m->symbols->symbolFile()->symbolsFromMiniDebugInfo());
    EXPECT_NE(m->symbols->symbolFile()->miniDebugInfo(), nullptr);
    EXPECT_NE(db.err().find("Warning: No symbols in symbols/" + kRelative), std::string::npos) << db.err();
}

// A file whose code segment is another size is not the module's, even when it is the only
// candidate: the size check rejects it.
TEST(ModuleMatch, FileOfAnotherSizeIsUnmatched) {
    REQUIRE_MODULE_FIXTURES();
    ElfBuilder other;
    other.addSection(".text", 1, Bytes(0x9000, 0xAA), 6, 0);
    other.addSegment({1, 5, 0, 0, 0, 0x9000, 0x9000, 0x1000});
    Scenario s("libmodfix.so", "");
    TempFolder scratch;
    scratch.write("big.so", std::string());
    Bytes image = other.build();
    std::FILE* f = std::fopen((scratch.path() / "big.so").string().c_str(), "wb");
    std::fwrite(image.data(), 1, image.size(), f);
    std::fclose(f);
    placeSymbolFile(s.db.path(), kRelative, scratch.path() / "big.so");
    coresift::Module& m = s.load();
    EXPECT_FALSE(m.has(mf::kMatched));
    EXPECT_NE(s.messages().find("are unmatched"), std::string::npos) << s.messages();
}

TEST(ModuleMatch, TextRelocationsAreUndoneBeforeTheComparison) {
    if (kIs64) GTEST_SKIP() << "32-bit libraries only";
    REQUIRE_MODULE_FIXTURES();
    LibraryPlacement relocated;
    relocated.textRelocated = true;
    {
        Scenario s("libmodfix_textrel.so", "libmodfix_textrel.so", relocated);
        coresift::Module& m = s.load();
        EXPECT_TRUE(m.has(mf::kTextRelocations | mf::kMatched)) << std::hex << m.flags;
        EXPECT_EQ(s.messages(), "");
    }
    {
        // An entry of another type is reported; entries pointing outside the code are passed over.
        Scenario s("libmodfix_textrel.so", "libmodfix_textrel.so", relocated);
        const corekit::ElfSection* rel = s.library->elf.section(".rel.dyn");
        ASSERT_NE(rel, nullptr);
        const std::uint64_t entries = s.library->placement.bias + rel->addr;
        s.core.patchWord(entries + 4, 0x63, 4);               // type 99
        s.core.patchWord(entries + 8, 0xFFFFFFF0, 4);         // far below the code, once biased
        s.core.patchWord(entries + 16, 0x00FFFFFC, 4);        // past the end of the code
        coresift::Module& m = s.load();
        EXPECT_TRUE(m.has(mf::kMatched));
        EXPECT_NE(s.messages().find("Warning: Unrecognized rel type: 99\n"), std::string::npos) << s.messages();
    }
}

TEST(ModuleMatch, NinthLoadSegmentIsReportedAndLeftOut) {
    ElfBuilder nine(coresift::kTargetElfClass, coresift::elf::kEtDyn);
    for (unsigned i = 0; i < 9; ++i) nine.addSegment({1, 4, 0, i * 0x1000ull, i * 0x1000ull, 0, 0x800, 0x1000});
    Bytes header = nine.build();
    ProcessCore core;
    core.addLinker();
    core.addRegion(kFirstBias, header, corekit::elf::PF_R, libraryFolder() + "libnine.so");
    ModuleDb db;
    ASSERT_TRUE(db.load(core)) << db.out() << db.err();
    coresift::Module* m = db.modules().size() == 2 ? db.modules()[1] : nullptr;
    ASSERT_NE(m, nullptr) << db.summary();
    EXPECT_EQ(m->segments.size(), 8u);
    EXPECT_NE(db.err().find("Warning: segment count of libnine.so is over 8\n"), std::string::npos) << db.err();
}

// A window rounded up past the end of the file serves zeros there.
TEST(ModuleMatch, PagesPastTheEndOfTheFileReadAsZeros) {
    if (!kIs64) GTEST_SKIP() << "64 KiB aligned AArch64 libraries";
    REQUIRE_MODULE_FIXTURES();
    LibraryPlacement wide;
    wide.codeInDump = false;
    wide.codeRounding = 0x10000;
    Scenario s("libmodfix_strip.so", "libmodfix_strip.so", wide);
    coresift::Module& m = s.load();
    ASSERT_TRUE(m.has(mf::kMatched)) << s.messages();
    EXPECT_EQ(m.code.size, 0x10000u);
    auto& space = *s.db.context().addressSpace;
    std::uint8_t head[4], tail[16];
    ASSERT_TRUE(space.readMemory(static_cast<TargetWord>(kFirstBias), head, sizeof head));
    EXPECT_EQ(std::memcmp(head, "\x7f" "ELF", 4), 0);
    ASSERT_TRUE(space.readMemory(static_cast<TargetWord>(kFirstBias + 0x10000 - sizeof tail), tail, sizeof tail));
    EXPECT_EQ(std::count(tail, tail + sizeof tail, 0), static_cast<long>(sizeof tail));
}

TEST(ModuleMatch, LookUpsByNameAndAddress) {
    REQUIRE_MODULE_FIXTURES();
    ProcessCore core;
    core.addLinker();
    core.addLibrary({libraryFolder() + "libmodfix.so", moduleFixtures() / "libmodfix.so", kFirstBias});
    core.addLibrary({"/vendor/lib/libmodfix.so", moduleFixtures() / "libmodfix.so", kSecondBias});
    ModuleDb db;
    ASSERT_TRUE(db.load(core)) << db.err();
    auto& context = db.context();
    coresift::Module* newest = coresift::moduleNamed(context, "libmodfix.so");
    ASSERT_NE(newest, nullptr);
    EXPECT_EQ(newest->path, "/vendor/lib/libmodfix.so");
    auto system = [](const std::string& path) { return path.rfind("/system/", 0) == 0; };
    EXPECT_EQ(coresift::moduleNamed(context, "libmodfix.so", system)->loadBias, kFirstBias);
    EXPECT_EQ(coresift::moduleNamed(context, "libmodfix"), nullptr);
    EXPECT_EQ(coresift::moduleAt(context, static_cast<TargetWord>(kSecondBias + 0x10)), newest);
    EXPECT_EQ(coresift::moduleAt(context, static_cast<TargetWord>(kStackBase)), nullptr);
    EXPECT_EQ(coresift::moduleAt(context, 0x10), nullptr);
    // The module regions are chained from the most recent module's head back to the first.
    auto& space = *context.addressSpace;
    TargetWord head = context.moduleList->head();
    std::vector<std::string> chain;
    for (int guard = 0; head && guard < 8; ++guard) {
        coresift::MapEntry* region = space.regionAt(head);
        ASSERT_NE(region, nullptr);
        chain.push_back(region->module->path);
        head = region->nextModule;
    }
    EXPECT_EQ(chain, (std::vector<std::string>{"/vendor/lib/libmodfix.so", libraryFolder() + "libmodfix.so",
                                               kIs64 ? "/system/bin/linker64" : "/system/bin/linker"}));
}

}  // namespace
