#include "analyzer/symbols/layout_facts.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "analyzer/symbols/dwarf_constants.h"

namespace coresift {
namespace {

// Levels of facts nest no deeper than this (and a damaged table must not recurse for ever).
constexpr int kMaxDepth = 16;
constexpr int kMaxTypeHops = 16;
// Entries looked at in one resolution: anonymous members that contain themselves (a damaged file)
// would otherwise multiply the work at every level.
constexpr long kMaxVisits = 1000000;

// A static data member is a member in DWARF 2-4 and a variable inside its class in DWARF 5.
bool tagMatches(std::uint32_t factTag, std::uint32_t entryTag) {
    return factTag == entryTag || (factTag == dw::kTagMember && entryTag == dw::kTagVariable);
}

bool validIndex(std::span<LayoutFact> facts, std::int32_t i) {
    return i >= 0 && static_cast<std::size_t>(i) < facts.size();
}

class Resolver {
public:
    Resolver(const DwarfInfo& dwarf, std::span<LayoutFact> facts) : dwarf_(dwarf), facts_(facts) {}

    bool level(const Entry& parent, std::int32_t first, std::int64_t base, int depth) {
        if (depth >= kMaxDepth || !validIndex(facts_, first)) return false;
        for (Entry child = dwarf_.firstChild(parent); child && ++visits_ <= kMaxVisits; child = dwarf_.nextSibling(child)) {
            std::string_view name = dwarf_.name(child);
            std::int32_t match = firstOpen(first, child.tag(), name);
            // A declaration has no members or size: the definition may come later or in another unit.
            if (match >= 0 && (facts_[match].flags & kFactScope) && dwarf_.flag(child, dw::kAtDeclaration)) continue;
            if (match >= 0) apply(facts_[match], child, name, first, base, depth);
        }
        return complete(first);
    }

private:
    // The first unresolved fact of the level with this tag and name; -1 when none.
    std::int32_t firstOpen(std::int32_t first, std::uint32_t tag, std::string_view name) const {
        std::size_t guard = 0;
        for (std::int32_t i = first; validIndex(facts_, i) && guard++ < facts_.size(); i = facts_[i].next) {
            const LayoutFact& f = facts_[i];
            if (!f.resolved && tagMatches(f.tag, tag) && f.name == name) return i;
        }
        return -1;
    }

    bool complete(std::int32_t first) const {
        std::size_t guard = 0;
        for (std::int32_t i = first; validIndex(facts_, i) && guard++ < facts_.size(); i = facts_[i].next) {
            const LayoutFact& f = facts_[i];
            if (!f.resolved && !f.name.empty() && !(f.flags & kFactOptional)) return false;
        }
        return true;
    }

    void apply(LayoutFact& fact, const Entry& entry, std::string_view name, std::int32_t levelFirst,
               std::int64_t base, int depth) {
        const bool named = !name.empty();
        if (named) {
            fact.resolved = true;
            fact.entry = entry;
        }
        if (fact.flags & kFactScope) {
            if (auto size = dwarf_.constant(entry, dw::kAtByteSize)) fact.value = static_cast<std::int64_t>(*size);
            if (fact.firstChild >= 0 && !level(entry, fact.firstChild, 0, depth + 1)) fact.resolved = false;
            return;
        }
        if (auto offset = memberOffset(entry)) fact.value = base + *offset;
        else if (auto value = dwarf_.signedConstant(entry, dw::kAtConstValue)) fact.value = *value;
        else if (auto size = dwarf_.constant(entry, dw::kAtByteSize)) fact.value = static_cast<std::int64_t>(*size);
        else fact.value = base;
        if (!(fact.flags & kFactFollowType)) return;

        bool throughPointer = false;
        Entry type = dwarf_.typeOf(entry);
        for (int hop = 0; type && hop < kMaxTypeHops && type.tag() != dw::kTagEnumerationType; ++hop) {
            Entry next = dwarf_.typeOf(type);
            if (!next) break;
            if (type.tag() == dw::kTagPointerType || type.tag() == dw::kTagReferenceType ||
                type.tag() == dw::kTagRvalueReferenceType)
                throughPointer = true;
            type = next;
        }
        if (!type) return;
        const std::int64_t childBase = throughPointer ? 0 : fact.value;
        if (!named) {
            // An unnamed member holds its type by value, so a type that is already being opened
            // further up cannot be inside itself: only a damaged file says so, and following it
            // would open the same members again at every level.
            const std::pair<DebugSection, std::uint64_t> key{type.unit->header.section, type.offset};
            if (std::find(openUnnamed_.begin(), openUnnamed_.end(), key) != openUnnamed_.end()) return;
            openUnnamed_.push_back(key);
            level(type, levelFirst, childBase, depth + 1);  // the anonymous member's members belong here
            openUnnamed_.pop_back();
            return;
        }
        if (fact.firstChild >= 0 && !level(type, fact.firstChild, childBase, depth + 1)) fact.resolved = false;
    }

    // DW_AT_data_member_location as a constant, or as the expression "DW_OP_plus_uconst n".
    std::optional<std::int64_t> memberOffset(const Entry& entry) const {
        auto value = dwarf_.attribute(entry, dw::kAtDataMemberLocation);
        if (!value) return std::nullopt;
        if (value->form == dw::kFormExprloc || value->form == dw::kFormBlock1 || value->form == dw::kFormBlock) {
            common::ByteReader in(value->bytes);
            if (in.u8() != dw::kOpPlusUconst) return std::nullopt;
            std::uint64_t offset = in.uleb128();
            if (!in.ok()) return std::nullopt;
            return static_cast<std::int64_t>(offset);
        }
        auto constant = dwarf_.constantOf(*value);
        if (!constant) return std::nullopt;
        return static_cast<std::int64_t>(*constant);
    }

    const DwarfInfo& dwarf_;
    std::span<LayoutFact> facts_;
    long visits_ = 0;
    std::vector<std::pair<DebugSection, std::uint64_t>> openUnnamed_;  // types of the unnamed members being opened
};

}  // namespace

void resetFacts(std::span<LayoutFact> facts) {
    for (LayoutFact& f : facts) {
        f.resolved = false;
        f.value = 0;
        f.entry = Entry{};
    }
}

int resolveFacts(const DwarfInfo& dwarf, const Entry& parent, std::span<LayoutFact> facts, std::int32_t first,
                 std::int64_t base) {
    return Resolver(dwarf, facts).level(parent, first, base, 0) ? 0 : 1;
}

int resolveFactGroup(const DwarfInfo& dwarf, std::span<const std::string_view> fileNames,
                     std::span<LayoutFact> facts, std::int32_t first) {
    int result = 1;
    dwarf.forEachUnitNamed(fileNames, [&](const Entry& unit) {
        result = resolveFacts(dwarf, unit, facts, first, 0);
        return 0;
    });
    return result;
}

}  // namespace coresift
