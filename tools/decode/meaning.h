// The meaning of one decoded instruction, in a form two decoders with different spellings can be
// compared on: definedness, a coarse mnemonic class, registers read and written, flags,
// condition, immediate operand, branch target and memory access. This is the normalizer of the
// decoder's differential check; the mapping from each side's spelling to these fields is
// documented in docs/decoder-differential.md.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace decodetools {

enum class Status { Undefined, Unmodelled, Defined };
enum class Isa { Arm, Thumb, A64 };

// Canonical register ids: 0..30 general registers, 31 SP, 32 PC (the zero register is no register).
inline constexpr int kSp = 31, kPc = 32;

struct Meaning {
    Status status = Status::Undefined;
    unsigned length = 4;
    std::string cls;                 // coarse mnemonic class ("add", "load", "bl", "system:dmb", ...)
    std::uint64_t read = 0, written = 0;
    std::uint64_t vectorRead = 0, vectorWritten = 0;
    bool setsFlags = false;
    int condition = 14;              // 0..13, 14 = always
    bool hasImmediate = false;
    std::uint64_t immediate = 0;     // the immediate second operand, at the operation's width
    bool hasTarget = false;
    std::uint64_t target = 0;        // branch target address
    bool hasMemory = false;
    int memoryBase = -1, memoryIndex = -1;
    std::int64_t displacement = 0;   // immediate offset (post-index amount for post-indexed forms)
    bool writeBack = false;
    int elementBytes = 0;            // bytes per transferred register; 0 when not compared
    std::string text;                // the decoder's own text, for examples
};

// Names of the fields in which two meanings differ ("class", "written", ...); empty when they agree.
std::vector<std::string> differences(const Meaning& ours, const Meaning& oracle);
std::string describe(const Meaning& m);

}  // namespace decodetools
