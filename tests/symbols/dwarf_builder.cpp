#include "tests/symbols/dwarf_builder.h"

#include "analyzer/symbols/dwarf_constants.h"

namespace testsupport {

namespace dw = coresift::dw;
using coresift::DebugSection;

ByteWriter& ByteWriter::u8(std::uint64_t v) { return sized(v, 1); }
ByteWriter& ByteWriter::u16(std::uint64_t v) { return sized(v, 2); }
ByteWriter& ByteWriter::u32(std::uint64_t v) { return sized(v, 4); }
ByteWriter& ByteWriter::u64(std::uint64_t v) { return sized(v, 8); }
ByteWriter& ByteWriter::sized(std::uint64_t v, unsigned size) {
    for (unsigned i = 0; i < size; ++i) bytes.push_back(static_cast<std::uint8_t>(i < 8 ? v >> (8 * i) : 0));
    return *this;
}
ByteWriter& ByteWriter::uleb(std::uint64_t v) {
    do {
        std::uint8_t b = v & 0x7F;
        v >>= 7;
        bytes.push_back(v ? b | 0x80 : b);
    } while (v);
    return *this;
}
ByteWriter& ByteWriter::sleb(std::int64_t v) {
    for (bool more = true; more;) {
        std::uint8_t b = v & 0x7F;
        v >>= 7;
        more = !((v == 0 && !(b & 0x40)) || (v == -1 && (b & 0x40)));
        bytes.push_back(more ? b | 0x80 : b);
    }
    return *this;
}
ByteWriter& ByteWriter::str(const std::string& text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0);
    return *this;
}
ByteWriter& ByteWriter::raw(const Bytes& more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
    return *this;
}

std::uint32_t AbbrevWriter::add(std::uint32_t tag, bool children, const std::vector<AttributeForm>& attributes) {
    std::uint32_t code = next_++;
    out_.uleb(code).uleb(tag).u8(children ? 1 : 0);
    for (const AttributeForm& a : attributes) {
        out_.uleb(a.name).uleb(a.form);
        if (a.form == dw::kFormImplicitConst) out_.sleb(a.implicitConst);
    }
    out_.uleb(0).uleb(0);
    return code;
}

Bytes AbbrevWriter::bytes() const {
    Bytes out = out_.bytes;
    out.push_back(0);
    return out;
}

std::uint64_t unitHeaderSize(const UnitShape& s) {
    const std::uint64_t length = s.dwarf64 ? 12 : 4, offset = s.dwarf64 ? 8 : 4;
    if (s.version < 5) return length + 2 + offset + 1 + (s.typesSection ? 8 + offset : 0);
    std::uint64_t size = length + 2 + 1 + 1 + offset;
    if (s.unitType == dw::kUtSkeleton || s.unitType == dw::kUtSplitCompile) size += 8;
    if (s.unitType == dw::kUtType || s.unitType == dw::kUtSplitType) size += 8 + offset;
    return size;
}

Bytes unitBytes(const UnitShape& s, const Bytes& entries) {
    ByteWriter body;
    const unsigned offsetSize = s.dwarf64 ? 8 : 4;
    body.u16(s.version);
    if (s.version >= 5) {
        body.u8(s.unitType).u8(s.addressSize).sized(s.abbrevOffset, offsetSize);
        if (s.unitType == dw::kUtSkeleton || s.unitType == dw::kUtSplitCompile) body.u64(s.dwoId);
        if (s.unitType == dw::kUtType || s.unitType == dw::kUtSplitType)
            body.u64(s.typeSignature).sized(s.typeOffset, offsetSize);
    } else {
        body.sized(s.abbrevOffset, offsetSize).u8(s.addressSize);
        if (s.typesSection) body.u64(s.typeSignature).sized(s.typeOffset, offsetSize);
    }
    body.raw(entries);
    ByteWriter unit;
    if (s.dwarf64) unit.u32(0xFFFFFFFFu).u64(body.size());
    else unit.u32(body.size());
    return unit.raw(body.bytes).bytes;
}

Bytes lineUnitBytes(const LineShape& s, const Bytes& program) {
    ByteWriter tables;
    if (s.version >= 5) {
        tables.u8(1).uleb(dw::kLnctPath).uleb(dw::kFormString);
        tables.uleb(s.directories.size());
        for (const std::string& d : s.directories) tables.str(d);
        tables.u8(2).uleb(dw::kLnctPath).uleb(dw::kFormString).uleb(dw::kLnctDirectoryIndex).uleb(dw::kFormUdata);
        tables.uleb(s.files.size());
        for (const auto& [name, dir] : s.files) tables.str(name).uleb(dir);
    } else {
        for (const std::string& d : s.directories) tables.str(d);
        tables.u8(0);
        for (const auto& [name, dir] : s.files) tables.str(name).uleb(dir).uleb(0).uleb(0);
        tables.u8(0);
    }
    ByteWriter afterLength;  // from the minimum instruction length to the end of the tables
    afterLength.u8(s.minInstructionLength);
    if (s.version >= 4) afterLength.u8(1);
    afterLength.u8(1).u8(static_cast<std::uint8_t>(s.lineBase)).u8(s.lineRange).u8(s.opcodeBase);
    static const std::uint8_t kLengths[] = {0, 1, 1, 1, 1, 0, 0, 0, 1, 0, 0, 1};
    for (unsigned i = 1; i < s.opcodeBase; ++i) afterLength.u8(i <= 12 ? kLengths[i - 1] : 1);
    afterLength.raw(tables.bytes);

    ByteWriter body;
    body.u16(s.version);
    if (s.version >= 5) body.u8(s.addressSize).u8(0);
    body.u32(afterLength.size()).raw(afterLength.bytes).raw(program);
    ByteWriter unit;
    unit.u32(body.size()).raw(body.bytes);
    return unit.bytes;
}

Bytes extendedOp(std::uint8_t opcode, const Bytes& operands) {
    ByteWriter w;
    w.u8(0).uleb(operands.size() + 1).u8(opcode).raw(operands);
    return w.bytes;
}

Bytes setAddress(std::uint64_t address, unsigned size) {
    ByteWriter operand;
    operand.sized(address, size);
    return extendedOp(dw::kLneSetAddress, operand.bytes);
}

Bytes endSequence() { return extendedOp(dw::kLneEndSequence, {}); }

std::unique_ptr<coresift::DwarfInfo> DwarfFixture::make(coresift::Console& console, coresift::ElfClass elfClass) const {
    coresift::DwarfSections sections;
    auto set = [&sections](DebugSection which, const Bytes& bytes) {
        sections.set(which, common::ByteView(bytes.data(), bytes.size()));
    };
    set(DebugSection::Info, info);
    set(DebugSection::Abbrev, abbrev);
    set(DebugSection::Str, str);
    set(DebugSection::Line, line);
    set(DebugSection::Aranges, aranges);
    set(DebugSection::Ranges, ranges);
    set(DebugSection::Rnglists, rnglists);
    set(DebugSection::Addr, addr);
    set(DebugSection::StrOffsets, strOffsets);
    set(DebugSection::Types, types);
    set(DebugSection::Loc, loc);
    set(DebugSection::Loclists, loclists);
    set(DebugSection::LineStr, lineStr);
    return coresift::DwarfInfo::make(console, std::move(sections), elfClass);
}

}  // namespace testsupport
