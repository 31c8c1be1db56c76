// The module list and symbol-file matching on real dumps: the exception dbs of real crashes
// under qemu (glibc processes: no Android linker records, so the memory-map rule builds the
// list) and Android's offline unwind cases turned into dbs. For each, the modules must be the
// ones the memory map names, at the load bias the mappings and the ELF files give (worked out
// here with the core kit's own ELF reader), and every module whose symbol file the db holds
// must match, or say why.
#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "analyzer/driver/run_context.h"
#include "analyzer/process/address_space.h"
#include "analyzer/process/core_dump.h"
#include "analyzer/process/core_loader.h"
#include "analyzer/symbols/module_list.h"
#include "tests/support/run_capture.h"
#include "tests/support/temp_folder.h"
#include "tools/corekit/elf_constants.h"
#include "tools/corekit/elf_file.h"
#include "tools/fixturekit/maps_text.h"
#include "tools/fixturekit/offline_case.h"

namespace {

namespace fs = std::filesystem;
using coresift::Module;
namespace mf = coresift::module_flag;

const fs::path kTestData(FERROVANE_TEST_DATA_DIR);
const fs::path kCases = fs::path(FERROVANE_SHARED_DIR) / "fixtures/unwindstack-offline/cases";

struct Expected {
    std::string name;
    // Why the module does not match although its file is there (the message it prints), or
    // empty when it must match.
    std::string unmatchedBecause = {};
};

struct DbResult {
    bool loaded = false;
    std::string out, err;
    std::vector<const Module*> modules;
};

// The start of the first mapping of `path` in the db's memory map.
std::uint64_t firstMapping(const fs::path& db, const std::string& path) {
    bool ok = false;
    std::string maps = fixturekit::readTextFile((db / "PROCESS_MAPS").string(), &ok);
    for (const auto& entry : fixturekit::parseMaps(maps))
        if (entry.path == path) return entry.start;
    return 0;
}

// The load bias the db's memory map and the module's symbol file give: the start of the first
// mapping of the path less the page-aligned address of the file's segment at offset 0; the
// mapping's start when there is no file; nothing when the file has no such segment (the bias
// cannot be known then).
std::optional<std::uint64_t> oracleBias(const fs::path& db, const std::string& path) {
    std::uint64_t start = firstMapping(db, path);
    if (!fs::exists(db / ("symbols" + path))) return start;
    auto file = corekit::ElfFile::load((db / ("symbols" + path)).string());
    if (!file) return std::nullopt;
    for (const auto& p : file->programHeaders())
        if (p.type == corekit::elf::PT_LOAD && p.offset == 0) return start - (p.vaddr & ~std::uint64_t{0xFFF});
    return std::nullopt;
}

class RealDb {
public:
    explicit RealDb(const fs::path& db) : db_(db), cwd_(db) { run_.context().catalog.selectEnglish(); }

    DbResult load() {
        DbResult result;
        result.loaded = coresift::loadCoreDump(run_.context());
        if (result.loaded && run_.context().moduleList) {
            for (const auto& module : run_.context().moduleList->modules()) {
                coresift::matchModule(run_.context(), *module);
                result.modules.push_back(module.get());
            }
        }
        result.out = run_.out();
        result.err = run_.err();
        return result;
    }

    coresift::RunContext& context() { return run_.context(); }

private:
    fs::path db_;
    testsupport::WorkingFolder cwd_;
    testsupport::RunCapture run_;
};

// Checks the module list of a loaded db against the expected modules (the one at AT_BASE first,
// the others in the order of their first mapping), their biases and verdicts, and returns
// "matched/with a symbol file" for the closing table.
// A matched module's code reads, through the address space, as the symbol file's bytes at the
// same file address (from the dump or, where the dump lacks them, from the file).
void expectCodeFromFile(const fs::path& db, const Module& m, coresift::RunContext& context) {
    auto file = corekit::ElfFile::load((db / ("symbols" + m.path)).string());
    ASSERT_TRUE(file);
    std::uint64_t at = 0;
    for (const auto& p : file->programHeaders())
        if (p.type == corekit::elf::PT_LOAD && (p.flags & corekit::elf::PF_X) && !at)
            at = m.loadBias + p.vaddr + (p.filesz / 2 & ~std::uint64_t{3});  // the middle of the code
    auto offset = file->fileOffsetOf(at - m.loadBias);
    ASSERT_TRUE(offset) << std::hex << at;
    std::uint8_t dump[32] = {};
    ASSERT_TRUE(context.addressSpace->readMemory(static_cast<TargetWord>(at), dump, sizeof dump)) << std::hex << at;
    auto bytes = file->view().sub(*offset, sizeof dump);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::memcmp(dump, bytes->data(), sizeof dump), 0) << std::hex << at;
}

std::string checkModules(const fs::path& db, const DbResult& result, std::vector<Expected> expected,
                         coresift::RunContext& context) {
    std::ostringstream names;
    for (const Module* m : result.modules) names << m->name << " ";
    std::sort(expected.begin() + 1, expected.end(), [&](const Expected& a, const Expected& b) {
        auto start = [&](const Expected& e) {
            for (const char* folder : {"/system/bin/", "/system/lib/", "/system/lib64/"}) {
                if (std::uint64_t s = firstMapping(db, folder + e.name)) return s;
            }
            return std::uint64_t{0};
        };
        return start(a) < start(b);
    });
    EXPECT_EQ(result.modules.size(), expected.size()) << db << ": " << names.str();
    unsigned matched = 0, withFile = 0;
    for (std::size_t i = 0; i < std::min(result.modules.size(), expected.size()); ++i) {
        const Module& m = *result.modules[i];
        const Expected& e = expected[i];
        SCOPED_TRACE(e.name);
        EXPECT_EQ(m.name, e.name) << names.str();
        if (auto bias = oracleBias(db, m.path)) {
            EXPECT_EQ(std::uint64_t{m.loadBias}, *bias) << std::hex << m.loadBias;
        }
        const bool hasFile = fs::exists(db / ("symbols" + m.path));
        withFile += hasFile;
        if (!hasFile) {
            EXPECT_FALSE(m.has(mf::kMatched));
        } else if (e.unmatchedBecause.empty()) {
            EXPECT_TRUE(m.has(mf::kMatched)) << std::hex << m.flags << "\n" << result.err;
        } else {
            EXPECT_FALSE(m.has(mf::kMatched));
            EXPECT_NE(result.err.find(e.unmatchedBecause), std::string::npos) << result.err;
        }
        matched += m.has(mf::kMatched);
        if (m.has(mf::kMatched)) expectCodeFromFile(db, m, context);
    }
    if (std::getenv("FERROVANE_SHOW_MODULES")) std::cout << db << "\n" << result.out << result.err;
    return std::to_string(matched) + "/" + std::to_string(withFile);
}

// --- The qemu-made dbs ---

#define REQUIRE_QEMU_DB(name)                                                                 \
    if (!fs::exists(kTestData / (name) / "db")) GTEST_SKIP() << "db not unpacked: " << (name)

std::vector<std::string> qemuDbs(bool dynamic) {
    const char* arch = kIs64 ? "arm64-" : "arm-";
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(kTestData)) {
        std::string name = entry.path().filename().string();
        if (name.rfind(arch, 0) != 0 || name == "arm64-static-rawcore") continue;
        bool isDynamic = name.find("-static-") == std::string::npos;
        if (isDynamic == dynamic) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ModuleRealDbs, StaticQemuDbsHaveTheExecutableAloneMatched) {
    auto names = qemuDbs(false);
    if (names.empty()) GTEST_SKIP() << "no qemu dbs under " << kTestData;
    for (const auto& name : names) {
        RealDb db(kTestData / name / "db");
        DbResult result = db.load();
        ASSERT_TRUE(result.loaded) << name << "\n" << result.out << result.err;
        EXPECT_TRUE(db.context().core->flags & coresift::core_flag::kExecutableOnly) << name;
        std::string figure = checkModules(kTestData / name / "db", result, {{"crashfix"}}, db.context());
        EXPECT_EQ(figure, "1/1") << name;
        RecordProperty(name, figure);
    }
}

TEST(ModuleRealDbs, DynamicQemuDbsTakeTheMemoryMapWithBiasesFromTheHeaders) {
    auto names = qemuDbs(true);
    if (names.empty()) GTEST_SKIP() << "no qemu dbs under " << kTestData;
    const std::string linker = kIs64 ? "ld-linux-aarch64.so.1" : "ld-linux-armhf.so.3";
    for (const auto& name : names) {
        RealDb db(kTestData / name / "db");
        DbResult result = db.load();
        ASSERT_TRUE(result.loaded) << name << "\n" << result.out << result.err;
        // glibc's list is not Android's: the linker's records are not found.
        EXPECT_NE(result.err.find("Fail to find <" + linker + "> soinfo segment"), std::string::npos) << result.err;
        std::string figure = checkModules(kTestData / name / "db", result, {{linker}, {"crashfix"}, {"libcrashfix.so"}}, db.context());
        EXPECT_EQ(figure, "2/2") << name;
        EXPECT_EQ(db.context().moduleList->executableName(), "crashfix");
        RecordProperty(name, figure);
    }
}

TEST(ModuleRealDbs, RawQemuCoreWithoutCodeFailsForWantOfExecutableSymbols) {
    if (!kIs64) GTEST_SKIP() << "an AArch64 core";
    REQUIRE_QEMU_DB("arm64-static-rawcore");
    RealDb db(kTestData / "arm64-static-rawcore" / "db");
    DbResult result = db.load();
    EXPECT_FALSE(result.loaded);
    EXPECT_NE(result.out.find("Error: No symbols in "), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("please provide under out/target/product/$proj/symbols folder\n"
                              "Error when parsing coredump\n"),
              std::string::npos)
        << result.out;
}

// --- Android's offline cases ---

struct OfflineExpectation {
    const char* name;
    bool is64;
    std::vector<Expected> modules;
};

const std::vector<OfflineExpectation>& offlineExpectations() {
    static const std::vector<OfflineExpectation> cases = {
        {"bad_eh_frame_hdr_arm64", true, {{"waiter64"}, {"libc.so"}}},
        {"debug_frame_load_bias_arm", false, {{"mediaserver"}, {"libc.so"}, {"libbinder.so"}}},
        {"empty_arm64", true, {{"netd"}, {"libbinder.so"}, {"libc.so"}}},
        {"invalid_elf_offset_arm", false, {{"invalid.apk"}}},
        // The case's C library is a bare 52-byte ELF header without program headers.
        {"jit_debug_arm",
         false,
         {{"dalvikvm32"},
          {"libarttestd.so"},
          {"libart.so"},
          {"libartd.so"},
          {"libc.so", "Error: Fail to find <libc.so> RO LOAD segment"}}},
        {"load_bias_different_section_bias_arm64", true, {{"linker64"}, {"test"}, {"libc.so"}}},
        {"offset_arm", false, {{"libunwindstack_test"}, {"libc.so"}}},
        {"pauth_pc_arm64", true, {{"toybox"}, {"libc.so"}}},
        {"shared_lib_in_apk_arm64", true, {{"linker64"}, {"libc.so"}}},
        {"signal_load_bias_arm", false, {{"libunwindstack_unit_test"}, {"libc.so"}}},
        {"straddle_arm64", true, {{"libunwindstack_test"}}},
        {"zlib_compress_arm", false, {{"linker"}, {"crasher"}, {"libc.so"}}},
    };
    return cases;
}

// Converts a case into a fresh folder.
bool convertCase(const std::string& name, const fs::path& out, std::string& error) {
    fixturekit::OfflineCase input;
    fixturekit::OfflineDb db;
    return fixturekit::readOfflineCase((kCases / name).string(), input, error) &&
           fixturekit::convertOfflineCase(input, fixturekit::ConversionOptions{}, db, error) &&
           fixturekit::writeOfflineDb(db, out.string(), error);
}

TEST(ModuleRealDbs, OfflineCasesListTheirLibrariesAtTheirBiasesAndMatchThem) {
    if (!fs::exists(kCases)) GTEST_SKIP() << "no offline cases under " << kCases;
    std::string table;
    for (const auto& c : offlineExpectations()) {
        if (c.is64 != kIs64) continue;
        SCOPED_TRACE(c.name);
        testsupport::TempFolder folder;
        std::string error;
        ASSERT_TRUE(convertCase(c.name, folder.path(), error)) << error;
        RealDb db(folder.path());
        DbResult result = db.load();
        ASSERT_TRUE(result.loaded) << result.out << result.err;
        // The modules are listed in address order, the linker's (the module at AT_BASE) first.
        std::vector<Expected> expected = c.modules;
        std::string figure = checkModules(folder.path(), result, expected, db.context());
        // The start-up phase's C library.
        coresift::Module* libc = coresift::cLibraryModule(db.context());
        bool hasLibc = std::any_of(expected.begin(), expected.end(), [](const Expected& e) { return e.name == "libc.so"; });
        EXPECT_EQ(libc ? libc->name : "", hasLibc ? "libc.so" : "");
        table += std::string(c.name) + " " + figure + "; ";
    }
    RecordProperty("modules_matched", table);
}

// The release the header's probe finds in a C library file: the newest release whose probe
// symbol the file defines (its symbol table or its dynamic one, as the core kit reads them).
std::string releaseOf(const fs::path& libc) {
    struct Probe {
        const char* symbol;
        bool data;
        const char* release;
    };
    static const Probe probes[] = {
        {"epoll_pwait2", false, "V0"}, {"close_range", false, "U0"}, {"backtrace", false, "T0"},
        {"android_reset_stack_guards", false, "S0"}, {"android_fdtrack_set_enabled", false, "R0"},
        {"timespec_get", false, "Q0"}, {"__malloc_hook", true, "P0"},
        {"android_gethostbynamefornetcontext", false, "O1"}, {"semctl", false, "O0"}, {"fopen64", false, "N0"},
        {"sigqueue", false, "M"}, {"stdout", true, "L1"}, {"dup3", false, "L0"}, {"getauxval", false, "KK"},
        {"fgetxattr", false, "JB"}, {"ftruncate64", false, "ICS"}, {"__libc_android_log_vprint", false, "GB"},
    };
    auto file = corekit::ElfFile::load(libc.string());
    if (!file) return "??";
    auto symbols = file->symbols();
    for (const Probe& probe : probes) {
        for (const auto& s : symbols) {
            const bool typeFits = probe.data ? s.type == 1 : (s.type == 2 || s.type == 13);
            if (s.name == probe.symbol && typeFits && s.shndx != 0) return probe.release;
        }
    }
    return "??";
}

// Whole runs on the converted cases: the report's header names the release of the case's C
// library, and a C library whose file cannot serve is listed among the missing symbol files.
TEST(ModuleRealDbs, OfflineCaseReportsNameTheReleaseOfTheirCLibrary) {
    if (!fs::exists(kCases)) GTEST_SKIP() << "no offline cases under " << kCases;
    std::string table;
    for (const auto& c : offlineExpectations()) {
        auto libc = std::find_if(c.modules.begin(), c.modules.end(), [](const Expected& e) { return e.name == "libc.so"; });
        if (c.is64 != kIs64 || libc == c.modules.end()) continue;
        SCOPED_TRACE(c.name);
        testsupport::TempFolder folder;
        std::string error;
        ASSERT_TRUE(convertCase(c.name, folder.path(), error)) << error;
        std::string path = kIs64 ? "/system/lib64/libc.so" : "/system/lib/libc.so";
        if (!firstMapping(folder.path(), path)) path = "libc.so";
        const bool usable = libc->unmatchedBecause.empty();
        const std::string release = usable ? releaseOf(folder.path() / ("symbols" + path)) : "??";

        testsupport::WorkingFolder cwd(folder.path());
        testsupport::RunCapture run;
        EXPECT_EQ(run.run({"-ext", "259"}), 0) << run.out() << run.err();
        std::string report = testsupport::readFile(folder.path() / "AnalysisReport.txt");
        EXPECT_NE(report.find("\nVersion : " + release + "/"), std::string::npos) << release << "\n" << report;
        const std::string listed = "\n" + std::string(path[0] == '/' ? "symbols" : "") + path + "\n";
        EXPECT_EQ(report.find(listed) != std::string::npos, !usable) << report;
        table += std::string(c.name) + " " + release + "; ";
    }
    RecordProperty("c_library_releases", table);
}

}  // namespace
