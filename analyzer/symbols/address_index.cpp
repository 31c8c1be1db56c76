#include "analyzer/symbols/address_index.h"

#include <algorithm>
#include <queue>

namespace coresift {

AddressIndex::AddressIndex(std::vector<Interval> intervals) {
    std::erase_if(intervals, [](const Interval& i) { return i.end <= i.start; });
    if (intervals.empty()) return;

    // Sweep over the interval bounds; between two consecutive bounds the winner is the
    // lowest-ranked interval still open. Closed intervals leave the heap lazily.
    struct Bound {
        std::uint64_t at;
        bool opens;
        std::uint32_t index;
    };
    std::vector<Bound> bounds;
    bounds.reserve(intervals.size() * 2);
    for (std::uint32_t i = 0; i < intervals.size(); ++i) {
        bounds.push_back({intervals[i].start, true, i});
        bounds.push_back({intervals[i].end, false, i});
    }
    std::sort(bounds.begin(), bounds.end(), [](const Bound& a, const Bound& b) { return a.at < b.at; });

    auto byRank = [&intervals](std::uint32_t a, std::uint32_t b) {
        const Interval& x = intervals[a];
        const Interval& y = intervals[b];
        return x.rank != y.rank ? x.rank > y.rank : a > b;  // min-heap on (rank, position)
    };
    std::priority_queue<std::uint32_t, std::vector<std::uint32_t>, decltype(byRank)> open(byRank);
    std::vector<bool> closed(intervals.size(), false);

    std::size_t next = 0;
    while (next < bounds.size()) {
        std::uint64_t at = bounds[next].at;
        for (; next < bounds.size() && bounds[next].at == at; ++next) {
            if (bounds[next].opens) open.push(bounds[next].index);
            else closed[bounds[next].index] = true;
        }
        while (!open.empty() && closed[open.top()]) open.pop();
        if (open.empty() || next == bounds.size()) continue;
        std::uint64_t until = bounds[next].at;
        std::uint32_t payload = intervals[open.top()].payload;
        if (!segments_.empty() && segments_.back().end == at && segments_.back().payload == payload)
            segments_.back().end = until;
        else
            segments_.push_back({at, until, payload});
    }
}

std::optional<std::uint32_t> AddressIndex::find(std::uint64_t address) const {
    auto after = std::upper_bound(segments_.begin(), segments_.end(), address,
                                  [](std::uint64_t a, const Segment& s) { return a < s.start; });
    if (after == segments_.begin()) return std::nullopt;
    const Segment& segment = *(after - 1);
    if (address >= segment.end) return std::nullopt;
    return segment.payload;
}

}  // namespace coresift
