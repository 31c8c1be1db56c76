// binutils' readelf as the oracle for the unwind tables: the CFI rows of
// `--debug-dump=frames-interp` and the ARM unwind instructions of `-u`, parsed from its output.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// One cell of a CFI row as readelf prints it.
struct RefRule {
    enum class Kind { Undefined, Same, Offset, ValOffset, Register, Expression, ValExpression, Other } kind;
    std::int64_t value = 0;  // offset, or register number
};

struct RefRow {
    std::uint64_t location = 0;
    bool cfaIsExpression = false;
    int cfaRegister = -1;
    std::int64_t cfaOffset = 0;
    std::vector<RefRule> rules;  // one per column
};

struct RefFde {
    std::string section;  // ".eh_frame" or ".debug_frame"
    std::uint64_t begin = 0, end = 0;
    unsigned returnRegister = 0;
    std::vector<int> columns;  // DWARF register numbers; -1 for a name not understood
    std::vector<RefRow> rows;  // empty: the CIE's initial row holds throughout
    std::vector<RefRow> cieRows;
    std::vector<int> cieColumns;
    // readelf gave up on some instruction ("bad register", e.g. a register number in the
    // hundreds of millions that it cannot make a column for): its rows are not complete.
    bool incomplete = false;
};

// Register names readelf uses, for the target architecture: "r4", "x29", "sp", "ra" (the
// CIE's return column), "v8"; -1 when unknown.
int registerNumber(const std::string& name, bool aarch64, unsigned returnRegister);

std::vector<RefFde> parseFramesInterp(const std::string& text, bool aarch64);

// One `.ARM.exidx` entry of `readelf -u`.
struct RefExidxEntry {
    std::uint64_t function = 0;
    bool cantUnwind = false;
    bool generic = false;             // a personality routine other than the compact ones
    // The operations: first byte and text ("pop {r4, r14}", "vsp = vsp + 16", ...).
    std::vector<std::pair<unsigned, std::string>> ops;
};

std::vector<RefExidxEntry> parseUnwindInfo(const std::string& text);

}  // namespace testsupport
