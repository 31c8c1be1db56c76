// Open-addressing table with 32-bit keys, used for threads, file descriptors and thread groups.
//
// The visiting order shows in the report ("all threads" are listed in slot order), so the layout
// is fixed: a power-of-two number of slots, a key's home slot is key & (slots - 1), collisions
// probe linearly with wrap-around, and the table doubles when count * 4 >= slots * 3 after an
// insert, re-inserting the old slots in slot order. Several values may share a key (thread
// groups share a stack hash); a match callback decides which stored value a probe means.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace coresift {

template <class Value>
class HashTable {
public:
    // `requestedSlots` is rounded up to a power of two (at least 1).
    explicit HashTable(std::size_t requestedSlots) : slots_(roundUpToPowerOfTwo(requestedSlots)) {}

    HashTable(const HashTable&) = delete;
    HashTable& operator=(const HashTable&) = delete;
    HashTable(HashTable&&) noexcept = default;
    HashTable& operator=(HashTable&&) noexcept = default;

    std::size_t size() const { return count_; }
    std::size_t slotCount() const { return slots_.size(); }

    // The stored value with this key for which `matches(value)` holds, or null.
    template <class Match>
    Value* find(std::uint32_t key, Match&& matches) const {
        std::size_t mask = slots_.size() - 1;
        for (std::size_t i = key & mask, probes = 0; probes < slots_.size(); i = (i + 1) & mask, ++probes) {
            const Slot& slot = slots_[i];
            if (!slot.value) return nullptr;
            if (slot.key == key && matches(static_cast<const Value&>(*slot.value))) return slot.value.get();
        }
        return nullptr;
    }

    struct Inserted {
        Value* value = nullptr;  // the stored value: the new one, or the one that matched
        bool isNew = false;      // false when a matching value existed (or memory ran out)
    };

    // Stores `value` under `key` unless a matching value exists already, in which case that one
    // is returned and `value` is dropped. When the table cannot grow, the insert is undone and
    // the result holds no value.
    template <class Match>
    Inserted insert(std::uint32_t key, std::unique_ptr<Value> value, Match&& matches) {
        if (Value* existing = find(key, matches)) return {existing, false};
        if (!value) return {};
        Value* stored = value.get();
        std::size_t at = placeInto(slots_, key, std::move(value));
        ++count_;
        if (count_ * 4 >= slots_.size() * 3 && !grow()) {
            // Nothing is ever removed singly, so the slot just filled was the first empty one of
            // its probe run and emptying it restores the table exactly.
            slots_[at].value.reset();
            --count_;
            return {};
        }
        return {stored, true};
    }

    // Visits the values in slot order; a non-zero visitor result stops the walk and is returned.
    template <class Visitor>
    int forEach(Visitor&& visit) const {
        for (const Slot& slot : slots_) {
            if (!slot.value) continue;
            if (int r = visit(*slot.value)) return r;
        }
        return 0;
    }

    // Removes every value (their destructors run in slot order).
    void clear() {
        for (Slot& slot : slots_) slot.value.reset();
        count_ = 0;
    }

private:
    struct Slot {
        std::uint32_t key = 0;
        std::unique_ptr<Value> value;
    };

    static std::size_t roundUpToPowerOfTwo(std::size_t n) {
        std::size_t size = 1;
        while (size < n) size <<= 1;
        return size;
    }

    // Puts the value into the first empty slot from the key's home; returns the slot index.
    static std::size_t placeInto(std::vector<Slot>& slots, std::uint32_t key, std::unique_ptr<Value> value) {
        std::size_t mask = slots.size() - 1;
        std::size_t i = key & mask;
        while (slots[i].value) i = (i + 1) & mask;
        slots[i].key = key;
        slots[i].value = std::move(value);
        return i;
    }

    bool grow() {
        std::vector<Slot> bigger;
        try {
            bigger.resize(slots_.size() * 2);
        } catch (const std::bad_alloc&) {
            return false;
        }
        for (Slot& slot : slots_)
            if (slot.value) placeInto(bigger, slot.key, std::move(slot.value));
        slots_ = std::move(bigger);
        return true;
    }

    std::vector<Slot> slots_;
    std::size_t count_ = 0;
};

}  // namespace coresift
