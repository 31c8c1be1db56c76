// The thread table: tids in slot order, duplicates refused, the Java data released at teardown,
// and the setters' clamping.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "analyzer/process/thread_table.h"

namespace {

using coresift::ThreadRecord;
using coresift::ThreadTable;

std::unique_ptr<ThreadRecord> thread(std::uint32_t tid) {
    auto record = std::make_unique<ThreadRecord>();
    record->tid = tid;
    return record;
}

TEST(ThreadTable, WalksInSlotOrderOfTidAndRefusesDuplicates) {
    ThreadTable table;
    EXPECT_EQ(table.slotCount(), 128u);
    for (std::uint32_t tid : {1000u, 1001u, 872u, 129u, 1u}) {
        ASSERT_EQ(table.add(thread(tid)), ThreadTable::AddResult::Added);
    }
    // Homes in 128 slots: 1000 -> 104, 1001 -> 105, 872 -> 104 (probes to 106), 129 -> 1, 1 -> 1 (2).
    std::vector<std::uint32_t> order;
    table.forEach([&](ThreadRecord& t) {
        order.push_back(t.tid);
        return 0;
    });
    EXPECT_EQ(order, (std::vector<std::uint32_t>{129, 1, 1000, 1001, 872}));

    EXPECT_EQ(table.add(thread(872)), ThreadTable::AddResult::DuplicateTid);
    EXPECT_EQ(table.count(), 5u);
    ASSERT_NE(table.find(872), nullptr);
    EXPECT_EQ(table.find(872)->tid, 872u);
    EXPECT_EQ(table.find(873), nullptr);
}

TEST(ThreadTable, ReleasesJavaDataThroughTheHookOnce) {
    std::vector<const void*> released;
    int marker[2];
    {
        ThreadTable table;
        table.setJavaRelease([&](coresift::JavaThreadData* data) { released.push_back(data); });
        ThreadRecord* stored = nullptr;
        ASSERT_EQ(table.add(thread(7), &stored), ThreadTable::AddResult::Added);
        stored->javaData = reinterpret_cast<coresift::JavaThreadData*>(&marker[0]);
        table.add(thread(8));
    }
    ASSERT_EQ(released.size(), 1u);
    EXPECT_EQ(released[0], &marker[0]);
}

TEST(ThreadRecord, DefaultsAndClampingSetters) {
    ThreadRecord record;
    EXPECT_EQ(record.priority, 120u);
    EXPECT_EQ(record.policy, 6u);
    EXPECT_EQ(record.state, 10u);
    record.setState(3);
    EXPECT_EQ(record.state, 3u);
    record.setState(11);
    EXPECT_EQ(record.state, 10u);
    record.setPolicy(7);
    EXPECT_EQ(record.policy, 6u);
    record.setFlags(coresift::thread_flag::kPrinted | coresift::thread_flag::kMain | coresift::thread_flag::kFirst);
    EXPECT_EQ(record.flags, coresift::thread_flag::kPrinted);
}

}  // namespace
