// Splitting regions and claiming page ranges, as the module list and the heap and stack walkers
// do before they classify a range.
#include <cstring>

#include "tests/process/space_fixture.h"

namespace {

using coresift::MapEntry;
using processtest::SpaceTest;
namespace rk = coresift::region_kind;

constexpr std::uint32_t kR = rk::kRead, kW = rk::kWrite, kX = rk::kExecute;

int visitNothing(MapEntry&) { return 0; }

TEST_F(SpaceTest, SplitKeepsEveryByteAtItsAddress) {
    makeDump(4);
    ASSERT_TRUE(add(0x10000, 0x4000, kR | kW, 0));
    space().nameRegion(*space().regionAt(0x10000), "[anon:x]", rk::kOwnedName);
    auto before = read(0x10000, 0x4000);
    EXPECT_EQ(space().splitRegion(0x12000), 0);
    EXPECT_EQ(layout(), (std::vector<std::string>{"10000-12000 68", "12000-14000 68"}));
    EXPECT_EQ(space().regionAt(0x12000)->name, "[anon:x]");
    EXPECT_EQ(read(0x12000, 1)[0], dumpByte(0x2000));
    EXPECT_TRUE(read(0x11ffc, 8).empty()) << "now two regions";
    std::vector<std::uint8_t> after = read(0x10000, 0x2000);
    auto upper = read(0x12000, 0x2000);
    after.insert(after.end(), upper.begin(), upper.end());
    EXPECT_EQ(after, before);
    // Nothing to do at a region's start or outside every region; a misaligned cut is refused.
    EXPECT_EQ(space().splitRegion(0x12000), 0);
    EXPECT_EQ(space().splitRegion(0x30000), 0);
    EXPECT_EQ(space().splitRegion(0x12800), 1);
    EXPECT_EQ(space().regionCount(), 2u);
}

TEST_F(SpaceTest, SplitOfRegionsWithTheirOwnOrProviderBytes) {
    std::vector<std::uint8_t> file(0x3000);
    for (std::size_t i = 0; i < file.size(); ++i) file[i] = static_cast<std::uint8_t>(i / 0x1000 + 1);
    ASSERT_TRUE(add(0x40000, 0x3000, kR | kX));
    MapEntry& code = *space().regionAt(0x40000);
    code.kind |= rk::kModuleHead;
    code.nextModule = 0x90000;
    space().attachModule(code, nullptr, [&](coresift::Module*, TargetWord, TargetWord) { return file.data(); });
    ASSERT_EQ(read(0x40000, 1)[0], 1);
    EXPECT_EQ(space().splitRegion(0x41000), 0);
    MapEntry& upper = *space().regionAt(0x41000);
    EXPECT_EQ(read(0x41000, 1)[0], 2);
    EXPECT_EQ(read(0x42000, 1)[0], 3);
    EXPECT_FALSE(upper.kind & rk::kModuleHead) << "the module is still headed by the lower part";
    EXPECT_EQ(upper.nextModule, 0u);
    EXPECT_TRUE(code.kind & rk::kModuleHead);
}

TEST_F(SpaceTest, ClaimMergesOneDumpStretchWithoutCopying) {
    makeDump(4);
    ASSERT_TRUE(add(0x10000, 0x1000, kR | kW, 0x1000));
    ASSERT_TRUE(add(0x11000, 0x2000, kR, 0x2000));  // same stretch, read-only
    std::vector<std::string> seen;
    EXPECT_EQ(space().claimRange(0x10000, 0x13000, [&](MapEntry& region) {
        EXPECT_EQ(region.references, 1u);
        seen.push_back(std::to_string(region.start) + "-" + std::to_string(region.end));
        return 0;
    }), 0);
    EXPECT_EQ(seen, (std::vector<std::string>{std::to_string(0x10000) + "-" + std::to_string(0x13000)}));
    MapEntry& merged = *space().regionAt(0x12fff);
    EXPECT_EQ(merged.kind, kR | kW) << "writable when any part was";
    EXPECT_TRUE(merged.inDump);
    EXPECT_EQ(merged.dumpOffset, 0x1000u);
    EXPECT_EQ(space().regionBytes(merged, 0x12000, 4), dump_.data() + 0x3000);
    EXPECT_EQ(space().regionCount(), 1u);
}

TEST_F(SpaceTest, ClaimCopiesScatteredBytesIntoOneRegionInAddressOrder) {
    makeDump(4);
    ASSERT_TRUE(add(0x10000, 0x1000, kR | kW, 0x3000));
    ASSERT_TRUE(add(0x11000, 0x1000, kR | kW));  // zeros
    ASSERT_TRUE(add(0x12000, 0x1000, kR | kW, 0x1000));
    EXPECT_EQ(space().claimRange(0x10000, 0x13000, visitNothing), 0);
    ASSERT_EQ(space().regionCount(), 1u);
    MapEntry& merged = *space().regionAt(0x10000);
    EXPECT_EQ(merged.kind, kR | kW | rk::kNotInDump);
    EXPECT_FALSE(merged.inDump);
    EXPECT_EQ(read(0x10000, 1)[0], dumpByte(0x3000));
    EXPECT_EQ(read(0x11000, 4), std::vector<std::uint8_t>(4, 0));
    EXPECT_EQ(read(0x12ffc, 4)[3], dumpByte(0x1fff));
    EXPECT_EQ(read(0x10ffc, 8).size(), 8u) << "reads now cross the old boundaries";
}

TEST_F(SpaceTest, ClaimSplitsAtTheRangeAndKeepsIncompatibleStretchesApart) {
    makeDump(8);
    ASSERT_TRUE(add(0x10000, 0x3000, kR | kW, 0));
    ASSERT_TRUE(add(0x13000, 0x1000, kR | kX, 0x3000));  // executable: its own stretch
    ASSERT_TRUE(add(0x14000, 0x3000, kR | kW, 0x4000));
    std::vector<TargetWord> starts;
    int r = space().claimRange(0x11800, 0x15001, [&](MapEntry& region) {
        starts.push_back(region.start);
        return 0;
    });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(starts, (std::vector<TargetWord>{0x11000, 0x13000, 0x14000}));
    EXPECT_EQ(layout(), (std::vector<std::string>{"10000-11000 60", "11000-13000 60", "13000-14000 50",
                                                  "14000-16000 60", "16000-17000 60"}));
    EXPECT_EQ(read(0x16000, 1)[0], dumpByte(0x6000));
}

TEST_F(SpaceTest, ClaimStopsOnTheVisitorsResult) {
    for (TargetWord start : {0x10000u, 0x11000u, 0x12000u}) ASSERT_TRUE(add(start, 0x1000, (start == 0x11000 ? kX : 0) | kR));
    int visits = 0;
    EXPECT_EQ(space().claimRange(0x10000, 0x13000, [&](MapEntry&) { return ++visits == 2 ? 5 : 0; }), 5);
    EXPECT_EQ(visits, 2);
}

TEST_F(SpaceTest, ClaimRefusesRangesItCannotTake) {
    makeDump(4);
    ASSERT_TRUE(add(0x10000, 0x2000, kR | kW, 0));
    ASSERT_TRUE(add(0x12000, 0x1000, kR | kW, 0x2000));
    ASSERT_TRUE(add(0x20000, 0x1000, kR | kX));
    auto unchanged = layout();
    EXPECT_EQ(space().claimRange(0x0f000, 0x11000, visitNothing), 1) << "first page unmapped";
    EXPECT_EQ(space().claimRange(0x12000, 0x14000, visitNothing), 1) << "last page unmapped";
    EXPECT_EQ(space().claimRange(0x12000, 0x12000, visitNothing), 1) << "empty";
    {
        auto held = space().findRegion(0x10000);
        EXPECT_EQ(space().claimRange(0x11000, 0x13000, visitNothing), 1) << "would cut a held region";
    }
    EXPECT_EQ(layout(), unchanged);
    space().regionAt(0x12000)->kind |= rk::kModuleHead;
    EXPECT_EQ(space().claimRange(0x10000, 0x13000, visitNothing), 1) << "a module head inside";
    EXPECT_EQ(space().regionCount(), 3u);
}

TEST_F(SpaceTest, ClaimLeavesHeldRegionsAndGapsUnmerged) {
    makeDump(4);
    ASSERT_TRUE(add(0x10000, 0x1000, kR | kW, 0));
    ASSERT_TRUE(add(0x11000, 0x1000, kR | kW, 0x1000));
    ASSERT_TRUE(add(0x13000, 0x1000, kR | kW, 0x3000));  // after a gap
    {
        auto held = space().findRegion(0x11000);
        EXPECT_EQ(space().claimRange(0x10000, 0x14000, visitNothing), 0);
        EXPECT_EQ(space().regionCount(), 3u) << "a held region is neither absorbed nor absorbing";
    }
    EXPECT_EQ(space().claimRange(0x10000, 0x14000, visitNothing), 0);
    EXPECT_EQ(layout(), (std::vector<std::string>{"10000-12000 60", "13000-14000 60"}));
    EXPECT_EQ(read(0x13000, 1)[0], dumpByte(0x3000)) << "bytes after the gap stay at their address";
}

}  // namespace
