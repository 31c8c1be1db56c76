// Unit headers of versions 2 to 5 and the unit list of a symbol file.
//
// Header layouts (32-bit DWARF; a 64-bit unit has a 12-byte length field and 8-byte offsets):
//   versions 2-4       length(4) version(2) abbrev_offset(4) address_size(1)           entries at 11
//   version 4 types    ... address_size(1) signature(8) type_offset(4)                 entries at 23
//   version 5 compile, partial:   length(4) version(2) unit_type(1) address_size(1) abbrev_offset(4)
//                                                                                      entries at 12
//   version 5 skeleton, split compile: ... abbrev_offset(4) dwo_id(8)                  entries at 20
//   version 5 type, split type:        ... abbrev_offset(4) signature(8) type_offset(4) entries at 24
#include <new>

#include "analyzer/driver/console.h"
#include "analyzer/symbols/dwarf_constants.h"
#include "analyzer/symbols/dwarf_info.h"
#include "analyzer/symbols/entry_tree.h"
#include "analyzer/symbols/line_table.h"

namespace coresift {

UnitHeaderResult readUnitHeader(common::ByteView bytes, std::uint64_t offset, DebugSection section) {
    UnitHeaderResult result;
    common::ByteReader in(bytes);
    if (offset >= bytes.size()) return result;
    in.seek(static_cast<std::size_t>(offset));
    UnitHeader header;
    header.section = section;
    header.offset = offset;
    std::uint64_t length = in.u32();
    if (length >= 0xFFFFFFF0u) {
        if (length != 0xFFFFFFFFu) return result;  // reserved lengths: nothing after can be found
        length = in.u64();
        header.offsetSize = 8;
    }
    if (!in.ok() || length > in.remaining()) return result;
    header.end = in.offset() + length;
    result.next = header.end;
    if (length < 2) return result;
    header.version = in.u16();
    result.version = header.version;
    if (header.version < 2 || header.version > 5) return result;

    common::ByteReader unit(bytes.sub(0, header.end).value_or(common::ByteView()), in.offset());
    auto readOffset = [&unit, &header] { return header.offsetSize == 8 ? unit.u64() : unit.u32(); };
    if (header.version == 5) {
        header.type = unit.u8();
        header.addressSize = unit.u8();
        header.abbrevOffset = readOffset();
        switch (header.type) {
        case dw::kUtCompile:
        case dw::kUtPartial:
            break;
        case dw::kUtSkeleton:
        case dw::kUtSplitCompile:
            header.dwoId = unit.u64();
            break;
        case dw::kUtType:
        case dw::kUtSplitType:
            header.typeSignature = unit.u64();
            header.typeOffset = readOffset();
            break;
        default:
            return result;  // a unit type of a later standard or a vendor: its header is unknown
        }
    } else {
        header.abbrevOffset = readOffset();
        header.addressSize = unit.u8();
        header.type = dw::kUtCompile;
        if (section == DebugSection::Types) {
            header.type = dw::kUtType;
            header.typeSignature = unit.u64();
            header.typeOffset = readOffset();
        }
    }
    if (!unit.ok()) return result;
    if (header.addressSize != 1 && header.addressSize != 2 && header.addressSize != 4 && header.addressSize != 8)
        return result;
    header.firstEntry = unit.offset();
    result.header = header;
    return result;
}

std::unique_ptr<DwarfInfo> DwarfInfo::make(Console& console, DwarfSections sections, ElfClass elfClass) {
    if (!sections.has(DebugSection::Info)) return nullptr;
    try {
        return std::unique_ptr<DwarfInfo>(new DwarfInfo(console, std::move(sections), elfClass));
    } catch (const std::bad_alloc&) {
        console.error(Msg::OutOfMemory);
        return nullptr;
    }
}

DwarfInfo::DwarfInfo(Console& console, DwarfSections sections, ElfClass elfClass)
    : console_(console), sections_(std::move(sections)),
      fileAddressSize_(elfClass == ElfClass::Elf64 ? 8 : 4),
      infoAbbreviations_(sections_.get(DebugSection::Abbrev)) {
    readUnits(DebugSection::Info);
    readUnits(DebugSection::Types);
}

DwarfInfo::~DwarfInfo() = default;

void DwarfInfo::readUnits(DebugSection section) {
    common::ByteView bytes = sections_.get(section);
    const char* sectionName = debugSectionName(section);
    std::uint64_t offset = 0;
    while (offset < bytes.size()) {
        UnitHeaderResult read = readUnitHeader(bytes, offset, section);
        if (read.header) {
            Unit unit;
            unit.header = *read.header;
            unit.abbreviations = &infoAbbreviations_.at(unit.header.abbrevOffset);
            unit.index = static_cast<std::uint32_t>(units_.size());
            if (unit.header.type == dw::kUtType || unit.header.type == dw::kUtSplitType)
                typeUnits_.emplace(unit.header.typeSignature, unit.index);
            units_.push_back(unit);
        } else if (read.next != 0 && (read.version < 2 || read.version > 5)) {
            console_.error(Msg::UnsupportedVersion, "", sectionName, static_cast<unsigned>(read.version));
        }
        if (read.next <= offset) break;
        offset = read.next;
    }
}

const Unit* DwarfInfo::unitContaining(DebugSection section, std::uint64_t offset) const {
    // Units of one section are in offset order.
    std::size_t low = 0, high = units_.size();
    while (low < high) {
        std::size_t mid = (low + high) / 2;
        const UnitHeader& h = units_[mid].header;
        if (h.section < section || (h.section == section && h.end <= offset)) low = mid + 1;
        else high = mid;
    }
    if (low == units_.size()) return nullptr;
    const Unit& unit = units_[low];
    if (unit.header.section != section || offset < unit.header.offset) return nullptr;
    return &unit;
}

const Unit* DwarfInfo::typeUnit(std::uint64_t signature) const {
    auto found = typeUnits_.find(signature);
    return found == typeUnits_.end() ? nullptr : &units_[found->second];
}

const UnitBases& DwarfInfo::bases(const Unit& unit) const {
    if (unit.bases_) return *unit.bases_;
    UnitBases bases;
    // Version 5 string offsets tables have an 8-byte (16 in 64-bit DWARF) header that a unit
    // without DW_AT_str_offsets_base points past.
    if (unit.header.version >= 5) bases.strOffsetsBase = unit.header.offsetSize == 8 ? 16 : 8;
    unit.bases_ = bases;  // the attributes below may need the bases themselves (strx names)
    Entry top = unitEntry(unit);
    if (!top) return *unit.bases_;
    forEachAttribute(top, [&bases](const AttributeValue& v) {
        switch (v.name) {
        case dw::kAtStrOffsetsBase: bases.strOffsetsBase = v.value; break;
        case dw::kAtAddrBase:
        case dw::kAtGnuAddrBase: bases.addrBase = v.value; break;
        case dw::kAtRnglistsBase: bases.rnglistsBase = v.value; bases.hasRnglistsBase = true; break;
        case dw::kAtLoclistsBase: bases.loclistsBase = v.value; bases.hasLoclistsBase = true; break;
        default: break;
        }
    });
    unit.bases_ = bases;
    if (auto low = attribute(top, dw::kAtLowPc)) bases.lowPc = addressOf(unit, *low);
    if (auto stmt = attribute(top, dw::kAtStmtList)) {
        if (stmt->form == dw::kFormSecOffset || stmt->form == dw::kFormData4 || stmt->form == dw::kFormData8)
            bases.stmtList = stmt->value;
    }
    if (auto name = attribute(top, dw::kAtName)) bases.name = textOf(unit, *name).value_or(std::string_view());
    if (auto dir = attribute(top, dw::kAtCompDir)) bases.compDir = textOf(unit, *dir).value_or(std::string_view());
    unit.bases_ = bases;
    return *unit.bases_;
}

LineTables& DwarfInfo::lineTables() const {
    if (!lineTables_) lineTables_ = std::make_unique<LineTables>(*this);
    return *lineTables_;
}

void DwarfInfo::reportForm(const char* classWord, std::uint32_t form) const {
    if (!reportedForms_.insert({classWord, form}).second) return;
    console_.error(Msg::UnrecognizedType, classWord, form);
}

}  // namespace coresift
