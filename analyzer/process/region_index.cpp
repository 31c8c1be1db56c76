#include "analyzer/process/region_index.h"

#include <new>

namespace coresift {

struct RegionIndex::Node {
    explicit Node(std::size_t* counter) : live(counter) { ++*live; }
    ~Node() { --*live; }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    std::size_t* live;  // the index's node count
    std::vector<Slot> slots;
};

RegionIndex::RegionIndex(unsigned addressBits, unsigned pageShift) {
    unsigned pageBits = addressBits - pageShift;
    if (pageBits <= 21) {
        unsigned top = (pageBits >> 1) + 1;
        levelBits_ = {top, pageBits - top};
    } else {
        unsigned lower = pageBits / 3;
        levelBits_ = {pageBits - 2 * lower, lower, lower};
    }
    unsigned shift = addressBits;
    for (unsigned bits : levelBits_) {
        shift -= bits;
        shifts_.push_back(shift);
    }
    top_.resize(std::size_t{1} << levelBits_[0]);
}

RegionIndex::~RegionIndex() = default;

MapEntry* RegionIndex::find(std::uint64_t address) const {
    const Slot* slot = &top_[address >> shifts_[0]];
    for (unsigned level = 1; slot->child; ++level) {
        std::uint64_t index = (address >> shifts_[level]) & ((std::uint64_t{1} << levelBits_[level]) - 1);
        slot = &slot->child->slots[index];
    }
    return slot->whole;
}

std::unique_ptr<RegionIndex::Node> RegionIndex::makeNode(unsigned level, MapEntry* fill) {
    std::unique_ptr<Node> node(new (std::nothrow) Node(&nodes_));
    if (!node) return nullptr;
    try {
        node->slots.resize(std::size_t{1} << levelBits_[level]);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    for (Slot& slot : node->slots) slot.whole = fill;
    return node;
}

bool RegionIndex::assign(std::uint64_t start, std::uint64_t end, MapEntry* entry) {
    if (start >= end) return true;
    return assignIn(top_, 0, 0, start, end, entry);
}

// Enters [start, end) into the slots of one node whose span begins at `base`.
bool RegionIndex::assignIn(std::vector<Slot>& slots, unsigned level, std::uint64_t base, std::uint64_t start,
                           std::uint64_t end, MapEntry* entry) {
    std::uint64_t span = spanOf(level);
    std::uint64_t first = (start - base) / span;
    std::uint64_t last = (end - 1 - base) / span;
    for (std::uint64_t i = first; i <= last; ++i) {
        Slot& slot = slots[i];
        std::uint64_t slotStart = base + i * span;
        std::uint64_t slotEnd = slotStart + span;
        bool lastLevel = level + 1 == levels();  // pages: always whole
        if ((start <= slotStart && end >= slotEnd) || lastLevel) {
            slot.whole = entry;
            slot.child.reset();
            continue;
        }
        if (!slot.child) {
            // The slot's span was one region (or none); its pages keep that until overwritten.
            slot.child = makeNode(level + 1, slot.whole);
            if (!slot.child) return false;
            slot.whole = nullptr;
        }
        std::uint64_t from = start > slotStart ? start : slotStart;
        std::uint64_t to = end < slotEnd ? end : slotEnd;
        if (!assignIn(slot.child->slots, level + 1, slotStart, from, to, entry)) return false;
    }
    return true;
}

}  // namespace coresift
