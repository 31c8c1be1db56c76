#include "analyzer/symbols/decompress.h"

#include <lzma.h>
#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <climits>
#include <new>

namespace coresift {
namespace {

// The XZ decoder may use this much memory for its dictionary and state (xz -9 needs 65 MiB).
constexpr std::uint64_t kXzMemoryLimit = std::uint64_t{256} << 20;

Decompressed failure(DecompressError error) {
    Decompressed d;
    d.error = error;
    return d;
}

// Allocates the output buffer; false when memory is short.
bool allocate(std::vector<std::uint8_t>& buffer, std::uint64_t size) {
    try {
        buffer.resize(static_cast<std::size_t>(size));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace

std::uint64_t decompressionLimit(std::uint64_t inputSize) {
    std::uint64_t scaled = inputSize > kMaxDecompressedSize / kMaxExpansion ? kMaxDecompressedSize
                                                                            : inputSize * kMaxExpansion;
    return std::min(kMaxDecompressedSize, std::max(scaled, kMinDecompressionLimit));
}

Decompressed inflateZlib(common::ByteView input, std::uint64_t size) {
    if (size > decompressionLimit(input.size())) return failure(DecompressError::TooLarge);
    Decompressed out;
    if (!allocate(out.bytes, size)) return failure(DecompressError::OutOfMemory);

    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return failure(DecompressError::OutOfMemory);
    std::uint8_t spare = 0;  // zlib wants a non-null output pointer even for an empty output
    stream.next_out = size ? out.bytes.data() : &spare;
    stream.avail_out = static_cast<uInt>(size);  // size is below the limit, far below UINT_MAX
    const std::uint8_t* next = input.data();
    std::uint64_t left = input.size();
    int status = Z_OK;
    while (status == Z_OK) {
        if (stream.avail_in == 0 && left > 0) {
            auto chunk = static_cast<uInt>(std::min<std::uint64_t>(left, UINT_MAX));
            stream.next_in = const_cast<Bytef*>(next);
            stream.avail_in = chunk;
            next += chunk;
            left -= chunk;
        }
        status = inflate(&stream, Z_FINISH);
        if (status == Z_BUF_ERROR && stream.avail_in == 0 && left > 0) status = Z_OK;  // feed more
    }
    bool complete = status == Z_STREAM_END && stream.total_out == size;
    inflateEnd(&stream);
    if (status == Z_MEM_ERROR) return failure(DecompressError::OutOfMemory);
    if (!complete) return failure(DecompressError::Corrupt);
    return out;
}

Decompressed decompressZstd(common::ByteView input, std::uint64_t size) {
    if (size > decompressionLimit(input.size())) return failure(DecompressError::TooLarge);
    Decompressed out;
    if (!allocate(out.bytes, size)) return failure(DecompressError::OutOfMemory);
    std::size_t produced = ZSTD_decompress(out.bytes.data(), out.bytes.size(), input.data(), input.size());
    if (ZSTD_isError(produced)) {
        if (ZSTD_getErrorCode(produced) == ZSTD_error_memory_allocation) return failure(DecompressError::OutOfMemory);
        return failure(DecompressError::Corrupt);
    }
    if (produced != size) return failure(DecompressError::Corrupt);
    return out;
}

Decompressed decompressXz(common::ByteView input) {
    const std::uint64_t limit = decompressionLimit(input.size());
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_stream_decoder(&stream, kXzMemoryLimit, LZMA_CONCATENATED) != LZMA_OK)
        return failure(DecompressError::OutOfMemory);
    stream.next_in = input.data();
    stream.avail_in = input.size();

    Decompressed out;
    std::uint64_t capacity = std::min(limit, std::max<std::uint64_t>(2 * input.size(), 64));
    DecompressError error = DecompressError::None;
    if (!allocate(out.bytes, capacity)) error = DecompressError::OutOfMemory;
    stream.next_out = out.bytes.data();
    stream.avail_out = out.bytes.size();
    while (error == DecompressError::None) {
        if (stream.avail_out == 0) {
            if (capacity >= limit) {
                error = DecompressError::TooLarge;
                break;
            }
            capacity = std::min(limit, capacity * 2);
            if (!allocate(out.bytes, capacity)) {
                error = DecompressError::OutOfMemory;
                break;
            }
            stream.next_out = out.bytes.data() + stream.total_out;
            stream.avail_out = out.bytes.size() - stream.total_out;
        }
        lzma_ret status = lzma_code(&stream, LZMA_FINISH);
        if (status == LZMA_STREAM_END) break;
        if (status == LZMA_OK) continue;
        if (status == LZMA_BUF_ERROR && stream.avail_out == 0) continue;  // only needs more room
        error = status == LZMA_MEM_ERROR ? DecompressError::OutOfMemory : DecompressError::Corrupt;
    }
    std::uint64_t produced = stream.total_out;
    lzma_end(&stream);
    if (error != DecompressError::None) return failure(error);
    out.bytes.resize(static_cast<std::size_t>(produced));
    out.bytes.shrink_to_fit();
    return out;
}

}  // namespace coresift
