// The instruction ranges of an ELF file's .text: ARM and Thumb code told apart by the mapping
// symbols ($a, $t, $d, $x) or, without them, by function symbols (odd address = Thumb); literal
// pools and data in code ($d) are left out.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/decode/elf_sections.h"
#include "tools/decode/meaning.h"

namespace decodetools {

struct CodeRange {
    std::uint64_t address;
    Isa isa;
    common::ByteView bytes;
};

std::vector<CodeRange> codeRanges(const ElfFile& elf, const char* sectionName = ".text");

}  // namespace decodetools
