// The instruction emulator: executes one decoded instruction on a register state, as far as the
// values it needs are known. Forward emulation (forward_emulation.h) uses it to run a function to
// its return; it models the effects unwinding needs exactly (SP and PC arithmetic, loads,
// stores, pushes and pops, branches) and keeps every other register either computed or unknown.
#pragma once

#include <cstdint>

#include "analyzer/decode/decoder.h"
#include "analyzer/decode/it_block.h"
#include "analyzer/decode/register_state.h"
#include "analyzer/decode/target_memory.h"

namespace coresift::decode {

// Stores the emulation made, so that later loads see them; a small fixed table (the oldest entry
// is replaced when full), bytes read through to the dump otherwise.
class StoreLog {
public:
    void record(TargetWord address, TargetWord value, unsigned size);
    // Reads `size` bytes (1..8) at `address`: logged stores first, then `memory`.
    bool read(const TargetMemory& memory, TargetWord address, unsigned size, std::uint64_t& value) const;
    void forgetAll() { count_ = 0; }

private:
    struct Entry {
        TargetWord address;
        std::uint64_t value;
        unsigned size;
    };
    static constexpr unsigned kCapacity = 64;
    Entry entries_[kCapacity];
    unsigned count_ = 0, next_ = 0;
};

// What one instruction did to the flow of control.
struct StepResult {
    enum Kind : std::uint8_t {
        Next,        // go on with the following instruction
        Jump,        // unconditional branch to `target`
        Call,        // branch with link: the callee returns to the following instruction
        Return,      // PC loaded or moved from a register: `target` (unknown when !targetKnown)
        Conditional, // conditional branch to `target` (flags unknown: both ways possible)
        Undefined,   // undefined instruction: the path is not code
    };
    Kind kind = Next;
    bool targetKnown = true;
    TargetWord target = 0;     // with bit 0 set for Thumb targets in CoreSift
    unsigned length = 4;
};

class InstructionEmulator {
public:
    InstructionEmulator(RegisterState& registers, const TargetMemory& memory, StoreLog& stores)
        : registers_(registers), memory_(memory), stores_(stores) {}

    // Executes the instruction `word` at `address` (Thumb when `set` says so; `block` follows IT
    // blocks in Thumb code and may be null elsewhere).
    StepResult step(InstructionSet set, TargetWord address, std::uint32_t word, ItBlock* block);

    // Internal state of one step, used by the visitor slots.
    struct Step;

private:
    RegisterState& registers_;
    const TargetMemory& memory_;
    StoreLog& stores_;
};

}  // namespace coresift::decode
