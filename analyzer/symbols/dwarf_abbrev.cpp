#include "analyzer/symbols/dwarf_abbrev.h"

#include <algorithm>

#include "analyzer/symbols/dwarf_constants.h"

namespace coresift {
namespace {

std::uint32_t narrow(std::uint64_t value) { return value > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(value); }

}  // namespace

AbbreviationTable::AbbreviationTable(common::ByteView section, std::uint64_t offset, std::uint64_t maxBytes) {
    if (offset >= section.size()) return;
    if (maxBytes < section.size() - offset) section = section.sub(0, offset + maxBytes).value_or(common::ByteView());
    common::ByteReader in(section, static_cast<std::size_t>(offset));
    while (in.ok() && !in.atEnd()) {
        std::uint64_t code = in.uleb128();
        if (!in.ok() || code == 0) break;
        Abbreviation abbreviation;
        abbreviation.code = code;
        abbreviation.tag = narrow(in.uleb128());
        abbreviation.hasChildren = in.u8() != 0;
        abbreviation.firstForm = static_cast<std::uint32_t>(attributeForms_.size());
        bool complete = false;
        while (in.ok()) {
            std::uint64_t name = in.uleb128();
            std::uint64_t form = in.uleb128();
            if (!in.ok()) break;
            if (name == 0 && form == 0) {
                complete = true;
                break;
            }
            AttributeForm attribute{narrow(name), narrow(form), 0};
            if (form == dw::kFormImplicitConst) attribute.implicitConst = in.sleb128();
            attributeForms_.push_back(attribute);
        }
        if (!complete) {
            attributeForms_.resize(abbreviation.firstForm);
            break;
        }
        abbreviation.formCount = static_cast<std::uint32_t>(attributeForms_.size()) - abbreviation.firstForm;
        if (abbreviation.code != list_.size() + 1) dense_ = false;
        list_.push_back(abbreviation);
    }
    bytesRead_ = std::min<std::uint64_t>(in.offset(), section.size()) - offset;
    if (!dense_) {
        sorted_.resize(list_.size());
        for (std::uint32_t i = 0; i < list_.size(); ++i) sorted_[i] = i;
        // Stable: of two declarations with one code, the first is found.
        std::stable_sort(sorted_.begin(), sorted_.end(),
                         [this](std::uint32_t a, std::uint32_t b) { return list_[a].code < list_[b].code; });
    }
}

const Abbreviation* AbbreviationTable::find(std::uint64_t code) const {
    if (dense_) return code >= 1 && code <= list_.size() ? &list_[code - 1] : nullptr;
    auto it = std::lower_bound(sorted_.begin(), sorted_.end(), code,
                               [this](std::uint32_t i, std::uint64_t c) { return list_[i].code < c; });
    if (it == sorted_.end() || list_[*it].code != code) return nullptr;
    return &list_[*it];
}

const AbbreviationTable& AbbreviationCache::at(std::uint64_t offset) {
    auto& slot = tables_[offset];
    if (!slot) {
        slot = std::make_unique<AbbreviationTable>(section_, offset, budget_);
        budget_ -= std::min(budget_, slot->bytesRead());
    }
    return *slot;
}

}  // namespace coresift
