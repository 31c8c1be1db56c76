// The report's thread section: the current thread, the other threads with -t, their header
// lines, and grouping by identical call stacks (with stacks from a stand-in unwinder).
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "analyzer/driver/options.h"
#include "analyzer/driver/report_writer.h"
#include "analyzer/process/thread_report.h"
#include "analyzer/process/thread_stacks.h"
#include "tests/process/process_fixture.h"

namespace {

using coresift::ReportWriter;
using coresift::StackAddresses;
using coresift::ThreadRecord;

class FakeStacks final : public coresift::ThreadStacks {
public:
    std::map<std::uint32_t, StackAddresses> stacks;
    StackAddresses addresses(ThreadRecord& thread) override { return stacks[thread.tid]; }
    void writeStacks(ReportWriter& report, ThreadRecord& thread) override {
        report.print("   <stack of %d>\n", thread.tid);
    }
};

class ThreadReportTest : public processtest::ProcessTest {
protected:
    std::string section() {
        ReportWriter report(context().catalog);
        coresift::writeThreadInfo(context(), report);
        EXPECT_EQ(report.formatMismatches(), 0u);
        return report.collected();
    }
    std::string header(const ThreadRecord& thread) {
        ReportWriter report(context().catalog);
        coresift::writeThreadHeader(report, thread);
        return report.collected();
    }
    FakeStacks& fakeStacks() {
        auto stacks = std::make_unique<FakeStacks>();
        FakeStacks& ref = *stacks;
        context().stacks = std::move(stacks);
        return ref;
    }
};

TEST_F(ThreadReportTest, HeaderLinesLeaveOutWhatIsUnknown) {
    addThreads({7});
    ThreadRecord& t = thread(7);
    EXPECT_EQ(header(t), "   tid: 7\n") << "no name, state 10, priority 120";
    t.name = "binder:1";
    t.state = 1;
    t.priority = 110;
    t.policy = 0;
    t.flags |= coresift::thread_flag::kMain;
    EXPECT_EQ(header(t), "   Name: binder:1, interruptable sleep, tid: 7, Priority: 110, normal sched (main thread)\n");
    t.priority = 120;
    t.state = 9;
    EXPECT_EQ(header(t), "   Name: binder:1, warking up, tid: 7 (main thread)\n");
    t.priority = 1;
    t.policy = 6;
    t.state = 10;
    EXPECT_EQ(header(t), "   Name: binder:1, tid: 7, Priority: 1, unknown sched (main thread)\n");
}

TEST_F(ThreadReportTest, WithoutAllThreadsOnlyTheCurrentThread) {
    addThreads({100, 101, 102});
    thread(100).flags |= coresift::thread_flag::kMain;
    EXPECT_EQ(section(), "== Thread info(total 3 threads) ==\n"
                         "Current thread info:\n"
                         "   tid: 100 (main thread)\n"
                         "\n"
                         "\n");
    EXPECT_EQ(out(), "Output thread info ...\n");
    EXPECT_TRUE(thread(100).flags & coresift::thread_flag::kPrinted);
}

TEST_F(ThreadReportTest, AllThreadsWithoutUnwoundStacksPrintEachThreadInTableOrder) {
    context().options.word |= coresift::opt::kAllThreads;
    addThreads({300, 20, 77});  // slot order: 20, 300 (home 44), 77
    EXPECT_EQ(section(), "== Thread info(total 3 threads) ==\n"
                         "Current thread info:\n"
                         "   tid: 300\n"
                         "\n"
                         "Other thread info:\n"
                         "   tid: 20\n"
                         "\n"
                         "   tid: 77\n"
                         "\n"
                         "\n");
}

TEST_F(ThreadReportTest, ASingleThreadHasNoOtherThreadsHeading) {
    context().options.word |= coresift::opt::kAllThreads;
    addThreads({5});
    fakeStacks().stacks[5] = {{0x1000}, {}};
    EXPECT_EQ(section(), "== Thread info(total 1 threads) ==\nCurrent thread info:\n   tid: 5\n   <stack of 5>\n\n\n");
}

TEST_F(ThreadReportTest, ThreadsWithTheSameStackArePrintedOnceNewestFirst) {
    context().options.word |= coresift::opt::kAllThreads;
    addThreads({100, 101, 102, 103, 104});
    FakeStacks& fake = fakeStacks();
    fake.stacks[100] = {{0x104}, {}};  // the current thread is never grouped
    fake.stacks[101] = {{0x104}, {}};  // hash 0x41: slot 1 of the 8-slot grouping table
    fake.stacks[102] = {{0x100}, {}};  // hash 0x40: slot 0
    fake.stacks[103] = {{0x104}, {}};  // joins 101's group
    fake.stacks[104] = {};             // no native frame: left out
    EXPECT_EQ(section(), "== Thread info(total 5 threads) ==\n"
                         "Current thread info:\n"
                         "   tid: 100\n"
                         "   <stack of 100>\n"
                         "\n"
                         "Other thread info:\n"
                         "   tid: 102\n"
                         "   <stack of 102>\n"
                         "\n"
                         "   tid: 103\n"
                         "   tid: 101\n"
                         "   <stack of 101>\n"
                         "\n"
                         "\n");
    EXPECT_FALSE(thread(104).flags & coresift::thread_flag::kPrinted);
}

TEST_F(ThreadReportTest, GroupsCompareFramesNotJustHashes) {
    context().options.word |= coresift::opt::kAllThreads;
    addThreads({1, 2, 3, 4});
    FakeStacks& fake = fakeStacks();
    fake.stacks[1] = {{0x10}, {}};
    // Three stacks of two frames whose hashes are all 0x441 (h = h * 33 + (address >> 2)).
    fake.stacks[2] = {{0x84, 0x0}, {}};
    fake.stacks[3] = {{0x0, 0x1104}, {}};
    fake.stacks[4] = {{0x84}, {0x0}};  // the addresses of 2, split between native and Java frames
    std::string text = section();
    EXPECT_NE(text.find("   tid: 2\n   <stack of 2>\n"), std::string::npos) << text;
    EXPECT_NE(text.find("   tid: 3\n   <stack of 3>\n"), std::string::npos) << text;
    EXPECT_NE(text.find("   tid: 4\n   <stack of 4>\n"), std::string::npos)
        << "equal hashes and frame counts, but different frames" << text;
}

}  // namespace
