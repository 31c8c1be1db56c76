// This project's decoder read into the comparable meaning of meaning.h.
#pragma once

#include "analyzer/decode/it_block.h"
#include "tools/decode/meaning.h"

namespace decodetools {

// Decodes `word` at `address` (A32/T32 in the 32-bit tool, A64 in the 64-bit tool); Thumb code
// walked in order passes its IT block state.
Meaning ourMeaning(Isa isa, std::uint32_t word, std::uint64_t address, coresift::decode::ItBlock* block = nullptr);

}  // namespace decodetools
