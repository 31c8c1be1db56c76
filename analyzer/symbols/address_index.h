// A sorted index over address intervals that answers "which interval covers this address" with
// exactly the answer of an ordered scan: among all intervals [start, end) that contain the
// address, the one of the lowest rank (its position in the scan order) wins.
//
// Symbol tables, debug-information units and line-table sequences are searched through it. The
// intervals are flattened once into disjoint segments, each naming its winner, so a look-up is a
// binary search whatever the overlaps are.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace coresift {

class AddressIndex {
public:
    struct Interval {
        std::uint64_t start = 0, end = 0;  // [start, end); empty or reversed intervals are ignored
        std::uint32_t rank = 0;            // lower wins
        std::uint32_t payload = 0;         // what a covering look-up returns
    };

    AddressIndex() = default;
    // Builds the index; `intervals` may come in any order.
    explicit AddressIndex(std::vector<Interval> intervals);

    // The payload of the lowest-ranked interval containing `address`.
    std::optional<std::uint32_t> find(std::uint64_t address) const;
    bool empty() const { return segments_.empty(); }
    std::size_t segmentCount() const { return segments_.size(); }

    // The payload of each segment in address order, with its bounds (tests and walks).
    struct Segment {
        std::uint64_t start, end;
        std::uint32_t payload;
    };
    const std::vector<Segment>& segments() const { return segments_; }

private:
    std::vector<Segment> segments_;
};

// The sum `start + size`, held at the top of the address range instead of wrapping around.
inline std::uint64_t saturatingEnd(std::uint64_t start, std::uint64_t size) {
    return size > UINT64_MAX - start ? UINT64_MAX : start + size;
}

}  // namespace coresift
