#include "analyzer/symbols/function_tables.h"

#include <algorithm>
#include <new>

namespace coresift {

namespace {

constexpr std::uint32_t kMaxEntries = 1u << 22;
constexpr std::uint8_t kTableEncoding = 0x3B;  // data-relative, signed 4 bytes
constexpr std::uint8_t kOmit = 0xFF;

// Reads one pointer-encoded integer (its format only; the application bits do not matter for
// the values read here).
std::optional<std::uint64_t> readEncoded(common::ByteReader& r, std::uint8_t encoding) {
    if (encoding == kOmit) return 0;
    switch (encoding & 0x0F) {
        case 0x00: return kIs64 ? r.u64() : r.u32();
        case 0x01: return r.uleb128();
        case 0x02: return r.u16();
        case 0x03: return r.u32();
        case 0x04: return r.u64();
        case 0x09: return static_cast<std::uint64_t>(r.sleb128());
        case 0x0A: return static_cast<std::uint64_t>(static_cast<std::int64_t>(r.s16()));
        case 0x0B: return static_cast<std::uint64_t>(static_cast<std::int64_t>(r.s32()));
        case 0x0C: return r.u64();
        default: return std::nullopt;
    }
}

}  // namespace

std::optional<FunctionIndex> FunctionIndex::fromEhFrameHdr(common::ByteView bytes, TargetWord address) {
    common::ByteReader r(bytes);
    std::uint8_t version = r.u8(), framePointerEncoding = r.u8(), countEncoding = r.u8(), tableEncoding = r.u8();
    if (!r.ok() || version != 1 || tableEncoding != kTableEncoding) return std::nullopt;
    if (!readEncoded(r, framePointerEncoding)) return std::nullopt;
    auto count = readEncoded(r, countEncoding);
    if (!count || !r.ok() || *count > kMaxEntries || *count * 8 > r.remaining()) return std::nullopt;
    FunctionIndex table;
    try {
        table.starts_.reserve(static_cast<std::size_t>(*count));
        for (std::uint64_t i = 0; i < *count; ++i) {
            std::int32_t location = r.s32();
            r.s32();  // the FDE
            table.starts_.push_back(static_cast<TargetWord>(address + static_cast<TargetWord>(location)) & ~TargetWord{1});
        }
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    std::sort(table.starts_.begin(), table.starts_.end());
    return table;
}

std::optional<FunctionIndex> FunctionIndex::fromExidx(common::ByteView bytes, TargetWord address, std::uint32_t count) {
    if (count > kMaxEntries || std::uint64_t{count} * 8 > bytes.size()) return std::nullopt;
    FunctionIndex table;
    try {
        table.starts_.reserve(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            std::uint32_t word = bytes.read<std::uint32_t>(std::uint64_t{i} * 8).value_or(0);
            // Sign-extend the 31-bit offset.
            std::int32_t offset = static_cast<std::int32_t>(word << 1) >> 1;
            TargetWord entry = address + i * 8;
            table.starts_.push_back(static_cast<TargetWord>(entry + static_cast<TargetWord>(offset)) & ~TargetWord{1});
        }
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    std::sort(table.starts_.begin(), table.starts_.end());
    return table;
}

std::optional<std::size_t> FunctionIndex::containing(TargetWord address) const {
    auto after = std::upper_bound(starts_.begin(), starts_.end(), address);
    if (after == starts_.begin()) return std::nullopt;
    return static_cast<std::size_t>(after - starts_.begin()) - 1;
}

std::size_t FunctionIndex::nearest(TargetWord address) const {
    auto at = std::lower_bound(starts_.begin(), starts_.end(), address);
    if (at == starts_.end()) return starts_.size() - 1;
    std::size_t index = static_cast<std::size_t>(at - starts_.begin());
    if (index > 0 && address - starts_[index - 1] < *at - address) --index;
    return index;
}

std::optional<TargetWord> FunctionIndex::length(std::size_t index) const {
    if (index + 1 >= starts_.size()) return std::nullopt;
    return starts_[index + 1] - starts_[index];
}

namespace {

std::uint32_t word32(common::ByteView b, std::size_t at) { return b.read<std::uint32_t>(at).value_or(0); }
std::uint16_t half(common::ByteView b, std::size_t at) { return b.read<std::uint16_t>(at).value_or(0); }

bool armWordsAlike(std::uint32_t a, std::uint32_t b) {
    return a == b || (((a >> 25) & 7) == 5 && ((b >> 25) & 7) == 5);
}

bool a64WordsAlike(std::uint32_t dump, std::uint32_t file) {
    return dump == file || ((file >> 26) & 0x1F) == 0x05;
}

bool isWideThumb(std::uint16_t first) { return (first >> 11) >= 0x1D; }

bool narrowThumbAlike(std::uint16_t a, std::uint16_t b) {
    if (a == b) return true;
    if ((a & 0xFF00) == (b & 0xFF00)) {
        std::uint16_t top5 = a >> 11;
        if (top5 == 0x09 || top5 == 0x14) return true;  // LDR (literal), ADR
        if ((a >> 12) == 0xD && ((a >> 9) & 7) != 7) return true;  // conditional branch
    }
    return (a >> 11) == 0x1C && (b >> 11) == 0x1C;  // unconditional branches
}

bool wideThumbAlike(std::uint16_t a1, std::uint16_t a2, std::uint16_t b1, std::uint16_t b2) {
    if (a1 == b1 && a2 == b2) return true;
    auto conditionalBranch = [](std::uint16_t f, std::uint16_t s) {
        return (f >> 11) == 0x1E && (s & 0xD000) == 0x8000 && ((f >> 7) & 7) != 7;
    };
    if (conditionalBranch(a1, a2) && conditionalBranch(b1, b2)) return ((a1 >> 6) & 0xF) == ((b1 >> 6) & 0xF);
    return (a1 >> 11) == 0x1E && (b1 >> 11) == 0x1E && (a2 & 0x8000) && (b2 & 0x8000);
}

}  // namespace

bool sameFunctionBody(common::ByteView dump, common::ByteView file, CodeKind kind) {
    if (file.size() < dump.size()) return false;
    const std::size_t n = dump.size();
    if (kind != CodeKind::Thumb) {
        for (std::size_t at = 0; at + 4 <= n; at += 4) {
            std::uint32_t a = word32(dump, at), b = word32(file, at);
            if (kind == CodeKind::Arm ? !armWordsAlike(a, b) : !a64WordsAlike(a, b)) return false;
        }
        return true;
    }
    for (std::size_t at = 0; at + 2 <= n;) {
        std::uint16_t a1 = half(dump, at), b1 = half(file, at);
        if (isWideThumb(a1) && at + 4 <= n) {
            if (!wideThumbAlike(a1, half(dump, at + 2), b1, half(file, at + 2))) return false;
            at += 4;
        } else {
            if (!narrowThumbAlike(a1, b1)) return false;
            at += 2;
        }
    }
    return true;
}

}  // namespace coresift
