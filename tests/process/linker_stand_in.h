// A dynamic linker with an empty list of libraries, for cores whose tests are about the loader
// and not about modules: with it a core loads as a dynamic process (the module list holds the
// linker alone, with no message), not as a static executable whose symbol file is required.
#pragma once

#include <cstdint>
#include <vector>

#include "common/target_word.h"
#include "tools/corekit/core_builder.h"
#include "tools/corekit/elf_constants.h"

namespace processtest {

// Where the stand-in lies: above the tests' own segments.
inline constexpr std::uint64_t kLinkerBase = 0x7fff0000;

// A code page without bytes and a data page holding the linker's own record (the record the
// module list looks for: base 0, a string table inside the linker, one reference, the load bias
// at the linker's base, the linker's flags) whose next record is none. Give the core's NT_AUXV
// AT_BASE = kLinkerBase.
inline void addLinkerWithoutLibraries(corekit::CoreBuilder& core, std::uint64_t page = 4096) {
    namespace ck = corekit::elf;
    const unsigned word = kIs64 ? 8 : 4;
    const std::size_t window = kIs64 ? 0x210 : 0x200 + 140;  // the record's base word
    std::vector<std::uint8_t> data(page, 0);
    auto put = [&](std::size_t at, std::uint64_t value, unsigned size) {
        for (unsigned i = 0; i < size; ++i) data[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    };
    if (kIs64) put(window - 8, 8, word);                      // program header count
    put(window + (kIs64 ? 5 : 8) * word, kLinkerBase + 0x10, word);   // string table
    put(window + (kIs64 ? 23 : 29) * word, 1, word);          // references
    put(window + (kIs64 ? 30 : 36) * word, kLinkerBase, word);  // load bias
    put(window + (kIs64 ? 32 : 28), 0x40000041, 4);           // flags
    core.addSegment(kLinkerBase, page, ck::PF_R | ck::PF_X);
    core.addSegment(kLinkerBase + page, data, ck::PF_R | ck::PF_W);
}

}  // namespace processtest
