// Entries of a unit and their attributes: reading every form, walking children and siblings,
// and the readers of each attribute class.
#include "analyzer/symbols/dwarf_constants.h"
#include "analyzer/symbols/dwarf_info.h"

namespace coresift {
namespace {

// A reader over the bytes of `unit`, positioned at `offset`.
common::ByteReader unitReader(const DwarfInfo& dwarf, const Unit& unit, std::uint64_t offset) {
    common::ByteView bytes = dwarf.section(unit.header.section).sub(0, unit.header.end).value_or(common::ByteView());
    common::ByteReader in(bytes);
    if (offset < unit.header.firstEntry || offset >= bytes.size()) in.fail();
    else in.seek(static_cast<std::size_t>(offset));
    return in;
}

bool isUnitReference(std::uint32_t form) {
    return form == dw::kFormRef1 || form == dw::kFormRef2 || form == dw::kFormRef4 || form == dw::kFormRef8 ||
           form == dw::kFormRefUdata;
}

}  // namespace

std::optional<AttributeValue> DwarfInfo::readValue(const Unit& unit, common::ByteReader& in, std::uint32_t name,
                                                   std::uint32_t form, std::int64_t implicitConst) const {
    AttributeValue v;
    v.name = name;
    for (int indirections = 0; form == dw::kFormIndirect; ++indirections) {
        std::uint64_t next = in.uleb128();
        // An indirect form carries no implicit constant, and chains of indirections are bounded.
        if (!in.ok() || indirections == 4 || next == dw::kFormImplicitConst) return std::nullopt;
        form = next > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(next);
        implicitConst = 0;
    }
    v.form = form;
    const UnitHeader& h = unit.header;
    switch (form) {
    case dw::kFormAddr: v.value = in.readSized(h.addressSize); break;
    case dw::kFormData1: case dw::kFormRef1: case dw::kFormFlag: case dw::kFormStrx1: case dw::kFormAddrx1:
        v.value = in.u8(); break;
    case dw::kFormData2: case dw::kFormRef2: case dw::kFormStrx2: case dw::kFormAddrx2:
        v.value = in.u16(); break;
    case dw::kFormStrx3: case dw::kFormAddrx3: v.value = in.readSized(3); break;
    case dw::kFormData4: case dw::kFormRef4: case dw::kFormRefSup4: case dw::kFormStrx4: case dw::kFormAddrx4:
        v.value = in.u32(); break;
    case dw::kFormData8: case dw::kFormRef8: case dw::kFormRefSig8: case dw::kFormRefSup8:
        v.value = in.u64(); break;
    case dw::kFormData16: v.bytes = in.bytes(16); break;
    case dw::kFormSdata: v.value = static_cast<std::uint64_t>(in.sleb128()); break;
    case dw::kFormUdata: case dw::kFormRefUdata: case dw::kFormStrx: case dw::kFormAddrx: case dw::kFormLoclistx:
    case dw::kFormRnglistx: case dw::kFormGnuAddrIndex: case dw::kFormGnuStrIndex:
        v.value = in.uleb128(); break;
    case dw::kFormString: {
        std::string_view text = in.cstring();
        v.bytes = common::ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        break;
    }
    case dw::kFormStrp: case dw::kFormLineStrp: case dw::kFormSecOffset: case dw::kFormStrpSup:
    case dw::kFormGnuStrpAlt: case dw::kFormGnuRefAlt:
        v.value = in.readSized(h.offsetSize); break;
    case dw::kFormRefAddr: v.value = in.readSized(h.version == 2 ? h.addressSize : h.offsetSize); break;
    case dw::kFormBlock1: v.bytes = in.bytes(in.u8()); break;
    case dw::kFormBlock2: v.bytes = in.bytes(in.u16()); break;
    case dw::kFormBlock4: v.bytes = in.bytes(in.u32()); break;
    case dw::kFormBlock: case dw::kFormExprloc: v.bytes = in.bytes(in.uleb128()); break;
    case dw::kFormFlagPresent: v.value = 1; break;
    case dw::kFormImplicitConst: v.value = static_cast<std::uint64_t>(implicitConst); break;
    default:
        reportForm("Form", form);
        return std::nullopt;
    }
    if (!in.ok()) return std::nullopt;
    return v;
}

Entry DwarfInfo::unitEntry(const Unit& unit) const { return entryAt(unit, unit.header.firstEntry); }

Entry DwarfInfo::entryAt(const Unit& unit, std::uint64_t offset) const {
    if (!unit.abbreviations) return {};
    common::ByteReader in = unitReader(*this, unit, offset);
    std::uint64_t code = in.uleb128();
    if (!in.ok() || code == 0) return {};
    const Abbreviation* abbreviation = unit.abbreviations->find(code);
    if (!abbreviation) return {};
    return Entry{&unit, abbreviation, offset, in.offset(), UINT32_MAX};
}

bool DwarfInfo::forEachAttribute(const Entry& entry, const std::function<void(const AttributeValue&)>& visit) const {
    if (!entry) return false;
    common::ByteReader in = unitReader(*this, *entry.unit, entry.attributes);
    const AttributeForm* attribute = entry.unit->abbreviations->attributeForms(*entry.abbreviation);
    for (std::uint32_t i = 0; i < entry.abbreviation->formCount; ++i) {
        auto value = readValue(*entry.unit, in, attribute[i].name, attribute[i].form, attribute[i].implicitConst);
        if (!value) return false;
        visit(*value);
    }
    return true;
}

std::optional<AttributeValue> DwarfInfo::attribute(const Entry& entry, std::uint32_t name) const {
    if (!entry) return std::nullopt;
    common::ByteReader in = unitReader(*this, *entry.unit, entry.attributes);
    const AttributeForm* attribute = entry.unit->abbreviations->attributeForms(*entry.abbreviation);
    for (std::uint32_t i = 0; i < entry.abbreviation->formCount; ++i) {
        auto value = readValue(*entry.unit, in, attribute[i].name, attribute[i].form, attribute[i].implicitConst);
        if (!value) return std::nullopt;
        if (attribute[i].name == name) return value;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> DwarfInfo::endOfAttributes(const Entry& entry, std::uint64_t* sibling) const {
    common::ByteReader in = unitReader(*this, *entry.unit, entry.attributes);
    const AttributeForm* attribute = entry.unit->abbreviations->attributeForms(*entry.abbreviation);
    for (std::uint32_t i = 0; i < entry.abbreviation->formCount; ++i) {
        auto value = readValue(*entry.unit, in, attribute[i].name, attribute[i].form, attribute[i].implicitConst);
        if (!value) return std::nullopt;
        if (sibling && attribute[i].name == dw::kAtSibling) {
            if (isUnitReference(value->form)) *sibling = entry.unit->header.offset + value->value;
            else if (value->form == dw::kFormRefAddr) *sibling = value->value;
            else reportForm("Sibling Form", value->form);
        }
    }
    return in.offset();
}

std::optional<std::uint64_t> DwarfInfo::endOfSubtree(const Entry& entry) const {
    if (!entry) return std::nullopt;
    const Unit& unit = *entry.unit;
    std::uint64_t sibling = 0;
    auto position = endOfAttributes(entry, &sibling);
    if (!position || !entry.hasChildren()) return position;
    std::uint64_t pos = *position;
    for (std::uint64_t depth = 1; depth > 0;) {
        if (pos >= unit.header.end) return unit.header.end;  // children not closed: the unit ends them
        common::ByteReader in = unitReader(*this, unit, pos);
        std::uint64_t code = in.uleb128();
        if (!in.ok()) return std::nullopt;
        if (code == 0) {
            --depth;
            pos = in.offset();
            continue;
        }
        const Abbreviation* abbreviation = unit.abbreviations->find(code);
        if (!abbreviation) return std::nullopt;
        Entry child{&unit, abbreviation, pos, in.offset(), UINT32_MAX};
        std::uint64_t childSibling = 0;
        auto end = endOfAttributes(child, &childSibling);
        if (!end) return std::nullopt;
        if (!abbreviation->hasChildren) {
            pos = *end;
        } else if (childSibling > *end && childSibling <= unit.header.end) {
            pos = childSibling;  // the producer's pointer past the child's subtree
        } else {
            pos = *end;
            ++depth;
        }
    }
    return pos;
}

Entry DwarfInfo::firstChild(const Entry& entry) const {
    if (!entry.hasChildren()) return {};
    if (auto fromTree = treeNeighbour(entry, true)) return *fromTree;
    auto end = endOfAttributes(entry, nullptr);
    return end ? entryAt(*entry.unit, *end) : Entry{};
}

Entry DwarfInfo::nextSibling(const Entry& entry) const {
    if (!entry) return {};
    if (auto fromTree = treeNeighbour(entry, false)) return *fromTree;
    std::uint64_t sibling = 0;
    if (entry.hasChildren()) {
        auto end = endOfAttributes(entry, &sibling);
        if (!end) return {};
        // A sibling pointer is used only when it leads forward past the entry's attributes.
        if (sibling > *end && sibling < entry.unit->header.end) return entryAt(*entry.unit, sibling);
    }
    auto next = endOfSubtree(entry);
    return next ? entryAt(*entry.unit, *next) : Entry{};
}

Entry DwarfInfo::referenced(const Entry& entry, std::uint32_t name) const {
    auto value = attribute(entry, name);
    if (!value) return {};
    auto target = referenceOf(*entry.unit, *value);
    if (!target) return {};
    const Unit* unit = unitContaining(target->first, target->second);
    return unit ? entryAt(*unit, target->second) : Entry{};
}

Entry DwarfInfo::typeOf(const Entry& entry) const { return referenced(entry, dw::kAtType); }

// --- Readers of the attribute classes ---

std::optional<std::uint64_t> DwarfInfo::constantOf(const AttributeValue& v) const {
    switch (v.form) {
    case dw::kFormData1: case dw::kFormData2: case dw::kFormData4: case dw::kFormData8: case dw::kFormUdata:
    case dw::kFormSdata: case dw::kFormImplicitConst:
        return v.value;
    default:
        reportForm("Data Form", v.form);
        return std::nullopt;
    }
}

std::optional<std::uint64_t> DwarfInfo::constant(const Entry& entry, std::uint32_t name) const {
    auto v = attribute(entry, name);
    return v ? constantOf(*v) : std::nullopt;
}

std::optional<std::int64_t> DwarfInfo::signedConstant(const Entry& entry, std::uint32_t name) const {
    auto v = attribute(entry, name);
    if (!v) return std::nullopt;
    auto value = constantOf(*v);
    if (!value) return std::nullopt;
    switch (v->form) {
    case dw::kFormData1: return static_cast<std::int8_t>(*value);
    case dw::kFormData2: return static_cast<std::int16_t>(*value);
    case dw::kFormData4: return static_cast<std::int32_t>(*value);
    default: return static_cast<std::int64_t>(*value);
    }
}

std::optional<std::string_view> DwarfInfo::textOf(const Unit& unit, const AttributeValue& v) const {
    switch (v.form) {
    case dw::kFormString:
        return std::string_view(reinterpret_cast<const char*>(v.bytes.data()), v.bytes.size());
    case dw::kFormStrp:
        return section(DebugSection::Str).cstring(v.value);
    case dw::kFormLineStrp:
        return section(DebugSection::LineStr).cstring(v.value);
    case dw::kFormStrx: case dw::kFormStrx1: case dw::kFormStrx2: case dw::kFormStrx3: case dw::kFormStrx4:
    case dw::kFormGnuStrIndex: {
        std::uint8_t size = unit.header.offsetSize;
        std::uint64_t base = bases(unit).strOffsetsBase;
        if (v.value > (UINT64_MAX - base) / size) return std::nullopt;
        auto entry = section(DebugSection::StrOffsets).sub(base + v.value * size, size);
        if (!entry) return std::nullopt;
        std::uint64_t offset = size == 8 ? *entry->read<std::uint64_t>(0) : *entry->read<std::uint32_t>(0);
        return section(DebugSection::Str).cstring(offset);
    }
    default:
        reportForm("Str Form", v.form);
        return std::nullopt;
    }
}

std::optional<std::string_view> DwarfInfo::text(const Entry& entry, std::uint32_t name) const {
    auto v = attribute(entry, name);
    return v ? textOf(*entry.unit, *v) : std::nullopt;
}

std::string_view DwarfInfo::name(const Entry& entry) const { return text(entry, dw::kAtName).value_or(std::string_view()); }

std::optional<std::uint64_t> DwarfInfo::indexedAddress(const Unit& unit, std::uint64_t index) const {
    std::uint8_t size = unit.header.addressSize;
    std::uint64_t base = bases(unit).addrBase;
    if (index > (UINT64_MAX - base) / size) return std::nullopt;
    auto entry = section(DebugSection::Addr).sub(base + index * size, size);
    if (!entry) return std::nullopt;
    std::uint64_t value = 0;
    for (std::size_t i = size; i-- > 0;) value = (value << 8) | entry->data()[i];
    return value;
}

std::optional<std::uint64_t> DwarfInfo::addressOf(const Unit& unit, const AttributeValue& v) const {
    switch (v.form) {
    case dw::kFormAddr:
        return v.value;
    case dw::kFormAddrx: case dw::kFormAddrx1: case dw::kFormAddrx2: case dw::kFormAddrx3: case dw::kFormAddrx4:
    case dw::kFormGnuAddrIndex:
        return indexedAddress(unit, v.value);
    default:
        reportForm("Addr Form", v.form);
        return std::nullopt;
    }
}

std::optional<std::uint64_t> DwarfInfo::address(const Entry& entry, std::uint32_t name) const {
    auto v = attribute(entry, name);
    return v ? addressOf(*entry.unit, *v) : std::nullopt;
}

std::optional<std::uint64_t> DwarfInfo::sectionOffset(const Entry& entry, std::uint32_t name) const {
    auto v = attribute(entry, name);
    if (!v) return std::nullopt;
    switch (v->form) {
    case dw::kFormSecOffset: case dw::kFormData4: case dw::kFormData8:
        return v->value;
    default:
        reportForm("Sec Form", v->form);
        return std::nullopt;
    }
}

bool DwarfInfo::flag(const Entry& entry, std::uint32_t name) const {
    auto v = attribute(entry, name);
    return v && (v->form == dw::kFormFlag || v->form == dw::kFormFlagPresent) && v->value != 0;
}

std::optional<std::pair<DebugSection, std::uint64_t>> DwarfInfo::referenceOf(const Unit& unit,
                                                                             const AttributeValue& v) const {
    if (isUnitReference(v.form)) {
        if (v.value >= unit.header.end - unit.header.offset) return std::nullopt;
        return std::make_pair(unit.header.section, unit.header.offset + v.value);
    }
    if (v.form == dw::kFormRefAddr) return std::make_pair(DebugSection::Info, v.value);
    if (v.form == dw::kFormRefSig8) {
        const Unit* target = typeUnit(v.value);
        if (!target || target->header.typeOffset >= target->header.end - target->header.offset) return std::nullopt;
        return std::make_pair(target->header.section, target->header.offset + target->header.typeOffset);
    }
    reportForm("Ref Form", v.form);
    return std::nullopt;
}

}  // namespace coresift
