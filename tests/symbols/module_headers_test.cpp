// A module's headers and dynamic section read from the dump, on hand-made images: the GNU and
// SysV hash tables (with the target's bloom word size), damaged tables that must neither hang
// nor be trusted, text relocations, and a dynamic section outside the dump.
#include <gtest/gtest.h>

#include "tests/symbols/elf_builder.h"
#include "tests/symbols/module_test_support.h"
#include "tools/corekit/elf_constants.h"

namespace {

using namespace testsupport;
namespace mf = coresift::module_flag;

constexpr std::size_t kWord = sizeof(TargetWord);
constexpr std::uint64_t kDynamic = 0x1000, kHash = 0x1100, kStrings = 0x1400, kSymbols = 0x1500;
constexpr std::uint64_t kImageSize = 0x2000;

// An image of one read-only executable load segment holding its dynamic section at kDynamic,
// and an `.eh_frame_hdr` segment at 0x1800.
struct Image {
    Bytes bytes;
    Image() {
        ElfBuilder b(coresift::kTargetElfClass, coresift::elf::kEtDyn);
        b.withSectionTable = false;
        b.addSegment({1, 5, 0, 0, 0, kImageSize, kImageSize, 0x1000});
        b.addSegment({2, 6, kDynamic, kDynamic, kDynamic, 0x100, 0x100, kWord});
        b.addSegment({0x6474E550, 4, 0x1800, 0x1800, 0x1800, 0x20, 0x20, 4});
        bytes = b.build();
        bytes.resize(kImageSize, 0);
    }
    void dynamic(const std::vector<std::pair<std::uint64_t, std::uint64_t>>& entries) {
        std::size_t at = kDynamic;
        for (auto [tag, value] : entries) {
            putWord(bytes, at, tag, kWord);
            putWord(bytes, at + kWord, value, kWord);
            at += 2 * kWord;
        }
    }
    void word32(std::uint64_t at, std::uint32_t value) { putWord(bytes, at, value, 4); }
};

// Loads the image as a library at kFirstBias (the memory map names it) and returns its module.
struct Loaded {
    ModuleDb db;
    coresift::Module* module = nullptr;
    explicit Loaded(const Image& image, std::uint64_t regionSize = kImageSize) {
        ProcessCore core;
        core.addLinker();
        Bytes bytes = image.bytes;
        bytes.resize(regionSize, 0);
        core.addRegion(kFirstBias, bytes, corekit::elf::PF_R | corekit::elf::PF_X, libraryFolder() + "libhdr.so");
        EXPECT_TRUE(db.load(core)) << db.err();
        auto modules = db.modules();
        if (modules.size() == 2) module = modules[1];
    }
};

Image gnuHashImage(std::uint32_t buckets, std::uint32_t bloom, std::vector<std::uint32_t> bucketValues,
                   std::vector<std::uint32_t> chain) {
    Image image;
    image.dynamic({{0x6FFFFEF5, kHash}, {5, kStrings}, {6, kSymbols}, {22, 0}, {0, 0}});
    image.word32(kHash, buckets);
    image.word32(kHash + 4, 1);  // symoffset
    image.word32(kHash + 8, bloom);
    image.word32(kHash + 12, 6);
    const std::uint64_t bucketArray = kHash + 16 + std::uint64_t{bloom} * kWord;
    for (std::size_t i = 0; i < bucketValues.size() && bucketArray + 4 * i + 4 <= kImageSize; ++i)
        image.word32(bucketArray + 4 * i, bucketValues[i]);
    const std::uint64_t chains = bucketArray + std::uint64_t{buckets} * 4;
    for (std::size_t i = 0; i < chain.size() && chains + 4 * i + 4 <= kImageSize; ++i) image.word32(chains + 4 * i, chain[i]);
    return image;
}

TEST(ModuleHeaders, GnuHashGivesTheSymbolCountWithTheTargetsBloomWords) {
    // Two buckets: the first chain holds symbols 1 to 3, the second symbol 4.
    Loaded loaded(gnuHashImage(2, 2, {1, 4}, {2, 4, 7, 9}));
    ASSERT_NE(loaded.module, nullptr) << loaded.db.summary();
    const coresift::Module& m = *loaded.module;
    EXPECT_TRUE(m.has(mf::kHeadersRead | mf::kDynamicSymbols | mf::kTextRelocations));
    const auto& d = m.dynamic;
    EXPECT_TRUE(d.gnu);
    EXPECT_EQ(d.symbolCount, 5u);
    EXPECT_EQ(d.gnuBloomCount, 2u);
    EXPECT_EQ(d.gnuBloomMask, 1u);
    EXPECT_EQ(d.gnuBloom, kFirstBias + kHash + 16);
    EXPECT_EQ(d.gnuBuckets, kFirstBias + kHash + 16 + 2 * kWord);
    EXPECT_EQ(d.gnuChains, d.gnuBuckets + 8);
    EXPECT_EQ(d.strings, kFirstBias + kStrings);
    EXPECT_EQ(d.symbols, kFirstBias + kSymbols);
    EXPECT_EQ(m.headersSize, kSymbols);
    EXPECT_EQ(m.dynamicAddress, kFirstBias + kDynamic);
    EXPECT_EQ(m.unwind.ehFrameHdr, kFirstBias + 0x1800);
    EXPECT_EQ(m.unwind.ehFrameHdrSize, 0x20u);
}

TEST(ModuleHeaders, DamagedHashTablesAreBoundedAndNotTrusted) {
    {
        // A chain that never ends runs to the end of what the dump holds, and no further.
        Loaded loaded(gnuHashImage(1, 1, {1}, std::vector<std::uint32_t>(0x1000, 2)));
        ASSERT_NE(loaded.module, nullptr);
        const std::uint64_t chains = kHash + 16 + kWord + 4;
        EXPECT_EQ(loaded.module->dynamic.symbolCount, 1 + (kImageSize - chains) / 4);
    }
    for (auto image : {gnuHashImage(0x3FFFFFFF, 1, {1}, {1}), gnuHashImage(1, 0, {1}, {1}), gnuHashImage(1, 0x3FFFFFFF, {1}, {1})}) {
        Loaded loaded(image);
        ASSERT_NE(loaded.module, nullptr);
        EXPECT_FALSE(loaded.module->has(mf::kDynamicSymbols));
        EXPECT_EQ(loaded.module->dynamic.symbolCount, 0u);
    }
    {
        // A SysV table claiming more chains than the dump holds.
        Image sysv;
        sysv.dynamic({{4, kHash}, {5, kStrings}, {6, kSymbols}, {0, 0}});
        sysv.word32(kHash, 4);
        sysv.word32(kHash + 4, 0x100000);
        Loaded loaded(sysv);
        ASSERT_NE(loaded.module, nullptr);
        EXPECT_FALSE(loaded.module->has(mf::kDynamicSymbols));
        sysv.word32(kHash + 4, 12);
        Loaded good(sysv);
        EXPECT_TRUE(good.module->has(mf::kDynamicSymbols));
        EXPECT_EQ(good.module->dynamic.symbolCount, 12u);
        EXPECT_EQ(good.module->dynamic.sysvChains, kFirstBias + kHash + 8 + 16);
    }
    {
        // A dynamic section without an end is read for a bounded number of entries.
        Image endless;
        for (std::uint64_t at = kDynamic; at + 2 * kWord <= kImageSize; at += 2 * kWord) {
            putWord(endless.bytes, at, 0x70000000, kWord);
            putWord(endless.bytes, at + kWord, 1, kWord);
        }
        Loaded loaded(endless);
        ASSERT_NE(loaded.module, nullptr);
        EXPECT_FALSE(loaded.module->has(mf::kDynamicSymbols));
    }
}

TEST(ModuleHeaders, DynamicSectionOutsideTheDumpIsReportedAndTheUnwindTablesStillRead) {
    Image image;
    ElfBuilder b(coresift::kTargetElfClass, coresift::elf::kEtDyn);
    b.withSectionTable = false;
    b.addSegment({1, 5, 0, 0, 0, kImageSize, kImageSize, 0x1000});
    b.addSegment({2, 6, kDynamic, 0x900000, 0x900000, 0x100, 0x100, kWord});
    b.addSegment({0x6474E550, 4, 0x1800, 0x1800, 0x1800, 0x20, 0x20, 4});
    image.bytes = b.build();
    image.bytes.resize(kImageSize, 0);
    Loaded loaded(image);
    ASSERT_NE(loaded.module, nullptr);
    const std::string address = kIs64 ? "0x0000007E00900000" : "0xA0900000";
    EXPECT_NE(loaded.db.err().find("Error: <libhdr.so> .dynamic segment address(" + address + ") is corrupted\n"),
              std::string::npos)
        << loaded.db.err();
    EXPECT_EQ(loaded.module->unwind.ehFrameHdr, kFirstBias + 0x1800);
    EXPECT_FALSE(loaded.module->has(mf::kDynamicSymbols));
    EXPECT_EQ(loaded.db.context().console.formatMismatches(), 0u);
}

}  // namespace
