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
    // Parses the table at `offset` up to its terminating code 0 or the end of the section, reading
    // no more than `maxBytes` bytes (a declaration cut by that limit ends the table).
    // Codes and tags beyond 32 bits read as unknown (0xFFFFFFFF); a damaged declaration ends
    // the table with what was read before it.
    AbbreviationTable(common::ByteView section, std::uint64_t offset, std::uint64_t maxBytes = UINT64_MAX);

    // The abbreviation with `code`, or null.
    const Abbreviation* find(std::uint64_t code) const;
    const AttributeForm* attributeForms(const Abbreviation& abbreviation) const { return attributeForms_.data() + abbreviation.firstForm; }
    std::size_t size() const { return list_.size(); }
    // Bytes of the section the parse went through.
    std::uint64_t bytesRead() const { return bytesRead_; }

private:
    std::vector<Abbreviation> list_;  // in declaration order
    std::vector<AttributeForm> attributeForms_;
    bool dense_ = true;  // list_[i].code == i + 1 for every i
    std::vector<std::uint32_t> sorted_;  // indexes of list_ by code, when not dense
    std::uint64_t bytesRead_ = 0;
};

// Tables by their `.debug_abbrev` offset, parsed once each.
//
// The tables of a sound file do not overlap, so together they read the section once. Units whose
// offsets point inside one long unterminated table (a damaged file) would each read the rest of
// the section again, which grows with the square of the file; all parses together therefore
// read at most twice the section (and 64 KiB), and a table past that reads as empty.
class AbbreviationCache {
public:
    explicit AbbreviationCache(common::ByteView section)
        : section_(section), budget_(2 * static_cast<std::uint64_t>(section.size()) + 0x10000) {}
    const AbbreviationTable& at(std::uint64_t offset);

private:
    common::ByteView section_;
    std::uint64_t budget_;  // bytes the parses may still read
    std::unordered_map<std::uint64_t, std::unique_ptr<AbbreviationTable>> tables_;
};

}  // namespace coresift
