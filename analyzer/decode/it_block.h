// Thumb IT blocks. The decoder reads each instruction alone, as it reads outside an IT block; a
// client that walks Thumb code in order keeps an ItBlock and decodes through `decodeThumbInBlock`,
// which hands the visitor the condition of the block and clears the flag setting of 16-bit data
// processing (those encodings set the flags only outside a block; compares always set them).
#pragma once

#include <cstdint>

#include "analyzer/decode/decoder.h"

namespace coresift::decode {

class ItBlock {
public:
    // The IT instruction's immediate (first condition << 4 | mask) starts a block.
    void start(std::uint64_t firstConditionAndMask) { state_ = static_cast<std::uint8_t>(firstConditionAndMask); }
    void clear() { state_ = 0; }
    bool active() const { return (state_ & 15) != 0; }
    // The condition of the next instruction in the block.
    unsigned condition() const { return state_ >> 4; }
    // Steps past one instruction of the block.
    void advance() {
        if (!active()) return;
        state_ = (state_ & 7) == 0 ? 0 : static_cast<std::uint8_t>((state_ & 0xE0) | ((state_ << 1) & 0x1F));
    }
    // True when this instruction is the last one of the block (a branch may only end a block).
    bool last() const { return active() && (state_ & 7) == 0; }

private:
    std::uint8_t state_ = 0;
};

// Decodes one Thumb instruction in the context of `block` and advances the block; an IT
// instruction starts a new block (and is reported to the visitor as usual).
unsigned decodeThumbInBlock(ItBlock& block, std::uint32_t instruction, unsigned& length, const Visitor& visitor,
                            void* context);

}  // namespace coresift::decode
