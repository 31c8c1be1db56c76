// The memory of a process being put together for a core: regions (mappings with permissions and
// names) and the pages whose bytes are known. Used to turn snapshots of a thread into load
// segments: known pages are kept whole (zero-padded), unknown pages stay out of the file.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/byte_reader.h"
#include "tools/corekit/core_builder.h"

namespace fixturekit {

inline constexpr std::uint64_t kPageSize = 4096;

inline std::uint64_t pageDown(std::uint64_t a) { return a & ~(kPageSize - 1); }
inline std::uint64_t pageUp(std::uint64_t a) { return (a + kPageSize - 1) & ~(kPageSize - 1); }

struct Region {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    std::uint32_t flags = 0;  // PF_R | PF_W | PF_X
    std::string name;         // device path, "[vdso]", a label, or empty
    bool fileBacked = false;
    std::uint64_t fileOffset = 0;
    // Give the whole region bytes once any page is known (zeros elsewhere), rather than only the
    // known pages.
    bool wholeWhenKnown = false;
    std::map<std::uint64_t, std::vector<std::uint8_t>> pages;  // page address -> kPageSize bytes
};

class MemoryLayout {
public:
    // Adds a region; false when it overlaps one already there (it is then left out).
    bool add(Region region);
    // The page-aligned runs of [start, end) that no region covers.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> uncovered(std::uint64_t start, std::uint64_t end) const;
    Region* regionAt(std::uint64_t address);
    const Region* regionAt(std::uint64_t address) const;
    // Stores bytes at `address`; bytes outside every region are dropped and counted.
    std::uint64_t write(std::uint64_t address, common::ByteView bytes);

    const std::vector<Region>& regions() const { return regions_; }
    // The load segments: regions in address order, split where known and unknown pages meet
    // (unless the region is whole-when-known, or writable and not file-backed).
    std::vector<corekit::CoreSegment> segments() const;

private:
    std::vector<Region> regions_;  // sorted by start, not overlapping
};

}  // namespace fixturekit
