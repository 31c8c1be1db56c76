// The fixed table of layout facts: the structure members, structure sizes and enumerator values
// of Android's runtime libraries that the Java stack walker, the heap walkers, the thread list
// and the log daemon rebuild read from the dump. Nothing of those layouts is built in; each fact
// is resolved at run time from the debugging information of the library's symbol file
// (layout_facts.h), one group at a time, in the units compiled from the group's source files.
//
// Facts are named by `Fact`; the table of each build width holds the facts of its width only
// (the scudo primary allocator differs: a region map in CoreSift, per-class region records in
// CoreSift64). A fact's value is a member offset from the start of its outermost structure
// (members of members add up; a member reached through a pointer starts again at 0), a
// structure or enumeration size, or an enumerator value.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analyzer/symbols/layout_facts.h"

namespace coresift {

class Console;
class DwarfInfo;

enum class FactGroup : std::uint8_t { kThread, kScudo, kLogDaemon, kMallocDebug, kArt };
inline constexpr int kFactGroupCount = 5;

// Every fact of both widths, in table order. Names follow the dotted path without the group's
// root where that is unambiguous.
enum class Fact : std::uint16_t {
    // bionic: class pthread_internal_t
    kPthreadInternal, kThreadNext, kThreadTid, kThreadAttr, kAttrStackBase, kAttrStackSize, kAttrGuardSize,
    kAttrSchedPolicy, kAttrSchedPriority, kThreadStartRoutine, kThreadAlternateSignalStack, kThreadTls,
    kThreadBionicTls, kThreadBionicTcb,
    // scudo: namespace scudo
    kScudo, kScudoAllocator, kScudoMinAlignment, kScudoBlockMarker, kScudoCookie, kScudoPrimary,
    kPrimaryRegionSize, kPrimaryNumRegions, kPrimaryPossibleRegions,                       // CoreSift
    kPrimaryOptions, kPrimaryRegionInfoArray, kRegionInfoBase, kRegionBeg, kRegionMappedUser,   // CoreSift64
    kRegionAllocatedUser, kRegionMemMapInfo, kMemMapMappedUser, kMemMapAllocatedUser, kPrimaryRegionInfo,
    kScudoSecondary, kSecondaryCache, kCacheEntries, kEntryCommitBase, kEntryCommitSize, kEntryBlock,
    kEntryBlockEnd, kEntryTime, kCacheQuarantine, kCacheCachedBlock, kSecondaryInUseBlocks, kInUseFirst,
    kScudoLargeBlock, kLargeBlockHeader, kHeaderNext, kHeaderCommitBase, kHeaderCommitSize, kHeaderBlockEnd,
    kScudoOptionBit, kOptionUseMemoryTagging, kScudoChunk, kChunkState, kStateAvailable, kStateAllocated,
    // log daemon
    kSerializedLogBuffer, kLogBufferLogs, kSerializedLogChunk, kChunkContents, kContentsData, kContentsSize,
    kChunkWriteOffset, kChunkCompressedLog, kLogId, kLogIdMain, kLogIdRadio, kLogIdEvents, kLogIdSystem,
    kLogIdCrash, kLogIdStats, kLogIdSecurity, kLogIdKernel, kLogIdMax,
    // malloc debug
    kDebugData, kDebugBacktrace, kDebugFreeTrack, kDebugExtraBytes, kDebugPointerOffset, kDebugConfig,
    kConfigFrontGuardBytes, kConfigRearGuardBytes, kConfigBacktraceFrames, kConfigFillOnAllocBytes,
    kConfigFillOnFreeBytes, kConfigFreeTrackAllocations, kConfigOptions, kConfigFillFreeValue,
    kConfigFrontGuardValue, kConfigRearGuardValue, kFreePointerInfo, kFreePointerPointer,
    kFreePointerMangledPtr, kFreePointerHashIndex,
    // ART: namespace art
    kArt, kRuntime, kRuntimeCalleeSaveMethods, kRuntimeCalleeSaveMethodFrameInfos, kRuntimeCompilerCallbacks,
    kRuntimeClassLinker, kRuntimeOatFileManager, kClassLinker, kClassLinkerBootClassPath, kClassLinkerOatFiles,
    kClassLinkerDexCaches, kClassLinkerImagePointerSize, kThread, kThreadTls32, kTls32StateAndFlags,
    kThreadTlsPtr, kTlsPtrManagedStack, kManagedStackTaggedJniSpMask, kManagedStackTopQuickFrame,
    kManagedStackTaggedTopQuickFrame, kManagedStackLink, kManagedStackTopShadowFrame, kTlsPtrName,
    kThreadState, kStateTerminated, kStateObsoleteRunnable, kStateRunnable, kStateTimedWaiting, kStateSleeping,
    kStateBlocked, kStateWaiting, kStateNativeForAbort, kStateStarting, kStateNative, kStateSuspended,
    kOatFile, kOatFileLocation, kOatFileBegin, kOatFileEnd, kOatFileIsExecutable, kOatFileDexFilesStorage,
    kOatDexFile, kOatDexFileLocation, kOatDexFilePointer, kShadowFrame, kShadowFrameLink, kShadowFrameMethod,
    kShadowFrameDexPcPtr, kShadowFrameDexPc, kShadowFrameVregs, kArtMethod, kArtMethodDeclaringClass,
    kArtMethodAccessFlags, kArtMethodDexCodeItemOffset, kArtMethodDexMethodIndex, kArtMethodPtrSizedFields,
    kPtrSizedEntryPointFromQuickCode, kOatQuickMethodHeader, kMethodHeaderMappingTableOffset,
    kMethodHeaderVmapTableOffset, kMethodHeaderCodeInfoOffset, kMethodHeaderData, kMethodHeaderFrameInfo,
    kFrameInfoFrameSize, kFrameInfoCoreSpillMask, kMethodHeaderCodeSize,
    kCount
};
inline constexpr std::size_t kFactIdCount = static_cast<std::size_t>(Fact::kCount);

// The scudo allocator's type names: before release 18, from release 18, and the svelte allocator.
inline constexpr std::string_view kScudoAndroidConfig = "Allocator<scudo::AndroidConfig, &scudo_malloc_postinit>";
inline constexpr std::string_view kScudoAndroidNormalConfig =
    "Allocator<scudo::AndroidNormalConfig, &scudo_malloc_postinit>";
inline constexpr std::string_view kScudoAndroidSvelteConfig =
    "Allocator<scudo::AndroidSvelteConfig, &scudo_svelte_malloc_postinit>";

class LayoutFactTable {
public:
    // This build width's table, nothing resolved; the scudo allocator type is kScudoAndroidConfig.
    LayoutFactTable();

    // Resolves `group` in every unit of `dwarf` compiled from one of the group's source files,
    // from scratch. True when every required fact of the group is resolved.
    bool resolve(FactGroup group, const DwarfInfo& dwarf);
    // True when the group's last resolution succeeded.
    bool groupResolved(FactGroup group) const { return groupResolved_[static_cast<int>(group)]; }
    // Prints "Unrecognized %s variable structure, please contact owner to add" with the dotted path
    // of the last required fact of the group that is unresolved.
    void reportUnresolved(Console& console, FactGroup group) const;
    // The dotted path printed by reportUnresolved ("" when the group has no unresolved required fact).
    std::string unresolvedPath(FactGroup group) const;

    // Whether this width's table has the fact (the other width's scudo primary facts are absent).
    bool has(Fact fact) const { return indexOf(fact) >= 0; }
    bool resolved(Fact fact) const;
    // The fact's value; 0 when it is unresolved or absent.
    std::int64_t value(Fact fact) const;
    // The entry that resolved the fact (empty when unresolved), for what the value does not say
    // (an array member's element count, a member's type).
    Entry entry(Fact fact) const;
    // For a member whose type is an array (through typedefs and qualifiers): the element count of
    // its first dimension (the secondary cache's entries, the log buffers by log id). Nothing when
    // the fact is unresolved or not an array of known length.
    std::optional<std::uint64_t> arrayLength(Fact fact) const;
    // The names of the fact and its ancestors joined by '.', at most 127 characters.
    std::string path(Fact fact) const;

    // Which scudo allocator type the scudo group looks for (one of the kScudo*Config names or the
    // name another compiler gives the same type). Takes effect at the next resolution.
    void setScudoAllocatorName(std::string_view name);

    // Source files whose units hold a group's types.
    static std::span<const std::string_view> sourceFiles(FactGroup group);

    std::span<const LayoutFact> facts() const { return facts_; }
    std::int32_t indexOf(Fact fact) const;

private:
    std::string pathAt(std::int32_t index) const;

    std::vector<LayoutFact> facts_;
    std::vector<std::int32_t> parents_;        // parent index per fact, -1 for a group's roots
    std::vector<FactGroup> groups_;            // group per fact
    std::int32_t indexOfId_[kFactIdCount];     // -1 for facts not in this width's table
    std::int32_t groupFirst_[kFactGroupCount];
    bool groupResolved_[kFactGroupCount] = {};
    const DwarfInfo* groupDwarf_[kFactGroupCount] = {};  // what each group was last resolved in
    std::string scudoAllocatorName_;
};

}  // namespace coresift
