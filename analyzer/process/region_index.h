// Page index of the address space: answers "which region holds this address" with a fixed number
// of table reads, however many regions there are.
//
// A radix tree over page numbers. Every slot either names the region that covers the slot's whole
// span or points to a child node for the next address bits. With 32-bit addresses and 4 KiB pages
// there are two levels: 2048 top slots (address >> 21) and 512-entry second levels
// ((address >> 12) & 511). Wider address spaces (39 or 47 bits on AArch64) use three levels of
// at most 4096 slots each, so a region entered at an odd place costs a few small nodes, never
// megabytes.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "common/target_word.h"

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
    // child nodes. Returns false when memory for a node ran out (pages entered so far keep
    // their new entry).
    bool assign(std::uint64_t start, std::uint64_t end, MapEntry* entry);

    unsigned levels() const { return static_cast<unsigned>(levelBits_.size()); }
    unsigned levelBits(unsigned level) const { return levelBits_[level]; }
    // Child nodes currently allocated (for tests of the layout).
    std::size_t nodeCount() const { return nodes_; }

private:
    struct Node;
    struct Slot {
        MapEntry* whole = nullptr;
        std::unique_ptr<Node> child;
    };

    bool assignIn(std::vector<Slot>& slots, unsigned level, std::uint64_t base, std::uint64_t start,
                  std::uint64_t end, MapEntry* entry);
    std::unique_ptr<Node> makeNode(unsigned level, MapEntry* fill);
    std::uint64_t spanOf(unsigned level) const { return std::uint64_t{1} << shifts_[level]; }

    std::size_t nodes_ = 0;            // declared before the slots: nodes count themselves out
    std::vector<unsigned> levelBits_;  // index bits per level, top first
    std::vector<unsigned> shifts_;     // address shift of each level's index
    std::vector<Slot> top_;
};

}  // namespace coresift
