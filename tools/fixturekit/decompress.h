// Decompression of the compressed files found in test fixtures: gzip (the offline cases' ELF
// files) and xz (MiniDebugInfo, an ELF's .gnu_debugdata section). Output is capped so that a
// corrupt or hostile stream cannot exhaust memory.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "common/byte_reader.h"

namespace fixturekit {

inline constexpr std::size_t kMaxDecompressedSize = std::size_t{1} << 30;

// Nothing when the data is not a complete gzip (or zlib) stream or inflates past the cap.
std::optional<std::vector<std::uint8_t>> gunzip(common::ByteView data, std::size_t limit = kMaxDecompressedSize);
// Nothing when the data is not a complete xz stream or decodes past the cap.
std::optional<std::vector<std::uint8_t>> unxz(common::ByteView data, std::size_t limit = kMaxDecompressedSize);

}  // namespace fixturekit
