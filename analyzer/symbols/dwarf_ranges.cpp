// Address ranges of entries (low/high pc, `.debug_ranges`, `.debug_rnglists`), the unit that
// covers an address (`.debug_aranges`, then the units' own ranges), and searches by name.
#include "analyzer/driver/console.h"
#include "analyzer/symbols/dwarf_constants.h"
#include "analyzer/symbols/dwarf_info.h"

namespace coresift {
namespace {

std::uint64_t allOnes(unsigned size) { return size >= 8 ? UINT64_MAX : (std::uint64_t{1} << (size * 8)) - 1; }

bool isConstantForm(std::uint32_t form) {
    return form == dw::kFormData1 || form == dw::kFormData2 || form == dw::kFormData4 || form == dw::kFormData8 ||
           form == dw::kFormUdata || form == dw::kFormSdata || form == dw::kFormImplicitConst;
}

using RangeVisitor = std::function<bool(std::uint64_t, std::uint64_t)>;

// A version 2-4 range list: pairs relative to the base address, a pair whose begin is all ones
// selecting a new base, (0, 0) ending the list.
bool walkRanges(common::ByteView section, std::uint64_t offset, unsigned size, std::uint64_t base,
                const RangeVisitor& visit) {
    if (offset >= section.size()) return false;
    common::ByteReader in(section, static_cast<std::size_t>(offset));
    while (in.ok()) {
        std::uint64_t begin = in.readSized(size), end = in.readSized(size);
        if (!in.ok()) return false;
        if (begin == 0 && end == 0) return true;
        if (begin == allOnes(size)) {
            base = end;
            continue;
        }
        std::uint64_t b = (base + begin) & allOnes(size), e = (base + end) & allOnes(size);
        if (b < e && visit(b, e)) return true;
    }
    return false;
}

}  // namespace

bool DwarfInfo::forEachRange(const Entry& entry, const RangeVisitor& visit) const {
    if (!entry) return false;
    const Unit& unit = *entry.unit;
    const unsigned size = unit.header.addressSize;
    std::optional<AttributeValue> ranges, low, high;
    if (!forEachAttribute(entry, [&](const AttributeValue& v) {
            if (v.name == dw::kAtRanges) ranges = v;
            else if (v.name == dw::kAtLowPc) low = v;
            else if (v.name == dw::kAtHighPc) high = v;
        }))
        return false;

    if (ranges) {
        std::uint64_t base = bases(unit).lowPc.value_or(0);
        std::uint64_t offset = ranges->value;
        if (ranges->form == dw::kFormRnglistx) {
            const UnitBases& b = bases(unit);
            std::uint8_t offsetSize = unit.header.offsetSize;
            if (ranges->value > (UINT64_MAX - b.rnglistsBase) / offsetSize) return false;
            auto slot = section(DebugSection::Rnglists).sub(b.rnglistsBase + ranges->value * offsetSize, offsetSize);
            if (!slot) return false;
            std::uint64_t relative = offsetSize == 8 ? *slot->read<std::uint64_t>(0) : *slot->read<std::uint32_t>(0);
            offset = b.rnglistsBase + relative;
        } else if (ranges->form != dw::kFormSecOffset && ranges->form != dw::kFormData4 &&
                   ranges->form != dw::kFormData8) {
            reportForm("Sec Form", ranges->form);
            return false;
        }
        if (unit.header.version < 5) return walkRanges(section(DebugSection::Ranges), offset, size, base, visit);

        common::ByteView lists = section(DebugSection::Rnglists);
        if (offset >= lists.size()) return false;
        common::ByteReader in(lists, static_cast<std::size_t>(offset));
        while (in.ok()) {
            std::uint8_t kind = in.u8();
            std::uint64_t b = 0, e = 0;
            bool isRange = true;
            switch (kind) {
            case dw::kRleEndOfList: return in.ok();
            case dw::kRleBaseAddressx: base = indexedAddress(unit, in.uleb128()).value_or(0); isRange = false; break;
            case dw::kRleStartxEndx: {
                auto start = indexedAddress(unit, in.uleb128());
                auto stop = indexedAddress(unit, in.uleb128());
                if (!start || !stop) return false;
                b = *start, e = *stop;
                break;
            }
            case dw::kRleStartxLength: {
                auto start = indexedAddress(unit, in.uleb128());
                if (!start) return false;
                b = *start, e = *start + in.uleb128();
                break;
            }
            case dw::kRleOffsetPair: b = base + in.uleb128(); e = base + in.uleb128(); break;
            case dw::kRleBaseAddress: base = in.readSized(size); isRange = false; break;
            case dw::kRleStartEnd: b = in.readSized(size); e = in.readSized(size); break;
            case dw::kRleStartLength: b = in.readSized(size); e = b + in.uleb128(); break;
            default: return false;
            }
            if (!in.ok()) return false;
            if (isRange && b < e && visit(b, e)) return true;
        }
        return false;
    }

    if (!low || !high) return false;
    auto begin = addressOf(unit, *low);
    if (!begin) return false;
    std::uint64_t end = 0;
    if (isConstantForm(high->form)) end = saturatingEnd(*begin, high->value);
    else if (auto e = addressOf(unit, *high)) end = *e;
    else return false;
    if (*begin < end) visit(*begin, end);
    return true;
}

bool DwarfInfo::covers(const Entry& entry, std::uint64_t address) const {
    bool found = false;
    forEachRange(entry, [&found, address](std::uint64_t b, std::uint64_t e) {
        found = b <= address && address < e;
        return found;
    });
    return found;
}

bool DwarfInfo::hasAddressRanges(const Entry& entry) const {
    bool has = false;
    forEachAttribute(entry, [&has](const AttributeValue& v) {
        if (v.name == dw::kAtRanges || v.name == dw::kAtLowPc) has = true;
    });
    return has;
}

std::optional<std::uint64_t> DwarfInfo::lowestAddress(const Entry& entry) const {
    if (auto low = address(entry, dw::kAtLowPc)) return low;
    std::optional<std::uint64_t> lowest;
    forEachRange(entry, [&lowest](std::uint64_t b, std::uint64_t) {
        if (!lowest || b < *lowest) lowest = b;
        return false;
    });
    return lowest;
}

const AddressIndex& DwarfInfo::arangesIndex() const {
    if (aranges_) return *aranges_;
    std::vector<AddressIndex::Interval> intervals;
    common::ByteView bytes = section(DebugSection::Aranges);
    std::uint64_t offset = 0;
    std::uint32_t rank = 0;
    while (offset < bytes.size()) {
        const std::uint64_t setStart = offset;
        common::ByteReader in(bytes, static_cast<std::size_t>(offset));
        std::uint64_t length = in.u32();
        unsigned offsetSize = 4;
        if (length == 0xFFFFFFFFu) {
            length = in.u64();
            offsetSize = 8;
        } else if (length >= 0xFFFFFFF0u) {
            break;
        }
        if (!in.ok() || length > in.remaining()) break;
        const std::uint64_t end = in.offset() + length;
        std::uint16_t version = in.u16();
        std::uint64_t infoOffset = in.readSized(offsetSize);
        std::uint8_t addressSize = in.u8();
        std::uint8_t segmentSize = in.u8();
        offset = end;
        if (!in.ok()) break;
        if (version != 2 || addressSize != fileAddressSize_) {
            console_.error(Msg::UnsupportedVersion, "", ".debug_aranges",
                           (static_cast<unsigned>(addressSize) << 16) | version);
            continue;
        }
        const Unit* unit = unitContaining(DebugSection::Info, infoOffset);
        if (segmentSize != 0 || !unit || unit->header.offset != infoOffset) continue;
        // Tuples start at the first multiple of the tuple size (from the set's start) after the
        // header. Only (0, 0) ends a set: an empty tuple before it covers nothing.
        const std::uint64_t tuple = 2u * addressSize;
        const std::uint64_t header = in.offset() - setStart;
        common::ByteReader tuples(bytes.sub(0, end).value_or(common::ByteView()));
        tuples.seek(static_cast<std::size_t>(setStart + (header + tuple - 1) / tuple * tuple));
        while (tuples.ok() && tuples.remaining() >= tuple) {
            std::uint64_t address = tuples.readSized(addressSize), size = tuples.readSized(addressSize);
            if (address == 0 && size == 0) break;
            intervals.push_back({address, saturatingEnd(address, size), rank++, unit->index});
        }
    }
    aranges_ = std::make_unique<AddressIndex>(std::move(intervals));
    return *aranges_;
}

const AddressIndex& DwarfInfo::unitRangeIndex() const {
    if (unitRanges_) return *unitRanges_;
    std::vector<AddressIndex::Interval> intervals;
    for (const Unit& unit : units_) {
        if (unit.header.section != DebugSection::Info || unit.header.type == dw::kUtType ||
            unit.header.type == dw::kUtSplitType)
            continue;
        forEachRange(unitEntry(unit), [&](std::uint64_t b, std::uint64_t e) {
            intervals.push_back({b, e, unit.index, unit.index});
            return false;
        });
    }
    unitRanges_ = std::make_unique<AddressIndex>(std::move(intervals));
    return *unitRanges_;
}

Entry DwarfInfo::unitAt(std::uint64_t address) const {
    if (auto unit = arangesIndex().find(address)) {
        if (Entry top = unitEntry(units_[*unit])) return top;
    }
    if (auto unit = unitRangeIndex().find(address)) return unitEntry(units_[*unit]);
    return {};
}

Entry DwarfInfo::findTopLevel(std::uint32_t tag, std::string_view wanted) const {
    for (const Unit& unit : units_) {
        for (Entry child = firstChild(unitEntry(unit)); child; child = nextSibling(child))
            if (child.tag() == tag && name(child) == wanted) return child;
    }
    return {};
}

int DwarfInfo::forEachUnitNamed(std::span<const std::string_view> fileNames,
                                const std::function<int(const Entry&)>& visit) const {
    for (const Unit& unit : units_) {
        std::string_view unitName = bases(unit).name;
        for (std::string_view wanted : fileNames) {
            if (!unitName.ends_with(wanted)) continue;
            if (int result = visit(unitEntry(unit))) return result;
            break;
        }
    }
    return 0;
}

}  // namespace coresift
