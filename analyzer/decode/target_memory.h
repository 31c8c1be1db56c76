// The seam through which decoder clients read the dead process's bytes by target address (code
// for linker stubs, literal pools and forward emulation; data for loads the emulator and the
// argument scanner follow). The process model supplies the implementation; tests use fakes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/target_word.h"

namespace coresift::decode {

class TargetMemory {
public:
    // Copies `size` bytes at `address` into `out`; false (and `out` unspecified) when any byte of
    // the range is not in the dump. Never reads outside what it holds.
    virtual bool read(TargetWord address, void* out, std::size_t size) const = 0;

    // Little-endian words; nothing is written to `value` on failure.
    bool read16(TargetWord address, std::uint16_t& value) const { return read(address, &value, 2); }
    bool read32(TargetWord address, std::uint32_t& value) const { return read(address, &value, 4); }
    bool readWord(TargetWord address, TargetWord& value) const { return read(address, &value, sizeof value); }

protected:
    ~TargetMemory() = default;
};

}  // namespace coresift::decode
