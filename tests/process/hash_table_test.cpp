// The open-addressing table whose slot order is the order of "all threads" in the report.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "analyzer/process/hash_table.h"

namespace {

using coresift::HashTable;

struct Item {
    std::uint32_t key;
    int tag;
};

bool any(const Item&) { return true; }

std::vector<std::uint32_t> keysInSlotOrder(const HashTable<Item>& table) {
    std::vector<std::uint32_t> keys;
    table.forEach([&](const Item& item) {
        keys.push_back(item.key);
        return 0;
    });
    return keys;
}

HashTable<Item>::Inserted put(HashTable<Item>& table, std::uint32_t key, int tag = 0) {
    return table.insert(key, std::make_unique<Item>(Item{key, tag}), any);
}

TEST(HashTable, SlotCountIsRoundedUpToAPowerOfTwo) {
    EXPECT_EQ(HashTable<Item>(128).slotCount(), 128u);
    EXPECT_EQ(HashTable<Item>(100).slotCount(), 128u);
    EXPECT_EQ(HashTable<Item>(0).slotCount(), 1u);
    EXPECT_EQ(HashTable<Item>(3).slotCount(), 4u);
}

TEST(HashTable, WalkVisitsHomeSlotsThenProbedSlotsInSlotOrder) {
    HashTable<Item> table(16);
    // Homes: 5 -> 5, 21 -> 5 (probes to 6), 6 -> 6 (probes to 7), 15 -> 15, 31 -> 15 (wraps to 0).
    for (std::uint32_t key : {5u, 21u, 6u, 15u, 31u}) put(table, key);
    EXPECT_EQ(keysInSlotOrder(table), (std::vector<std::uint32_t>{31, 5, 21, 6, 15}));
    EXPECT_EQ(table.find(31, any)->key, 31u);
    EXPECT_EQ(table.find(6, any)->key, 6u);
    EXPECT_EQ(table.find(22, any), nullptr);
}

TEST(HashTable, DoublesAtThreeQuartersAndReinsertsInOldSlotOrder) {
    HashTable<Item> table(4);
    put(table, 3);
    put(table, 7);  // home 3, wraps to slot 0
    EXPECT_EQ(table.slotCount(), 4u);
    EXPECT_EQ(keysInSlotOrder(table), (std::vector<std::uint32_t>{7, 3}));
    put(table, 1);  // 3 of 4 slots: grows to 8
    EXPECT_EQ(table.slotCount(), 8u);
    // Re-inserted in old slot order 7, 1, 3: 7 -> 7, 1 -> 1, 3 -> 3.
    EXPECT_EQ(keysInSlotOrder(table), (std::vector<std::uint32_t>{1, 3, 7}));
    EXPECT_EQ(table.size(), 3u);
}

TEST(HashTable, GrowthOrderDependsOnOldSlotsNotOnInsertionOrder) {
    // 9 and 1 share home 1 of 8 slots; after doubling to 16 they have distinct homes but 17
    // (home 1 of 16) was placed before 9 only if it came first in the old slot order.
    HashTable<Item> table(8);
    for (std::uint32_t key : {9u, 1u, 17u, 2u, 3u}) put(table, key);
    EXPECT_EQ(table.slotCount(), 8u);
    EXPECT_EQ(keysInSlotOrder(table), (std::vector<std::uint32_t>{9, 1, 17, 2, 3}));
    put(table, 4);  // 6 of 8: doubles
    EXPECT_EQ(table.slotCount(), 16u);
    // Old order: slot1 9, slot2 1, slot3 17, slot4 2, slot5 3, slot6 4 ->
    // 9 -> 9, 1 -> 1, 17 -> 1 taken -> 2, 2 -> 2 taken -> 3, 3 -> 4, 4 -> 5.
    EXPECT_EQ(keysInSlotOrder(table), (std::vector<std::uint32_t>{1, 17, 2, 3, 4, 9}));
}

TEST(HashTable, AMatchingValueIsReturnedInsteadOfInserting) {
    HashTable<Item> table(8);
    auto first = put(table, 4, 1);
    ASSERT_TRUE(first.isNew);
    auto again = put(table, 4, 2);
    EXPECT_FALSE(again.isNew);
    EXPECT_EQ(again.value, first.value);
    EXPECT_EQ(again.value->tag, 1);
    EXPECT_EQ(table.size(), 1u);

    // With a match callback that tells values apart, equal keys coexist (thread groups).
    auto sameTag = [](int tag) { return [tag](const Item& item) { return item.tag == tag; }; };
    auto other = table.insert(4, std::make_unique<Item>(Item{4, 7}), sameTag(7));
    EXPECT_TRUE(other.isNew);
    EXPECT_EQ(table.size(), 2u);
    EXPECT_EQ(table.find(4, sameTag(7))->tag, 7);
    EXPECT_EQ(table.find(4, sameTag(1))->tag, 1);
    EXPECT_EQ(table.find(4, sameTag(3)), nullptr);
}

TEST(HashTable, WalkStopsAtTheFirstNonZeroResult) {
    HashTable<Item> table(8);
    for (std::uint32_t key : {1u, 2u, 3u}) put(table, key);
    int visited = 0;
    int result = table.forEach([&](const Item& item) {
        ++visited;
        return item.key == 2 ? 9 : 0;
    });
    EXPECT_EQ(result, 9);
    EXPECT_EQ(visited, 2);
}

TEST(HashTable, ManyKeysStayFindableAcrossGrowths) {
    HashTable<Item> table(128);
    for (std::uint32_t key = 0; key < 5000; ++key) put(table, key * 2654435761u);
    EXPECT_EQ(table.size(), 5000u);
    EXPECT_EQ(table.slotCount(), 8192u);
    for (std::uint32_t key = 0; key < 5000; ++key) ASSERT_NE(table.find(key * 2654435761u, any), nullptr);
}

}  // namespace
