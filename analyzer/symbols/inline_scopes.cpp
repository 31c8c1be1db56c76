// The chain of subprogram and inlined-subroutine scopes at an address.
//
// Within the unit that covers the address, scopes are searched level by level: a subprogram or
// inlined subroutine containing the address joins the chain and its children are searched next;
// lexical blocks are entered without joining it, as are namespaces and classes at the unit's
// level; entries of any other tag (base types, typedefs, variables...) are passed over and the
// search goes on with their siblings. The outermost scope comes from the unit's scope index.
#include <vector>

#include "analyzer/symbols/dwarf_constants.h"
#include "analyzer/symbols/symbol_lookup.h"

namespace coresift {
namespace {

// Abstract origins and specifications followed to find a name.
constexpr int kMaxNameHops = 8;

class ScopeSearch {
public:
    ScopeSearch(const DwarfInfo& dwarf, std::uint64_t address) : dwarf_(dwarf), address_(address) {}

    std::vector<Entry> chainIn(const Entry& unit) {
        Entry outermost = dwarf_.scopeAt(*unit.unit, address_);
        if (!outermost) return {};
        if (outermost.tag() != dw::kTagLexicalBlock) chain_.push_back(outermost);
        search(outermost, 1);
        return std::move(chain_);
    }

private:
    // True when the scope holding the address was found below `parent`.
    bool search(const Entry& parent, int depth) {
        if (depth >= DwarfInfo::kMaxScopeDepth) return false;
        for (Entry child = dwarf_.firstChild(parent); child; child = dwarf_.nextSibling(child)) {
            switch (child.tag()) {
            case dw::kTagSubprogram:
            case dw::kTagInlinedSubroutine:
                if (!dwarf_.covers(child, address_)) break;
                chain_.push_back(child);
                search(child, depth + 1);
                return true;
            case dw::kTagLexicalBlock:
                if (dwarf_.hasAddressRanges(child)) {
                    if (!dwarf_.covers(child, address_)) break;
                    search(child, depth + 1);
                    return true;
                }
                if (search(child, depth + 1)) return true;
                break;
            default:
                break;
            }
        }
        return false;
    }

    const DwarfInfo& dwarf_;
    std::uint64_t address_;
    std::vector<Entry> chain_;
};

// The name of a scope: a linkage name anywhere along its abstract origins and specifications,
// else the first DW_AT_name along them. `named` receives the entry that carries the name.
std::string_view scopeName(const DwarfInfo& dwarf, const Entry& scope, Entry* named = nullptr) {
    for (std::uint32_t wanted : {dw::kAtLinkageName, dw::kAtName}) {
        Entry at = scope;
        for (int hop = 0; at && hop < kMaxNameHops; ++hop) {
            if (auto name = dwarf.text(at, wanted)) {
                if (named) *named = at;
                return *name;
            }
            if (wanted == dw::kAtLinkageName) {
                if (auto name = dwarf.text(at, dw::kAtMipsLinkageName)) {
                    if (named) *named = at;
                    return *name;
                }
            }
            Entry next = dwarf.referenced(at, dw::kAtAbstractOrigin);
            at = next ? next : dwarf.referenced(at, dw::kAtSpecification);
        }
    }
    return {};
}

bool isNamingContainer(std::uint32_t tag) {
    return tag == dw::kTagNamespace || tag == dw::kTagClassType || tag == dw::kTagStructureType ||
           tag == dw::kTagUnionType;
}

// "outer::inner::name" for the entry `named`: the namespaces and classes that enclose it, found
// by descending from its unit's entry to it. Empty when something else encloses it (a function's
// local class) or the entry cannot be reached.
std::string qualifiedName(const DwarfInfo& dwarf, const Entry& named, std::string_view name) {
    if (!named.unit) return {};
    std::string prefix;
    Entry parent = dwarf.unitEntry(*named.unit);
    for (int depth = 0; parent && depth < DwarfInfo::kMaxScopeDepth; ++depth) {
        // The last child at or before the entry holds it.
        Entry holder;
        for (Entry child = dwarf.firstChild(parent); child && child.offset <= named.offset;
             child = dwarf.nextSibling(child))
            holder = child;
        if (!holder) return {};
        if (holder.offset == named.offset) return prefix + std::string(name);
        if (!isNamingContainer(holder.tag())) return {};
        std::optional<std::string_view> part = dwarf.text(holder, dw::kAtName);
        if (!part && holder.tag() != dw::kTagNamespace) return {};
        prefix += part ? std::string(*part) : std::string("(anonymous namespace)");
        prefix += "::";
        parent = holder;
    }
    return {};
}

}  // namespace

int forEachInlineScope(SymbolSource& source, TargetWord address, const std::function<int(const InlineScope&)>& visit) {
    SymbolFile* file = source.symbolFile();
    DwarfInfo* dwarf = file ? file->dwarf() : nullptr;
    if (!dwarf) return 0;
    TargetWord fileAddress = address - source.loadBias();
    if (const FunctionMatch* match = source.functionMatch()) {
        fileAddress = match->toFileAddress(address);
        if (fileAddress == 0) return 0;
    }
    Entry unit = dwarf->unitAt(fileAddress);
    if (!unit) return 0;
    std::vector<Entry> chain = ScopeSearch(*dwarf, fileAddress).chainIn(unit);
    if (chain.empty()) return 0;

    const TargetWord toDump = address - fileAddress;  // the load bias, or the match-mode shift
    auto program = dwarf->bases(*unit.unit).stmtList;
    std::optional<SourceLine> line = lineAt(source, address);
    for (std::size_t i = chain.size(); i-- > 0;) {
        const Entry& scope = chain[i];
        InlineScope out;
        Entry named;
        out.name = scopeName(*dwarf, scope, &named);
        if (named && !dwarf->text(named, dw::kAtLinkageName) && !dwarf->text(named, dw::kAtMipsLinkageName))
            out.qualifiedName = qualifiedName(*dwarf, named, out.name);
        out.start = static_cast<TargetWord>(dwarf->lowestAddress(scope).value_or(fileAddress)) + toDump;
        out.inlined = scope.tag() == dw::kTagInlinedSubroutine;
        out.line = line;
        if (int result = visit(out)) return result;
        // The scope around this one stands where this one was called from.
        line.reset();
        auto callFile = dwarf->constant(scope, dw::kAtCallFile);
        auto callLine = dwarf->constant(scope, dw::kAtCallLine);
        if (program && callFile && callLine) {
            line = dwarf->lineTables().fileOf(*program, *callFile);
            if (line) line->line = static_cast<std::uint32_t>(*callLine);
        }
    }
    return 0;
}

}  // namespace coresift
