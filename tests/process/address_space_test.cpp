// The address space: regions from load segments, look-up by address, reads bounded by their
// region, naming, the listing line, dumps that hold only part of a segment, tagged pointers.
#include <cstring>

#include "tests/process/space_fixture.h"

namespace {

using coresift::AddressSpace;
using coresift::DumpRange;
using coresift::MapEntry;
using processtest::SpaceTest;
namespace rk = coresift::region_kind;

constexpr std::uint32_t kR = rk::kRead, kW = rk::kWrite, kX = rk::kExecute;

TEST_F(SpaceTest, RegionAcrossTwoMiBBoundariesAnswersForEveryPageAndNoneAtItsEnd) {
    // One page after a 2 MiB boundary to five pages after the next-but-one boundary: partial
    // spans at both ends, one fully covered 2 MiB span in between.
    const TargetWord start = 0x40001000, end = 0x40405000;
    ASSERT_TRUE(add(start, end - start, kR | kW));
    for (TargetWord inside : {start, TargetWord{0x40300000}, TargetWord{end - 1}}) {
        auto region = space().findRegion(inside);
        ASSERT_TRUE(region) << std::hex << inside;
        EXPECT_EQ(region->start, start);
        EXPECT_EQ(region->end, end);
    }
    EXPECT_FALSE(space().findRegion(end));
    EXPECT_FALSE(space().findRegion(start - 1));
    EXPECT_FALSE(space().findRegion(0x40000000));
}

TEST_F(SpaceTest, IndexLayoutOfTheThirtyTwoBitBuild) {
    coresift::RegionIndex index(32, 12);
    ASSERT_EQ(index.levels(), 2u);
    EXPECT_EQ(index.levelBits(0), 11u);  // 2048 top slots: address >> 21
    EXPECT_EQ(index.levelBits(1), 9u);   // 512 second-level entries
    MapEntry entry;
    ASSERT_TRUE(index.assign(0x40001000, 0x40405000, &entry));
    EXPECT_EQ(index.tableCount(), 2u);
    EXPECT_EQ(index.find(0x40300000), &entry);
    // A whole span replaces the second-level array that was there.
    ASSERT_TRUE(index.assign(0x40000000, 0x40200000, &entry));
    EXPECT_EQ(index.tableCount(), 1u);
    EXPECT_EQ(index.find(0x40000000), &entry);
    // Wider spaces use 512-entry lower levels.
    coresift::RegionIndex wide(47, 12);
    EXPECT_EQ(wide.levels(), 4u);
    EXPECT_EQ(wide.levelBits(0) + wide.levelBits(1) + wide.levelBits(2) + wide.levelBits(3), 35u);
    EXPECT_EQ(wide.levelBits(3), 9u);
    EXPECT_EQ(coresift::RegionIndex(39, 12).levels(), 3u);
    EXPECT_EQ(coresift::RegionIndex(47, 16).levelBits(0), 4u);
}

TEST_F(SpaceTest, ReadsComeFromTheDumpAndNeverCrossARegionEnd) {
    makeDump(4);
    ASSERT_TRUE(add(0x10000, 0x1000, kR, 0x1000));
    ASSERT_TRUE(add(0x11000, 0x1000, kR, 0x3000));  // adjacent, bytes elsewhere in the dump
    auto bytes = read(0x10ffc, 4);
    ASSERT_EQ(bytes.size(), 4u);
    EXPECT_EQ(bytes[0], dumpByte(0x1ffc));
    EXPECT_TRUE(read(0x10ffc, 8).empty()) << "reads never continue into the next region";
    EXPECT_EQ(read(0x11000, 1)[0], dumpByte(0x3000));
    EXPECT_TRUE(read(0x12000, 1).empty());
    EXPECT_TRUE(read(0xffff, 2).empty());
    EXPECT_EQ(space().read<std::uint16_t>(0x11002).value(), dumpByte(0x3002) | dumpByte(0x3003) << 8);

    // Pointers into region bytes are views of the dump, bounded by the region.
    MapEntry* region = space().regionAt(0x10000);
    const std::uint8_t* p = space().regionBytes(*region, 0x10010, 16);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p, dump_.data() + 0x1010) << "dump bytes are not copied";
    EXPECT_EQ(space().regionBytes(*region, 0x10ff0, 0x11), nullptr);
    EXPECT_EQ(space().regionBytes(*region, 0xff00, 4), nullptr);
}

TEST_F(SpaceTest, SegmentsWithoutDumpBytesReadAsZerosOrFromTheModuleFile) {
    makeDump(1);
    ASSERT_TRUE(add(0x20000, 0x2000, kR | kW));  // writable: zeros
    ASSERT_TRUE(add(0x30000, 0x2000, kR | kX));  // code: from the module's file
    EXPECT_EQ(read(0x20ff8, 8), std::vector<std::uint8_t>(8, 0));
    EXPECT_EQ(space().readString(0x20010).value(), "");
    MapEntry* code = space().regionAt(0x30000);
    EXPECT_EQ(code->kind, kR | kX | rk::kNotInDump | rk::kFromProvider);
    EXPECT_TRUE(read(0x30000, 4).empty()) << "no provider yet";

    std::vector<std::uint8_t> file(0x2000);
    std::memcpy(file.data() + 0x100, "libfoo", 7);
    int calls = 0;
    space().attachModule(*code, nullptr, [&](coresift::Module*, TargetWord start, TargetWord size) {
        ++calls;
        EXPECT_EQ(start, 0x30000u);
        EXPECT_EQ(size, 0x2000u);
        return file.data();
    });
    EXPECT_EQ(space().readString(0x30100).value(), "libfoo");
    EXPECT_EQ(read(0x30100, 3), (std::vector<std::uint8_t>{'l', 'i', 'b'}));
    EXPECT_EQ(calls, 1) << "provider bytes are fetched once and cached";
}

TEST_F(SpaceTest, StringsAreCutAtTheEndOfTheirRegion) {
    makeDump(2);
    std::memcpy(dump_.data() + 0x0ffa, "abcdef", 6);  // no NUL before the region's end
    std::memcpy(dump_.data() + 0x0100, "hello\0world", 12);
    ASSERT_TRUE(add(0x50000, 0x1000, kR, 0));
    ASSERT_TRUE(add(0x51000, 0x1000, kR, 0x1000));
    EXPECT_EQ(space().readString(0x50ffa).value(), "abcdef");
    EXPECT_EQ(space().readString(0x50100).value(), "hello");
    EXPECT_FALSE(space().readString(0x52000).has_value());
}

TEST_F(SpaceTest, BadSegmentBoundsAreRefusedWithMessageForty) {
    makeDump(1);
    EXPECT_FALSE(add(0x10800, 0x1000, kR));
    EXPECT_FALSE(add(0x10000, 0x800, kR));
    EXPECT_FALSE(add(0x10000, 0, kR));
    EXPECT_FALSE(add(TargetWord(0) - 0x1000, 0x2000, kR));  // wraps around
    std::string expect = kIs64 ? "Error: PROCESS_COREDUMP of PT_LOAD Incorrect address: 0x0000000000010800\n"
                               : "Error: PROCESS_COREDUMP of PT_LOAD Incorrect address: 0x00010800\n";
    EXPECT_EQ(err().substr(0, expect.size()), expect);
    EXPECT_EQ(space().regionCount(), 0u);
    EXPECT_EQ(run_.context().console.formatMismatches(), 0u);
}

TEST_F(SpaceTest, SixteenKiBPagesAndTheTopOfTheAddressSpace) {
    if (!kIs64) GTEST_SKIP() << "CoreSift reads 4 KiB pages only";
    makeDump(1);
    space(14, 39);
    const auto top = static_cast<TargetWord>(std::uint64_t{1} << 39);
    EXPECT_FALSE(add(0x1000, 0x4000, kR)) << "aligned to 4 KiB only";
    EXPECT_TRUE(add(0x4000, 0x4000, kR));
    EXPECT_TRUE(add(top - 0x4000, 0x4000, kR | kW));
    EXPECT_FALSE(add(top, 0x4000, kR | kW)) << "beyond 2^39";
    EXPECT_TRUE(space().findRegion(top - 1));
    EXPECT_FALSE(space().findRegion(top));
}

TEST_F(SpaceTest, TaggedPointersFindTheUntaggedRegion) {
    if (!kIs64) GTEST_SKIP() << "32-bit addresses carry no tag";
    makeDump(1);
    ASSERT_TRUE(add(static_cast<TargetWord>(0x7fc0001000ull), 0x1000, kR | kW, 0));
    auto plain = static_cast<TargetWord>(0x7fc0001010ull);
    auto tagged = static_cast<TargetWord>(0xb400007fc0001010ull);
    auto region = space().findRegion(tagged);
    ASSERT_TRUE(region);
    EXPECT_EQ(region.get(), space().findRegion(plain).get());
    EXPECT_EQ(read(tagged, 4), read(plain, 4));
    EXPECT_EQ(read(tagged, 1)[0], dumpByte(0x10));
    EXPECT_EQ(space().readString(tagged), space().readString(plain));
    // Below the tag, addresses beyond the space's width are unmapped.
    EXPECT_FALSE(space().findRegion(static_cast<TargetWord>(0x00ff007fc0001010ull)));
}

TEST_F(SpaceTest, HeaderPageOfACodeMappingDoesNotLeakIntoTheNextSegment) {
    // A kernel dumps only the ELF header page of a code mapping (filesz 0x1000 of 0x4000); the
    // following segment's bytes come right after it in the file.
    makeDump(3);
    ASSERT_TRUE(space().addRegion(0x400000, 0x4000, kR | kX, DumpRange{0x0, 0x1000}));
    ASSERT_TRUE(space().addRegion(0x500000, 0x2000, kR | kW, DumpRange{0x1000, 0x2000}));
    EXPECT_EQ(read(0x400000, 1)[0], dumpByte(0));
    EXPECT_TRUE(read(0x401000, 4).empty()) << "code beyond the header page comes from the module's file";
    EXPECT_TRUE(read(0x400ffc, 8).empty());
    EXPECT_EQ(layout(), (std::vector<std::string>{"400000-401000 50", "401000-404000 53", "500000-502000 60"}));
    // A writable segment's missing tail reads as zeros.
    ASSERT_TRUE(space().addRegion(0x600000, 0x3000, kR | kW, DumpRange{0x1000, 0x1000}));
    EXPECT_EQ(read(0x600000, 1)[0], dumpByte(0x1000));
    EXPECT_EQ(read(0x601000, 4), std::vector<std::uint8_t>(4, 0));
    EXPECT_EQ(err(), "");
}

TEST_F(SpaceTest, SegmentsRunningPastTheEndOfATruncatedDumpAreReadUpToIt) {
    makeDump(2);
    dump_.resize(0x1800);  // the file ends half way through its second page
    ASSERT_TRUE(space().addRegion(0x10000, 0x3000, kR | kW, DumpRange{0x0, 0x3000}));
    ASSERT_TRUE(space().addRegion(0x20000, 0x1000, kR, DumpRange{0x5000, 0x1000}));  // wholly past the end
    EXPECT_EQ(read(0x10000, 1)[0], dumpByte(0));
    EXPECT_EQ(read(0x117ff, 1)[0], dumpByte(0x17ff));
    EXPECT_EQ(read(0x11800, 4), std::vector<std::uint8_t>(4, 0)) << "bytes past the end of the file";
    EXPECT_EQ(read(0x12000, 4), std::vector<std::uint8_t>(4, 0));
    EXPECT_TRUE(read(0x20000, 4).empty()) << "read-only without bytes: from the module's file";
    EXPECT_EQ(err(), "Warning: File PROCESS_COREDUMP damaged\n") << "said once";
}

TEST_F(SpaceTest, TheSegmentEnteredLastOwnsOverlappingPages) {
    makeDump(4);
    ASSERT_TRUE(add(0x10000, 0x4000, kR, 0));
    ASSERT_TRUE(add(0x11000, 0x1000, kR | kW, 0x3000));
    EXPECT_EQ(layout(), (std::vector<std::string>{"10000-11000 40", "11000-12000 60", "12000-14000 40"}));
    EXPECT_EQ(read(0x11000, 1)[0], dumpByte(0x3000));
    EXPECT_EQ(read(0x12000, 1)[0], dumpByte(0x2000)) << "the remaining part keeps its place in the dump";
    ASSERT_TRUE(add(0xf000, 0x6000, kR | kX));
    EXPECT_EQ(layout(), (std::vector<std::string>{"f000-15000 53"}));
}

TEST_F(SpaceTest, WalksStartAtTheRegionHoldingFromAndStopOnRequest) {
    for (TargetWord start : {0x1000u, 0x3000u, 0x5000u, 0x9000u}) ASSERT_TRUE(add(start, 0x1000, kR | kW));
    std::vector<TargetWord> starts;
    auto collect = [&](TargetWord start, TargetWord, std::uint32_t) {
        starts.push_back(start);
        return 0;
    };
    space().walkRegions(0x3800, 0x9000, collect);
    EXPECT_EQ(starts, (std::vector<TargetWord>{0x3000, 0x5000}));
    starts.clear();
    space().walkRegions(0x4000, 0x9001, collect);
    EXPECT_EQ(starts, (std::vector<TargetWord>{0x5000, 0x9000}));
    starts.clear();
    space().walkRegions(0, 0x2000, collect);
    EXPECT_EQ(starts, (std::vector<TargetWord>{0x1000}));
    int r = space().walkRegions(0, ~TargetWord{0}, [](TargetWord start, TargetWord, std::uint32_t) {
        return start == 0x5000 ? 2 : 0;
    });
    EXPECT_EQ(r, 2);
}

TEST_F(SpaceTest, NamingReplacesOnlyTheNamingBits) {
    ASSERT_TRUE(add(0x1000, 0x1000, kR | kX));
    MapEntry& region = *space().regionAt(0x1000);
    region.kind |= rk::kModuleHead;
    space().nameRegion(region, "/system/lib/libc.so", rk::kElf | rk::kOwnedName | rk::kManaged);
    EXPECT_EQ(region.kind, kR | kX | rk::kNotInDump | rk::kFromProvider | rk::kModuleHead | rk::kElf |
                               rk::kOwnedName | rk::kManaged);
    space().nameRegion(region, "[stack]", rk::kStack | kW);
    EXPECT_EQ(region.kind, kR | kX | rk::kNotInDump | rk::kFromProvider | rk::kModuleHead | rk::kStack);
    EXPECT_EQ(region.name, "[stack]");
}

TEST_F(SpaceTest, MemoryMapLinesNameOnlyExactlyMatchingUnclassifiedRegions) {
    for (TargetWord start : {0x1000u, 0x3000u, 0x5000u, 0x7000u}) ASSERT_TRUE(add(start, 0x1000, kR | kW));
    space().nameFromMapsLine(0x1000, 0x2000, "[anon:libc_malloc]");
    space().nameFromMapsLine(0x3000, 0x2800, "/dev/ashmem/dalvik");
    space().nameFromMapsLine(0x3000, 0x4000, "/dev/ashmem/dalvik");
    space().nameFromMapsLine(0x5000, 0x6000, "/system/lib/libm.so");
    space().nameRegion(*space().regionAt(0x7000), "[stack]", rk::kStack);
    space().nameFromMapsLine(0x7000, 0x8000, "[anon:stack_and_tls]");
    auto nameAndKind = [&](TargetWord at) {
        MapEntry* r = space().regionAt(at);
        return r->name + ":" + std::to_string(r->kind & rk::kNamingBits);
    };
    EXPECT_EQ(nameAndKind(0x1000), "[anon:libc_malloc]:8");
    EXPECT_EQ(nameAndKind(0x3000), "/dev/ashmem/dalvik:" + std::to_string(rk::kDev | rk::kOwnedName));
    EXPECT_EQ(nameAndKind(0x5000), "/system/lib/libm.so:" + std::to_string(rk::kFile | rk::kOwnedName));
    EXPECT_EQ(nameAndKind(0x7000), "[stack]:" + std::to_string(rk::kStack));
}

TEST_F(SpaceTest, ListingLineShowsBoundsPermissionsKindAndName) {
    ASSERT_TRUE(add(0x1000, 0x1000, kR | kW));
    MapEntry& region = *space().regionAt(0x1000);
    auto line = [&](std::uint32_t kind, const char* name) {
        space().nameRegion(region, name, kind);
        region.kind = (region.kind & ~rk::kPermissions) | (kind & rk::kPermissions);
        return coresift::regionListingLine(region);
    };
    std::string bounds = kIs64 ? "0x0000000000001000-0x0000000000002000 " : "0x00001000-0x00002000 ";
    EXPECT_EQ(line(kR | kW, ""), bounds + "RW-       \n");
    EXPECT_EQ(line(kR | kX | rk::kElf | rk::kOwnedName, "/system/lib/libc.so"), bounds + "R-X  ELF   /system/lib/libc.so\n");
    EXPECT_EQ(line(kR | kW | rk::kHeap | rk::kMarked, "[heap]"), bounds + "RW-  HEAP@ [heap]\n");
    EXPECT_EQ(line(kR | kW | rk::kHeap | rk::kJavaHeap, "dalvik"), bounds + "RW- JHEAP  dalvik\n");
    EXPECT_EQ(line(kR | kW | rk::kStack | rk::kManaged, "[stack]"), bounds + "RW- JSTACK [stack]\n");
    EXPECT_EQ(line(kW | kX | rk::kIgnore, "[vectors]"), bounds + "-WX IGNORE [vectors]\n");
    EXPECT_EQ(line(kX | rk::kDev, "/dev/x"), bounds + "--X  DEV   /dev/x\n");
    EXPECT_EQ(line(0 | rk::kDex, "a.dex"), bounds + "---  DEX   a.dex\n");
    EXPECT_EQ(line(kR | rk::kFile, "f"), bounds + "R--  FILE  f\n");
    EXPECT_EQ(line(kR | rk::kStack, "s"), bounds + "R--  STACK s\n");
}

TEST_F(SpaceTest, ReferencesAreCountedWhileRegionsAreHandedOut) {
    ASSERT_TRUE(add(0x1000, 0x1000, kR | kW));
    MapEntry* region = space().regionAt(0x1000);
    {
        auto a = space().findRegion(0x1000);
        auto b = a;
        EXPECT_EQ(region->references, 2u);
        b.release();
        EXPECT_EQ(region->references, 1u);
    }
    EXPECT_EQ(region->references, 0u);
}

}  // namespace
