// The symbol look-up against binutils and LLVM on real files: Android libraries and executables
// of the shared fixtures, elfutils' test executables and this project's cross-compiled libraries
// (GCC and clang, DWARF 2 to 5, type units, split and compressed debugging information).
//   - symbols: symbol_at and symbol_named against an ordered scan of `readelf -s` (global part,
//     then local part), for every function and object symbol and random code addresses;
//   - MiniDebugInfo: files without .symtab use the table `readelf -s` shows in the unpacked
//     .gnu_debugdata;
//   - lines: line_at against llvm-symbolizer (and addr2line, whose answers are counted apart);
//   - inline chains: for_each_inline_scope against `llvm-symbolizer --inlining`;
//   - demangling: the shown names against `c++filt -p`;
//   - PLT stubs: stub names and addresses against objdump's "name@plt" labels (llvm-objdump's for
//     AArch64).
// Each build checks the files of its own class. Agreement figures per file set are printed.
#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <set>
#include <sstream>

#include "analyzer/symbols/demangle.h"
#include "analyzer/symbols/symbol_lookup.h"
#include "tests/support/run_capture.h"
#include "tests/symbols/elf_fixtures.h"
#include "tests/symbols/readelf_oracle.h"
#include "tests/symbols/symbol_oracles.h"
#include "tests/symbols/symbol_test_support.h"

namespace {

namespace fs = std::filesystem;
namespace lookup = coresift::lookup;
using testsupport::Agreement;
using testsupport::OracleFile;
using testsupport::TableSymbol;

std::string hex(std::uint64_t v) {
    std::ostringstream out;
    out << "0x" << std::hex << v;
    return out.str();
}

// The Part's ordered scan over a table as readelf lists it.
class OrderedScan {
public:
    OrderedScan(std::vector<TableSymbol> table, std::uint32_t firstGlobal)
        : table_(std::move(table)), firstGlobal_(firstGlobal) {}
    explicit OrderedScan(const fs::path& file)
        : OrderedScan(testsupport::readelfSymtab(file), testsupport::readelfSymtabInfo(file)) {}
    bool empty() const { return table_.size() <= 1; }
    const std::vector<TableSymbol>& table() const { return table_; }

    // Qualifying symbols in scan order.
    std::vector<const TableSymbol*> order(std::uint32_t mask) const {
        std::vector<const TableSymbol*> out;
        auto take = [&](const TableSymbol& s) {
            if (s.index != 0 && s.defined && lookup::acceptsType(mask, s.type)) out.push_back(&s);
        };
        if (mask & lookup::kGlobalPart)
            for (const TableSymbol& s : table_)
                if (s.index >= firstGlobal_) take(s);
        if (mask & lookup::kLocalPart)
            for (const TableSymbol& s : table_)
                if (s.index < firstGlobal_) take(s);  // entries 1 to sh_info - 1
        return out;
    }
    static const TableSymbol* covering(const std::vector<const TableSymbol*>& order, std::uint64_t a) {
        for (const TableSymbol* s : order)
            if (s->value <= a && a - s->value < s->size) return s;
        return nullptr;
    }

private:
    std::vector<TableSymbol> table_;
    std::uint32_t firstGlobal_ = 0;
};

class SymbolOracleTest : public testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::symbolOraclesAvailable()) GTEST_SKIP() << "readelf or llvm-symbolizer is not installed";
        if (testsupport::symbolOracleFiles().empty()) GTEST_SKIP() << "no fixture files (../shared or the cross-compiled libraries)";
        run.context().catalog.selectEnglish();
    }
    void TearDown() override {
        std::cout << agreement.summary();
        for (const std::string& e : agreement.examples()) std::cout << "  disagreement: " << e << "\n";
    }
    std::unique_ptr<coresift::SymbolSource> open(const fs::path& path) {
        return testsupport::openSource(run.context().console, path);
    }
    bool hasDebugLines(const fs::path& path) {
        auto source = open(path);
        auto* dwarf = source ? source->symbolFile()->dwarf() : nullptr;
        return dwarf && dwarf->sections().has(coresift::DebugSection::Line);
    }

    testsupport::RunCapture run;
    Agreement agreement;
};

void compareSymbols(coresift::SymbolSource& source, const OrderedScan& scan, const OracleFile& file,
                    const std::vector<std::uint64_t>& extra, Agreement& agreement) {
    for (std::uint32_t mask : {lookup::kFunctionMask, lookup::kObjectMask}) {
        const char* kind = mask == lookup::kFunctionMask ? "symbol_at(function)" : "symbol_at(object)";
        auto order = scan.order(mask);
        std::vector<std::uint64_t> addresses = extra;
        std::size_t step = order.size() > 3000 ? order.size() / 3000 + 1 : 1;
        for (std::size_t i = 0; i < order.size(); i += step) {
            const TableSymbol* s = order[i];
            if (s->size == 0) continue;
            addresses.insert(addresses.end(), {s->value, s->value + s->size / 2, s->value + s->size - 1, s->value + s->size});
        }
        for (std::uint64_t a : addresses) {
            const TableSymbol* expected = OrderedScan::covering(order, a);
            auto hit = coresift::symbolAt(source, static_cast<TargetWord>(a), mask);
            bool agrees = expected ? hit && hit->name == expected->name && hit->start == expected->value
                                   : !hit;
            agreement.check(file.set, kind, agrees,
                            file.label + " " + hex(a) + ": " + (hit ? std::string(hit->name) : "none") + " vs " +
                                (expected ? expected->name : "none"));
        }
        // By name: the first qualifying symbol of that name in scan order.
        std::set<std::string> seen;
        for (std::size_t i = 0; i < order.size(); i += step) {
            const std::string& name = order[i]->name;
            if (name.empty() || !seen.insert(name).second) continue;
            const TableSymbol* expected = nullptr;
            for (const TableSymbol* s : order)
                if (s->name == name) {
                    expected = s;
                    break;
                }
            TargetWord size = 0;
            TargetWord got = coresift::symbolNamed(source, name, mask, &size);
            agreement.check(file.set, "symbol_named", got == expected->value && size == expected->size,
                            file.label + " " + name + ": " + hex(got) + " vs " + hex(expected->value));
        }
    }
}

TEST_F(SymbolOracleTest, SymbolsAgreeWithAnOrderedScanOfReadelfTables) {
    for (const OracleFile& file : testsupport::symbolOracleFiles()) {
        OrderedScan scan(file.path);
        if (scan.empty()) continue;
        auto source = open(file.path);
        ASSERT_TRUE(source) << file.label;
        EXPECT_FALSE(source->symbolFile()->symbolsFromMiniDebugInfo());
        compareSymbols(*source, scan, file, testsupport::randomCodeAddresses(file.path, 1000), agreement);
    }
    EXPECT_EQ(agreement.disagreements(), 0u);
}

TEST_F(SymbolOracleTest, MiniDebugInfoStandsInForAMissingSymbolTable) {
    int files = 0;
    for (const OracleFile& file : testsupport::symbolOracleFiles()) {
        if (!testsupport::readelfSymtab(file.path).empty()) continue;
        auto source = open(file.path);
        auto section = source->symbolFile()->image().findSection(coresift::elf::kShtProgbits, ".gnu_debugdata");
        if (!section) continue;
        // The payload, unpacked by xz, is the oracle's input.
        auto packed = source->symbolFile()->image().view(section->offset, section->size);
        ASSERT_TRUE(packed);
        fs::path xz = testsupport::scratchFolder() / (file.path.filename().string() + ".xz");
        fs::path payload = testsupport::scratchFolder() / (file.path.filename().string() + ".payload");
        {
            std::ofstream out(xz, std::ios::binary);
            out.write(reinterpret_cast<const char*>(packed->data()), static_cast<std::streamsize>(packed->size()));
        }
        ASSERT_TRUE(testsupport::runCommandInto("xz -dc " + testsupport::shellQuote(xz.string()), payload.string()));
        OrderedScan scan(payload);
        ASSERT_FALSE(scan.empty()) << file.label;
        ++files;
        EXPECT_TRUE(source->hasFileSymbols());
        EXPECT_TRUE(source->symbolFile()->symbolsFromMiniDebugInfo());
        EXPECT_EQ(source->symbolFile()->symbols().count(), scan.table().size()) << file.label;
        compareSymbols(*source, scan, {file.set + " (MiniDebugInfo)", file.label, file.path},
                       testsupport::randomCodeAddresses(file.path, 500), agreement);
    }
    if (testsupport::sharedFixtures().empty()) GTEST_SKIP() << "../shared is absent";
    EXPECT_GT(files, 0);
    EXPECT_EQ(agreement.disagreements(), 0u);
}

// "path:line" answers of llvm-symbolizer (one line per address, the column dropped).
std::vector<std::string> symbolizerLines(const fs::path& path, const std::vector<std::uint64_t>& addresses) {
    std::vector<std::string> input;
    for (std::uint64_t a : addresses) input.push_back(hex(a));
    std::vector<std::string> out;
    for (std::string& line : testsupport::runWithInput(
             testsupport::llvmSymbolizerProgram() + " --no-inlines --functions=none --obj=" + testsupport::shellQuote(path.string()), input)) {
        if (line.empty()) continue;
        line.resize(line.rfind(':'));
        out.push_back(line);
    }
    return out;
}

std::vector<std::uint64_t> lineAddresses(const fs::path& path) {
    std::vector<std::uint64_t> addresses = testsupport::randomCodeAddresses(path, 3000);
    for (const TableSymbol& s : testsupport::readelfSymtab(path))
        if (s.type == 2 && s.defined && s.size) addresses.push_back(s.value & ~std::uint64_t{1});
    return addresses;
}

TEST_F(SymbolOracleTest, SourceLinesAgreeWithLlvmSymbolizer) {
    int files = 0;
    for (const OracleFile& file : testsupport::symbolOracleFiles()) {
        if (!hasDebugLines(file.path)) continue;
        ++files;
        auto source = open(file.path);
        std::vector<std::uint64_t> addresses = lineAddresses(file.path);
        std::vector<std::string> expected = symbolizerLines(file.path, addresses);
        ASSERT_EQ(expected.size(), addresses.size()) << file.label;
        std::vector<std::string> input;
        for (std::uint64_t a : addresses) input.push_back(hex(a));
        std::vector<std::string> binutils =
            testsupport::runWithInput(testsupport::addr2lineProgram() + " -e " + testsupport::shellQuote(file.path.string()), input);
        for (std::size_t i = 0; i < addresses.size(); ++i) {
            auto line = coresift::lineAt(*source, static_cast<TargetWord>(addresses[i]));
            std::string got = line ? line->path() + ":" + std::to_string(line->line) : "??:0";
            agreement.check(file.set, "line_at", got == expected[i], file.label + " " + hex(addresses[i]) + ": " + got + " vs " + expected[i]);
            // addr2line is counted apart: it leaves out rows llvm-symbolizer and this reader keep.
            if (i < binutils.size()) {
                std::string b = binutils[i].substr(0, binutils[i].find(" (discriminator"));
                if (b != got) agreement.explain(file.set, "addr2line differs", b.starts_with("??") ? "it knows no line" : "another row");
            }
        }
    }
    EXPECT_GT(files, 0);
    EXPECT_EQ(agreement.disagreements(), 0u);
}

TEST_F(SymbolOracleTest, InlineChainsAgreeWithLlvmSymbolizer) {
    int files = 0;
    for (const OracleFile& file : testsupport::symbolOracleFiles()) {
        if (!hasDebugLines(file.path)) continue;
        ++files;
        auto source = open(file.path);
        std::vector<std::uint64_t> addresses = lineAddresses(file.path);
        std::vector<std::string> input;
        for (std::uint64_t a : addresses) input.push_back(hex(a));
        std::vector<std::string> raw = testsupport::runWithInput(
            testsupport::llvmSymbolizerProgram() + " --inlining --functions=linkage --no-demangle --obj=" +
                testsupport::shellQuote(file.path.string()),
            input);
        // Frames of one address are (name, path:line:column) pairs; a blank line ends them.
        std::vector<std::vector<std::string>> expected(1);
        for (std::string line : raw) {
            if (line.empty()) {
                expected.emplace_back();
                continue;
            }
            if (expected.back().size() % 2 == 1) line.resize(line.rfind(':'));
            expected.back().push_back(line);
        }
        OrderedScan scan(file.path);
        auto functions = scan.order(lookup::kFunctionMask);
        for (std::size_t i = 0; i < addresses.size() && i < expected.size(); ++i) {
            std::vector<std::string> got;
            coresift::forEachInlineScope(*source, static_cast<TargetWord>(addresses[i]), [&got](const coresift::InlineScope& s) {
                got.emplace_back(s.name);
                got.push_back(s.line ? s.line->path() + ":" + std::to_string(s.line->line) : "??:0");
                return 0;
            });
            if (got.empty()) continue;  // no scope in the debugging information: nothing to compare
            const std::vector<std::string>& want = expected[i];
            bool agrees = got == want;
            // llvm-symbolizer names the outermost frame after the symbol table (one of the aliases
            // at that address: a complete-object constructor, functions folded into one, or a
            // function the debugging information names without a linkage name): the same chain
            // with that one name differing, and naming a function symbol there, is explained.
            if (!agrees && got.size() == want.size() && got.size() >= 2 &&
                std::equal(got.begin(), got.end() - 2, want.begin()) && got.back() == want.back()) {
                const std::string& llvmName = want[want.size() - 2];
                bool alias = std::any_of(functions.begin(), functions.end(), [&](const TableSymbol* s) {
                    std::uint64_t start = kIs64 ? s->value : s->value & ~std::uint64_t{1};  // Thumb bit
                    return s->name == llvmName && start <= addresses[i] && addresses[i] - start < s->size;
                });
                if (alias) {
                    agreement.explain(file.set, "inline chain", "outermost name from the symbol table");
                    agrees = true;
                }
            }
            std::string text;
            for (const std::string& s : got) text += s + " | ";
            text += " vs ";
            for (const std::string& s : want) text += s + " | ";
            agreement.check(file.set, "inline chain", agrees, file.label + " " + hex(addresses[i]) + ": " + text);
        }
    }
    EXPECT_GT(files, 0);
    EXPECT_EQ(agreement.disagreements(), 0u);
}

TEST_F(SymbolOracleTest, ShownNamesAgreeWithCxxfiltWithoutParameters) {
    for (const OracleFile& file : testsupport::symbolOracleFiles()) {
        std::vector<std::string> names;
        for (const TableSymbol& s : testsupport::readelfSymtab(file.path))
            if (s.name.starts_with("_Z") || s.name.starts_with("__dl__Z")) names.push_back(s.name);
        if (names.empty()) continue;
        // c++filt does not know Android's "__dl_" prefix: it gets the rest of the name.
        std::vector<std::string> input;
        for (const std::string& n : names) input.push_back(n.starts_with("__dl_") ? n.substr(5) : n);
        std::vector<std::string> expected = testsupport::runWithInput(testsupport::cxxfiltProgram() + " -p", input);
        ASSERT_EQ(expected.size(), names.size());
        for (std::size_t i = 0; i < names.size(); ++i) {
            std::string want = expected[i] == input[i] ? names[i] : (names[i].starts_with("__dl_") ? "__dl_" : "") + expected[i];
            if (want.size() > coresift::kMaxDemangledLength) want.resize(coresift::kMaxDemangledLength);
            std::string got = coresift::displayName(names[i]);
            if (got != want && got == names[i] && !coresift::demangleFull(input[i].substr(0, input[i].find('.')))) {
                // The C++ runtime's demangler is older than binutils' (enable_if attributes,
                // reference temporaries): the raw name stays.
                agreement.explain(file.set, "demangle", "the runtime's demangler refuses it");
                continue;
            }
            agreement.check(file.set, "demangle", got == want, file.label + " " + names[i] + ": " + got + " vs " + want);
        }
    }
    EXPECT_EQ(agreement.disagreements(), 0u);
}

TEST_F(SymbolOracleTest, PltStubsAgreeWithObjdump) {
    constexpr TargetWord kBias = 0x20000000;
    int files = 0;
    for (const OracleFile& file : testsupport::symbolOracleFiles()) {
        // GNU objdump names ARM stubs (llvm-objdump does not); llvm-objdump knows AArch64 PLTs
        // with branch-target instructions, whose stubs GNU objdump places 16 bytes apart.
        std::string listing = testsupport::runCommand((kIs64 ? testsupport::llvmObjdumpProgram() + " -d --section=.plt "
                                                             : testsupport::objdumpProgram() + " -d -j .plt ") +
                                                      testsupport::shellQuote(file.path.string()) + " 2>/dev/null")
                                  .value_or("");
        std::map<std::uint64_t, std::string> stubs;
        std::istringstream in(listing);
        for (std::string line; std::getline(in, line);) {
            auto at = line.find(" <");
            if (at == std::string::npos || !line.ends_with("@plt>:")) continue;
            stubs[std::stoull(line.substr(0, at), nullptr, 16)] = line.substr(at + 2, line.size() - at - 8);
        }
        if (stubs.empty()) continue;
        testsupport::FakeMemory memory;
        auto tables = testsupport::loadIntoMemory(file.path, kBias, memory);
        if (!tables) continue;
        ++files;
        coresift::SymbolSource source(run.context().console, file.path.filename().string(), kBias);
        source.setDumpTables(*tables, memory);
        std::map<std::uint64_t, std::string> got;
        coresift::forEachExportedSymbol(source, [&got](const coresift::ExportedSymbol& s) {
            got[s.address - kBias] = std::string(s.name);
            return 0;
        }, coresift::kExportPlt);
        for (const auto& [address, name] : stubs) {
            auto found = got.find(address);
            agreement.check(file.set, "PLT stub", found != got.end() && found->second == name,
                            file.label + " " + hex(address) + " " + name + " vs " + (found == got.end() ? "none" : found->second));
        }
        agreement.check(file.set, "PLT stub count", got.size() == stubs.size(),
                        file.label + ": " + std::to_string(got.size()) + " vs " + std::to_string(stubs.size()));
    }
    EXPECT_GT(files, 0);
    EXPECT_EQ(agreement.disagreements(), 0u);
    EXPECT_EQ(run.err(), "");
}

}  // namespace
