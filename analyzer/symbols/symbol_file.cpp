#include "analyzer/symbols/symbol_file.h"

#include "analyzer/symbols/dwarf_sections.h"

namespace coresift {
namespace {

// The table positions the mask's parts cover, in scan order: the global part [sh_info, count),
// then the local part [1, sh_info).
struct Parts {
    std::uint32_t globalFrom, count, localEnd;
    bool global, local;
};

Parts partsOf(const SymbolTable& table, std::uint32_t mask) {
    std::uint32_t count = table.count();
    std::uint32_t split = table.firstGlobal() < count ? table.firstGlobal() : count;
    return {split, count, split, (mask & lookup::kGlobalPart) != 0, (mask & lookup::kLocalPart) != 0};
}

bool qualifies(const Symbol& symbol, std::uint32_t mask) {
    return lookup::acceptsType(mask, symbol.type()) && symbol.shndx != 0;
}

}  // namespace

SymbolFile::SymbolFile(Console& console, std::unique_ptr<ElfImage> image, std::unique_ptr<ElfImage> miniDebugInfo)
    : console_(console), image_(std::move(image)), mini_(std::move(miniDebugInfo)) {}

SymbolFile::~SymbolFile() = default;

const SymbolTable& SymbolFile::symbols() {
    if (symbolsRead_) return symbols_;
    symbolsRead_ = true;
    symbols_ = image_->symbolTable();
    if (symbols_.empty() && !image_->symtabIndex()) {
        // Many Android binaries carry their function symbols only in MiniDebugInfo.
        if (!mini_) mini_ = image_->miniDebugInfo(console_);
        if (mini_) {
            symbols_ = mini_->symbolTable();
            fromMiniDebugInfo_ = !symbols_.empty();
        }
    }
    return symbols_;
}

const AddressIndex& SymbolFile::coveringIndex(std::uint32_t mask) {
    const std::uint32_t key = mask & (lookup::kTypeBits | lookup::kGlobalPart | lookup::kLocalPart);
    if (auto found = covering_.find(key); found != covering_.end()) return found->second;
    const SymbolTable& table = symbols();
    Parts parts = partsOf(table, mask);
    std::vector<AddressIndex::Interval> intervals;
    std::uint32_t rank = 0;
    auto add = [&](std::uint32_t from, std::uint32_t to) {
        for (std::uint32_t i = from; i < to; ++i) {
            auto symbol = table.at(i);
            if (!symbol) break;
            if (qualifies(*symbol, mask) && symbol->size != 0)
                intervals.push_back({symbol->value, saturatingEnd(symbol->value, symbol->size), rank, i});
            ++rank;
        }
    };
    if (parts.global) add(parts.globalFrom, parts.count);
    if (parts.local) add(1, parts.localEnd);
    return covering_.emplace(key, AddressIndex(std::move(intervals))).first->second;
}

std::optional<Symbol> SymbolFile::symbolCovering(std::uint64_t address, std::uint32_t mask) {
    auto index = coveringIndex(mask).find(address);
    if (!index) return std::nullopt;
    return symbols().at(*index);
}

std::optional<Symbol> SymbolFile::firstInScanOrder(const std::vector<std::uint32_t>& candidates, std::uint32_t mask,
                                                   const std::function<bool(const Symbol&)>& accept) {
    const SymbolTable& table = symbols();
    Parts parts = partsOf(table, mask);
    auto search = [&](bool inGlobal) -> std::optional<Symbol> {
        for (std::uint32_t i : candidates) {
            bool global = i >= parts.globalFrom;
            if (global != inGlobal || i == 0) continue;
            auto symbol = table.at(i);
            if (symbol && qualifies(*symbol, mask) && accept(*symbol)) return symbol;
        }
        return std::nullopt;
    };
    if (parts.global) {
        if (auto found = search(true)) return found;
    }
    if (parts.local) return search(false);
    return std::nullopt;
}

std::optional<Symbol> SymbolFile::symbolNamed(std::string_view name, std::uint32_t mask) {
    if (!namesIndexed_) {
        namesIndexed_ = true;
        symbols().forEach([this](const Symbol& s) {
            if (!s.name.empty()) byName_[s.name].push_back(s.index);
            return 0;
        });
    }
    auto found = byName_.find(name);
    if (found == byName_.end()) return std::nullopt;
    return firstInScanOrder(found->second, mask, [](const Symbol&) { return true; });
}

std::optional<Symbol> SymbolFile::sizelessFunctionAt(std::uint64_t value, std::uint32_t mask) {
    if (!sizelessIndexed_) {
        sizelessIndexed_ = true;
        symbols().forEach([this](const Symbol& s) {
            if (s.size == 0 && (s.type() == 2 || s.type() == 13) && !s.name.empty()) sizeless_[s.value].push_back(s.index);
            return 0;
        });
    }
    auto found = sizeless_.find(value);
    if (found == sizeless_.end()) return std::nullopt;
    return firstInScanOrder(found->second, mask, [](const Symbol&) { return true; });
}

DwarfInfo* SymbolFile::dwarf() {
    if (!dwarfTried_) {
        dwarfTried_ = true;
        dwarf_ = DwarfInfo::make(console_, DwarfSections::fromImage(console_, *image_), image_->elfClass());
    }
    return dwarf_.get();
}

}  // namespace coresift
