// The module list from the dynamic linker's library records: the scan for the linker's own
// record, the name layouts of the linker versions, the load bias rules, and damaged chains.
#include <gtest/gtest.h>

#include "analyzer/process/address_space.h"
#include "analyzer/process/core_dump.h"
#include "tests/symbols/module_test_support.h"
#include "tools/corekit/elf_constants.h"

namespace {

using namespace testsupport;
namespace mf = coresift::module_flag;
namespace ck = corekit::elf;

const std::string kFail = "Error when parsing coredump\n";

// A linker with two copies of the test library, each under its own name.
struct TwoLibraries {
    ProcessCore core;
    TwoLibraries(bool codeInDump = true) {
        core.addLinker();
        core.addLibrary({libraryFolder() + "libmodfix.so", moduleFixtures() / "libmodfix.so", kFirstBias, codeInDump});
        core.addLibrary({libraryFolder() + "libsecond.so", moduleFixtures() / "libmodfix.so", kSecondBias, codeInDump});
    }
};

TEST(LinkerRecords, ChainGivesEachLibraryWithItsBiasDynamicSectionAndFlags) {
    REQUIRE_MODULE_FIXTURES();
    TwoLibraries libs;
    libs.core.addLinkerRecords({{0, 0x40000001 | 0x8}, {1}});
    ModuleDb db;
    placeSymbolFile(db.path(), libraryFolder().substr(1) + "libmodfix.so", moduleFixtures() / "libmodfix.so");
    ASSERT_TRUE(db.load(libs.core)) << db.out() << db.err();
    EXPECT_EQ(db.err(), "");
    auto modules = db.modules();
    ASSERT_EQ(modules.size(), 3u) << db.summary();
    EXPECT_EQ(modules[0]->name, kIs64 ? "linker64" : "linker");
    EXPECT_EQ(modules[0]->loadBias, kLinkerBase);
    EXPECT_EQ(modules[1]->path, libraryFolder() + "libmodfix.so");
    EXPECT_EQ(modules[1]->loadBias, kFirstBias);
    EXPECT_EQ(modules[1]->soinfo, libs.core.recordAddress(0));
    EXPECT_EQ(modules[1]->dynamicAddress, libs.core.libraries()[0].dynamicAddress);
    EXPECT_TRUE(modules[1]->has(mf::kUnrelocatedArrays));
    EXPECT_FALSE(modules[2]->has(mf::kUnrelocatedArrays));
    EXPECT_EQ(modules[2]->loadBias, kSecondBias);
    if (!kIs64) {
        EXPECT_EQ(modules[1]->unwind.exidxCount, libs.core.libraries()[0].exidxCount);
    }
    // The records' region gets the linker allocator's name.
    auto* records = db.context().addressSpace->regionAt(static_cast<TargetWord>(kRecordsBase));
    ASSERT_NE(records, nullptr);
    EXPECT_EQ(records->name, "[anon:linker_alloc]");
    // Matching is lazy: only the module asked for looks for its file.
    EXPECT_FALSE(modules[1]->has(mf::kMatchRan));
    EXPECT_EQ(coresift::moduleAt(db.context(), static_cast<TargetWord>(kFirstBias + 0x100)), modules[1]);
    EXPECT_TRUE(modules[1]->has(mf::kMatched)) << db.err();
    EXPECT_FALSE(modules[2]->has(mf::kMatchRan));
}

// Each linker version keeps the library's path somewhere else.
TEST(LinkerRecords, NamesAreReadWhereEachLayoutKeepsThem) {
    REQUIRE_MODULE_FIXTURES();
    std::vector<RecordLayout> layouts;
    if (kIs64) {
        layouts = {{3, true, false, false}, {6, true, true, false}, {6, true, false, false},
                   {3, true, false, true},  {6, true, true, true},  {1, true, false, false}};
    } else {
        layouts = {{1, true, false}, {3, true, false}, {6, true, true}, {6, true, false}, {3, false, false}};
    }
    for (const RecordLayout& layout : layouts) {
        SCOPED_TRACE("version " + std::to_string(layout.version) + (layout.linkerRealpath ? " linker path" : "") +
                     (layout.extraLeadingWord ? " extra word" : "") + (layout.newLayoutFlag ? "" : " old flags"));
        TwoLibraries libs;
        libs.core.addLinkerRecords({{0}, {1}}, layout);
        ModuleDb db;
        ASSERT_TRUE(db.load(libs.core)) << db.out() << db.err();
        auto modules = db.modules();
        ASSERT_EQ(modules.size(), 3u) << db.summary() << db.err();
        EXPECT_EQ(modules[1]->path, libraryFolder() + "libmodfix.so");
        EXPECT_EQ(modules[2]->path, libraryFolder() + "libsecond.so");
        EXPECT_EQ(modules[2]->loadBias, kSecondBias);
    }
}

TEST(LinkerRecords, LoadBiasRulesAndLibrariesThatFailedToLink) {
    REQUIRE_MODULE_FIXTURES();
    TwoLibraries libs;
    std::vector<LibraryRecordPlan> plans(2);
    plans[0].library = 0;
    plans[0].loadBias = 0x1000;  // a stale value the other rules replace
    plans[1].library = 1;
    if (kIs64) {
        // A dynamic section at or past the end: the link map's address is the bias.
        plans[0].dynamic = kFirstBias + 0x100000;
        plans[0].linkAddress = kFirstBias;
    } else {
        plans[0].legacyWord = 1;  // old linkers: the base is the bias
    }
    plans[1].linked = false;
    plans[1].flags = 0x40000000 | 0x2;
    libs.core.addLinkerRecords(plans);
    ModuleDb db;
    ASSERT_TRUE(db.load(libs.core)) << db.out() << db.err();
    auto modules = db.modules();
    ASSERT_EQ(modules.size(), 2u) << db.summary();
    EXPECT_EQ(modules[1]->loadBias, kFirstBias);
    EXPECT_EQ(db.err(), "Error: Exist fail linked lib: " + libraryFolder() + "libsecond.so\n");
}

TEST(LinkerRecords, LibraryWithoutItsRegionsIsReportedAndTheRunGoesOn) {
    REQUIRE_MODULE_FIXTURES();
    TwoLibraries libs;
    std::vector<LibraryRecordPlan> plans(2);
    plans[0].programHeaders = 0x1000;  // nothing mapped there
    plans[1].library = 1;
    libs.core.addLinkerRecords(plans);
    ModuleDb db;
    ASSERT_TRUE(db.load(libs.core)) << db.out() << db.err();
    EXPECT_EQ(db.modules().size(), 2u) << db.summary();
    const std::string address = kIs64 ? "0x0000000000001000" : "0x00001000";
    const std::string bias = kIs64 ? "0x0000007E00000000" : "0xA0000000";
    EXPECT_EQ(db.err(), "Error: Fail to find 'libmodfix.so' of RO memory segment(" + address + ")\n" +
                            "Error: Fail to create lib handle: " + bias + ": " + libraryFolder() + "libmodfix.so\n");
    EXPECT_EQ(db.context().console.formatMismatches(), 0u);
}

// A chain that runs into nowhere, loops, or never ends is a corrupt one: the load fails.
TEST(LinkerRecords, CorruptChainsFailTheLoad) {
    REQUIRE_MODULE_FIXTURES();
    const std::uint64_t nowhere = 0x2000;
    for (int kind = 0; kind < 3; ++kind) {
        SCOPED_TRACE(kind);
        TwoLibraries libs;
        std::vector<LibraryRecordPlan> plans(2);
        plans[1].library = 1;
        if (kind == 0) plans[1].next = nowhere;
        if (kind == 1) plans[1].next = kRecordsBase;  // back to the first record
        // A record whose fields run past the end of its region.
        if (kind == 2) plans[1].next = kRecordsBase + 0x1000 - 16;
        libs.core.addLinkerRecords(plans);
        ModuleDb db;
        EXPECT_FALSE(db.load(libs.core));
        EXPECT_EQ(db.err(), "Error: SO_INFO link info is corrupted\n");
        EXPECT_EQ(db.out(), "Loading PROCESS_COREDUMP ...\n" + kFail);
        EXPECT_EQ(db.context().moduleList, nullptr);
    }
}

TEST(LinkerRecords, EndlessChainStopsAfterABoundedNumberOfRecords) {
    REQUIRE_MODULE_FIXTURES();
    ProcessCore core;
    core.addLinker();
    core.addLibrary({libraryFolder() + "libmodfix.so", moduleFixtures() / "libmodfix.so", kFirstBias});
    // 5000 distinct records, each naming the next, none of them linked.
    std::vector<LibraryRecordPlan> plans(5000);
    for (auto& plan : plans) plan.linked = false;
    core.addLinkerRecords(plans);
    ModuleDb db;
    EXPECT_FALSE(db.load(core));
    EXPECT_EQ(db.err(), "Error: SO_INFO link info is corrupted\n");
}

// Without the records, every file mapping named like a library becomes a module, at the bias its
// ELF header in the dump gives.
TEST(LinkerRecords, WithoutRecordsTheMemoryMapGivesTheModules) {
    REQUIRE_MODULE_FIXTURES();
    TwoLibraries libs;
    libs.core.addRegion(kSecondBias + 0x200000, std::vector<std::uint8_t>(4096, 0), ck::PF_R, "/system/lib/libc.so.6");
    libs.core.addRegion(kSecondBias + 0x300000, std::vector<std::uint8_t>(4096, 0), ck::PF_R, "/dev/ashmem/libx.so");
    ModuleDb db;
    ASSERT_TRUE(db.load(libs.core)) << db.out() << db.err();
    EXPECT_EQ(db.err(), std::string("Warning: Fail to find <") + (kIs64 ? "linker64" : "linker") + "> soinfo segment\n");
    auto modules = db.modules();
    ASSERT_EQ(modules.size(), 3u) << db.summary();
    EXPECT_EQ(modules[1]->name, "libmodfix.so");
    EXPECT_EQ(modules[1]->loadBias, kFirstBias);
    EXPECT_EQ(modules[2]->name, "libsecond.so");
    EXPECT_EQ(modules[2]->loadBias, kSecondBias);
    EXPECT_TRUE(modules[2]->has(mf::kCodeInDump | mf::kHeadersRead | mf::kDynamicSymbols | mf::kCreated));
}

TEST(LinkerRecords, MemoryMapNamesThatMakeModules) {
    for (const char* name : {"/system/lib/libc.so", "/system/bin/app_process", "/data/app/base.odex/x.oat", "/vendor/a.b.so"})
        EXPECT_TRUE(coresift::moduleNameAccepted(name)) << name;
    for (const char* name : {"/system/lib/libc.so.6", "/data/app/base.apk", "toybox", "/mali0", "[anon:libc_malloc]",
                             "/system/bin/my tool", "/dev/kgsl:3", "libc.odex"})
        EXPECT_FALSE(coresift::moduleNameAccepted(name)) << name;
    EXPECT_TRUE(coresift::moduleNameAccepted("/usr/mali/libx"));  // "/mali" refuses only a single-slash name
}

// No linker at AT_BASE: the process is taken as one static executable whose symbol file is
// required.
TEST(LinkerRecords, WithoutLinkerTheExecutableAloneNeedsItsSymbols) {
    REQUIRE_MODULE_FIXTURES();
    for (bool withFile : {true, false}) {
        SCOPED_TRACE(withFile);
        ProcessCore core;
        core.addLibrary({"/system/bin/modexe", moduleFixtures() / "libmodfix.so", kFirstBias});
        core.setExecutable("/system/bin/modexe", kFirstBias + 0x400);
        ModuleDb db;
        if (withFile) placeSymbolFile(db.path(), "system/bin/modexe", moduleFixtures() / "libmodfix.so");
        bool loaded = db.load(core);
        EXPECT_EQ(loaded, withFile) << db.out() << db.err();
        if (withFile) {
            ASSERT_EQ(db.modules().size(), 1u);
            EXPECT_TRUE(db.context().core->flags & coresift::core_flag::kExecutableOnly);
            EXPECT_EQ(db.modules()[0]->loadBias, kFirstBias);
            EXPECT_EQ(db.context().moduleList->executableName(), "modexe");
            EXPECT_EQ(coresift::cLibraryModule(db.context()), db.modules()[0]);
        } else {
            EXPECT_EQ(db.out(), "Loading PROCESS_COREDUMP ...\nError: No symbols in /system/bin/modexe, please provide "
                                "under out/target/product/$proj/symbols folder\n" + kFail);
        }
    }
}

}  // namespace
