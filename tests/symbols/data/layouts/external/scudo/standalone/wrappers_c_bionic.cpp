#include "../../../layout_fixture.h"

namespace scudo {
typedef uintptr_t uptr;
typedef uint8_t u8;
typedef uint32_t u32;
typedef uint64_t u64;

enum class OptionBit : u32 {
    MayReturnNull, FillContents0of2, FillContents1of2, DeallocTypeMismatch, DeleteSizeMismatch,
    TrackAllocationStacks, UseOddEvenTags, UseMemoryTagging, AddLargeAllocationSlack,
};

namespace Chunk {
enum State : u8 { Available = 0, Allocated = 1, Quarantined = 2 };
}  // namespace Chunk

namespace LargeBlock {
struct Header {
    Header* Prev;
    Header* Next;
    uptr CommitBase;
    uptr CommitSize;
    uptr MapBase;
    uptr MapSize;
};
}  // namespace LargeBlock

struct AtomicOptions {
    u32 Val;
};

#if __LP64__
template <class Config> class SizeClassAllocator64 {
public:
    static const uptr NumClasses = 33;
    struct PagesInfo {
        uptr MemMap;
        uptr MappedUser;
        uptr AllocatedUser;
    };
    struct UnpaddedRegionInfo {
        uptr Mutex;
        uptr FreeList;
        uptr RegionBeg;
        PagesInfo MemMapInfo;
        bool Exhausted;
    };
    struct RegionInfo : UnpaddedRegionInfo {
        char Padding[64 - sizeof(UnpaddedRegionInfo) % 64];
    };
    uptr PrimaryBase;
    AtomicOptions Options;
    RegionInfo RegionInfoArray[NumClasses];
};
#else
template <class Config> class SizeClassAllocator32 {
public:
    static const uptr RegionSize = 1UL << 18;
    static const uptr NumRegions = 1UL << 14;
    struct ByteMap {
        u8 Map[NumRegions];
    };
    uptr MinRegionIndex;
    uptr MaxRegionIndex;
    ByteMap PossibleRegions;
};
#endif

template <class Config> class MapAllocatorCache {
public:
    struct CachedBlock {
        uptr CommitBase;
        uptr CommitSize;
        uptr BlockBegin;
        uptr MemMap;
        u64 Time;
    };
    u32 EntriesCount;
    CachedBlock Entries[32];
    CachedBlock Quarantine[32];
    u32 QuarantinePos;
};

template <class T> struct DoublyLinkedList {
    uptr Size;
    T* First;
    T* Last;
};

template <class Config> class MapAllocator {
public:
    MapAllocatorCache<Config> Cache;
    uptr Mutex;
    DoublyLinkedList<LargeBlock::Header> InUseBlocks;
};

struct AndroidConfig {};

template <class Config, void (*PostInitCallback)(void) = nullptr> class Allocator {
public:
    static const uptr MinAlignment = sizeof(void*) * 2;
    static const u32 BlockMarker = 0x44554353U;
#if __LP64__
    typedef SizeClassAllocator64<Config> PrimaryT;
#else
    typedef SizeClassAllocator32<Config> PrimaryT;
#endif
    u32 Flags;
    u32 Cookie;
    PrimaryT Primary;
    MapAllocator<Config> Secondary;
};
}  // namespace scudo

extern "C" void scudo_malloc_postinit() {}
using AllocatorT = scudo::Allocator<scudo::AndroidConfig, scudo_malloc_postinit>;
AllocatorT TheAllocator;
scudo::Chunk::State LastState;
scudo::OptionBit LastOption;

using Cache = scudo::MapAllocatorCache<scudo::AndroidConfig>;
FACT_EXPECTED expected_scudo[] = {
    AllocatorT::MinAlignment,
    AllocatorT::BlockMarker,
    FACT_OFFSET(AllocatorT, Cookie),
    FACT_OFFSET(AllocatorT, Primary),
#if __LP64__
    FACT_OFFSET(AllocatorT, Primary.Options),
    FACT_OFFSET(AllocatorT, Primary.RegionInfoArray),
    FACT_OFFSET(AllocatorT, Primary.RegionInfoArray) + FACT_OFFSET(AllocatorT::PrimaryT::UnpaddedRegionInfo, RegionBeg),
    FACT_OFFSET(AllocatorT, Primary.RegionInfoArray) +
        FACT_OFFSET(AllocatorT::PrimaryT::UnpaddedRegionInfo, MemMapInfo.MappedUser),
    FACT_OFFSET(AllocatorT, Primary.RegionInfoArray) +
        FACT_OFFSET(AllocatorT::PrimaryT::UnpaddedRegionInfo, MemMapInfo.AllocatedUser),
    sizeof(AllocatorT::PrimaryT::RegionInfo),
#else
    AllocatorT::PrimaryT::RegionSize,
    AllocatorT::PrimaryT::NumRegions,
    FACT_OFFSET(AllocatorT, Primary.PossibleRegions),
#endif
    FACT_OFFSET(AllocatorT, Secondary.Cache.Entries),
    FACT_OFFSET(AllocatorT, Secondary.Cache.Entries) + FACT_OFFSET(Cache::CachedBlock, CommitBase),
    FACT_OFFSET(AllocatorT, Secondary.Cache.Entries) + FACT_OFFSET(Cache::CachedBlock, CommitSize),
    FACT_OFFSET(AllocatorT, Secondary.Cache.Entries) + FACT_OFFSET(Cache::CachedBlock, Time),
    FACT_OFFSET(AllocatorT, Secondary.Cache.Quarantine),
    sizeof(Cache::CachedBlock),
    FACT_OFFSET(AllocatorT, Secondary.InUseBlocks.First),
    FACT_OFFSET(scudo::LargeBlock::Header, Next),
    FACT_OFFSET(scudo::LargeBlock::Header, CommitSize),
    sizeof(scudo::LargeBlock::Header),
    static_cast<long long>(scudo::OptionBit::UseMemoryTagging),
    scudo::Chunk::Allocated,
};
