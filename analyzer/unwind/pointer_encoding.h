// DWARF exception-header pointer encodings (DW_EH_PE_*), as `.eh_frame`, `.eh_frame_hdr` and CIE
// augmentations use them: a value format in the low nibble and how the value applies in the high
// nibble.
#pragma once

#include <cstdint>
#include <optional>

#include "common/byte_reader.h"
#include "common/target_word.h"

namespace coresift::unwind {

namespace pe {
inline constexpr std::uint8_t kAbsptr = 0x00, kUleb128 = 0x01, kUdata2 = 0x02, kUdata4 = 0x03, kUdata8 = 0x04,
                              kSleb128 = 0x09, kSdata2 = 0x0A, kSdata4 = 0x0B, kSdata8 = 0x0C;
inline constexpr std::uint8_t kPcrel = 0x10, kDatarel = 0x30, kAligned = 0x50, kIndirect = 0x80;
inline constexpr std::uint8_t kOmit = 0xFF;
}  // namespace pe

enum class PointerStatus : std::uint8_t {
    Ok,
    Unsupported,  // an encoding this reader does not take (the caller reports it)
    Truncated,    // the value runs past the bytes
};

// Where the bytes the reader walks lie in the target: byte 0 of the reader's view is at
// `viewAddress` (for pc-relative values and alignment); `dataBase` is the base of data-relative
// values (the `.eh_frame_hdr` address), absent where they are not allowed.
struct PointerBases {
    TargetWord viewAddress = 0;
    std::optional<TargetWord> dataBase;
};

// Reads one pointer in `encoding` at the reader's position. Omit (0xFF) gives 0 and reads
// nothing. A pc-relative value of 0 stays 0. 8-byte formats are read whole and cut to the target
// width in CoreSift.
PointerStatus readEncodedPointer(common::ByteReader& reader, std::uint8_t encoding, const PointerBases& bases,
                                 TargetWord& value);

// Steps over a pointer in `encoding` by the size of its value format, without applying or
// following it (a personality routine pointer, which may be indirect). Unsupported when the
// format is unknown.
PointerStatus skipEncodedPointer(common::ByteReader& reader, std::uint8_t encoding, const PointerBases& bases);

}  // namespace coresift::unwind
