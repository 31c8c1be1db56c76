#include "tools/fixturekit/decompress.h"

#include <algorithm>

#include <lzma.h>
#include <zlib.h>

namespace fixturekit {

std::optional<std::vector<std::uint8_t>> gunzip(common::ByteView data, std::size_t limit) {
    z_stream z{};
    // 32 + MAX_WBITS: accept both gzip and zlib headers.
    if (inflateInit2(&z, 32 + MAX_WBITS) != Z_OK) return std::nullopt;
    std::vector<std::uint8_t> out;
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    int status = Z_OK;
    while (status == Z_OK) {
        if (out.size() >= limit) break;
        const std::size_t chunk = std::min<std::size_t>(1 << 20, limit - out.size());
        const std::size_t before = out.size();
        out.resize(before + chunk);
        z.next_out = out.data() + before;
        z.avail_out = static_cast<uInt>(chunk);
        status = inflate(&z, Z_NO_FLUSH);
        out.resize(before + (chunk - z.avail_out));
        if (status == Z_BUF_ERROR && z.avail_in == 0) break;  // truncated input
    }
    inflateEnd(&z);
    if (status != Z_STREAM_END) return std::nullopt;
    return out;
}

std::optional<std::vector<std::uint8_t>> unxz(common::ByteView data, std::size_t limit) {
    lzma_stream s = LZMA_STREAM_INIT;
    if (lzma_stream_decoder(&s, UINT64_MAX, 0) != LZMA_OK) return std::nullopt;
    std::vector<std::uint8_t> out;
    s.next_in = data.data();
    s.avail_in = data.size();
    lzma_ret status = LZMA_OK;
    while (status == LZMA_OK) {
        if (out.size() >= limit) break;
        const std::size_t chunk = std::min<std::size_t>(1 << 20, limit - out.size());
        const std::size_t before = out.size();
        out.resize(before + chunk);
        s.next_out = out.data() + before;
        s.avail_out = chunk;
        status = lzma_code(&s, s.avail_in ? LZMA_RUN : LZMA_FINISH);
        out.resize(before + (chunk - s.avail_out));
    }
    lzma_end(&s);
    if (status != LZMA_STREAM_END) return std::nullopt;
    return out;
}

}  // namespace fixturekit
