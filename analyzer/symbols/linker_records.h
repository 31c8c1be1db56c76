// The dynamic linker's records of loaded libraries (Android's soinfo structures) as they lie in
// the dump, in the layouts of the linker versions this build reads.
//
// CoreSift (32-bit): a record holds a 128-byte inline name at 0, the program header address at
// 128, and from 140 on: base, size, (148), dynamic, two legacy words at 156 and 160, next, flags,
// ..., the `.ARM.exidx` count at 252, the link map's address and name at 260 and 264, the load
// bias at 284 and the record version at 292; newer versions hold the path as a string object at
// 380 or 388.
// CoreSift64: no inline name; the record starts with the program header address and count,
// then from its "window" at 16 (or at 24, in the layout with one more word before the base):
// base, size, dynamic, next, flags, the string and symbol tables, ..., the link map at window +
// 192 (address) and + 200 (name), the load bias at + 240 and the version at + 252. The layout is
// told by the word before the base: a program header count (1 to 16), or not. The path is a
// string object at 416 or 424 (432 or 440 for records whose path names the linker). Records of
// version below 2 have the smaller fixed layout: a pointer to the name at 0, the program header
// address at 8 and the window at 24.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/target_word.h"

namespace coresift {

class AddressSpace;
struct MapEntry;

struct LibraryRecord {
    TargetWord address = 0;
    TargetWord programHeaders = 0;
    TargetWord base = 0, size = 0, dynamic = 0, next = 0;
    TargetWord legacyA = 0, legacyB = 0;  // 32-bit words 156 and 160; 0 in CoreSift64
    std::uint32_t flags = 0;
    std::uint32_t exidxCount = 0;         // CoreSift only
    TargetWord linkAddress = 0, linkName = 0, loadBias = 0;
    std::uint32_t version = 0;
};

namespace record_flag {
inline constexpr std::uint32_t kFailedLink = 0x2;        // reported as a library that failed to link
inline constexpr std::uint32_t kUnrelocatedArrays = 0x8; // constructor tables hold file values
inline constexpr std::uint32_t kNewLayout = 0x40000000;
}  // namespace record_flag

class LinkerRecords {
public:
    LinkerRecords(AddressSpace& space, TargetWord linkerStart, TargetWord linkerBase)
        : space_(space), linkerStart_(linkerStart), linkerBase_(linkerBase) {}

    // The linker's first record in `region`, searched from the region's end towards its start.
    // On a hit the layout (record window offset, where names are) is fixed from that record.
    std::optional<TargetWord> findFirst(MapEntry& region);

    // The record at `address`; nothing when its fields cannot be read.
    std::optional<LibraryRecord> read(TargetWord address) const;
    // The record's path in the chosen layout (empty when unreadable).
    std::string nameOf(const LibraryRecord& record) const;

private:
    enum class NameForm { Inline, StringObject, Pointer };

    std::string readStringObject(TargetWord address) const;
    std::string readInlineName(TargetWord address) const;
    void chooseLayout(TargetWord record);

    AddressSpace& space_;
    TargetWord linkerStart_, linkerBase_;
    unsigned windowOffset_ = kIs64 ? 16 : 140;
    unsigned programHeadersOffset_ = kIs64 ? 0 : 128;
    NameForm nameForm_ = NameForm::Inline;
    unsigned nameOffset_ = 0;
};

}  // namespace coresift
