// Recognition of 32-bit ARM linker stubs (PLT entries) behind call targets.
#include "analyzer/decode/linker_stub.h"

#include <cstdint>

namespace coresift::decode {
namespace {

constexpr std::uint32_t rotatedImmediate(std::uint32_t word) {
    const std::uint32_t imm8 = word & 0xFF, rotation = 2 * ((word >> 8) & 15);
    return rotation ? (imm8 >> rotation) | (imm8 << (32 - rotation)) : imm8;
}

// ADD IP, PC, #imm / ADD IP, IP, #imm (condition always).
constexpr bool isAddIpPc(std::uint32_t w) { return (w & 0xFFFFF000) == 0xE28FC000; }
constexpr bool isAddIpIp(std::uint32_t w) { return (w & 0xFFFFF000) == 0xE28CC000; }
// LDR PC, [IP, #imm]{!} with the offset added or subtracted.
constexpr bool isLoadPcFromIp(std::uint32_t w) { return (w & 0xFF5FF000) == 0xE51CF000; }

std::optional<TargetWord> armStubSlot(const TargetMemory& memory, TargetWord entry) {
    std::uint32_t w[4];
    if (!memory.read(entry, w, sizeof w)) {
        // The short entry is three words; the last one may end a mapping.
        if (!memory.read(entry, w, 12)) return std::nullopt;
        w[3] = 0;
    }
    if (isAddIpPc(w[0])) {
        TargetWord slot = entry + 8 + rotatedImmediate(w[0]);
        for (unsigned i = 1; i < 4; ++i) {
            if (isAddIpIp(w[i])) {
                slot += rotatedImmediate(w[i]);
                continue;
            }
            if (!isLoadPcFromIp(w[i])) return std::nullopt;
            const std::uint32_t offset = w[i] & 0xFFF;
            return (w[i] & (1u << 23)) ? slot + offset : slot - offset;
        }
        return std::nullopt;
    }
    // LDR IP, [PC, #4] ; ADD IP, IP, PC ; LDR PC, [IP] ; .word offset
    if (w[0] == 0xE59FC004 && w[1] == 0xE08CC00F && w[2] == 0xE59CF000) return entry + 12 + w[3];
    return std::nullopt;
}

}  // namespace

std::optional<TargetWord> linkerStubSlot(const TargetMemory& memory, TargetWord entry) {
    if (entry & 1) {
        // A Thumb caller's entry: BX PC ; NOP switches to the ARM entry that follows.
        const TargetWord thumb = entry & ~TargetWord{1};
        std::uint16_t h[2];
        if (!memory.read(thumb, h, sizeof h) || h[0] != 0x4778 || (h[1] != 0x46C0 && h[1] != 0xE7FD)) return std::nullopt;
        return armStubSlot(memory, thumb + 4);
    }
    return armStubSlot(memory, entry & ~TargetWord{3});
}

std::optional<TargetWord> linkerStubTarget(const TargetMemory& memory, TargetWord entry) {
    const std::optional<TargetWord> slot = linkerStubSlot(memory, entry);
    std::uint32_t value;
    if (!slot || !memory.read32(*slot, value)) return std::nullopt;
    return static_cast<TargetWord>(value);
}

}  // namespace coresift::decode
