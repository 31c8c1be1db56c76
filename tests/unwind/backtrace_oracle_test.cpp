// Call stacks of whole analyzer runs against the oracles: every thread of the qemu-made dbs
// against gdb's backtrace of the same core, and Android's offline unwind cases (turned into dbs)
// against the frames Android's unwinder printed. The report is parsed and compared by the same
// code as tools/compare-backtrace.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "tests/driver/report_text.h"
#include "tests/support/run_capture.h"
#include "tests/support/temp_folder.h"
#include "tests/unwind/qemu_dbs.h"
#include "tools/fixturekit/backtrace_compare.h"
#include "tools/fixturekit/offline_case.h"

namespace {

namespace fs = std::filesystem;
using namespace fixturekit;
using testsupport::readFile;

const fs::path kData(FERROVANE_TEST_DATA_DIR);
const fs::path kCases = fs::path(FERROVANE_SHARED_DIR) / "fixtures/unwindstack-offline/cases";
constexpr std::size_t kFrameLimit = 200;

using testsupport::QemuDb;

// Runs the analyzer in a copy of `db` and returns the report.
std::string analyze(const fs::path& db, const std::string& ext) {
    testsupport::TempFolder folder;
    fs::copy(db, folder.path(), fs::copy_options::recursive);
    testsupport::WorkingFolder cwd(folder.path());
    testsupport::RunCapture run;
    run.run({"-ext", ext});
    return drivertest::readReport(folder.path() / "AnalysisReport.txt");
}

std::size_t frameCount(const std::vector<TextThread>& threads) {
    std::size_t count = 0;
    for (const TextThread& thread : threads) count += thread.frames.size();
    return count;
}

TEST(BacktraceOracle, QemuDbsAgreeWithGdbOnEveryThread) {
    if (!fs::exists(kData / "manifest.tsv")) GTEST_SKIP() << "no unpacked test data in " << kData;
    for (const QemuDb& db : testsupport::completedQemuDbs()) {
        const std::string report = analyze(kData / db.name / "db", "387");
        std::vector<TextThread> ours = parseReportThreads(report);
        std::vector<TextThread> gdb = parseGdbBacktrace(readFile(kData / db.name / "expected/gdb-bt.txt"));
        ASSERT_FALSE(ours.empty()) << db.name;  // threads with identical stacks are one block
        // An unbounded recursion stops at the frame limit; gdb goes on.
        for (TextThread& thread : gdb) {
            if (thread.frames.size() > kFrameLimit) thread.frames.resize(kFrameLimit);
        }
        if (db.name.find("recursion") != std::string::npos) {
            EXPECT_EQ(ours[0].frames.size(), kFrameLimit) << db.name;
        }
        CompareOptions options;
        options.modules = db.modules;
        options.symbolsFolder = (kData / db.name / "db/symbols").string();
        const CompareResult result = compareBacktraces(ours, gdb, true, options);
        EXPECT_EQ(result.agree, result.total) << db.name << "\n" << result.text;
        EXPECT_GE(result.total, 8) << db.name;
        std::printf("  %-36s %3d/%d frames agree with gdb (%zu printed)\n", db.name.c_str(), result.agree,
                    result.total, frameCount(ours));
    }
}

TEST(BacktraceOracle, CrashingThreadOnlyWithoutAllThreads) {
    if (!fs::exists(kData / "manifest.tsv")) GTEST_SKIP() << "no unpacked test data in " << kData;
    const std::string name = kIs64 ? "arm64-static-nullwrite" : "arm-static-arm-nullwrite";
    const std::vector<TextThread> ours = parseReportThreads(analyze(kData / name / "db", "259"));
    ASSERT_EQ(ours.size(), 1u);
    EXPECT_GE(ours[0].frames.size(), 8u);
}

// The signal-handler fixture: the restorer frame is the signal frame, named by glibc's symbol.
TEST(BacktraceOracle, SignalFrameOfTheHandlerFixture) {
    if (!fs::exists(kData / "manifest.tsv")) GTEST_SKIP() << "no unpacked test data in " << kData;
    const std::string name = kIs64 ? "arm64-static-inhandler" : "arm-static-thumb-inhandler";
    const std::string report = analyze(kData / name / "db", "259");
    const std::vector<TextThread> ours = parseReportThreads(report);
    ASSERT_EQ(ours.size(), 1u);
    std::size_t signalFrames = 0;
    for (const TextFrame& frame : ours[0].frames) signalFrames += frame.signalFrame;
    EXPECT_EQ(signalFrames, 1u) << report;
    EXPECT_NE(report.find("> "), std::string::npos) << report;
}

struct OfflineExpectation {
    std::string name;
    int frames;
};

// Every ARM/AArch64 case whose frames need neither the Java runtime nor libraries inside APKs.
std::vector<OfflineExpectation> offlineCases() {
    if (kIs64)
        return {{"bad_eh_frame_hdr_arm64", 5}, {"empty_arm64", 7}, {"straddle_arm64", 6}, {"pauth_pc_arm64", 26},
                {"load_bias_different_section_bias_arm64", 12}};
    return {{"debug_frame_load_bias_arm", 8}, {"invalid_elf_offset_arm", 1}, {"offset_arm", 19},
            {"signal_load_bias_arm", 17},     {"zlib_compress_arm", 8}};
}

TEST(BacktraceOracle, OfflineCasesAgreeWithAndroidsUnwinder) {
    if (!fs::exists(kCases)) GTEST_SKIP() << "no offline cases under " << kCases;
    for (const OfflineExpectation& expected : offlineCases()) {
        OfflineCase input;
        OfflineDb converted;
        std::string error;
        ASSERT_TRUE(readOfflineCase((kCases / expected.name).string(), input, error)) << error;
        ASSERT_TRUE(convertOfflineCase(input, {}, converted, error)) << error;
        testsupport::TempFolder db;
        ASSERT_TRUE(writeOfflineDb(converted, db.path().string(), error)) << error;
        const std::string report = analyze(db.path(), "259");
        const TextThread android = parseUnwinderOutput(readFile(kCases / expected.name / "output.txt"));
        CompareOptions options;
        options.symbolsFolder = (db.path() / "symbols").string();
        const CompareResult result = compareBacktraces(parseReportThreads(report), {android}, false, options);
        EXPECT_EQ(result.total, expected.frames) << expected.name;
        EXPECT_EQ(result.agree, result.total) << expected.name << "\n" << result.text;
        std::printf("  %-40s %2d/%d frames agree\n", expected.name.c_str(), result.agree, result.total);
    }
}

}  // namespace
