#include "analyzer/unwind/fde_index.h"

#include <algorithm>

namespace coresift::unwind {

namespace {
// How many ranges below pc are looked at for one that covers it (overlapping FDEs are rare).
constexpr std::size_t kOverlapLookback = 16;
}  // namespace

void FdeIndex::build(const CfiSection& section) {
    ranges_.clear();
    forEachFde(section, kMaxEntries, [this](TargetWord fde, TargetWord begin, TargetWord end) {
        if (begin == 0) end = std::min<TargetWord>(end, 1);
        if (end > begin) ranges_.push_back({begin, end, fde});
    });
    // Reversed before a stable sort, so that among equal starts the first FDE of the section
    // comes last, where the backward search meets it first.
    std::reverse(ranges_.begin(), ranges_.end());
    std::stable_sort(ranges_.begin(), ranges_.end(), [](const Range& a, const Range& b) { return a.begin < b.begin; });
}

std::optional<TargetWord> FdeIndex::find(TargetWord pc) const {
    auto above = std::upper_bound(ranges_.begin(), ranges_.end(), pc,
                                  [](TargetWord value, const Range& r) { return value < r.begin; });
    for (std::size_t looked = 0; above != ranges_.begin() && looked < kOverlapLookback; ++looked) {
        --above;
        if (pc < above->end) return above->fde;
    }
    return std::nullopt;
}

}  // namespace coresift::unwind
