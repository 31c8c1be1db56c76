// Builds debugging-information sections byte by byte for tests: abbreviation tables, units with
// headers of every version and unit type, and line-number programs. What real compilers never
// write (a unit of version 6, a line range of 0, an endless expression) is made here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analyzer/driver/run_context.h"
#include "analyzer/symbols/dwarf_info.h"
#include "tests/symbols/elf_builder.h"

namespace testsupport {

// Appends little-endian fields and LEB128 numbers.
struct ByteWriter {
    Bytes bytes;

    ByteWriter& u8(std::uint64_t v);
    ByteWriter& u16(std::uint64_t v);
    ByteWriter& u32(std::uint64_t v);
    ByteWriter& u64(std::uint64_t v);
    ByteWriter& sized(std::uint64_t v, unsigned size);
    ByteWriter& uleb(std::uint64_t v);
    ByteWriter& sleb(std::int64_t v);
    ByteWriter& str(const std::string& text);  // with its NUL
    ByteWriter& raw(const Bytes& more);
    std::size_t size() const { return bytes.size(); }
};

struct AttributeForm {
    std::uint32_t name, form;
    std::int64_t implicitConst = 0;
};

// An abbreviation table; `add` returns the code of the new declaration.
class AbbrevWriter {
public:
    std::uint32_t add(std::uint32_t tag, bool children, const std::vector<AttributeForm>& attributes);
    Bytes bytes() const;  // the declarations and the terminating 0

private:
    ByteWriter out_;
    std::uint32_t next_ = 1;
};

struct UnitShape {
    std::uint16_t version = 4;
    std::uint8_t unitType = 1;     // version 5 only
    std::uint8_t addressSize = 4;
    bool dwarf64 = false;
    std::uint64_t abbrevOffset = 0;
    std::uint64_t dwoId = 0, typeSignature = 0, typeOffset = 0;
    bool typesSection = false;     // a version 4 unit of .debug_types
};

// A whole unit: its header as `shape` says, then `entries`.
Bytes unitBytes(const UnitShape& shape, const Bytes& entries);
// Where the entries of such a unit start (the header size).
std::uint64_t unitHeaderSize(const UnitShape& shape);

struct LineShape {
    std::uint16_t version = 4;
    std::uint8_t addressSize = 4;
    std::uint8_t minInstructionLength = 2;
    std::int8_t lineBase = -5;
    std::uint8_t lineRange = 14;
    std::uint8_t opcodeBase = 13;
    std::vector<std::string> directories = {"/src"};
    std::vector<std::pair<std::string, std::uint64_t>> files = {{"a.c", 1}, {"b.c", 1}};  // name, directory index
};

// A whole line-number unit with `program` as its opcodes (version 5 tables use DW_FORM_string).
Bytes lineUnitBytes(const LineShape& shape, const Bytes& program);

// Program pieces.
Bytes setAddress(std::uint64_t address, unsigned size);
Bytes endSequence();
Bytes extendedOp(std::uint8_t opcode, const Bytes& operands);

// Debugging information over sections that the test keeps alive.
struct DwarfFixture {
    Bytes info, abbrev, str, line, aranges, ranges, rnglists, addr, strOffsets, types, loc, loclists, lineStr;
    std::unique_ptr<coresift::DwarfInfo> make(coresift::Console& console, coresift::ElfClass elfClass) const;
};

}  // namespace testsupport
