// Whole analysis runs on a small made-up db: the console lines in order, the report built from
// the coredump and the db's text files, the report's name in both languages, its line ends, the
// desktop opening, and a report that cannot be created.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "analyzer/driver/run_context.h"
#include "analyzer/process/file_state.h"
#include "analyzer/process/property_table.h"
#include "analyzer/process/register_set.h"
#include "platform/text_encoding.h"
#include "tests/driver/report_text.h"
#include "tests/process/linker_stand_in.h"
#include "tests/support/run_capture.h"
#include "tests/support/temp_folder.h"
#include "tools/corekit/core_builder.h"
#include "tools/corekit/elf_constants.h"

namespace {

namespace ck = corekit::elf;
namespace fs = std::filesystem;
using drivertest::readReport;

constexpr auto kArch = kIs64 ? corekit::CoreArch::Arm64 : corekit::CoreArch::Arm32;
constexpr std::uint64_t kCode = 0x400000, kHeap = 0x500000, kStack = 0x7ffe0000;

corekit::PrStatus thread(std::uint32_t tid, std::uint64_t sp, std::int16_t signal = 0) {
    corekit::PrStatus s;
    s.pid = tid;
    s.ppid = 77;
    s.cursig = signal;
    s.regs.assign(corekit::registerCount(kArch), 0);
    s.regs[coresift::RegisterSet::kSp] = sp;
    s.regs[coresift::RegisterSet::kPc] = kCode + 0x100;
    return s;
}

// A dynamically linked process of three threads (100 took the signal; 100 is the main thread),
// the code without bytes, a heap and a stack. Its linker has loaded no libraries yet, so the C
// library is missing.
corekit::CoreBuilder smallCore() {
    corekit::CoreBuilder core(kArch);
    core.addSegment(kCode, 0x4000, ck::PF_R | ck::PF_X);
    core.addSegment(kHeap, std::vector<std::uint8_t>(0x2000, 0), ck::PF_R | ck::PF_W);
    core.addSegment(kStack, std::vector<std::uint8_t>(0x2000, 0), ck::PF_R | ck::PF_W);
    core.addPrStatus(thread(100, kStack + 0x1800, 11));
    core.addPrStatus(thread(101, kHeap + 0x800));
    core.addPrStatus(thread(102, kHeap + 0x1800));
    corekit::PrPsInfo info;
    info.pid = 100;
    info.ppid = 77;
    info.psargs = "/system/bin/app --crash   ";
    core.addPrPsInfo(info);
    processtest::addLinkerWithoutLibraries(core);
    core.addAuxv({{ck::AT_PAGESZ, 4096}, {ck::AT_RANDOM, kStack + 0x1f00}, {ck::AT_BASE, processtest::kLinkerBase}});
    return core;
}

class AnalysisRunTest : public ::testing::Test {
protected:
    AnalysisRunTest() : cwd_(db_.path()) {
        std::string error;
        EXPECT_TRUE(smallCore().write((db_.path() / "PROCESS_COREDUMP").string(), &error)) << error;
    }
    void writeDbFiles() {
        db_.write("ZZ_INTERNAL", "NE,0,0,100,/data/aee_exp/db.00,1,,/system/bin/app,2024-05-06 07:08:09,1\n");
        db_.write("SYS_PROCESSES_AND_THREADS",
                  "USER PID TID PPID VSZ RSS NI RTPRI SCH WCHAN ADDR S NAME\n"
                  "root 77 77 1 100 20 0 0 0 do_wait 0 S zygote\n"
                  "app 100 100 77 100 20 0 0 0 0 0 R app\n"
                  "app 100 101 77 100 20 -10 0 0 futex 0 S worker\n"
                  "app 100 102 77 100 20 0 2 1 futex 0 D rt-worker\n");
        db_.write("SYS_PROPERTIES", "[ro.build.type]: [user]\n");
        db_.write("PROCESS_FILE_STATE", "lrwx------ root root 2016-01-01 10:00 3 -> /dev/null\n");
        db_.write("PROCESS_MAPS", "00500000-00502000 rw-p 00000000 00:00 0  [anon:libc_malloc]\n");
    }
    int run(const std::vector<std::string>& args) { return run_.run(args); }

    testsupport::TempFolder db_;
    testsupport::WorkingFolder cwd_;
    testsupport::RunCapture run_;
};

// The threads stand at a pc outside every region: one frame, its address only; the other two
// threads share that stack and print as one block.
// A pc outside every region: no name, so the argument words of the calling convention (all zero
// in this core) are shown by number.
const std::string kStackOutsideModules =
    std::string("   Native callstack:\n\t......  ") +
    (kIs64 ? "0x0000000000400100(Para1=0, Para2=0, Para3=0, Para4=0, Para5=0, Para6=0, Para7=0, Para8=0)"
           : "0x00400100(Para1=0, Para2=0, Para3=0, Para4=0)") +
    "\n\t== End of frame ==\n";

TEST_F(AnalysisRunTest, ReportFromTheCoreAndTheDbFiles) {
    writeDbFiles();
    EXPECT_EQ(run({"-ext", "387"}), 0);  // batch, no desktop, English, all threads
    EXPECT_EQ(run_.out(), std::string(kIs64 ? "== CoreSift64 v2.5 ==\n" : "== CoreSift v3.7 ==\n") +
                              "Loading PROCESS_COREDUMP ...\n"
                              "Init module ...\n"
                              "Error: Unwind native callstack need libc.so, plase put it to 'symbols' folder\n"
                              "Collect exception info ...\n"
                              "Output thread info ...\n"
                              "Analysis is completed\n");
    EXPECT_EQ(run_.err(), "Error: Unrecognized Android version, please contact owner to add\n");
    EXPECT_TRUE(run_.openedFiles().empty());
    EXPECT_EQ(readReport(db_.path() / "AnalysisReport.txt"),
              std::string("== Exception report v") + (kIs64 ? "2.5" : "3.7") + "(For Reference) ==\n"
              "Manual  : Quandrel On-Line> Quick Start> Explanations on NE/KE Analysis Reports> NE Analysis Report\n"
              "Detail  : Program crashed, please check code with crashed thread's callstack\n"
              "Version : ?\?/user build\n"
              "Exp time: 2024-05-06 07:08:09\n"
              "Cmd line: /system/bin/app --crash\n"
              "pid     : 100, ppid: 77 (zygote)\n"
              "\n"
              "== Thread info(total 3 threads) ==\n"
              "Current thread info:\n"
              "   Name: app, running, tid: 100 (main thread)\n" + kStackOutsideModules +
              "\n"
              "Other thread info:\n"
              "   Name: rt-worker, uninterruptable sleep, tid: 102, Priority: 2, fifo sched\n"
              "   Name: worker, interruptable sleep, tid: 101, Priority: 110, normal sched\n" + kStackOutsideModules +
              "\n"
              "\n");
    EXPECT_EQ(run_.context().console.formatMismatches(), 0u);

    // Everything the phases built is released, the cached release facts forgotten.
    coresift::RunContext& context = run_.context();
    EXPECT_EQ(context.fdTable, nullptr);
    EXPECT_EQ(context.properties, nullptr);
    EXPECT_EQ(context.platform.androidVersion, 0u);
    EXPECT_FALSE(context.platform.branch);
    for (const auto& step : context.phase1) EXPECT_EQ(step.state, 0u);
    EXPECT_EQ(context.core, nullptr);
}

TEST_F(AnalysisRunTest, WithoutDbFilesTheReportKeepsWhatTheCoreSays) {
    EXPECT_EQ(run({"-ext", "259"}), 0);
    std::string report = readReport(db_.path() / "AnalysisReport.txt");
    EXPECT_NE(report.find("Version : ?\?/??\nCmd line: /system/bin/app --crash\npid     : 100, ppid: 77\n\n"),
              std::string::npos)
        << "no exception time, build type or parent name\n" << report;
    EXPECT_NE(report.find("Current thread info:\n   tid: 100 (main thread)\n" + kStackOutsideModules + "\n\n"), std::string::npos) << report;
    EXPECT_EQ(report.find("Other thread info"), std::string::npos);
}

TEST_F(AnalysisRunTest, TheReportIsOpenedWithTheDesktopUnlessBit2) {
    EXPECT_EQ(run({"-ext", "257"}), 0);
    EXPECT_EQ(run_.openedFiles(), std::vector<std::string>{"AnalysisReport.txt"});
}

TEST_F(AnalysisRunTest, AReportThatCannotBeCreatedStopsTheAnalysis) {
    fs::create_directory(db_.path() / "AnalysisReport.txt");
    writeDbFiles();
    EXPECT_EQ(run({"-ext", "259"}), 1);
    EXPECT_EQ(run_.err(), "Error: Fail to create AnalysisReport.txt\n");
    EXPECT_EQ(run_.out().find("Init module"), std::string::npos) << run_.out();
    EXPECT_EQ(run_.context().core, nullptr) << "the teardown still runs";
}

TEST_F(AnalysisRunTest, ChineseReportNameHeadingsAndLineEnds) {
    writeDbFiles();
    EXPECT_EQ(run({"-ext", "3"}), 0);
    // The Chinese file name and texts are in the output encoding: GBK on Windows, else UTF-8;
    // Windows text files end their lines with CR LF.
    const bool windows = platform::kGbkOutput;
    std::string name = windows ? "\x5f\xb7\xd6\xce\xf6\xb1\xa8\xb8\xe6.txt" : "_\xe5\x88\x86\xe6\x9e\x90\xe6\x8a\xa5\xe5\x91\x8a.txt";
    std::string heading = windows ? "\xb5\xb1\xc7\xb0\xcf\xdf\xb3\xcc\xd0\xc5\xcf\xa2:"
                                  : "\xe5\xbd\x93\xe5\x89\x8d\xe7\xba\xbf\xe7\xa8\x8b\xe4\xbf\xa1\xe6\x81\xaf:";
    std::string eol = windows ? "\r\n" : "\n";
    EXPECT_FALSE(fs::exists(db_.path() / "AnalysisReport.txt"));
    ASSERT_TRUE(fs::exists(db_.path() / name));
    std::string raw = testsupport::readFile(db_.path() / name);
    EXPECT_NE(raw.find(eol + heading + eol + "   "), std::string::npos) << "\"current thread info\" heading";
    std::string report = readReport(db_.path() / name);
    EXPECT_NE(report.find("pid     : 100, ppid: 77 (zygote)\n\n"), std::string::npos);
}

}  // namespace
