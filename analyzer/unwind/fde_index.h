// A sorted index of the FDEs of a CFI section, built by walking the section once: `.debug_frame`
// (which has no search table) and `.eh_frame` when its `.eh_frame_hdr` cannot be used.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "analyzer/unwind/cfi_entries.h"

namespace coresift::unwind {

class FdeIndex {
public:
    // Entries read at most: bounds the walk over a damaged section.
    static constexpr std::size_t kMaxEntries = std::size_t{1} << 20;

    void build(const CfiSection& section);
    // The address of the FDE whose range covers `pc`: of those that do, the one starting
    // closest below pc, the first in the section among equals. An FDE at location 0 (a function
    // the linker dropped) covers only pc 0.
    std::optional<TargetWord> find(TargetWord pc) const;
    std::size_t size() const { return ranges_.size(); }

private:
    struct Range {
        TargetWord begin, end, fde;
    };
    std::vector<Range> ranges_;  // by begin; among equal begins the first in the section last
};

}  // namespace coresift::unwind
