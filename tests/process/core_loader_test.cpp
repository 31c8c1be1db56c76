// Loading whole coredumps made with the core kit: the dump names, the checks of each step with
// their messages, the process record, threads, regions, and the main-thread rule.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "analyzer/driver/run_context.h"
#include "analyzer/process/address_space.h"
#include "analyzer/process/core_dump.h"
#include "analyzer/process/core_loader.h"
#include "analyzer/symbols/elf_image.h"
#include "tests/support/run_capture.h"
#include "tests/support/temp_folder.h"
#include "tools/corekit/core_builder.h"
#include "tools/corekit/elf_constants.h"

namespace {

using coresift::CoreDump;
using coresift::MapEntry;
using testsupport::RunCapture;
using testsupport::TempFolder;
using testsupport::WorkingFolder;
namespace ck = corekit::elf;
namespace rk = coresift::region_kind;

constexpr auto kArch = kIs64 ? corekit::CoreArch::Arm64 : corekit::CoreArch::Arm32;
constexpr std::uint64_t kCode = 0x400000, kData = 0x404000, kStack = 0x7ffe0000;
constexpr std::uint64_t kExecFn = kStack + 0x1fe0, kRandom = kStack + 0x1f00;
const std::string kFail = "Error when parsing coredump\n";

corekit::PrStatus thread(std::uint32_t tid, std::uint64_t sp, std::uint64_t pc = 0x400100,
                         std::uint64_t status = 0x60000000, std::int16_t signal = 0) {
    corekit::PrStatus s;
    s.pid = tid;
    s.ppid = 1;
    s.cursig = signal;
    s.regs.assign(corekit::registerCount(kArch), 0);
    for (unsigned i = 0; i < 13; ++i) s.regs[i] = 0x1000 + i;
    s.regs[coresift::RegisterSet::kSp] = sp;
    s.regs[coresift::RegisterSet::kPc] = pc;
    s.regs[coresift::RegisterSet::kStatus] = status;
    return s;
}

corekit::PrPsInfo process(std::uint32_t pid) {
    corekit::PrPsInfo info;
    info.pid = pid;
    info.ppid = 1;
    info.state = 1;
    info.fname = "crasher";
    info.psargs = "/system/bin/crasher abort ";
    return info;
}

corekit::Auxv auxv(std::uint64_t pageSize = 4096) {
    return {{ck::AT_PAGESZ, pageSize}, {ck::AT_BASE, 0}, {ck::AT_ENTRY, kCode + 0x100},
            {ck::AT_RANDOM, kRandom}, {ck::AT_EXECFN, kExecFn}};
}

// A small process: code without bytes, data and stack with bytes, two threads.
corekit::CoreBuilder makeCore(std::uint64_t pageSize = 4096) {
    corekit::CoreBuilder core(kArch);
    core.addSegment(kCode, 0x4000, ck::PF_R | ck::PF_X);
    std::vector<std::uint8_t> data(0x1000, 0xAB);
    core.addSegment(kData, data, ck::PF_R | ck::PF_W);
    std::vector<std::uint8_t> stack(0x2000, 0);
    std::string path = "/system/bin/crasher";
    std::copy(path.begin(), path.end(), stack.begin() + (kExecFn - kStack));
    core.addSegment(kStack, stack, ck::PF_R | ck::PF_W);
    core.addPrStatus(thread(100, kStack + 0x1800, 0x400100, 0x60000000, 11));
    core.addPrStatus(thread(101, kData + 0x800));
    core.addPrPsInfo(process(100));
    core.addAuxv(auxv(pageSize));
    corekit::FileNote files;
    files.mappings = {{kCode, kCode + 0x4000, 0, "/system/bin/crasher"}, {kData, kData + 0x1000, 0, "/dev/ashmem/x"}};
    core.addFileNote(files);
    corekit::SigInfo signal;
    signal.signo = 11;
    signal.code = 1;
    signal.addr = 0xdead;
    core.addSigInfo(signal);
    core.addArmTls(0x7000);
    return core;
}

// Runs the loader in a fresh db folder holding `core` under `name`.
class LoaderTest : public ::testing::Test {
protected:
    LoaderTest() : cwd_(db_.path()) { run_.context().catalog.selectEnglish(); }

    bool load(const corekit::CoreBuilder& core, const std::string& name = "PROCESS_COREDUMP") {
        std::string error;
        EXPECT_TRUE(core.write((db_.path() / name).string(), &error)) << error;
        return coresift::loadCoreDump(run_.context());
    }
    CoreDump& core() { return *run_.context().core; }
    coresift::AddressSpace& space() { return *run_.context().addressSpace; }
    void expectReleased() {
        EXPECT_EQ(run_.context().core, nullptr);
        EXPECT_EQ(run_.context().addressSpace, nullptr);
    }

    TempFolder db_;
    WorkingFolder cwd_;
    RunCapture run_;
};

TEST_F(LoaderTest, LoadsProcessThreadsAndRegions) {
    ASSERT_TRUE(load(makeCore())) << run_.out() << run_.err();
    EXPECT_EQ(run_.out(), "Loading PROCESS_COREDUMP ...\n");
    EXPECT_EQ(run_.err(), "");
    CoreDump& c = core();
    EXPECT_EQ(c.dumpFileName, "PROCESS_COREDUMP");
    EXPECT_EQ(c.pid, 100u);
    EXPECT_EQ(c.ppid, 1u);
    EXPECT_EQ(c.processState, 1u);
    EXPECT_EQ(c.commandLine, "/system/bin/crasher abort");
    EXPECT_EQ(c.signal, 11u);
    EXPECT_EQ(c.signalCode, 1u);
    EXPECT_EQ(c.faultAddress, 0xdeadu);
    EXPECT_EQ(c.entryPoint, kCode + 0x100);
    EXPECT_EQ(c.executablePath, "/system/bin/crasher");
    EXPECT_EQ(c.pageSize, 4096u);
    EXPECT_EQ(c.threadCount, 2u);
    ASSERT_NE(c.firstThread, nullptr);
    EXPECT_EQ(c.firstThread->tid, 100u);
    EXPECT_EQ(c.firstThread->flags, coresift::thread_flag::kFirst | coresift::thread_flag::kMain);
    EXPECT_EQ(c.threads.find(101)->flags, 0u);
    EXPECT_EQ(c.threads.find(101)->tls, 0x7000u) << "NT_ARM_TLS goes to the thread created last";
    EXPECT_EQ(c.firstThread->registers.r[12], 0x100cu);

    EXPECT_EQ(space().regionCount(), 3u);
    MapEntry* code = space().regionAt(kCode + 0x3fff);
    EXPECT_EQ(code->kind, rk::kRead | rk::kExecute | rk::kNotInDump | rk::kFromProvider | rk::kFile | rk::kOwnedName);
    EXPECT_EQ(code->name, "/system/bin/crasher");
    EXPECT_EQ(space().regionAt(kData)->type(), rk::kDev);
    EXPECT_EQ(space().regionAt(kStack)->name, "[stack]");
    EXPECT_EQ(space().read<std::uint8_t>(kData + 0xfff).value(), 0xAB);
}

// A device short of storage writes a core cut inside its last segment: it still loads, with one
// warning, and the bytes past the end of the file are simply absent.
TEST_F(LoaderTest, CoreCutInsideItsLastSegmentLoadsWithOneWarning) {
    auto bytes = makeCore().bytes();
    std::string error;
    ASSERT_TRUE(makeCore().write((db_.path() / "PROCESS_COREDUMP").string(), &error)) << error;
    std::filesystem::resize_file(db_.path() / "PROCESS_COREDUMP", bytes.size() - 0x1800);
    ASSERT_TRUE(coresift::loadCoreDump(run_.context())) << run_.out() << run_.err();
    EXPECT_EQ(space().read<std::uint8_t>(kData + 0xfff).value(), 0xAB);
    EXPECT_FALSE(space().read<std::uint64_t>(kStack + 0x1ff0).has_value() &&
                 space().read<std::uint64_t>(kStack + 0x1ff0).value() != 0)
        << "bytes past the end of the file are never invented";
    space().read<std::uint8_t>(kStack + 0x1000);
    space().read<std::uint8_t>(kStack + 0x1800);
    EXPECT_EQ(run_.err(), "Warning: File PROCESS_COREDUMP damaged\n");
}

TEST_F(LoaderTest, DumpNamesAreTriedInOrder) {
    ASSERT_TRUE(load(makeCore(), "PROCESS_NCOREDUMP"));
    EXPECT_EQ(run_.out(), "Loading PROCESS_NCOREDUMP ...\n");
    EXPECT_EQ(core().dumpFileName, "PROCESS_NCOREDUMP");
    coresift::teardownProcess(run_.context());
    expectReleased();

    corekit::CoreBuilder broken = makeCore();
    broken.setFileType(ck::ET_EXEC);
    ASSERT_TRUE(broken.write((db_.path() / "PROCESS_MINIDUMP").string()));
    EXPECT_FALSE(coresift::loadCoreDump(run_.context())) << "the minidump comes before the ncoredump";
    EXPECT_NE(run_.out().find("Loading PROCESS_MINIDUMP ...\n"), std::string::npos);
    expectReleased();
}

TEST_F(LoaderTest, NoDumpAtAll) {
    EXPECT_FALSE(coresift::loadCoreDump(run_.context()));
    EXPECT_EQ(run_.out(), "Error: Don't support analysis without coredump\n");
    EXPECT_EQ(run_.err(), "");
}

TEST_F(LoaderTest, PageSizeChecks) {
    bool loaded = load(makeCore(16384));
    if (kIs64) {
        // 16 KiB pages need 16 KiB-aligned segments.
        EXPECT_FALSE(loaded);
        EXPECT_NE(run_.err().find("Error: PROCESS_COREDUMP of PT_LOAD Incorrect address: 0x"), std::string::npos)
            << run_.err();
    } else {
        EXPECT_FALSE(loaded);
        EXPECT_EQ(run_.err(), "Error: Can not support 16384Bytes page size\n");
        EXPECT_EQ(run_.out(), "Loading PROCESS_COREDUMP ...\n" + kFail);
    }
    expectReleased();
}

TEST_F(LoaderTest, SixteenKiBPagesLoadInTheSixtyFourBitBuild) {
    corekit::CoreBuilder c(kArch);
    c.addSegment(0x400000, std::vector<std::uint8_t>(0x4000, 1), ck::PF_R | ck::PF_W);
    c.addPrStatus(thread(9, 0x401000)).addPrPsInfo(process(9)).addAuxv({{ck::AT_PAGESZ, 16384}});
    bool loaded = load(c);
    EXPECT_EQ(loaded, kIs64) << run_.err();
    if (kIs64) {
        EXPECT_EQ(core().pageSize, 16384u);
        EXPECT_EQ(space().pageSize(), 16384u);
    }
}

TEST_F(LoaderTest, AuxvWithoutPageSizeOrNoAuxvAtAll) {
    corekit::CoreBuilder c = makeCore();
    for (auto& note : c.notes())
        if (note.type == ck::NT_AUXV) note.desc = corekit::encodeAuxv(kArch, {{ck::AT_ENTRY, 1}});
    EXPECT_FALSE(load(c));
    EXPECT_EQ(run_.err(), "Error: Can not support 0Bytes page size\n");

    corekit::CoreBuilder none(kArch);
    none.addSegment(0x400000, std::vector<std::uint8_t>(0x1000, 1), ck::PF_R);
    none.addPrStatus(thread(9, 0x400100)).addPrPsInfo(process(9));
    RunCapture again;
    again.context().catalog.selectEnglish();
    std::string error;
    ASSERT_TRUE(none.write("PROCESS_COREDUMP", &error)) << error;
    EXPECT_FALSE(coresift::loadCoreDump(again.context()));
    EXPECT_EQ(again.out(), "Loading PROCESS_COREDUMP ...\n" + kFail) << "no message of its own";
    EXPECT_EQ(again.err(), "");
}

TEST_F(LoaderTest, NoteChecksStopTheLoad) {
    struct Case {
        const char* what;
        std::function<void(corekit::CoreBuilder&)> change;
        std::string err;
    };
    std::vector<Case> cases = {
        {"duplicate tid", [](corekit::CoreBuilder& c) { c.addPrStatus(thread(101, 0)); },
         "Error: Exist threads with the same tid: 101\n"},
        {"type 4", [](corekit::CoreBuilder& c) { c.addNote(4, "CORE", std::vector<std::uint8_t>(8)); },
         "Error: Unrecognized NOTE type: 0x4\n"},
        {"no prstatus",
         [](corekit::CoreBuilder& c) {
             std::erase_if(c.notes(), [](const corekit::CoreNote& n) { return n.type == ck::NT_PRSTATUS; });
         },
         "Error: PROCESS_COREDUMP has no any thread\n"},
        {"no prpsinfo",
         [](corekit::CoreBuilder& c) {
             std::erase_if(c.notes(), [](const corekit::CoreNote& n) { return n.type == ck::NT_PRPSINFO; });
         },
         "Error: No NT_PRPSINFO in NOTE segment\n"},
        {"short siginfo",
         [](corekit::CoreBuilder& c) { c.addNote(ck::NT_SIGINFO, "CORE", std::vector<std::uint8_t>(8)); },
         "Error: PROCESS_COREDUMP of NT_SIGINFO segment size(8B) is incorrect\n"},
    };
    for (const Case& test : cases) {
        TempFolder folder;
        WorkingFolder cwd(folder.path());
        RunCapture run;
        run.context().catalog.selectEnglish();
        corekit::CoreBuilder c = makeCore();
        test.change(c);
        ASSERT_TRUE(c.write("PROCESS_COREDUMP"));
        EXPECT_FALSE(coresift::loadCoreDump(run.context())) << test.what;
        EXPECT_EQ(run.err(), test.err) << test.what;
        EXPECT_EQ(run.out(), "Loading PROCESS_COREDUMP ...\n" + kFail) << test.what;
        EXPECT_EQ(run.context().core, nullptr);
    }
}

TEST_F(LoaderTest, IgnoredNotesAndTheNoteSegment) {
    corekit::CoreBuilder c = makeCore();
    c.addNote(0x402, "LINUX", std::vector<std::uint8_t>(264));
    c.addNote(ck::NT_PRFPREG, "CORE", std::vector<std::uint8_t>(kIs64 ? 528 : 116));
    EXPECT_TRUE(load(c)) << run_.err();
    coresift::teardownProcess(run_.context());

    corekit::CoreBuilder noNotes = makeCore();
    noNotes.omitNoteSegment();
    EXPECT_FALSE(load(noNotes));
    EXPECT_NE(run_.err().find("Fail to find <PROCESS_COREDUMP> .note segment\n"), std::string::npos) << run_.err();
}

TEST_F(LoaderTest, WithoutPidTheFirstThreadOnTheStackInTableOrderIsMain) {
    corekit::CoreBuilder c(kArch);
    c.addSegment(kData, std::vector<std::uint8_t>(0x1000, 0), ck::PF_R | ck::PF_W);
    c.addSegment(kStack, std::vector<std::uint8_t>(0x2000, 0), ck::PF_R | ck::PF_W);
    // Slot order of 128 slots: 20 (home 20) before 300 (home 44) before 77 (home 77).
    c.addPrStatus(thread(300, kStack + 0x100, 0x400100, 0, 6));
    c.addPrStatus(thread(77, kData + 0x10));
    c.addPrStatus(thread(20, kStack + 0x1000));
    c.addPrPsInfo(process(0));
    c.addAuxv({{ck::AT_PAGESZ, 4096}, {ck::AT_RANDOM, kStack + 8}});
    ASSERT_TRUE(load(c)) << run_.err();
    EXPECT_EQ(core().pid, 20u);
    EXPECT_TRUE(core().threads.find(20)->isMain());
    EXPECT_FALSE(core().threads.find(300)->isMain());
    EXPECT_TRUE(core().firstThread->isFirst());
    EXPECT_EQ(core().firstThread->tid, 300u);
    EXPECT_EQ(core().signal, 6u);
}

TEST_F(LoaderTest, ThumbCrashSetsBitZeroOfThePc) {
    corekit::CoreBuilder c = makeCore();
    c.notes().erase(c.notes().begin());  // replace the first thread
    c.notes().insert(c.notes().begin(),
                     corekit::CoreNote{"CORE", ck::NT_PRSTATUS,
                                       corekit::encodePrStatus(kArch, thread(100, kStack + 0x1800, 0x400100, 0x60000030))});
    ASSERT_TRUE(load(c)) << run_.err();
    const auto& regs = core().firstThread->registers;
    if (kIs64) {
        EXPECT_EQ(regs.pc(), 0x400100u);
        EXPECT_EQ(regs.status(), 0x60000130u);
    } else {
        EXPECT_EQ(regs.pc(), 0x400101u);
        EXPECT_EQ(regs.status(), 0x60000030u);
    }
}

TEST_F(LoaderTest, CodeSegmentDumpedAsItsHeaderPageOnly) {
    // As a kernel dumps a code mapping: p_filesz covers the first page, p_memsz the mapping. The
    // next segment's bytes follow at once in the file.
    auto withCode = [](std::uint64_t offset) {
        corekit::CoreBuilder c = makeCore();
        c.segments().erase(c.segments().begin());  // the code segment, written by hand
        corekit::RawProgramHeader code;
        code.type = ck::PT_LOAD;
        code.flags = ck::PF_R | ck::PF_X;
        code.vaddr = kCode;
        code.memsz = 0x4000;
        code.align = 0x1000;
        code.offset = offset;
        code.filesz = 0x1000;
        c.addRawProgramHeader(code);
        return c;
    };
    // The data segment's bytes (0xAB) come 0x3000 before the end, followed by the stack's.
    std::uint64_t dataOffset = withCode(0).bytes().size() - 0x3000;
    ASSERT_TRUE(load(withCode(dataOffset))) << run_.err();
    EXPECT_EQ(space().read<std::uint8_t>(kCode).value(), 0xAB);
    EXPECT_FALSE(space().read<std::uint8_t>(kCode + 0x1000).has_value())
        << "the rest of the code comes from the module's file, not from the bytes after the page";
    MapEntry* rest = space().regionAt(kCode + 0x1000);
    ASSERT_NE(rest, nullptr);
    EXPECT_EQ(rest->end, kCode + 0x4000);
    EXPECT_TRUE(rest->fromProvider());
}

TEST_F(LoaderTest, FailedRunsEndWithStatusOneAndNoReport) {
    corekit::CoreBuilder c = makeCore();
    c.addNote(5, "CORE", std::vector<std::uint8_t>(4));
    ASSERT_TRUE(c.write("PROCESS_COREDUMP"));
    RunCapture program;
    EXPECT_EQ(program.run({"-ext", "259"}), 1);
    EXPECT_NE(program.out().find("Loading PROCESS_COREDUMP ...\nError when parsing coredump\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(db_.path() / "AnalysisReport.txt"));
    EXPECT_EQ(program.context().core, nullptr);

    std::filesystem::remove(db_.path() / "PROCESS_COREDUMP");
    ASSERT_TRUE(makeCore().write("PROCESS_COREDUMP"));
    RunCapture good;
    EXPECT_EQ(good.run({"-ext", "259"}), 0) << good.out();
    EXPECT_NE(good.out().find("Analysis is completed\n"), std::string::npos);
    EXPECT_EQ(good.context().core, nullptr) << "torn down after the run";
}

TEST_F(LoaderTest, DebuggerValuesAndAddressWidth) {
    ASSERT_TRUE(load(makeCore()));
    if (kIs64) {
        EXPECT_EQ(core().mmu.levelIndexBits, (std::vector<unsigned>{9, 9, 9}));
        EXPECT_EQ(space().addressBits(), 39u);
    } else {
        EXPECT_EQ(core().mmu.translationControl, 0x35003500u);
        EXPECT_EQ(space().addressBits(), 32u);
    }
}

}  // namespace
