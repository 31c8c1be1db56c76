// The debugging information of one symbol file (`.debug_info` and the sections it refers to):
// units of DWARF versions 2 to 5 of every unit type, entries and their attributes in every form,
// the unit and the entries that cover an address.
//
// Everything here works in the file's own addresses; the caller adds the module's load bias.
// All bytes come from the file and are untrusted: every offset, size, index and count is checked
// before use, and a damaged unit, entry or attribute reads as absent. Messages: a unit of an
// unsupported version prints "Don't support %s of %s version 0x%X"; a form that the reader of an
// attribute class does not accept prints "Unrecognized %s type: 0x%X" with the class word (once
// per symbol file for each class and form, so a damaged file cannot flood the console).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "analyzer/symbols/address_index.h"
#include "analyzer/symbols/dwarf_abbrev.h"
#include "analyzer/symbols/dwarf_sections.h"
#include "analyzer/symbols/elf_image.h"

namespace coresift {

class Console;
class LineTables;

struct UnitHeader {
    DebugSection section = DebugSection::Info;  // Info, or Types for version 4 type units
    std::uint64_t offset = 0;       // of the unit length field
    std::uint64_t end = 0;          // one past the unit's last byte
    std::uint64_t firstEntry = 0;   // offset of the unit entry
    std::uint16_t version = 0;
    std::uint8_t type = 0;          // DW_UT_* (versions 2-4: compile, or type in .debug_types)
    std::uint8_t addressSize = 0;
    std::uint8_t offsetSize = 4;    // 8 in 64-bit DWARF units
    std::uint64_t abbrevOffset = 0;
    std::uint64_t dwoId = 0;          // skeleton and split compile units
    std::uint64_t typeSignature = 0;  // type units
    std::uint64_t typeOffset = 0;     // type units: unit-relative offset of the type entry
};

// Reads the unit header at `offset` of `bytes` (`section` says which section it is). Nothing
// when the header does not fit, the length is reserved, or the unit runs past the section;
// `version` is still set when the length was readable, so that the caller can skip the unit.
struct UnitHeaderResult {
    std::optional<UnitHeader> header;
    std::uint64_t next = 0;   // where the next unit starts (0: the walk cannot go on)
    std::uint16_t version = 0;
};
UnitHeaderResult readUnitHeader(common::ByteView bytes, std::uint64_t offset, DebugSection section);

// Attributes of the unit entry that other readers need, read once per unit.
struct UnitBases {
    std::uint64_t strOffsetsBase = 0, addrBase = 0, rnglistsBase = 0, loclistsBase = 0;
    bool hasRnglistsBase = false, hasLoclistsBase = false;
    std::optional<std::uint64_t> lowPc;     // base address of range and location lists
    std::optional<std::uint64_t> stmtList;  // offset of the unit's line program
    std::string_view name, compDir;
};

class Unit {
public:
    UnitHeader header;
    const AbbreviationTable* abbreviations = nullptr;
    std::uint32_t index = 0;  // position in DwarfInfo::units()

private:
    friend class DwarfInfo;
    mutable std::optional<UnitBases> bases_;
};

// An entry: its unit, its abbreviation and where its attributes start. A default entry (no
// abbreviation) is "none".
struct Entry {
    const Unit* unit = nullptr;
    const Abbreviation* abbreviation = nullptr;
    std::uint64_t offset = 0;      // section offset of the entry
    std::uint64_t attributes = 0;  // section offset of its first attribute
    std::uint32_t slot = UINT32_MAX;  // its place in the unit's entry array, when known

    explicit operator bool() const { return abbreviation != nullptr; }
    std::uint32_t tag() const { return abbreviation ? abbreviation->tag : 0; }
    bool hasChildren() const { return abbreviation && abbreviation->hasChildren; }
};

// One attribute as stored: the form (DW_FORM_indirect resolved) and its raw contents.
struct AttributeValue {
    std::uint32_t name = 0, form = 0;
    std::uint64_t value = 0;  // constants (sdata and implicit_const as two's complement), offsets,
                              // indexes, addresses, unit-relative or section references
    common::ByteView bytes;   // blocks, expressions, data16, and inline strings (without the NUL)
};

class DwarfInfo {
public:
    // The debugging information of a file of `elfClass`, or null when `.debug_info` is absent.
    static std::unique_ptr<DwarfInfo> make(Console& console, DwarfSections sections, ElfClass elfClass);
    ~DwarfInfo();
    DwarfInfo(const DwarfInfo&) = delete;
    DwarfInfo& operator=(const DwarfInfo&) = delete;

    Console& console() const { return console_; }
    const DwarfSections& sections() const { return sections_; }
    common::ByteView section(DebugSection which) const { return sections_.get(which); }
    std::uint8_t fileAddressSize() const { return fileAddressSize_; }

    // Units of `.debug_info` in section order, then those of `.debug_types`.
    const std::vector<Unit>& units() const { return units_; }
    // The unit whose bytes hold `offset` of `section`.
    const Unit* unitContaining(DebugSection section, std::uint64_t offset) const;
    const UnitBases& bases(const Unit& unit) const;
    // The type unit with this signature (DW_FORM_ref_sig8), or null.
    const Unit* typeUnit(std::uint64_t signature) const;

    // --- Entries ---
    Entry unitEntry(const Unit& unit) const;
    // The entry at section offset `offset` of `unit`; none for a null entry or a bad offset.
    Entry entryAt(const Unit& unit, std::uint64_t offset) const;
    Entry firstChild(const Entry& entry) const;
    Entry nextSibling(const Entry& entry) const;
    // Offset just past the entry and all its children; nothing when they cannot be read.
    std::optional<std::uint64_t> endOfSubtree(const Entry& entry) const;

    std::optional<AttributeValue> attribute(const Entry& entry, std::uint32_t name) const;
    // Calls `visit` for every attribute in order; false when an attribute cannot be read.
    bool forEachAttribute(const Entry& entry, const std::function<void(const AttributeValue&)>& visit) const;
    // The entry a reference attribute names (any reference form, DW_FORM_ref_sig8 included).
    Entry referenced(const Entry& entry, std::uint32_t name) const;
    Entry typeOf(const Entry& entry) const;

    // --- Attribute values by class (each prints the form message for a form it does not take) ---
    std::optional<std::uint64_t> constant(const Entry& entry, std::uint32_t name) const;
    std::optional<std::int64_t> signedConstant(const Entry& entry, std::uint32_t name) const;
    std::optional<std::string_view> text(const Entry& entry, std::uint32_t name) const;
    std::optional<std::uint64_t> address(const Entry& entry, std::uint32_t name) const;
    std::optional<std::uint64_t> sectionOffset(const Entry& entry, std::uint32_t name) const;
    bool flag(const Entry& entry, std::uint32_t name) const;
    std::string_view name(const Entry& entry) const;

    std::optional<std::uint64_t> constantOf(const AttributeValue& value) const;
    std::optional<std::string_view> textOf(const Unit& unit, const AttributeValue& value) const;
    std::optional<std::uint64_t> addressOf(const Unit& unit, const AttributeValue& value) const;
    // Section offset of the entry a reference names, and the section it lies in.
    std::optional<std::pair<DebugSection, std::uint64_t>> referenceOf(const Unit& unit, const AttributeValue& value) const;
    // The address at `index` of the unit's `.debug_addr` table.
    std::optional<std::uint64_t> indexedAddress(const Unit& unit, std::uint64_t index) const;

    // --- Address ranges ---
    // Calls `visit` (begin, end) for each address range of the entry (low_pc/high_pc or
    // DW_AT_ranges); `visit` returning true stops. False when the entry has no readable ranges.
    bool forEachRange(const Entry& entry, const std::function<bool(std::uint64_t, std::uint64_t)>& visit) const;
    bool covers(const Entry& entry, std::uint64_t address) const;
    // Whether the entry has any address attribute (low_pc or ranges) at all.
    bool hasAddressRanges(const Entry& entry) const;
    // The entry's low_pc, else the lowest start of its ranges.
    std::optional<std::uint64_t> lowestAddress(const Entry& entry) const;

    // --- Searches ---
    // The unit entry whose ranges contain `address`: first through `.debug_aranges`, then the
    // first unit in section order whose unit entry covers it.
    Entry unitAt(std::uint64_t address) const;
    // A direct child of any unit entry with this tag and DW_AT_name.
    Entry findTopLevel(std::uint32_t tag, std::string_view name) const;
    // Visits every unit entry whose DW_AT_name ends with one of `fileNames`; a non-zero result
    // stops the walk and is returned.
    int forEachUnitNamed(std::span<const std::string_view> fileNames, const std::function<int(const Entry&)>& visit) const;

    // The outermost code scope of `unit` covering `address`: the first subprogram, inlined
    // subroutine or lexical block with address ranges that covers it, in entry order, looking
    // through namespaces, classes, structures, unions and lexical blocks without ranges (some
    // producers put function definitions inside their class). The unit's scopes are indexed on
    // first use.
    Entry scopeAt(const Unit& unit, std::uint64_t address) const;
    // Scopes are searched no deeper than this below their unit.
    static constexpr int kMaxScopeDepth = 64;

    // The line programs of `.debug_line`, made on first use.
    LineTables& lineTables() const;

    // Prints "Unrecognized %s type: 0x%X" for `classWord` and `form`, once per pair.
    void reportForm(const char* classWord, std::uint32_t form) const;

private:
    DwarfInfo(Console& console, DwarfSections sections, ElfClass elfClass);
    void readUnits(DebugSection section);
    std::optional<AttributeValue> readValue(const Unit& unit, common::ByteReader& in, std::uint32_t name,
                                            std::uint32_t form, std::int64_t implicitConst) const;
    bool skipValue(const Unit& unit, common::ByteReader& in, std::uint32_t form) const;
    std::optional<std::uint64_t> endOfAttributes(const Entry& entry, std::uint64_t* sibling) const;
    const AddressIndex& arangesIndex() const;
    const AddressIndex& unitRangeIndex() const;

    // The entries of a unit in one array with their child and sibling links, made by one pass on
    // first navigation so that walks do not re-read subtrees; null when the unit cannot be read
    // to its end (navigation then reads the bytes each time).
    struct EntryTree;
    const EntryTree* entryTree(const Unit& unit) const;
    std::optional<Entry> treeNeighbour(const Entry& entry, bool child) const;

    Console& console_;
    DwarfSections sections_;
    std::uint8_t fileAddressSize_ = 4;
    mutable AbbreviationCache infoAbbreviations_;
    std::vector<Unit> units_;
    std::unordered_map<std::uint64_t, std::uint32_t> typeUnits_;  // signature -> unit index
    mutable std::set<std::pair<const char*, std::uint32_t>> reportedForms_;
    mutable std::unique_ptr<AddressIndex> aranges_, unitRanges_;
    mutable std::unique_ptr<LineTables> lineTables_;
    mutable std::vector<std::unique_ptr<EntryTree>> trees_;  // by unit index
    mutable std::vector<bool> treeTried_;
    struct ScopeIndex {
        std::vector<Entry> scopes;
        AddressIndex index;
    };
    mutable std::unordered_map<std::uint32_t, ScopeIndex> scopeIndexes_;  // by unit index
};

}  // namespace coresift
