// Reading the entries of a call-frame information section: `.eh_frame` (in the dump, reached
// through `.eh_frame_hdr` or walked from its start) and `.debug_frame` (a symbol file's section).
// Every entry is read through the section memory's bounds-checked views; a malformed entry gives
// its message and no result.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "analyzer/unwind/cfi_types.h"
#include "analyzer/unwind/unwind_memory.h"

namespace coresift::unwind {

// One CFI section. Addresses are those of the memory that holds it: target addresses for
// `.eh_frame` in the dump; offsets (start 0) for a `.debug_frame` section held by a SpanMemory.
struct CfiSection {
    const UnwindMemory* memory = nullptr;
    CfiFormat format = CfiFormat::EhFrame;
    TargetWord start = 0;
    TargetWord size = 0;  // 0: unknown, the section runs to the end of its region
    TableNames names;
};

enum class EntryKind : std::uint8_t { Cie, Fde, Terminator };

// The frame of one entry: its kind, where its body (after the CIE id / pointer) lies, and where
// the next entry starts.
struct EntryHeader {
    EntryKind kind = EntryKind::Terminator;
    TargetWord address = 0;
    TargetWord next = 0;
    TargetWord cieAddress = 0;  // FDE: the CIE it names
    TargetWord bodyAddress = 0;
    common::ByteView body;
};

// The entry at `address`; nothing when it cannot be read whole inside the section (silent: a
// walk ends there).
std::optional<EntryHeader> readEntryHeader(const CfiSection& section, TargetWord address);

// Parses the CIE at `address`. Messages: unsupported version, augmentation, return-address
// register, pointer encoding; an entry that is not a readable CIE reports the address as corrupted.
std::optional<Cie> readCie(const CfiSection& section, TargetWord address);

// Parses the FDE whose header is `header`, with `cie` (already parsed) as its CIE.
std::optional<Fde> readFdeBody(const CfiSection& section, const EntryHeader& header, const Cie& cie);

// Parses the FDE at `address` with its CIE; reports an entry that is not a readable FDE.
std::optional<Fde> readFde(const CfiSection& section, TargetWord address);

// Walks the section's entries from its start and calls `visit` with each FDE's address and the
// range it covers, in section order, until the end of the section, a terminator, an unreadable
// entry or `maxEntries` entries. FDEs whose CIE or initial location cannot be read are skipped
// silently. Returns the number of entries walked.
std::size_t forEachFde(const CfiSection& section, std::size_t maxEntries,
                       const std::function<void(TargetWord fde, TargetWord pcBegin, TargetWord pcEnd)>& visit);

}  // namespace coresift::unwind
