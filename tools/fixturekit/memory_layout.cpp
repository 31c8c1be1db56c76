#include "tools/fixturekit/memory_layout.h"

#include <algorithm>
#include <cstring>

#include "tools/corekit/elf_constants.h"

namespace fixturekit {

namespace {
// Regions larger than this keep only their known pages even when they could be given whole.
constexpr std::uint64_t kMaxWholeRegion = std::uint64_t{64} << 20;
}  // namespace

bool MemoryLayout::add(Region region) {
    if (region.end <= region.start) return false;
    for (const auto& r : regions_)
        if (region.start < r.end && r.start < region.end) return false;
    auto at = std::lower_bound(regions_.begin(), regions_.end(), region.start,
                               [](const Region& r, std::uint64_t start) { return r.start < start; });
    regions_.insert(at, std::move(region));
    return true;
}

std::vector<std::pair<std::uint64_t, std::uint64_t>> MemoryLayout::uncovered(std::uint64_t start,
                                                                             std::uint64_t end) const {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> runs;
    std::uint64_t at = pageDown(start);
    const std::uint64_t stop = pageUp(end);
    for (const auto& r : regions_) {
        if (r.end <= at) continue;
        if (r.start >= stop) break;
        if (r.start > at) runs.emplace_back(at, r.start);
        at = std::max(at, r.end);
        if (at >= stop) break;
    }
    if (at < stop) runs.emplace_back(at, stop);
    return runs;
}

Region* MemoryLayout::regionAt(std::uint64_t address) {
    for (auto& r : regions_)
        if (address >= r.start && address < r.end) return &r;
    return nullptr;
}

const Region* MemoryLayout::regionAt(std::uint64_t address) const {
    for (const auto& r : regions_)
        if (address >= r.start && address < r.end) return &r;
    return nullptr;
}

std::uint64_t MemoryLayout::write(std::uint64_t address, common::ByteView bytes) {
    std::uint64_t dropped = 0;
    std::uint64_t done = 0;
    while (done < bytes.size()) {
        const std::uint64_t a = address + done;
        const std::uint64_t page = pageDown(a);
        const std::uint64_t inPage = a - page;
        const std::uint64_t n = std::min<std::uint64_t>(kPageSize - inPage, bytes.size() - done);
        if (Region* r = regionAt(a)) {
            auto& data = r->pages[page];
            if (data.empty()) data.assign(kPageSize, 0);
            std::memcpy(data.data() + inPage, bytes.data() + done, n);
        } else {
            dropped += n;
        }
        done += n;
    }
    return dropped;
}

std::vector<corekit::CoreSegment> MemoryLayout::segments() const {
    std::vector<corekit::CoreSegment> out;
    for (const auto& r : regions_) {
        const bool whole = !r.pages.empty() && r.end - r.start <= kMaxWholeRegion &&
                           (r.wholeWhenKnown || ((r.flags & corekit::elf::PF_W) && !r.fileBacked));
        std::uint64_t at = r.start;
        while (at < r.end) {
            // One run: pages that are all known, or all unknown (a whole region is one known run).
            const bool known = whole || r.pages.count(at);
            std::uint64_t runEnd = at;
            while (runEnd < r.end && (whole || (r.pages.count(runEnd) != 0) == known)) runEnd += kPageSize;
            corekit::CoreSegment s;
            s.vaddr = at;
            s.memsz = runEnd - at;
            s.flags = r.flags;
            if (known) {
                s.hasBytes = true;
                s.bytes.assign(static_cast<std::size_t>(s.memsz), 0);
                for (auto p = r.pages.lower_bound(at); p != r.pages.end() && p->first < runEnd; ++p)
                    std::memcpy(s.bytes.data() + (p->first - at), p->second.data(), kPageSize);
            }
            out.push_back(std::move(s));
            at = runEnd;
        }
    }
    return out;
}

}  // namespace fixturekit
