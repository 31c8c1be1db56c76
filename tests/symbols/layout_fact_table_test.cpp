// The layout-fact table against cross-compiled libraries whose units are named and laid out
// like the Android libraries the facts come from (tests/symbols/data/layouts). Each unit exports
// the offsets, sizes and values its compiler chose; every group must resolve to exactly those,
// with GCC and clang, DWARF 4 and 5, in this build's width.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <utility>
#include <vector>

#include "analyzer/symbols/elf_image.h"
#include "analyzer/symbols/layout_fact_table.h"
#include "analyzer/symbols/symbol_file.h"
#include "analyzer/symbols/symbol_lookup.h"
#include "tests/support/run_capture.h"
#include "tests/symbols/symbol_test_support.h"

namespace {

namespace fs = std::filesystem;
using coresift::Fact;
using coresift::FactGroup;
using coresift::LayoutFactTable;

std::vector<fs::path> factLibraries() {
    fs::path root = fs::path(FERROVANE_TEST_DATA_DIR) / "layouts";
    if (!fs::exists(root / "stamp")) return {};
    std::vector<fs::path> out;
    for (const char* name : {"libfacts_gcc4.so", "libfacts_gcc5.so", "libfacts_clang4.so", "libfacts_clang5.so"})
        out.push_back(root / (kIs64 ? "arm64" : "arm") / name);
    return out;
}

// The values a unit exported in its `expected_*` array, read from the file's bytes.
std::vector<long long> expectedValues(coresift::SymbolSource& source, const char* array) {
    TargetWord size = 0;
    const TargetWord address = coresift::symbolNamed(source, array, coresift::lookup::kObjectMask, &size);
    const coresift::ElfImage& image = source.symbolFile()->image();
    for (std::uint32_t i = 0;; ++i) {
        auto segment = image.segment(i);
        if (!segment) break;
        if (address == 0 || address < segment->vaddr || address + size > segment->vaddr + segment->filesz) continue;
        auto bytes = image.view(segment->offset + (address - segment->vaddr), size);
        if (!bytes) break;
        std::vector<long long> values(size / 8);
        std::memcpy(values.data(), bytes->data(), values.size() * 8);
        return values;
    }
    ADD_FAILURE() << "no " << array;
    return {};
}

// Which fact each exported value is, array by array.
std::vector<std::pair<const char*, std::vector<Fact>>> expectations() {
    std::vector<Fact> scudo = {Fact::kScudoMinAlignment, Fact::kScudoBlockMarker, Fact::kScudoCookie,
                               Fact::kScudoPrimary};
    if (kIs64)
        scudo.insert(scudo.end(), {Fact::kPrimaryOptions, Fact::kPrimaryRegionInfoArray, Fact::kRegionBeg,
                                   Fact::kMemMapMappedUser, Fact::kMemMapAllocatedUser, Fact::kPrimaryRegionInfo});
    else
        scudo.insert(scudo.end(), {Fact::kPrimaryRegionSize, Fact::kPrimaryNumRegions, Fact::kPrimaryPossibleRegions});
    scudo.insert(scudo.end(), {Fact::kCacheEntries, Fact::kEntryCommitBase, Fact::kEntryCommitSize, Fact::kEntryTime,
                               Fact::kCacheQuarantine, Fact::kCacheCachedBlock, Fact::kInUseFirst, Fact::kHeaderNext,
                               Fact::kHeaderCommitSize, Fact::kLargeBlockHeader, Fact::kOptionUseMemoryTagging,
                               Fact::kStateAllocated});
    return {
        {"expected_thread",
         {Fact::kPthreadInternal, Fact::kThreadNext, Fact::kThreadTid, Fact::kThreadAttr, Fact::kAttrStackBase,
          Fact::kAttrStackSize, Fact::kAttrGuardSize, Fact::kAttrSchedPolicy, Fact::kAttrSchedPriority,
          Fact::kThreadStartRoutine, Fact::kThreadAlternateSignalStack, Fact::kThreadBionicTls,
          Fact::kThreadBionicTcb}},
        {"expected_scudo", scudo},
        {"expected_logd_buffer", {Fact::kSerializedLogBuffer, Fact::kLogBufferLogs, Fact::kLogIdSecurity, Fact::kLogIdMax}},
        {"expected_logd_chunk",
         {Fact::kSerializedLogChunk, Fact::kContentsSize, Fact::kChunkWriteOffset, Fact::kChunkCompressedLog}},
        {"expected_malloc_debug",
         {Fact::kDebugData, Fact::kDebugBacktrace, Fact::kDebugPointerOffset, Fact::kConfigOptions,
          Fact::kConfigFreeTrackAllocations, Fact::kConfigRearGuardValue}},
        {"expected_free_pointer", {Fact::kFreePointerInfo, Fact::kFreePointerMangledPtr, Fact::kFreePointerHashIndex}},
        {"expected_runtime",
         {Fact::kRuntimeCalleeSaveMethodFrameInfos, Fact::kRuntimeClassLinker, Fact::kRuntimeOatFileManager}},
        {"expected_class_linker",
         {Fact::kClassLinker, Fact::kClassLinkerDexCaches, Fact::kClassLinkerImagePointerSize}},
        {"expected_thread_art",
         {Fact::kThreadTlsPtr, Fact::kTlsPtrManagedStack, Fact::kManagedStackTaggedTopQuickFrame,
          Fact::kManagedStackLink, Fact::kManagedStackTopShadowFrame, Fact::kTlsPtrName, Fact::kStateSuspended}},
        {"expected_oat_file",
         {Fact::kOatFileBegin, Fact::kOatFileDexFilesStorage, Fact::kOatDexFilePointer, Fact::kOatQuickMethodHeader,
          Fact::kFrameInfoCoreSpillMask, Fact::kMethodHeaderCodeSize}},
        {"expected_art_method",
         {Fact::kArtMethodDexMethodIndex, Fact::kPtrSizedEntryPointFromQuickCode, Fact::kShadowFrameDexPc,
          Fact::kShadowFrameVregs}},
    };
}

class LayoutFactTableTest : public testing::Test {
protected:
    void SetUp() override { run.context().catalog.selectEnglish(); }
    testsupport::RunCapture run;
};

TEST_F(LayoutFactTableTest, EveryGroupResolvesToTheCompilersLayout) {
    if (factLibraries().empty()) GTEST_SKIP() << "the cross-compiled layout libraries were not built";
    for (const fs::path& path : factLibraries()) {
        SCOPED_TRACE(path.filename().string());
        auto source = testsupport::openSource(run.context().console, path);
        ASSERT_TRUE(source);
        coresift::DwarfInfo* dwarf = source->symbolFile()->dwarf();
        ASSERT_TRUE(dwarf);
        LayoutFactTable table;
        // GCC spells a function-pointer template argument without the '&'.
        if (path.filename().string().find("gcc") != std::string::npos)
            table.setScudoAllocatorName("Allocator<scudo::AndroidConfig, scudo_malloc_postinit>");
        for (FactGroup group : {FactGroup::kThread, FactGroup::kScudo, FactGroup::kLogDaemon, FactGroup::kMallocDebug,
                                FactGroup::kArt}) {
            EXPECT_TRUE(table.resolve(group, *dwarf)) << table.unresolvedPath(group);
            EXPECT_EQ(table.unresolvedPath(group), "");
        }
        for (const auto& [array, facts] : expectations()) {
            std::vector<long long> values = expectedValues(*source, array);
            ASSERT_EQ(values.size(), facts.size()) << array;
            for (std::size_t i = 0; i < facts.size(); ++i) {
                EXPECT_TRUE(table.resolved(facts[i])) << table.path(facts[i]);
                EXPECT_EQ(table.value(facts[i]), values[i]) << table.path(facts[i]);
            }
        }
        // Members that this layout does not have stay unresolved without failing their group.
        for (Fact absent : {Fact::kThreadTls, Fact::kDebugFreeTrack, Fact::kFreePointerPointer,
                            Fact::kManagedStackTopQuickFrame, Fact::kStateNativeForAbort,
                            Fact::kArtMethodDexCodeItemOffset, Fact::kMethodHeaderCodeInfoOffset})
            EXPECT_FALSE(table.resolved(absent)) << table.path(absent);
        if (kIs64) {
            EXPECT_FALSE(table.resolved(Fact::kRegionMappedUser));
        }
        // A static member's value, and the entry kept for what the value does not say.
        EXPECT_EQ(table.value(Fact::kManagedStackTaggedJniSpMask), 3);
        EXPECT_EQ(dwarf->name(table.entry(Fact::kCacheEntries)), "Entries");
        EXPECT_EQ(table.arrayLength(Fact::kCacheEntries), 32u);
        EXPECT_EQ(table.arrayLength(Fact::kLogBufferLogs), static_cast<std::uint64_t>(table.value(Fact::kLogIdMax)));
        EXPECT_EQ(table.arrayLength(Fact::kCacheCachedBlock), std::nullopt);
        EXPECT_EQ(table.arrayLength(Fact::kThreadTls), std::nullopt);
        // Resolving again starts from scratch.
        EXPECT_TRUE(table.resolve(FactGroup::kArt, *dwarf));
        EXPECT_EQ(table.value(Fact::kStateSuspended), 74);
    }
    EXPECT_EQ(run.err(), "");
}

TEST_F(LayoutFactTableTest, AFailedGroupNamesTheFactThatWasNotFound) {
    if (factLibraries().empty()) GTEST_SKIP() << "the cross-compiled layout libraries were not built";
    auto source = testsupport::openSource(run.context().console, factLibraries().back());
    ASSERT_TRUE(source);
    coresift::DwarfInfo* dwarf = source->symbolFile()->dwarf();
    LayoutFactTable table;
    // The svelte allocator is not in this library: the allocator type itself is what is missing.
    table.setScudoAllocatorName(coresift::kScudoAndroidSvelteConfig);
    EXPECT_FALSE(table.resolve(FactGroup::kScudo, *dwarf));
    EXPECT_FALSE(table.groupResolved(FactGroup::kScudo));
    EXPECT_FALSE(table.resolved(Fact::kScudo));
    EXPECT_TRUE(table.resolved(Fact::kChunkState));  // what was found stays usable
    table.reportUnresolved(run.context().console, FactGroup::kScudo);
    EXPECT_EQ(run.err(), "Error: Unrecognized scudo.Allocator<scudo::AndroidSvelteConfig, &scudo_svelte_malloc_postinit> "
                         "variable structure, please contact owner to add\n");
}

TEST(LayoutFactTableShape, PathsAndWidthSpecificFacts) {
    LayoutFactTable table;
    EXPECT_EQ(table.path(Fact::kManagedStackLink), "art.Thread.tlsPtr_.managed_stack.link_");
    EXPECT_EQ(table.path(Fact::kAttrStackSize), "pthread_internal_t.attr.stack_size");
    EXPECT_EQ(table.path(Fact::kMemMapAllocatedUser),
              kIs64 ? "scudo.Allocator<scudo::AndroidConfig, &scudo_malloc_postinit>.Primary.RegionInfoArray."
                      "MemMapInfo.AllocatedUser"
                    : "");
    EXPECT_EQ(table.has(Fact::kPrimaryPossibleRegions), !kIs64);
    EXPECT_EQ(table.has(Fact::kPrimaryRegionInfoArray), kIs64);
    // Paths are cut at 127 characters.
    table.setScudoAllocatorName(std::string(200, 'A'));
    EXPECT_EQ(table.path(Fact::kScudoCookie).size(), 127u);
    // Nothing resolved yet: every group names a missing root.
    EXPECT_EQ(table.unresolvedPath(FactGroup::kLogDaemon), "log_id");
    EXPECT_EQ(table.value(Fact::kArt), 0);
}

}  // namespace
