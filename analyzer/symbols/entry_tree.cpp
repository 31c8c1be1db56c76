// The entry array of a unit: one pass over its bytes gives every entry with the index of its
// first child and of its next sibling.
#include "analyzer/symbols/entry_tree.h"

namespace coresift {
namespace {

constexpr std::uint32_t kNone = UINT32_MAX;  // EntryTree::kNone
// Units with more entries than this are walked in place instead.
constexpr std::size_t kMaxEntries = std::size_t{1} << 21;

}  // namespace

const DwarfInfo::EntryTree* DwarfInfo::entryTree(const Unit& unit) const {
    if (trees_.size() != units_.size()) {
        trees_.resize(units_.size());
        treeTried_.assign(units_.size(), false);
    }
    if (treeTried_[unit.index]) return trees_[unit.index].get();
    treeTried_[unit.index] = true;
    if (!unit.abbreviations) return nullptr;

    auto tree = std::make_unique<EntryTree>();
    struct Open {
        std::uint32_t parent, lastChild;
    };
    std::vector<Open> open;
    std::uint32_t lastTop = kNone;
    common::ByteView bytes = section(unit.header.section).sub(0, unit.header.end).value_or(common::ByteView());
    std::uint64_t pos = unit.header.firstEntry;
    while (pos < unit.header.end) {
        common::ByteReader in(bytes);
        in.seek(static_cast<std::size_t>(pos));
        std::uint64_t code = in.uleb128();
        if (!in.ok()) return nullptr;
        if (code == 0) {
            if (!open.empty()) open.pop_back();
            pos = in.offset();
            continue;
        }
        const Abbreviation* abbreviation = unit.abbreviations->find(code);
        if (!abbreviation || tree->records.size() >= kMaxEntries) return nullptr;
        Entry entry{&unit, abbreviation, pos, in.offset(), UINT32_MAX};
        auto end = endOfAttributes(entry, nullptr);
        if (!end) return nullptr;
        auto index = static_cast<std::uint32_t>(tree->records.size());
        tree->records.push_back({pos, entry.attributes, abbreviation});
        std::uint32_t& previous = open.empty() ? lastTop : open.back().lastChild;
        if (previous != kNone) tree->records[previous].sibling = index;
        else if (!open.empty()) tree->records[open.back().parent].firstChild = index;
        previous = index;
        if (abbreviation->hasChildren) open.push_back({index, kNone});
        pos = *end;
    }
    trees_[unit.index] = std::move(tree);
    return trees_[unit.index].get();
}

std::optional<Entry> DwarfInfo::treeNeighbour(const Entry& entry, bool child) const {
    const EntryTree* tree = entryTree(*entry.unit);
    if (!tree) return std::nullopt;
    std::optional<std::uint32_t> index;
    if (entry.slot < tree->records.size() && tree->records[entry.slot].offset == entry.offset) index = entry.slot;
    else index = tree->indexOf(entry.offset);
    if (!index) return std::nullopt;
    std::uint32_t next = child ? tree->records[*index].firstChild : tree->records[*index].sibling;
    if (next == kNone) return Entry{};
    const EntryTree::Record& r = tree->records[next];
    return Entry{entry.unit, r.abbreviation, r.offset, r.attributes, next};
}

}  // namespace coresift
