// Decompression of ELF section contents: zlib and Zstandard (SHF_COMPRESSED sections) and XZ
// (`.gnu_debugdata`). The compressed bytes come from a file and are untrusted: output is capped
// so that a hostile size field or a decompression bomb cannot exhaust memory.
#pragma once

#include <cstdint>
#include <vector>

#include "common/byte_reader.h"

namespace coresift {

// No decompressed section is larger than this, nor larger than kMaxExpansion times its input
// (zlib cannot expand more than about 1032 times; debug data is far below both).
inline constexpr std::uint64_t kMaxDecompressedSize = std::uint64_t{256} << 20;
inline constexpr std::uint64_t kMaxExpansion = 1024;
inline constexpr std::uint64_t kMinDecompressionLimit = std::uint64_t{64} << 10;

// The largest output allowed for `inputSize` compressed bytes.
std::uint64_t decompressionLimit(std::uint64_t inputSize);

enum class DecompressError { None, Corrupt, TooLarge, OutOfMemory };

struct Decompressed {
    DecompressError error = DecompressError::None;
    std::vector<std::uint8_t> bytes;
};

// A zlib stream that must decompress to exactly `size` bytes.
Decompressed inflateZlib(common::ByteView input, std::uint64_t size);
// Zstandard frames that must decompress to exactly `size` bytes.
Decompressed decompressZstd(common::ByteView input, std::uint64_t size);
// One or more XZ streams of unknown decompressed size. The output buffer starts at twice the
// input size and doubles until the decoder finishes or the limit is reached.
Decompressed decompressXz(common::ByteView input);

}  // namespace coresift
