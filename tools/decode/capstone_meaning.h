// Capstone read into the comparable meaning of meaning.h (the oracle side of the differential).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/decode/meaning.h"

namespace decodetools {

// The coarse class of a disassembler's mnemonic (condition, flag and width suffixes removed), the
// same mapping capstone's text goes through; used for llvm-mc's text too.
std::string mnemonicClass(const std::string& mnemonic, bool a64);

class CapstoneOracle {
public:
    CapstoneOracle();
    ~CapstoneOracle();
    CapstoneOracle(const CapstoneOracle&) = delete;
    CapstoneOracle& operator=(const CapstoneOracle&) = delete;

    // Decodes one instruction from `bytes` (at most `available` of them) at `address`.
    Meaning decode(Isa isa, const std::uint8_t* bytes, std::size_t available, std::uint64_t address);
    // Decode-and-print throughput reference: the number of instructions capstone decodes in `size`
    // bytes, one call per instruction, with or without operand details.
    // Starts Thumb decoding afresh (capstone keeps the IT block state between instructions).
    void resetThumb();
    std::size_t disassembleAll(Isa isa, const std::uint8_t* bytes, std::size_t size, std::uint64_t address, bool details);

private:
    std::size_t handles_[3] = {0, 0, 0};
    void* scratch_[3] = {nullptr, nullptr, nullptr};
};

}  // namespace decodetools
