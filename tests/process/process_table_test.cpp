// The process and thread listing: which header lines are recognised, how rows fill the threads
// and the process record, and what is left alone.
#include <gtest/gtest.h>

#include <string>

#include "analyzer/process/process_table.h"
#include "tests/process/process_fixture.h"

namespace {

using coresift::ThreadRecord;

class ProcessTableTest : public processtest::ProcessTest {
protected:
    ProcessTableTest() {
        core().pid = 538;
        core().ppid = 31686;
        addThreads({538, 540, 541});
    }
    void read(const std::string& text) { coresift::readProcessTable(context(), text); }
};

const std::string kHeader = "USER           PID   TID  PPID     VSZ    RSS NI RTPRI SCH  WCHAN            ADDR S NAME\n";

TEST_F(ProcessTableTest, RowsNameTheThreadsAndTheProcess) {
    read(kHeader +
         "root         31686 31686     1   10868   3652  0     0   0  do_wait             0 S sh\n"
         "media          538   538 31686  132976   1992  0     0   0  0                   0 R crashfix\n"
         "media          538   540 31686  132976   1992 -10    0   0  futex_wait_queue    0 S fx-queue\n"
         "media          538   541 31686  132976   1992  5    99   1  pipe_read           0 D binder thread\n"
         "media          538   999 31686  132976   1992  0     0   0  pipe_read           0 S not-in-dump\n"
         "other          777   541 31686  132976   1992  0     0   0  pipe_read           0 S other-process\n");
    EXPECT_EQ(core().parentName, "sh");
    EXPECT_EQ(core().processUser, "media");
    EXPECT_EQ(core().residentSize, 1992u);

    ThreadRecord& main = thread(538);
    EXPECT_EQ(main.name, "crashfix");
    EXPECT_EQ(main.state, 0u);
    EXPECT_EQ(main.priority, 120u);
    EXPECT_EQ(main.policy, 0u);
    ThreadRecord& queue = thread(540);
    EXPECT_EQ(queue.state, 1u);
    EXPECT_EQ(queue.priority, 110u) << "real-time priority 0 and nice -10";
    ThreadRecord& binder = thread(541);
    EXPECT_EQ(binder.name, "binder") << "names are cut at their first blank; rows of other processes are skipped";
    EXPECT_EQ(binder.state, 2u);
    EXPECT_EQ(binder.priority, 99u) << "a real-time priority wins over nice";
    EXPECT_EQ(binder.policy, 1u);
    EXPECT_EQ(err(), "");
}

TEST_F(ProcessTableTest, OldListingsSwapPidAndPpidAndPrintAProgramCounter) {
    // "PID PPID": the PID column holds the thread id, the PPID column the process id; the "PC"
    // column holds a program counter followed by the state letter.
    read("USER PID PPID VSIZE RSS RTPRI NI SCH WCHAN PC NAME\n"
         "media 540 538 1000 77 0 -5 3 futex_wait 00000000 S queue\n"
         "media 541 538 1000 77 0 0 9 pipe_read 0000abcd\n");
    ThreadRecord& queue = thread(540);
    EXPECT_EQ(queue.name, "queue");
    EXPECT_EQ(queue.state, 1u) << "the state letter after the program counter";
    EXPECT_EQ(queue.priority, 115u);
    EXPECT_EQ(queue.policy, 3u);
    ThreadRecord& poller = thread(541);
    EXPECT_EQ(poller.state, 10u) << "no letter after the program counter";
    EXPECT_EQ(poller.policy, 6u) << "policies above 6 are unknown";
    EXPECT_EQ(poller.name, "");
    EXPECT_EQ(err(), "");
}

TEST_F(ProcessTableTest, HeadersNeedExactlyNineKnownNamesOnTheFirstOrSecondLine) {
    const std::string row = "root 538 538 31686 1 2 0 0 0 w 0 S named\n";
    // Both "S" and "PC" besides the seven others: ten names.
    read("USER PID TID PPID VSZ RSS NI RTPRI SCH PC S NAME\n" + row);
    EXPECT_EQ(err(), "Warning: Fail to recognize format of file 'SYS_PROCESSES_AND_THREADS'\n");
    EXPECT_EQ(thread(538).name, "");

    read("some preamble\nsecond preamble\n" + kHeader + row);
    EXPECT_EQ(thread(538).name, "") << "a header on the third line is too late";

    read("one line only");
    read("");
    read("first line\n" + kHeader + row);
    EXPECT_EQ(thread(538).name, "named") << "the header may be the second line";
    std::string warning = "Warning: Fail to recognize format of file 'SYS_PROCESSES_AND_THREADS'\n";
    EXPECT_EQ(err(), warning + warning + warning) << "the empty listing is ignored silently";
}

TEST_F(ProcessTableTest, StateLettersAndRowEnds) {
    const char* letters = "RSDTtZXxKW?";
    for (unsigned i = 0; letters[i]; ++i) EXPECT_EQ(coresift::threadStateOf(letters[i]), i) << letters[i];
    EXPECT_EQ(coresift::threadStateOf('\0'), 10u);

    // A short row ends at its first empty field: its columns keep their defaults.
    read(kHeader + "root 538 540\n");
    EXPECT_EQ(thread(540).state, 10u);
    EXPECT_EQ(thread(540).priority, 120u);
    EXPECT_EQ(thread(540).policy, 6u);
}

}  // namespace
