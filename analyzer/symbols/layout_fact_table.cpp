#include "analyzer/symbols/layout_fact_table.h"

#include <algorithm>
#include <array>

#include "analyzer/driver/console.h"
#include "analyzer/symbols/dwarf_constants.h"
#include "analyzer/symbols/dwarf_info.h"
#include "common/target_word.h"

namespace coresift {
namespace {

namespace tag {
inline constexpr std::uint32_t ns = dw::kTagNamespace, cls = dw::kTagClassType, st = dw::kTagStructureType,
                               en = dw::kTagEnumerationType, mem = dw::kTagMember, val = dw::kTagEnumerator,
                               base = dw::kTagInheritance;
}  // namespace tag

// Which build width has a fact.
enum Width : std::uint8_t { kBoth, kOnly32, kOnly64 };

// One row of the table, in depth-first order: a row at depth d + 1 after a row at depth d is the
// first of its children; rows of equal depth under the same parent are siblings.
struct Row {
    Fact id;
    std::uint8_t depth;
    std::uint32_t tag;
    std::string_view name;
    std::uint32_t flags;
    Width width = kBoth;
};

constexpr std::uint32_t S = kFactScope, F = kFactFollowType, O = kFactOptional;

constexpr Row kRows[] = {
    // The C library's thread record, for the thread list.
    {Fact::kPthreadInternal, 0, tag::cls, "pthread_internal_t", S},
    {Fact::kThreadNext, 1, tag::mem, "next", 0},
    {Fact::kThreadTid, 1, tag::mem, "tid", 0},
    {Fact::kThreadAttr, 1, tag::mem, "attr", F},
    {Fact::kAttrStackBase, 2, tag::mem, "stack_base", 0},
    {Fact::kAttrStackSize, 2, tag::mem, "stack_size", 0},
    {Fact::kAttrGuardSize, 2, tag::mem, "guard_size", 0},
    {Fact::kAttrSchedPolicy, 2, tag::mem, "sched_policy", 0},
    {Fact::kAttrSchedPriority, 2, tag::mem, "sched_priority", 0},
    {Fact::kThreadStartRoutine, 1, tag::mem, "start_routine", 0},
    {Fact::kThreadAlternateSignalStack, 1, tag::mem, "alternate_signal_stack", 0},
    {Fact::kThreadTls, 1, tag::mem, "tls", O},                // the slot array, before release 10
    {Fact::kThreadBionicTls, 1, tag::mem, "bionic_tls", O},
    {Fact::kThreadBionicTcb, 1, tag::mem, "bionic_tcb", O},  // the slots' owner from release 10

    // The scudo allocator (libc).
    {Fact::kScudo, 0, tag::ns, "scudo", S},
    {Fact::kScudoAllocator, 1, tag::cls, kScudoAndroidConfig, S},
    {Fact::kScudoMinAlignment, 2, tag::mem, "MinAlignment", 0},
    {Fact::kScudoBlockMarker, 2, tag::mem, "BlockMarker", 0},
    {Fact::kScudoCookie, 2, tag::mem, "Cookie", 0},
    {Fact::kScudoPrimary, 2, tag::mem, "Primary", F},
    {Fact::kPrimaryRegionSize, 3, tag::mem, "RegionSize", 0, kOnly32},
    {Fact::kPrimaryNumRegions, 3, tag::mem, "NumRegions", 0, kOnly32},
    {Fact::kPrimaryPossibleRegions, 3, tag::mem, "PossibleRegions", 0, kOnly32},
    {Fact::kPrimaryOptions, 3, tag::mem, "Options", 0, kOnly64},
    {Fact::kPrimaryRegionInfoArray, 3, tag::mem, "RegionInfoArray", F, kOnly64},
    // The region record's members live in its unnamed base structure.
    {Fact::kRegionInfoBase, 4, tag::base, "", F, kOnly64},
    {Fact::kRegionBeg, 4, tag::mem, "RegionBeg", 0, kOnly64},
    {Fact::kRegionMappedUser, 4, tag::mem, "MappedUser", O, kOnly64},
    {Fact::kRegionAllocatedUser, 4, tag::mem, "AllocatedUser", O, kOnly64},
    {Fact::kRegionMemMapInfo, 4, tag::mem, "MemMapInfo", F | O, kOnly64},  // newer scudo keeps the two here
    {Fact::kMemMapMappedUser, 5, tag::mem, "MappedUser", 0, kOnly64},
    {Fact::kMemMapAllocatedUser, 5, tag::mem, "AllocatedUser", 0, kOnly64},
    {Fact::kPrimaryRegionInfo, 3, tag::st, "RegionInfo", S, kOnly64},
    {Fact::kScudoSecondary, 2, tag::mem, "Secondary", F},
    {Fact::kSecondaryCache, 3, tag::mem, "Cache", F},
    {Fact::kCacheEntries, 4, tag::mem, "Entries", F},
    {Fact::kEntryCommitBase, 5, tag::mem, "CommitBase", O},
    {Fact::kEntryCommitSize, 5, tag::mem, "CommitSize", O},
    {Fact::kEntryBlock, 5, tag::mem, "Block", O},
    {Fact::kEntryBlockEnd, 5, tag::mem, "BlockEnd", O},
    {Fact::kEntryTime, 5, tag::mem, "Time", 0},
    {Fact::kCacheQuarantine, 4, tag::mem, "Quarantine", O},
    {Fact::kCacheCachedBlock, 4, tag::st, "CachedBlock", S},
    {Fact::kSecondaryInUseBlocks, 3, tag::mem, "InUseBlocks", F},
    {Fact::kInUseFirst, 4, tag::mem, "First", 0},
    {Fact::kScudoLargeBlock, 1, tag::ns, "LargeBlock", S},
    {Fact::kLargeBlockHeader, 2, tag::st, "Header", S},
    {Fact::kHeaderNext, 3, tag::mem, "Next", 0},
    {Fact::kHeaderCommitBase, 3, tag::mem, "CommitBase", O},
    {Fact::kHeaderCommitSize, 3, tag::mem, "CommitSize", O},
    {Fact::kHeaderBlockEnd, 3, tag::mem, "BlockEnd", O},
    {Fact::kScudoOptionBit, 1, tag::en, "OptionBit", S | O},
    {Fact::kOptionUseMemoryTagging, 2, tag::val, "UseMemoryTagging", 0},
    {Fact::kScudoChunk, 1, tag::ns, "Chunk", S},
    {Fact::kChunkState, 2, tag::en, "State", S},
    {Fact::kStateAvailable, 3, tag::val, "Available", 0},
    {Fact::kStateAllocated, 3, tag::val, "Allocated", 0},

    // The log daemon's buffers.
    {Fact::kSerializedLogBuffer, 0, tag::cls, "SerializedLogBuffer", S},
    {Fact::kLogBufferLogs, 1, tag::mem, "logs_", 0},
    {Fact::kSerializedLogChunk, 0, tag::cls, "SerializedLogChunk", S},
    {Fact::kChunkContents, 1, tag::mem, "contents_", F},
    {Fact::kContentsData, 2, tag::mem, "data_", 0},
    {Fact::kContentsSize, 2, tag::mem, "size_", 0},
    {Fact::kChunkWriteOffset, 1, tag::mem, "write_offset_", 0},
    {Fact::kChunkCompressedLog, 1, tag::mem, "compressed_log_", O},
    {Fact::kLogId, 0, tag::en, "log_id", S},
    {Fact::kLogIdMain, 1, tag::val, "LOG_ID_MAIN", 0},
    {Fact::kLogIdRadio, 1, tag::val, "LOG_ID_RADIO", 0},
    {Fact::kLogIdEvents, 1, tag::val, "LOG_ID_EVENTS", 0},
    {Fact::kLogIdSystem, 1, tag::val, "LOG_ID_SYSTEM", 0},
    {Fact::kLogIdCrash, 1, tag::val, "LOG_ID_CRASH", 0},
    {Fact::kLogIdStats, 1, tag::val, "LOG_ID_STATS", 0},
    {Fact::kLogIdSecurity, 1, tag::val, "LOG_ID_SECURITY", 0},
    {Fact::kLogIdKernel, 1, tag::val, "LOG_ID_KERNEL", O},
    {Fact::kLogIdMax, 1, tag::val, "LOG_ID_MAX", 0},

    // The malloc debug library's state.
    {Fact::kDebugData, 0, tag::cls, "DebugData", S},
    {Fact::kDebugBacktrace, 1, tag::mem, "backtrace", O},
    {Fact::kDebugFreeTrack, 1, tag::mem, "free_track", O},  // absent once pointers moved to PointerData
    {Fact::kDebugExtraBytes, 1, tag::mem, "extra_bytes_", 0},
    {Fact::kDebugPointerOffset, 1, tag::mem, "pointer_offset_", 0},
    {Fact::kDebugConfig, 1, tag::mem, "config_", F},
    {Fact::kConfigFrontGuardBytes, 2, tag::mem, "front_guard_bytes_", 0},
    {Fact::kConfigRearGuardBytes, 2, tag::mem, "rear_guard_bytes_", 0},
    {Fact::kConfigBacktraceFrames, 2, tag::mem, "backtrace_frames_", 0},
    {Fact::kConfigFillOnAllocBytes, 2, tag::mem, "fill_on_alloc_bytes_", 0},
    {Fact::kConfigFillOnFreeBytes, 2, tag::mem, "fill_on_free_bytes_", 0},
    {Fact::kConfigFreeTrackAllocations, 2, tag::mem, "free_track_allocations_", 0},
    {Fact::kConfigOptions, 2, tag::mem, "options_", 0},
    {Fact::kConfigFillFreeValue, 2, tag::mem, "fill_free_value_", 0},
    {Fact::kConfigFrontGuardValue, 2, tag::mem, "front_guard_value_", 0},
    {Fact::kConfigRearGuardValue, 2, tag::mem, "rear_guard_value_", 0},
    {Fact::kFreePointerInfo, 0, tag::st, "FreePointerInfoType", S | O},
    {Fact::kFreePointerPointer, 1, tag::mem, "pointer", O},
    {Fact::kFreePointerMangledPtr, 1, tag::mem, "mangled_ptr", O},
    {Fact::kFreePointerHashIndex, 1, tag::mem, "hash_index", 0},

    // The Java runtime.
    {Fact::kArt, 0, tag::ns, "art", S},
    {Fact::kRuntime, 1, tag::cls, "Runtime", S},
    {Fact::kRuntimeCalleeSaveMethods, 2, tag::mem, "callee_save_methods_", 0},
    {Fact::kRuntimeCalleeSaveMethodFrameInfos, 2, tag::mem, "callee_save_method_frame_infos_", 0},
    {Fact::kRuntimeCompilerCallbacks, 2, tag::mem, "compiler_callbacks_", 0},
    {Fact::kRuntimeClassLinker, 2, tag::mem, "class_linker_", 0},
    {Fact::kRuntimeOatFileManager, 2, tag::mem, "oat_file_manager_", O},
    {Fact::kClassLinker, 1, tag::cls, "ClassLinker", S},
    {Fact::kClassLinkerBootClassPath, 2, tag::mem, "boot_class_path_", 0},
    {Fact::kClassLinkerOatFiles, 2, tag::mem, "oat_files_", O},
    {Fact::kClassLinkerDexCaches, 2, tag::mem, "dex_caches_", 0},
    {Fact::kClassLinkerImagePointerSize, 2, tag::mem, "image_pointer_size_", 0},
    {Fact::kThread, 1, tag::cls, "Thread", S},
    {Fact::kThreadTls32, 2, tag::mem, "tls32_", F},
    {Fact::kTls32StateAndFlags, 3, tag::mem, "state_and_flags", 0},
    {Fact::kThreadTlsPtr, 2, tag::mem, "tlsPtr_", F},
    {Fact::kTlsPtrManagedStack, 3, tag::mem, "managed_stack", F},
    {Fact::kManagedStackTaggedJniSpMask, 4, tag::mem, "kTaggedJniSpMask", O},
    {Fact::kManagedStackTopQuickFrame, 4, tag::mem, "top_quick_frame_", O},
    {Fact::kManagedStackTaggedTopQuickFrame, 4, tag::mem, "tagged_top_quick_frame_", O},
    {Fact::kManagedStackLink, 4, tag::mem, "link_", 0},
    {Fact::kManagedStackTopShadowFrame, 4, tag::mem, "top_shadow_frame_", 0},
    {Fact::kTlsPtrName, 3, tag::mem, "name", 0},
    {Fact::kThreadState, 1, tag::en, "ThreadState", S},
    {Fact::kStateTerminated, 2, tag::val, "kTerminated", 0},
    {Fact::kStateObsoleteRunnable, 2, tag::val, "kObsoleteRunnable", O},
    {Fact::kStateRunnable, 2, tag::val, "kRunnable", 0},
    {Fact::kStateTimedWaiting, 2, tag::val, "kTimedWaiting", 0},
    {Fact::kStateSleeping, 2, tag::val, "kSleeping", 0},
    {Fact::kStateBlocked, 2, tag::val, "kBlocked", 0},
    {Fact::kStateWaiting, 2, tag::val, "kWaiting", 0},
    {Fact::kStateNativeForAbort, 2, tag::val, "kNativeForAbort", O},
    {Fact::kStateStarting, 2, tag::val, "kStarting", 0},
    {Fact::kStateNative, 2, tag::val, "kNative", 0},
    {Fact::kStateSuspended, 2, tag::val, "kSuspended", 0},
    {Fact::kOatFile, 1, tag::cls, "OatFile", S},
    {Fact::kOatFileLocation, 2, tag::mem, "location_", 0},
    {Fact::kOatFileBegin, 2, tag::mem, "begin_", 0},
    {Fact::kOatFileEnd, 2, tag::mem, "end_", 0},
    {Fact::kOatFileIsExecutable, 2, tag::mem, "is_executable_", 0},
    {Fact::kOatFileDexFilesStorage, 2, tag::mem, "oat_dex_files_storage_", 0},
    {Fact::kOatDexFile, 1, tag::cls, "OatDexFile", S},
    {Fact::kOatDexFileLocation, 2, tag::mem, "dex_file_location_", 0},
    {Fact::kOatDexFilePointer, 2, tag::mem, "dex_file_pointer_", 0},
    {Fact::kShadowFrame, 1, tag::cls, "ShadowFrame", S},
    {Fact::kShadowFrameLink, 2, tag::mem, "link_", 0},
    {Fact::kShadowFrameMethod, 2, tag::mem, "method_", O},
    {Fact::kShadowFrameDexPcPtr, 2, tag::mem, "dex_pc_ptr_", O},
    {Fact::kShadowFrameDexPc, 2, tag::mem, "dex_pc_", 0},
    {Fact::kShadowFrameVregs, 2, tag::mem, "vregs_", 0},
    {Fact::kArtMethod, 1, tag::cls, "ArtMethod", S},
    {Fact::kArtMethodDeclaringClass, 2, tag::mem, "declaring_class_", 0},
    {Fact::kArtMethodAccessFlags, 2, tag::mem, "access_flags_", 0},
    {Fact::kArtMethodDexCodeItemOffset, 2, tag::mem, "dex_code_item_offset_", O},
    {Fact::kArtMethodDexMethodIndex, 2, tag::mem, "dex_method_index_", 0},
    {Fact::kArtMethodPtrSizedFields, 2, tag::mem, "ptr_sized_fields_", F},
    {Fact::kPtrSizedEntryPointFromQuickCode, 3, tag::mem, "entry_point_from_quick_compiled_code_", 0},
    {Fact::kOatQuickMethodHeader, 1, tag::cls, "OatQuickMethodHeader", S},
    {Fact::kMethodHeaderMappingTableOffset, 2, tag::mem, "mapping_table_offset_", O},
    {Fact::kMethodHeaderVmapTableOffset, 2, tag::mem, "vmap_table_offset_", O},
    {Fact::kMethodHeaderCodeInfoOffset, 2, tag::mem, "code_info_offset_", O},
    {Fact::kMethodHeaderData, 2, tag::mem, "data_", O},
    {Fact::kMethodHeaderFrameInfo, 2, tag::mem, "frame_info_", F | O},
    {Fact::kFrameInfoFrameSize, 3, tag::mem, "frame_size_in_bytes_", O},
    {Fact::kFrameInfoCoreSpillMask, 3, tag::mem, "core_spill_mask_", O},
    {Fact::kMethodHeaderCodeSize, 2, tag::mem, "code_size_", O},
};

// Every fact has exactly one row, in the order of the enumeration.
constexpr bool rowsInOrder() {
    if (std::size(kRows) != kFactIdCount) return false;
    for (std::size_t i = 0; i < std::size(kRows); ++i)
        if (static_cast<std::size_t>(kRows[i].id) != i) return false;
    return true;
}
static_assert(rowsInOrder(), "the fact rows must follow the Fact enumeration one to one");

// The first fact of each group, in group order.
constexpr Fact kGroupStarts[kFactGroupCount] = {Fact::kPthreadInternal, Fact::kScudo, Fact::kSerializedLogBuffer,
                                                Fact::kDebugData, Fact::kArt};

constexpr std::string_view kThreadFiles[] = {"bionic/libc/bionic/pthread_create.cpp"};
constexpr std::string_view kScudoFiles[] = {"external/scudo/standalone/wrappers_c_bionic.cpp"};
constexpr std::string_view kLogDaemonFiles[] = {"system/logging/logd/SerializedLogBuffer.cpp",
                                                "system/logging/logd/main.cpp"};
constexpr std::string_view kMallocDebugFiles[] = {"bionic/libc/malloc_debug/malloc_debug.cpp",
                                                  "bionic/libc/malloc_debug/PointerData.cpp"};
constexpr std::string_view kArtFiles[] = {"art/runtime/runtime.cc",  "art/runtime/class_linker.cc",
                                          "art/runtime/thread.cc",   "art/runtime/oat_file.cc",
                                          "art/runtime/oat/oat_file.cc", "art_method.cc",
                                          "art/runtime/jit/jit_memory_region.cc"};

constexpr std::size_t kMaxPath = 127;
constexpr int kMaxDepth = 8;
constexpr int kMaxTypeHops = 16;

bool inThisWidth(const Row& row) {
    if (row.width == kOnly32) return !kIs64;
    if (row.width == kOnly64) return kIs64;
    return true;
}

}  // namespace

LayoutFactTable::LayoutFactTable() : scudoAllocatorName_(kScudoAndroidConfig) {
    std::fill(std::begin(indexOfId_), std::end(indexOfId_), -1);
    std::int32_t lastAtDepth[kMaxDepth];
    int group = -1;
    for (const Row& row : kRows) {
        if (group + 1 < kFactGroupCount && row.id == kGroupStarts[group + 1]) {
            ++group;
            groupFirst_[group] = static_cast<std::int32_t>(facts_.size());
            std::fill(std::begin(lastAtDepth), std::end(lastAtDepth), -1);
        }
        if (!inThisWidth(row)) continue;
        const auto index = static_cast<std::int32_t>(facts_.size());
        LayoutFact fact;
        fact.tag = row.tag;
        fact.name = row.name;
        fact.flags = row.flags;
        const std::int32_t parent = row.depth > 0 ? lastAtDepth[row.depth - 1] : -1;
        const std::int32_t previous = lastAtDepth[row.depth];
        if (previous >= 0 && parents_[previous] == parent) facts_[previous].next = index;
        if (parent >= 0 && facts_[parent].firstChild < 0) facts_[parent].firstChild = index;
        facts_.push_back(fact);
        parents_.push_back(parent);
        groups_.push_back(static_cast<FactGroup>(group));
        indexOfId_[static_cast<std::size_t>(row.id)] = index;
        lastAtDepth[row.depth] = index;
        for (int d = row.depth + 1; d < kMaxDepth; ++d) lastAtDepth[d] = -1;
    }
    facts_[indexOf(Fact::kScudoAllocator)].name = scudoAllocatorName_;
}

std::int32_t LayoutFactTable::indexOf(Fact fact) const {
    const auto id = static_cast<std::size_t>(fact);
    return id < kFactIdCount ? indexOfId_[id] : -1;
}

bool LayoutFactTable::resolve(FactGroup group, const DwarfInfo& dwarf) {
    const int g = static_cast<int>(group);
    const std::int32_t first = groupFirst_[g];
    std::int32_t end = first;
    while (static_cast<std::size_t>(end) < facts_.size() && groups_[end] == group) ++end;
    resetFacts(std::span<LayoutFact>(facts_).subspan(first, end - first));
    // The links inside the group are table indexes, so the resolver works on the whole table.
    groupDwarf_[g] = &dwarf;
    groupResolved_[g] = resolveFactGroup(dwarf, sourceFiles(group), facts_, first) == 0;
    return groupResolved_[g];
}

std::string LayoutFactTable::unresolvedPath(FactGroup group) const {
    // The facts that were looked for and not found (or found without their required members): a
    // root, or a fact whose parent's entry was found. Members of a structure that was never found
    // are not named; the last such fact in table order is the deepest of the last failed branch.
    for (auto i = static_cast<std::int32_t>(facts_.size()) - 1; i >= 0; --i) {
        if (groups_[i] != group || facts_[i].resolved || facts_[i].name.empty()) continue;
        bool required = true;
        for (std::int32_t a = i; a >= 0 && required; a = parents_[a]) required = !(facts_[a].flags & kFactOptional);
        const std::int32_t parent = parents_[i];
        if (required && (parent < 0 || facts_[parent].entry)) return pathAt(i);
    }
    return {};
}

void LayoutFactTable::reportUnresolved(Console& console, FactGroup group) const {
    console.error(Msg::UnrecognizedVariableStructure, unresolvedPath(group).c_str());
}

bool LayoutFactTable::resolved(Fact fact) const {
    const std::int32_t i = indexOf(fact);
    return i >= 0 && facts_[i].resolved;
}

std::int64_t LayoutFactTable::value(Fact fact) const {
    const std::int32_t i = indexOf(fact);
    return i >= 0 && facts_[i].resolved ? facts_[i].value : 0;
}

Entry LayoutFactTable::entry(Fact fact) const {
    const std::int32_t i = indexOf(fact);
    return i >= 0 && facts_[i].resolved ? facts_[i].entry : Entry{};
}

std::optional<std::uint64_t> LayoutFactTable::arrayLength(Fact fact) const {
    const std::int32_t i = indexOf(fact);
    if (i < 0 || !facts_[i].resolved) return std::nullopt;
    const DwarfInfo* dwarf = groupDwarf_[static_cast<int>(groups_[i])];
    if (!dwarf) return std::nullopt;
    Entry type = dwarf->typeOf(facts_[i].entry);
    for (int hop = 0; type && hop < kMaxTypeHops; ++hop) {
        const std::uint32_t t = type.tag();
        if (t == dw::kTagArrayType) break;
        if (t != dw::kTagTypedef && t != dw::kTagConstType && t != dw::kTagVolatileType) return std::nullopt;
        type = dwarf->typeOf(type);
    }
    if (!type || type.tag() != dw::kTagArrayType) return std::nullopt;
    for (Entry sub = dwarf->firstChild(type); sub; sub = dwarf->nextSibling(sub)) {
        if (sub.tag() != dw::kTagSubrangeType) continue;
        if (auto count = dwarf->constant(sub, dw::kAtCount)) return *count;
        auto upper = dwarf->signedConstant(sub, dw::kAtUpperBound);
        if (!upper || *upper < 0) return std::nullopt;
        const std::int64_t lower = dwarf->signedConstant(sub, dw::kAtLowerBound).value_or(0);
        if (lower < 0 || lower > *upper) return std::nullopt;
        return static_cast<std::uint64_t>(*upper - lower) + 1;
    }
    return std::nullopt;
}

std::string LayoutFactTable::path(Fact fact) const {
    const std::int32_t i = indexOf(fact);
    return i >= 0 ? pathAt(i) : std::string();
}

std::string LayoutFactTable::pathAt(std::int32_t index) const {
    std::vector<std::string_view> names;
    for (std::int32_t i = index; i >= 0; i = parents_[i]) names.push_back(facts_[i].name);
    std::string out;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        if (!out.empty()) out += '.';
        out += *it;
    }
    if (out.size() > kMaxPath) out.resize(kMaxPath);
    return out;
}

void LayoutFactTable::setScudoAllocatorName(std::string_view name) {
    scudoAllocatorName_ = name;
    facts_[indexOf(Fact::kScudoAllocator)].name = scudoAllocatorName_;
}

std::span<const std::string_view> LayoutFactTable::sourceFiles(FactGroup group) {
    switch (group) {
    case FactGroup::kThread: return kThreadFiles;
    case FactGroup::kScudo: return kScudoFiles;
    case FactGroup::kLogDaemon: return kLogDaemonFiles;
    case FactGroup::kMallocDebug: return kMallocDebugFiles;
    case FactGroup::kArt: return kArtFiles;
    }
    return {};
}

}  // namespace coresift
