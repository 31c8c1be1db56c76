// The kernel and Android log tables: which lines are kept, and which file the phase-1 steps read.
#include <gtest/gtest.h>

#include "analyzer/driver/run_context.h"
#include "analyzer/logs/log_tables.h"
#include "tests/support/run_capture.h"
#include "tests/support/temp_folder.h"

namespace {

using coresift::LineTable;

std::vector<std::string> keptLines(const LineTable& table) {
    std::vector<std::string> lines;
    table.forEach([&](std::string_view line) {
        lines.emplace_back(line);
        return 0;
    });
    return lines;
}

TEST(LogTables, KernelLinesStartWithALevelAndAreLongerThanNineteen) {
    LineTable table(LineTable::Kind::Kernel);
    static constexpr char kText[] =
               "<6>[    1.000000] the first line is a fragment of a longer capture\n"
               "<6>[    2.000000] kept\n"
               "<6>[    3.000000] x\n"      // 19 characters: too short
               "<6>[    4.000000] xy\n"     // 20 characters
               " <6>[    5.000000] does not start with the level\n"
               "<3>[    6.000000] carriage return dropped\r\n"
               "<3>[    7.000000] cut at a NUL\0hidden\n"
               "<3>[    8.000000] no final newline";
    table.load(std::string_view(kText, sizeof kText - 1));
    EXPECT_EQ(keptLines(table), (std::vector<std::string>{"<6>[    2.000000] kept", "<6>[    4.000000] xy",
                                                          "<3>[    6.000000] carriage return dropped",
                                                          "<3>[    7.000000] cut at a NUL",
                                                          "<3>[    8.000000] no final newline"}));
    table.load("<6>[    1.000000] only one line and no newline at all");
    EXPECT_TRUE(table.empty());
}

TEST(LogTables, AndroidLinesStartWithADigitAndAreLongerThanEighteen) {
    LineTable table(LineTable::Kind::Android);
    table.load(std::string("--------- beginning of main\n"
                           "01-02 03:04:05.678  1234  1240 E tag: text\n"
                           "01-02 03:04:05.67\n"          // 17 characters
                           "01-02 03:04:05.678\n"         // 18 characters: too short
                           "01-02 03:04:05.6789\n"        // 19 characters
                           "--------- beginning of crash\n"));
    EXPECT_EQ(keptLines(table), (std::vector<std::string>{"01-02 03:04:05.678  1234  1240 E tag: text",
                                                          "01-02 03:04:05.6789"}));
    int visits = 0;
    EXPECT_EQ(table.forEach([&](std::string_view) { return ++visits == 1 ? 7 : 0; }), 7);
    EXPECT_EQ(visits, 1);
}

class LogFilesTest : public ::testing::Test {
protected:
    void write(const std::string& name, const std::string& text) { folder_.write(name, text); }
    void runSteps() {
        testsupport::WorkingFolder inside(folder_.path());
        coresift::initKernelLog(run_.context());
        coresift::initAndroidLog(run_.context());
    }
    std::vector<std::string> lines(bool kernel) {
        std::vector<std::string> out;
        auto visit = [&](std::string_view line) {
            out.emplace_back(line);
            return 0;
        };
        if (kernel) coresift::forEachKernelLine(run_.context(), visit);
        else coresift::forEachAndroidLine(run_.context(), visit);
        return out;
    }
    testsupport::TempFolder folder_;
    testsupport::RunCapture run_;
};

TEST_F(LogFilesTest, TheFullAndroidCaptureIsPreferred) {
    write("SYS_ANRDOID_LOG_ALL", "x\n01-01 00:00:00.000   10   10 I all: from the full capture\n");
    write("SYS_ANDROID_LOG", "x\n01-01 00:00:00.000   10   10 I main: from the main log\n");
    write("SYS_KERNEL_LOG", "x\n<6>[    1.000000] (0)[1:init]kernel\n");
    runSteps();
    EXPECT_EQ(lines(false), (std::vector<std::string>{"01-01 00:00:00.000   10   10 I all: from the full capture"}));
    EXPECT_EQ(lines(true), (std::vector<std::string>{"<6>[    1.000000] (0)[1:init]kernel"}));
    coresift::cleanupAndroidLog(run_.context());
    coresift::cleanupKernelLog(run_.context());
    EXPECT_EQ(run_.context().logs, nullptr);
    EXPECT_TRUE(lines(true).empty());
}

TEST_F(LogFilesTest, MainLogWhenThereIsNoFullCaptureAndSilenceWithoutFiles) {
    write("SYS_ANDROID_LOG", "x\n01-01 00:00:00.000   10   10 I main: from the main log\n");
    runSteps();
    EXPECT_EQ(lines(false), (std::vector<std::string>{"01-01 00:00:00.000   10   10 I main: from the main log"}));
    EXPECT_TRUE(lines(true).empty());
    EXPECT_EQ(run_.out() + run_.err(), "");
}

}  // namespace
