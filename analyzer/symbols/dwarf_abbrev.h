// Abbreviation tables of `.debug_abbrev`: each entry of `.debug_info` names one abbreviation,
// which gives its tag, whether children follow, and the names and forms of its attributes.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "common/byte_reader.h"

namespace coresift {

struct AttributeForm {
    std::uint32_t name = 0;
    std::uint32_t form = 0;
    std::int64_t implicitConst = 0;  // the value of DW_FORM_implicit_const
};

struct Abbreviation {
    std::uint64_t code = 0;
    std::uint32_t tag = 0;
    bool hasChildren = false;
    std::uint32_t firstForm = 0, formCount = 0;  // into AbbreviationTable::attributeForms()
};

class AbbreviationTable {
public:
    // Parses the table at `offset` up to its terminating code 0 or the end of the section.
    // Codes and tags beyond 32 bits read as unknown (0xFFFFFFFF); a damaged declaration ends
    // the table with what was read before it.
    AbbreviationTable(common::ByteView section, std::uint64_t offset);

    // The abbreviation with `code`, or null.
    const Abbreviation* find(std::uint64_t code) const;
    const AttributeForm* attributeForms(const Abbreviation& abbreviation) const { return attributeForms_.data() + abbreviation.firstForm; }
    std::size_t size() const { return list_.size(); }

private:
    std::vector<Abbreviation> list_;  // in declaration order
    std::vector<AttributeForm> attributeForms_;
    bool dense_ = true;  // list_[i].code == i + 1 for every i
    std::vector<std::uint32_t> sorted_;  // indexes of list_ by code, when not dense
};

// Tables by their `.debug_abbrev` offset, parsed once each.
class AbbreviationCache {
public:
    explicit AbbreviationCache(common::ByteView section) : section_(section) {}
    const AbbreviationTable& at(std::uint64_t offset);

private:
    common::ByteView section_;
    std::unordered_map<std::uint64_t, std::unique_ptr<AbbreviationTable>> tables_;
};

}  // namespace coresift
