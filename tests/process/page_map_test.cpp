// Page information for an address: the page-flags summary when it lists the page, else the raw
// page map, and how an entry is printed.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "analyzer/process/page_map.h"
#include "tests/process/process_fixture.h"
#include "tests/support/temp_folder.h"

namespace {

using coresift::pageMapEntryText;

constexpr std::uint64_t kPresent = std::uint64_t{1} << 63;
constexpr std::uint64_t kSwapped = std::uint64_t{1} << 62;
constexpr std::uint64_t kSoftDirty = std::uint64_t{1} << 55;

TEST(PageMap, EntriesPrintFrameSwapOrNothing) {
    EXPECT_EQ(pageMapEntryText(kPresent | 0x12345, 12), "PA: 0x12345000")
        << "the frame number followed by three zero digits";
    EXPECT_EQ(pageMapEntryText(kPresent | kSoftDirty | 0x12345, 12), "PA: 0x12345000") << "flag bits never show";
    EXPECT_EQ(pageMapEntryText(kSwapped | (0x123u << 5) | 3, 12), "SWAP: type: 3, off: 123000");
    EXPECT_EQ(pageMapEntryText(kPresent | kSwapped | 1, 12), "PA: 0x1000");
    EXPECT_EQ(pageMapEntryText(0x12345, 12), "PA: N/A");
    if (kIs64) {
        EXPECT_EQ(pageMapEntryText(kPresent | 0x5, 16), "PA: 0x50000");
        EXPECT_EQ(pageMapEntryText(kSwapped | (0x7u << 5), 14), "SWAP: type: 0, off: 1C000");
    }
}

class PageInfoTest : public processtest::ProcessTest {
protected:
    PageInfoTest() : cwd_(folder_.path()) { core().pid = 538; }

    // A raw page map whose entry for the page at `address` is `entry` (the rest zero).
    void writeRawMap(std::uint64_t address, std::uint64_t entry) {
        std::string bytes(static_cast<std::size_t>((address >> 12) + 1) * 8, '\0');
        for (int i = 0; i < 8; ++i) bytes[static_cast<std::size_t>((address >> 12) * 8 + i)] = static_cast<char>(entry >> (8 * i));
        folder_.write("PROCESS_PAGEMAP", bytes);
    }

    testsupport::TempFolder folder_;
    testsupport::WorkingFolder cwd_;
};

TEST_F(PageInfoTest, TheSummaryComesFirstThenTheRawMap) {
    EXPECT_EQ(coresift::pageInfo(context(), 0x400abc), "PA: N/A\n") << "neither file";
    folder_.write("PROCESS_PAGEMAP.SUMMARY_KPAGEFLAGS-538",
                  "header line\n"
                  "[      400000] : 8000000000012345,801\n"
                  "[      402000] : not-a-number\n"
                  "[      403000] : 8000000000000001,0\n");
    writeRawMap(0x402000, kSwapped | (0x10u << 5) | 2);
    EXPECT_EQ(coresift::pageInfo(context(), 0x400abc), "PA: 0x12345000, LOCKED MMAP\n");
    EXPECT_EQ(coresift::pageInfo(context(), 0x403000), "PA: 0x1000\n") << "no flags, no comma";
    EXPECT_EQ(coresift::pageInfo(context(), 0x402010), "SWAP: type: 2, off: 10000\n")
        << "a listed line that does not scan falls through to the raw map";
    EXPECT_EQ(coresift::pageInfo(context(), 0x401000), "PA: N/A\n") << "a zero raw entry";
    EXPECT_EQ(coresift::pageInfo(context(), 0x7ff000), "PA: N/A\n") << "past the raw map's end";
    EXPECT_EQ(err(), "");
}

TEST_F(PageInfoTest, EveryFlagNameInBitOrder) {
    folder_.write("PROCESS_PAGEMAP.SUMMARY_KPAGEFLAGS-538", "[        1000] : 8000000000000002,3ffffff\n");
    EXPECT_EQ(coresift::pageInfo(context(), 0x1000),
              "PA: 0x2000, LOCKED ERROR REFERENCED UPTODATE DIRTY LRU ACTIVE SLAB WRITEBACK RECLAIM BUDDY MMAP ANON "
              "SWAPCACHE SWAPBACKED COMPOUND_HEAD COMPOUND_TAIL HUGE UNEVICTABLE HWPOISON NOPAGE KSM THP BALLOON "
              "ZERO_PAGE IDLE\n");
}

TEST_F(PageInfoTest, SixteenKiBPagesKeyTheSummaryByTheirPage) {
    if (!kIs64) GTEST_SKIP() << "32-bit dumps have 4 KiB pages";
    core().pageSize = 16384;
    folder_.write("PROCESS_PAGEMAP.SUMMARY_KPAGEFLAGS-538", "[      404000] : 8000000000000003,0\n");
    EXPECT_EQ(coresift::pageInfo(context(), 0x407ff8), "PA: 0xC000\n");
    writeRawMap(0x40b000, kPresent | 1);
    EXPECT_EQ(coresift::pageInfo(context(), 0x40b000), "PA: 0x4000\n") << "the raw map is indexed by 4 KiB pages";
}

}  // namespace
