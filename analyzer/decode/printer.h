// The instruction printer: a visitor that writes one instruction's text in this system's syntax
// (upper-case names, "R0".."R12", "SP", "R14", "PC" in CoreSift; "W0"/"X0", "WZR"/"XZR", "SP" in
// CoreSift64; hexadecimal immediates "#0x10", branch targets as plain hexadecimal, calls
// symbolized as "<name() + offset>").
#pragma once

#include <cstdint>

#include "analyzer/decode/decoder.h"
#include "analyzer/decode/symbol_namer.h"
#include "analyzer/decode/target_memory.h"
#include "analyzer/decode/text_sink.h"

namespace coresift::decode {

// The context the printer visitor expects.
struct PrintContext {
    TextSink* out;
    InstructionSet set;
    TargetWord address;                    // the instruction's address (for PC-relative targets)
    const TargetMemory* memory = nullptr;  // optional: linker stubs behind call targets
    const SymbolNamer* symbols = nullptr;  // optional: names of call targets
};

extern const Visitor kPrinterVisitor;

// Decodes and prints the instruction `word` at `address` into `out` (cleared first); returns the
// instruction's length in bytes.
unsigned printInstruction(InstructionSet set, std::uint32_t word, TargetWord address, TextSink& out,
                          const TargetMemory* memory = nullptr, const SymbolNamer* symbols = nullptr);

}  // namespace coresift::decode
