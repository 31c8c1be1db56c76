// What an instruction reads and writes, derived from the normalized form: the registers, the
// flags, memory and the PC. Clients that follow values through code (the argument scanner, the
// listing's slice, the differential check against other disassemblers) use this one reading of
// the visitor arguments.
#pragma once

#include <cstdint>

#include "analyzer/decode/decoder.h"

namespace coresift::decode {

struct Effects {
    std::uint64_t read = 0;           // bit n: value register n (general registers, SP, PC)
    std::uint64_t written = 0;
    std::uint64_t vectorRead = 0;     // bit n: vector register n
    std::uint64_t vectorWritten = 0;
    bool readsFlags = false;
    bool writesFlags = false;
    bool loads = false;
    bool stores = false;
    bool branches = false;            // may change the PC
    bool calls = false;               // branch with link
    bool undefined = false;
    bool unimplemented = false;
};

extern const Visitor kEffectsVisitor;  // context: Effects*, cleared by the caller

Effects effectsOf(InstructionSet set, std::uint32_t word, unsigned& length);

// Registers a call may change: the argument, scratch and link registers of the calling convention
// (CoreSift: R0-R3, R12, R14; CoreSift64: X0-X18, X30).
inline constexpr std::uint64_t kCallClobbered = kIs64 ? 0x4007FFFFull : 0x500Full;

}  // namespace coresift::decode
