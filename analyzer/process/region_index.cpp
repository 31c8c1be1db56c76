#include "analyzer/process/region_index.h"

#include <new>

namespace coresift {

namespace {

constexpr unsigned kLowerLevelBits = 9;
constexpr std::uintptr_t kTableMark = 1;

bool isTable(std::uintptr_t slot) { return slot & kTableMark; }
std::uintptr_t* tableOf(std::uintptr_t slot) { return reinterpret_cast<std::uintptr_t*>(slot & ~kTableMark); }
MapEntry* entryOf(std::uintptr_t slot) { return reinterpret_cast<MapEntry*>(slot); }

}  // namespace

RegionIndex::RegionIndex(unsigned addressBits, unsigned pageShift) {
    unsigned pageBits = addressBits - pageShift;
    if (pageBits <= 20) {
        unsigned top = (pageBits >> 1) + 1;  // 32-bit addresses, 4 KiB pages: 11 and 9 bits
        levelBits_ = {top, pageBits - top};
    } else {
        unsigned lower = (pageBits - 1) / kLowerLevelBits;
        levelBits_.push_back(pageBits - lower * kLowerLevelBits);
        levelBits_.insert(levelBits_.end(), lower, kLowerLevelBits);
    }
    unsigned shift = addressBits;
    for (unsigned bits : levelBits_) {
        shift -= bits;
        shifts_.push_back(shift);
    }
    top_.assign(std::size_t{1} << levelBits_[0], 0);
}

RegionIndex::~RegionIndex() {
    for (Slot slot : top_)
        if (isTable(slot)) freeTable(tableOf(slot), 1);
}

MapEntry* RegionIndex::find(std::uint64_t address) const {
    Slot slot = top_[address >> shifts_[0]];
    for (unsigned level = 1; isTable(slot); ++level) {
        std::uint64_t index = (address >> shifts_[level]) & ((std::uint64_t{1} << levelBits_[level]) - 1);
        slot = tableOf(slot)[index];
    }
    return entryOf(slot);
}

RegionIndex::Slot* RegionIndex::makeTable(unsigned level, Slot fill) {
    std::size_t count = std::size_t{1} << levelBits_[level];
    Slot* table = new (std::nothrow) Slot[count];
    if (!table) return nullptr;
    for (std::size_t i = 0; i < count; ++i) table[i] = fill;
    ++tables_;
    return table;
}

void RegionIndex::freeTable(Slot* table, unsigned level) {
    if (level + 1 < levels()) {
        std::size_t count = std::size_t{1} << levelBits_[level];
        for (std::size_t i = 0; i < count; ++i)
            if (isTable(table[i])) freeTable(tableOf(table[i]), level + 1);
    }
    delete[] table;
    --tables_;
}

bool RegionIndex::assign(std::uint64_t start, std::uint64_t end, MapEntry* entry) {
    if (start >= end) return true;
    return assignIn(top_.data(), 0, 0, start, end, entry);
}

// Enters [start, end) into the slots of one table whose span begins at `base`.
bool RegionIndex::assignIn(Slot* slots, unsigned level, std::uint64_t base, std::uint64_t start, std::uint64_t end,
                           MapEntry* entry) {
    std::uint64_t span = spanOf(level);
    std::uint64_t first = (start - base) / span;
    std::uint64_t last = (end - 1 - base) / span;
    for (std::uint64_t i = first; i <= last; ++i) {
        Slot& slot = slots[i];
        std::uint64_t slotStart = base + i * span;
        std::uint64_t slotEnd = slotStart + span;
        bool lastLevel = level + 1 == levels();  // page slots are always covered whole
        if ((start <= slotStart && end >= slotEnd) || lastLevel) {
            if (isTable(slot)) freeTable(tableOf(slot), level + 1);
            slot = reinterpret_cast<Slot>(entry);
            continue;
        }
        if (!isTable(slot)) {
            // The slot's span was one region (or none); its pages keep that until overwritten.
            Slot* child = makeTable(level + 1, slot);
            if (!child) return false;
            slot = reinterpret_cast<Slot>(child) | kTableMark;
        }
        std::uint64_t from = start > slotStart ? start : slotStart;
        std::uint64_t to = end < slotEnd ? end : slotEnd;
        if (!assignIn(tableOf(slot), level + 1, slotStart, from, to, entry)) return false;
    }
    return true;
}

}  // namespace coresift
