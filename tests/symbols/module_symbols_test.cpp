// A module's symbol source and the run driver's module services on cross-compiled libraries in
// hand-built processes: names and addresses from the matched file, from the dump's dynamic
// tables alone, and through function match mode; the C library found, looked up and flagged;
// and a whole run whose report lists the library without a symbol file.
#include <gtest/gtest.h>

#include "analyzer/driver/module_services.h"
#include "analyzer/symbols/module_symbols.h"
#include "analyzer/symbols/symbol_lookup.h"
#include "tests/support/run_capture.h"
#include "tests/symbols/module_test_support.h"

namespace {

using namespace testsupport;
namespace mf = coresift::module_flag;
namespace lk = coresift::lookup;
namespace fs = std::filesystem;

// A process whose linker has no records and which maps `ran` at `devicePath`; `symbolFile` (if
// any) lies in the db's symbols tree at that path.
struct Library {
    ProcessCore core;
    ModuleDb db;
    const MappedLibrary* mapped = nullptr;

    Library(const std::string& devicePath, const std::string& ran, const std::string& symbolFile) {
        core.addLinker();
        LibraryPlacement placement;
        placement.devicePath = devicePath;
        placement.file = moduleFixtures() / ran;
        mapped = &core.addLibrary(placement);
        if (!symbolFile.empty()) placeSymbolFile(db.path(), devicePath.substr(1), moduleFixtures() / symbolFile);
        EXPECT_TRUE(db.load(core)) << db.out() << db.err();
    }

    // The dump address of a symbol of the file that ran (a Thumb function's with bit 0 set, as
    // the symbol table and the look-ups give it) and its size.
    std::pair<TargetWord, TargetWord> symbol(const std::string& name) const {
        for (const auto& s : mapped->elf.symbols())
            if (s.name == name)
                return {static_cast<TargetWord>(mapped->placement.bias + s.value), static_cast<TargetWord>(s.size)};
        ADD_FAILURE() << "no symbol " << name;
        return {0, 0};
    }

    coresift::SymbolSource& source(const std::string& name) {
        coresift::Module* module = db.named(name);
        if (!module) throw std::runtime_error("no module " + name + ": " + db.summary());
        coresift::SymbolSource* source = coresift::moduleSymbols(db.context(), *module);
        if (!source) throw std::runtime_error("no symbol source");
        return *source;
    }
};

std::string nameAt(coresift::SymbolSource& source, TargetWord address, std::uint32_t mask = lk::kFunctionMask) {
    auto hit = coresift::symbolAt(source, address, mask);
    return hit ? std::string(hit->name) : "(none)";
}

TEST(ModuleSymbols, MatchedLibraryNamesItsFunctionsAndDataFromTheFile) {
    REQUIRE_MODULE_FIXTURES();
    Library lib(libraryFolder() + "libmodfix.so", "libmodfix.so", "libmodfix.so");
    coresift::SymbolSource& source = lib.source("libmodfix.so");
    EXPECT_EQ(source.loadBias(), kFirstBias);
    ASSERT_NE(source.symbolFile(), nullptr);
    EXPECT_TRUE(source.matched());
    EXPECT_NE(source.dumpTables(), nullptr) << "the dump's dynamic tables are usable";

    auto [spread, spreadSize] = lib.symbol("fixture_spread");
    EXPECT_EQ(nameAt(source, spread + spreadSize / 2), "fixture_spread");
    EXPECT_EQ(coresift::symbolNamed(source, "fixture_spread", lk::kFunctionMask), spread);
    // A local function is only in the file's symbol table.
    auto [init, initSize] = lib.symbol("fixture_init");
    EXPECT_EQ(nameAt(source, init), "fixture_init");
    EXPECT_EQ(coresift::symbolNamed(source, "fixture_init", lk::kFunctionMask), init);
    // Data objects answer object look-ups only.
    auto [table, tableSize] = lib.symbol("fixture_table");
    EXPECT_EQ(nameAt(source, table + 4, lk::kObjectMask), "fixture_table");
    EXPECT_EQ(coresift::symbolNamed(source, "fixture_table", lk::kObjectMask), table);
    EXPECT_EQ(coresift::symbolNamed(source, "fixture_table", lk::kFunctionMask), 0u);
    EXPECT_TRUE(coresift::lineAt(source, spread + 8)) << "the file's line table";
    // The same source on every call.
    EXPECT_EQ(&lib.source("libmodfix.so"), &source);
}

TEST(ModuleSymbols, WithoutAFileTheDumpsDynamicTablesAndUnwindIndexServe) {
    REQUIRE_MODULE_FIXTURES();
    Library lib(libraryFolder() + "libmodfix.so", "libmodfix.so", "");
    coresift::SymbolSource& source = lib.source("libmodfix.so");
    EXPECT_EQ(source.symbolFile(), nullptr);
    ASSERT_NE(source.dumpTables(), nullptr);
    auto [call, callSize] = lib.symbol("fixture_call");
    EXPECT_EQ(coresift::symbolNamed(source, "fixture_call", lk::kFunctionMask), call);
    EXPECT_EQ(nameAt(source, call + callSize / 2), "fixture_call");
    // A local function is not exported: the unwind index still knows where it starts.
    auto [init, initSize] = lib.symbol("fixture_init");
    auto hit = coresift::symbolAt(source, init + 2, lk::kFunctionMask);
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->name, coresift::kUnknownFunction);
    EXPECT_EQ(hit->start, init);
    EXPECT_EQ(coresift::symbolNamed(source, "fixture_init", lk::kFunctionMask), 0u);
}

TEST(ModuleSymbols, FunctionMatchModeFindsLocalFunctionsThroughTheirTwins) {
    REQUIRE_MODULE_FIXTURES();
    Library lib(libraryFolder() + "libmodfix.so", "libmodfix.so", "libmodfix_other.so");
    coresift::Module* module = lib.db.named("libmodfix.so");
    ASSERT_NE(module, nullptr);
    ASSERT_TRUE(module->has(mf::kFunctionMatch)) << std::hex << module->flags << lib.db.err();
    coresift::SymbolSource& source = lib.source("libmodfix.so");
    ASSERT_NE(source.functionMatch(), nullptr);
    EXPECT_FALSE(source.matched());
    auto [spread, spreadSize] = lib.symbol("fixture_spread");
    const TargetWord fileSpread = source.functionMatch()->toFileAddress(spread + 12);
    EXPECT_NE(fileSpread, 0u);
    EXPECT_EQ(fileSpread, coresift::toFileAddress(lib.db.context(), *module, spread + 12));
    // ARM's exception index runs the local functions into fixture_step, which this build changes,
    // so only AArch64's frame index gives them twins.
    if (!kIs64) return;
    auto [init, initSize] = lib.symbol("fixture_init");
    auto hit = coresift::symbolAt(source, init, lk::kFunctionMask);
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->name, "fixture_init");
    EXPECT_EQ(hit->start, init);
    EXPECT_EQ(coresift::symbolNamed(source, "fixture_init", lk::kFunctionMask), init);
}

TEST(ModuleServices, TheCLibraryIsFoundMatchedAndLookedUpOnce) {
    REQUIRE_MODULE_FIXTURES();
    Library lib(libraryFolder() + "libc.so", "libmodfix.so", "libmodfix.so");
    auto services = coresift::makeModuleServices(lib.db.context());
    auto library = services->cLibrary();
    ASSERT_TRUE(library);
    EXPECT_EQ(library->name, "libc.so");
    EXPECT_EQ(library->path, libraryFolder() + "libc.so");
    EXPECT_EQ(library->flags & (mf::kMatchRan | mf::kMatched | mf::kSymbolTables | mf::kDynamicSymbols),
              mf::kMatchRan | mf::kMatched | mf::kSymbolTables | mf::kDynamicSymbols);
    EXPECT_EQ(services->cLibrarySymbol("fixture_counter", coresift::SymbolKind::Object), lib.symbol("fixture_counter").first);
    EXPECT_FALSE(services->cLibrarySymbol("fixture_counter", coresift::SymbolKind::Function));
    auto step = services->cLibrarySymbol("fixture_step", coresift::SymbolKind::Function);
    ASSERT_TRUE(step);
    EXPECT_EQ(*step, lib.symbol("fixture_step").first);
    EXPECT_FALSE(services->cLibrarySymbol("epoll_pwait2", coresift::SymbolKind::Function));

    services->markCLibrary(mf::kMissingReported);
    EXPECT_TRUE(services->cLibrary()->flags & mf::kMissingReported);
    services->forgetCLibrary();
    EXPECT_EQ(services->cLibrary()->name, "libc.so") << "found again after the clean-up";

    std::vector<std::string> names;
    services->forEachModule([&](const coresift::ModuleSummary& m) { names.push_back(m.name); });
    EXPECT_EQ(names, (std::vector<std::string>{kIs64 ? "linker64" : "linker", "libc.so"}));
}

TEST(ModuleServices, NoCLibraryWithoutALibcModule) {
    REQUIRE_MODULE_FIXTURES();
    Library lib(libraryFolder() + "libc.so.6", "libmodfix.so", "");
    auto services = coresift::makeModuleServices(lib.db.context());
    EXPECT_FALSE(services->cLibrary()) << "\"libc.so.6\" is not taken from the memory map";
    EXPECT_FALSE(services->cLibrarySymbol("fixture_step", coresift::SymbolKind::Function));
}

// A whole run: the C library without its symbol file is reported on the console, flagged once,
// and listed at the end of the report; its exported symbols still answer.
TEST(ModuleServices, TheReportListsTheCLibraryWithoutItsSymbolFile) {
    REQUIRE_MODULE_FIXTURES();
    ProcessCore core;
    core.addLinker();
    LibraryPlacement placement;
    placement.devicePath = libraryFolder() + "libc.so";
    placement.file = moduleFixtures() / "libmodfix.so";
    core.addLibrary(placement);
    TempFolder db;
    core.write(db.path());
    WorkingFolder cwd(db.path());
    RunCapture run;
    EXPECT_EQ(run.run({"-ext", "259"}), 0) << run.out() << run.err();
    EXPECT_NE(run.err().find("Warning: Init pthread/malloc/fdleak/property need libc.so, plase put it to 'symbols' folder\n"),
              std::string::npos)
        << run.err();
    std::string report = readFile(db.path() / "AnalysisReport.txt");
    const std::string list = "Analyze NE need below files, please provide files under out/target/product/$proj/symbols "
                             "folder(should be compile at the same time):\nsymbols" + libraryFolder() + "libc.so\n";
    EXPECT_TRUE(report.size() > list.size() && report.compare(report.size() - list.size(), list.size(), list) == 0)
        << "the list ends the report:\n" << report;
}

}  // namespace
