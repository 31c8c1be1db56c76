// The outermost code scopes of a unit, indexed by address.
#include "analyzer/symbols/dwarf_constants.h"
#include "analyzer/symbols/dwarf_info.h"

namespace coresift {
namespace {

bool isTransparent(std::uint32_t tag) {
    return tag == dw::kTagNamespace || tag == dw::kTagClassType || tag == dw::kTagStructureType ||
           tag == dw::kTagUnionType;
}

}  // namespace

Entry DwarfInfo::scopeAt(const Unit& unit, std::uint64_t address) const {
    auto found = scopeIndexes_.find(unit.index);
    if (found == scopeIndexes_.end()) {
        // Every candidate in entry order; the first that covers an address wins, as a walk would find it.
        ScopeIndex built;
        std::vector<AddressIndex::Interval> intervals;
        std::function<void(const Entry&, int)> collect = [&](const Entry& parent, int depth) {
            if (depth >= kMaxScopeDepth) return;
            for (Entry child = firstChild(parent); child; child = nextSibling(child)) {
                std::uint32_t tag = child.tag();
                bool code = tag == dw::kTagSubprogram || tag == dw::kTagInlinedSubroutine ||
                            (tag == dw::kTagLexicalBlock && hasAddressRanges(child));
                if (code) {
                    auto rank = static_cast<std::uint32_t>(built.scopes.size());
                    built.scopes.push_back(child);
                    forEachRange(child, [&](std::uint64_t b, std::uint64_t e) {
                        intervals.push_back({b, e, rank, rank});
                        return false;
                    });
                } else if (isTransparent(tag) || tag == dw::kTagLexicalBlock) {
                    collect(child, depth + 1);
                }
            }
        };
        collect(unitEntry(unit), 0);
        built.index = AddressIndex(std::move(intervals));
        found = scopeIndexes_.emplace(unit.index, std::move(built)).first;
    }
    auto hit = found->second.index.find(address);
    return hit ? found->second.scopes[*hit] : Entry{};
}

}  // namespace coresift
