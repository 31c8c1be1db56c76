// The dead process's memory as the analyzer sees it: an ordered set of non-overlapping regions
// created from the coredump's load segments, found by address through a page index, read
// through bounds-checked copies or pointers into the region's bytes.
//
// Region bytes are made available lazily, once per region: a span of the dump's mapping (no
// copy), the module's file through the region's data provider, memory the region holds itself,
// or zeros. Reads never cross a region's end. On AArch64 the top byte of an address is a tag
// and is ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analyzer/process/map_entry.h"
#include "analyzer/process/region_index.h"
#include "common/byte_reader.h"
#include "common/target_word.h"

namespace coresift {

class Console;

// Where a load segment's bytes lie in the dump: `length` bytes from `offset` (length 0: none).
struct DumpRange {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

class AddressSpace {
public:
    // `dump` is the whole dump file (kept alive by `dumpOwner`); `dumpName` is used in messages.
    // `addressBits` is 32 (CoreSift) or 39/47 (CoreSift64); `pageShift` log2 of the dump's page size.
    AddressSpace(Console& console, std::string dumpName, common::ByteView dump, std::shared_ptr<const void> dumpOwner,
                 unsigned addressBits, unsigned pageShift);
    ~AddressSpace();
    AddressSpace(const AddressSpace&) = delete;
    AddressSpace& operator=(const AddressSpace&) = delete;

    TargetWord pageSize() const { return pageSize_; }
    unsigned addressBits() const { return addressBits_; }
    std::size_t regionCount() const { return regions_.size(); }
    const std::string& dumpName() const { return dumpName_; }

    // Adds the region [start, start + size) with permission bits (execute 0x10, write 0x20,
    // read 0x40) whose bytes lie in the dump at `bytes` (length 0: none). Bytes the dump holds
    // for only the first part of the region (a code mapping dumped as its header page, or a
    // dump cut short) stay with that part; the rest is a region without dump bytes. The region
    // entered last owns pages shared with earlier ones. Returns false after message 40 (bounds
    // not page-aligned, empty, or beyond the address space) or warning 19 (out of memory).
    bool addRegion(TargetWord start, TargetWord size, std::uint32_t permissions, DumpRange bytes);

    // The region holding `address`, with a reference held until the RegionRef is released.
    RegionRef findRegion(TargetWord address) const { return RegionRef(regionAt(address)); }
    // The same without a reference, for look-ups that do not keep the region.
    MapEntry* regionAt(TargetWord address) const;

    // Sets a region's name and its naming kind bits (type, owned name, managed, marked, Java heap).
    void nameRegion(MapEntry& region, std::string_view name, std::uint32_t kind);
    // Names the region that exactly matches a named line of the db's memory map; other lines
    // change nothing.
    void nameFromMapsLine(TargetWord start, TargetWord end, std::string_view path);
    // Makes a region part of a module; regions without dump bytes then read from `provider`.
    void attachModule(MapEntry& region, Module* module, DataProvider provider);

    // Pointer to the bytes [address, address + length) of `region`, or null when the range is not
    // inside the region or its bytes cannot be had.
    const std::uint8_t* regionBytes(MapEntry& region, TargetWord address, TargetWord length);
    // The region's whole bytes as a view (empty when they cannot be had).
    common::ByteView regionView(MapEntry& region);

    // Copies target memory; false when no region holds `address` or the range runs past its end.
    bool readMemory(TargetWord address, void* buffer, std::size_t length);
    template <class T>
    std::optional<T> read(TargetWord address) {
        T value;
        if (!readMemory(address, &value, sizeof value)) return std::nullopt;
        return value;
    }
    // The NUL-terminated text at `address`, cut at the end of its region; none when unreadable.
    std::optional<std::string> readString(TargetWord address);

    // Visits regions in address order from the one holding `from` (or the first after it) while
    // their start is below `to`; a non-zero visitor result ends the walk and is returned.
    using RegionVisitor = std::function<int(TargetWord start, TargetWord end, std::uint32_t kind)>;
    int walkRegions(TargetWord from, TargetWord to, const RegionVisitor& visit) const;
    int forEachRegion(TargetWord from, TargetWord to, const std::function<int(MapEntry&)>& visit) const;

    // Cuts the region holding the page-aligned `address` in two there. Returns 0 (also when no
    // region holds it or it is the region's start) or 1 after warning 19.
    int splitRegion(TargetWord address);

    // Makes the pages of [start, end) one region per compatible stretch and hands each to
    // `visit` (with a reference held). Returns 1 when the range cannot be claimed, the visitor's
    // first non-zero result, or 0.
    int claimRange(TargetWord start, TargetWord end, const std::function<int(MapEntry&)>& visit);

    // Drops the tag byte of an AArch64 address; other addresses are returned as they are.
    static TargetWord untag(TargetWord address);

private:
    using RegionMap = std::map<TargetWord, std::unique_ptr<MapEntry>>;

    bool aligned(TargetWord value) const { return (value & (pageSize_ - 1)) == 0; }
    bool enterRegion(std::unique_ptr<MapEntry> entry);
    bool clearRange(TargetWord start, TargetWord end);
    void retire(std::unique_ptr<MapEntry> entry);
    std::unique_ptr<MapEntry> makeUpperPart(const MapEntry& lower, TargetWord at);
    const std::uint8_t* ensureBytes(MapEntry& region);
    bool copyRegionBytes(MapEntry& region, std::uint8_t* out);
    bool mergeRun(MapEntry& first, const std::vector<MapEntry*>& absorbed);
    bool canAbsorb(const MapEntry& into, MapEntry& next, TargetWord previousEnd);
    void reportOutOfMemory() const;
    void reportTruncatedDump();

    Console& console_;
    std::string dumpName_;
    common::ByteView dump_;
    std::shared_ptr<const void> dumpOwner_;
    unsigned addressBits_;
    TargetWord pageSize_;
    RegionIndex index_;
    RegionMap regions_;
    // Regions taken out of the address space while a look-up still held them; freed at teardown.
    std::vector<std::unique_ptr<MapEntry>> retired_;
    bool truncationReported_ = false;
};

// The region's line in the map listing: "start-end permissions label name".
std::string regionListingLine(const MapEntry& region);

}  // namespace coresift
