// The entry array of a unit (private to the debugging-information reader).
#pragma once

#include <algorithm>
#include <optional>
#include <vector>

#include "analyzer/symbols/dwarf_info.h"

namespace coresift {

struct DwarfInfo::EntryTree {
    static constexpr std::uint32_t kNone = UINT32_MAX;
    struct Record {
        std::uint64_t offset;
        std::uint64_t attributes;
        const Abbreviation* abbreviation;
        std::uint32_t firstChild = kNone, sibling = kNone;
    };
    std::vector<Record> records;  // in offset order

    std::optional<std::uint32_t> indexOf(std::uint64_t offset) const {
        auto at = std::lower_bound(records.begin(), records.end(), offset,
                                   [](const Record& r, std::uint64_t o) { return r.offset < o; });
        if (at == records.end() || at->offset != offset) return std::nullopt;
        return static_cast<std::uint32_t>(at - records.begin());
    }
};

}  // namespace coresift
