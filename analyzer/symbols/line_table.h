// Line-number programs of `.debug_line` (DWARF versions 2 to 5) and the source line of an
// address.
//
// On first use every program is run once without keeping rows, and each sequence whose first row
// has a non-zero address becomes an index entry (program position, start, end). A look-up finds
// the sequence covering the address (the one with the greatest start; of sequences starting at
// the same address, the one whose program comes first in the section), runs it again, and
// answers with the last row at or before the address, stopping at the first row beyond it. The
// rows of recently used sequences are kept, so repeated look-ups cost a binary search.
//
// Messages: a unit of an unsupported version prints "Don't support %s of %s version 0x%X"; an
// unknown extended opcode prints "Unrecognized %s of %s op code: 0x%x" and abandons the rest of
// its unit. A header with no special-opcode range (line_range 0) or no opcode base cannot be run
// and its unit is skipped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "analyzer/symbols/address_index.h"
#include "common/byte_reader.h"

namespace coresift {

class DwarfInfo;

struct LineFileEntry {
    std::string_view name;
    std::uint64_t directory = 0;
};

struct LineProgramHeader {
    std::uint64_t offset = 0;        // of the unit length field
    std::uint64_t end = 0;           // one past the unit
    std::uint64_t programStart = 0;  // first opcode
    std::uint16_t version = 0;
    std::uint8_t addressSize = 4, offsetSize = 4;
    std::uint8_t minInstructionLength = 1, defaultIsStmt = 1;
    std::int8_t lineBase = 0;
    std::uint8_t lineRange = 0, opcodeBase = 0;
    std::vector<std::uint8_t> standardOpcodeLengths;  // opcodes 1 .. opcodeBase - 1
    std::vector<std::string_view> directories;
    std::vector<LineFileEntry> files;  // the header's table, then files the program defines
};

// What the reader made of the header at `offset`; `version` is set whenever the length and the
// version could be read, `next` is the following unit (0 when the walk cannot go on).
struct LineHeaderResult {
    std::optional<LineProgramHeader> header;
    std::uint16_t version = 0;
    std::uint64_t next = 0;
};
LineHeaderResult readLineHeader(const DwarfInfo& dwarf, std::uint64_t offset);

struct SourceLine {
    std::uint32_t line = 0;
    std::string_view file;       // as the file table names it
    std::string_view directory;  // its directory entry (empty for the compilation directory)
    std::string_view compDir;    // the compilation directory of the unit that owns the program
    // The file with its directory and, for a relative directory, the compilation directory in
    // front ('/' separated), as debuggers show it.
    std::string path() const;
};

class LineTables {
public:
    explicit LineTables(const DwarfInfo& dwarf);

    // The source line of file address `address`, or nothing.
    std::optional<SourceLine> lineAt(std::uint64_t address);
    // Entry `index` of the file table of the program at `offset` (DW_AT_call_file of inlined
    // scopes refers to the table of its unit's program).
    std::optional<SourceLine> fileOf(std::uint64_t programOffset, std::uint64_t index);

    std::size_t sequenceCount();

private:
    struct Sequence {
        std::uint64_t program = 0;  // offset of its first opcode
        std::uint32_t header = 0;
        std::uint64_t start = 0, end = 0;
    };
    struct Row {
        std::uint64_t address;
        std::uint32_t line;
        std::uint32_t file;
    };
    struct Rows {
        std::vector<Row> rows;
        bool ascending = true;
    };

    void buildIndex();
    void walkUnits();
    void sortIndex();
    const Rows& rowsOf(std::uint32_t sequence);
    const LineProgramHeader* header(std::uint64_t offset);
    SourceLine describe(const LineProgramHeader& header, std::uint64_t fileIndex, std::uint32_t line);
    std::string_view compDirOf(std::uint64_t programOffset);

    const DwarfInfo& dwarf_;
    bool indexed_ = false;
    std::vector<LineProgramHeader> headers_;
    std::unordered_map<std::uint64_t, std::uint32_t> headerAt_;  // unit offset -> headers_ index
    std::vector<Sequence> sequences_;
    AddressIndex index_;
    std::unordered_map<std::uint32_t, Rows> rowCache_;
    std::size_t cachedRows_ = 0;
    std::unordered_map<std::uint64_t, std::string_view> compDirs_;
    bool compDirsRead_ = false;
};

}  // namespace coresift
