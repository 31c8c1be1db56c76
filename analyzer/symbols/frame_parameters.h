// The values of a frame's parameters, for the backtrace with details.
//
// The formal parameters of the function's subprogram entry are visited in order (template
// parameters are passed over; any other entry ends the list). Parameters are counted in argument
// words, as the procedure-call standard passes them: CoreSift counts 32-bit words, the first four
// in r0-r3, a 64-bit integer or double taking an even-odd register pair (or 8 stack bytes), the
// rest on the stack from SP up; CoreSift64 counts 64-bit words, the first eight in x0-x7, the
// rest on the stack from SP up (floating-point values travel in SIMD registers and come from
// their location descriptions only). A value comes from its argument register when the caller
// says the register still holds its value from the function's entry; else, for a stack word,
// from the stack; else from the parameter's location description (an expression or a location
// list entry chosen by the pc) evaluated on the frame's registers.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "analyzer/decode/target_memory.h"
#include "analyzer/symbols/dwarf_info.h"
#include "analyzer/symbols/symbol_source.h"
#include "common/target_word.h"

namespace coresift {

enum class ValueKind : std::uint8_t {
    Unknown,
    Signed,     // integers and enumerations of up to 32 bits (CoreSift64: up to 64 bits)
    Unsigned,
    Boolean,
    Character,
    Int64,      // 64-bit integers of CoreSift (two words)
    UInt64,
    Float,
    Double,     // two words in CoreSift
    Pointer,    // pointers and references
    Aggregate,  // structures, classes, unions and arrays passed by value (the first word)
};

struct FrameRegisters {
    std::array<TargetWord, 33> values{};  // DWARF register numbers (r0-r15; x0-x30 and sp)
    std::uint64_t known = 0;         // bit n: values[n] is known in this frame
    std::uint64_t entryValues = 0;   // bit n: register n still holds its value from the entry
    TargetWord pc = 0;               // an address inside the function, in dump terms
    TargetWord sp = 0;               // the stack pointer at the function's entry
    std::optional<TargetWord> cfa;
};

struct FrameParameter {
    std::string_view name;
    unsigned index = 0;  // the parameter's position, from 0
    ValueKind kind = ValueKind::Unknown;
    std::uint64_t value = 0;
    bool known = false;
};

// The subprogram entry (in the symbol file's debugging information) of the function containing
// dump address `address`; none without one.
Entry subprogramAt(SymbolSource& source, TargetWord address);

// Visits the parameters of `subprogram`; a non-zero result of `visit` stops and is returned.
int frameParameters(SymbolSource& source, const Entry& subprogram, const FrameRegisters& registers,
                    const decode::TargetMemory& memory, const std::function<int(const FrameParameter&)>& visit);

}  // namespace coresift
