// Page index of the address space: answers "which region holds this address" with a fixed number
// of table reads, however many regions there are.
//
// A radix tree over page numbers. Every slot holds either the region that covers the slot's whole
// span (or none) or, marked by bit 0, a child table for the next address bits. With 32-bit
// addresses and 4 KiB pages there are two levels: 2048 top slots (address >> 21) and 512-entry
// second levels ((address >> 12) & 511). The wider AArch64 spaces (39 or 47 bits) use 512-entry
// lower levels below a small top level, as the processor's own translation tables do, so a region
// entered at an odd place costs a few 4 KiB tables, never megabytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace coresift {

struct MapEntry;

class RegionIndex {
public:
    // `addressBits` is the width of the address space (32, 39 or 47); `pageShift` log2 of the page size.
    RegionIndex(unsigned addressBits, unsigned pageShift);
    ~RegionIndex();
    RegionIndex(const RegionIndex&) = delete;
    RegionIndex& operator=(const RegionIndex&) = delete;

    // The region holding `address` (already untagged, below 2^addressBits), or null.
    MapEntry* find(std::uint64_t address) const;

    // Makes every page of [start, end) (page-aligned, end <= 2^addressBits) answer `entry`
    // (null clears). Whole spans go into the highest slot that covers them; partial spans get
    // child tables. Returns false when memory for a table ran out (pages entered so far keep
    // their new entry).
    bool assign(std::uint64_t start, std::uint64_t end, MapEntry* entry);

    unsigned levels() const { return static_cast<unsigned>(levelBits_.size()); }
    unsigned levelBits(unsigned level) const { return levelBits_[level]; }
    // Child tables currently allocated (for tests of the layout).
    std::size_t tableCount() const { return tables_; }

private:
    using Slot = std::uintptr_t;  // a MapEntry*, or a child table's address | 1

    bool assignIn(Slot* slots, unsigned level, std::uint64_t base, std::uint64_t start, std::uint64_t end,
                  MapEntry* entry);
    Slot* makeTable(unsigned level, Slot fill);
    void freeTable(Slot* table, unsigned level);
    std::uint64_t spanOf(unsigned level) const { return std::uint64_t{1} << shifts_[level]; }

    std::vector<unsigned> levelBits_;  // index bits per level, top first
    std::vector<unsigned> shifts_;     // address shift of each level's index
    std::vector<Slot> top_;
    std::size_t tables_ = 0;
};

}  // namespace coresift
