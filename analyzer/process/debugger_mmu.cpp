#include "analyzer/process/core_dump.h"

namespace coresift {

namespace {

unsigned log2Of(std::uint64_t value) {
    unsigned shift = 0;
    while (shift < 63 && (std::uint64_t{1} << shift) < value) ++shift;
    return shift;
}

// TCR granule and cacheability bits for the three AArch64 page sizes.
std::uint64_t granuleBits(TargetWord pageSize) {
    switch (pageSize) {
        case 16384: return 0x327500B500ull;
        case 65536: return 0x32F5007500ull;
        default: return 0x32B5003500ull;
    }
}

}  // namespace

unsigned addressBitsFor(std::uint64_t top) {
    if constexpr (!kIs64) return 32;
    return top < (std::uint64_t{1} << 39) ? 39 : 47;
}

DebuggerMmu debuggerMmuFor(TargetWord pageSize, std::uint64_t top) {
    DebuggerMmu mmu;
    if constexpr (!kIs64) {
        mmu.translationControl = 0x35003500;
        mmu.systemControl = 0x30C5383D;
        mmu.levelIndexBits = {12, 8};
        mmu.levelCountMinusOne = 1;
        return mmu;
    }
    unsigned pageShift = log2Of(pageSize);
    unsigned vaBits = addressBitsFor(top);
    mmu.translationControl = (64 - vaBits) * 0x10001ull | granuleBits(pageSize);
    mmu.systemControl = 0x04C5D93D;
    unsigned perLevel = pageShift - 3;
    unsigned remaining = vaBits - pageShift;
    while (remaining > 0 && mmu.levelIndexBits.size() < 4) {
        unsigned bits = perLevel > remaining ? remaining : perLevel;
        mmu.levelIndexBits.push_back(bits);
        remaining -= bits;
    }
    mmu.levelCountMinusOne = static_cast<unsigned>(mmu.levelIndexBits.size()) - 1;
    return mmu;
}

}  // namespace coresift
