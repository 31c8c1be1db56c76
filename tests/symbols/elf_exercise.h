// Calls every read operation of an ELF image, for tests and the fuzz target that feed it
// hostile bytes: whatever the bytes, none of these may crash, hang or read out of bounds.
#pragma once

#include <cstdint>

#include "analyzer/symbols/elf_image.h"

namespace testsupport {

struct ExerciseCounts {
    std::uint64_t sectionsMapped = 0, notes = 0, symbols = 0, loads = 0, miniDebugInfoSymbols = 0;
    std::uint64_t checksum = 0;  // touches the bytes handed out, so a bad view is read
};

ExerciseCounts exerciseElfImage(coresift::Console& console, const coresift::ElfImage& image);

}  // namespace testsupport
