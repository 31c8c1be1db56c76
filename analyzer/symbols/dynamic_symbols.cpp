#include "analyzer/symbols/dynamic_symbols.h"

#include <cstring>

#include "analyzer/symbols/symbol_file.h"

namespace coresift {
namespace {

// ELF32 entries are 16 bytes (name, value, size, info, other, shndx), ELF64 entries 24 bytes
// (name, info, other, shndx, value, size).
constexpr std::size_t kEntrySize = kIs64 ? 24 : 16;
constexpr unsigned kBloomBits = sizeof(TargetWord) * 8;

std::uint64_t shiftRight(std::uint64_t value, std::uint64_t by) { return by >= 64 ? 0 : value >> by; }

}  // namespace

std::uint32_t elfHash(std::string_view name) {
    std::uint32_t h = 0;
    for (unsigned char c : name) {
        h = (h << 4) + c;
        std::uint32_t g = h & 0xF0000000u;
        h ^= g;
        h ^= g >> 24;
    }
    return h;
}

std::uint32_t gnuHash(std::string_view name) {
    std::uint32_t h = 5381;
    for (unsigned char c : name) h = h * 33 + c;
    return h;
}

std::optional<std::string> readDumpString(const decode::TargetMemory& memory, TargetWord address, std::size_t limit) {
    std::string text;
    char chunk[64];
    while (text.size() < limit) {
        // Read a chunk when it fits before the page ends (a string may end a region), else bytes.
        std::size_t want = 64 - (address & 63);
        if (memory.read(address, chunk, want)) {
            const void* nul = std::memchr(chunk, 0, want);
            std::size_t take = nul ? static_cast<const char*>(nul) - chunk : want;
            text.append(chunk, take);
            if (nul) return text.size() <= limit ? std::optional<std::string>(std::move(text)) : std::nullopt;
            address += static_cast<TargetWord>(want);
            continue;
        }
        char byte;
        if (!memory.read(address, &byte, 1)) return std::nullopt;
        if (byte == 0) return text;
        text += byte;
        ++address;
    }
    return std::nullopt;
}

DynamicSymbols::DynamicSymbols(const DumpDynamicTables& tables, const decode::TargetMemory& memory)
    : tables_(tables), memory_(memory),
      count_(tables.symbolCount > kMaxSymbols ? kMaxSymbols : tables.symbolCount) {}

std::optional<DumpSymbol> DynamicSymbols::readEntry(std::uint32_t index) const {
    // An index taken from the dump (a relocation's) may lie beyond the count the hash table
    // implies (undefined symbols below a GNU table's first hashed one): the memory decides.
    if (index >= kMaxSymbols) return std::nullopt;
    std::uint8_t raw[kEntrySize];
    if (!memory_.read(tables_.symbols + static_cast<TargetWord>(index * kEntrySize), raw, kEntrySize))
        return std::nullopt;
    DumpSymbol s;
    s.index = index;
    std::memcpy(&s.nameOffset, raw, 4);
    if constexpr (kIs64) {
        std::memcpy(&s.info, raw + 4, 1);
        std::memcpy(&s.other, raw + 5, 1);
        std::memcpy(&s.shndx, raw + 6, 2);
        std::memcpy(&s.value, raw + 8, 8);
        std::memcpy(&s.size, raw + 16, 8);
    } else {
        std::memcpy(&s.value, raw + 4, 4);
        std::memcpy(&s.size, raw + 8, 4);
        std::memcpy(&s.info, raw + 12, 1);
        std::memcpy(&s.other, raw + 13, 1);
        std::memcpy(&s.shndx, raw + 14, 2);
    }
    return s;
}

std::string_view DynamicSymbols::nameOf(std::uint32_t index, std::uint32_t nameOffset) {
    if (auto found = names_.find(index); found != names_.end()) return found->second;
    std::string name = readDumpString(memory_, tables_.strings + nameOffset).value_or(std::string());
    return names_.emplace(index, std::move(name)).first->second;
}

std::optional<DumpSymbol> DynamicSymbols::at(std::uint32_t index) {
    auto symbol = readEntry(index);
    if (!symbol) return std::nullopt;
    symbol->name = nameOf(index, symbol->nameOffset);
    return symbol;
}

std::optional<DumpSymbol> DynamicSymbols::covering(TargetWord address, std::uint32_t mask) {
    const std::uint32_t key = mask & lookup::kTypeBits;
    auto found = covering_.find(key);
    if (found == covering_.end()) {
        std::vector<AddressIndex::Interval> intervals;
        for (std::uint32_t i = 1; i < count_; ++i) {
            auto s = readEntry(i);
            if (!s) break;
            if (lookup::acceptsType(mask, s->type()) && s->shndx != 0 && s->size != 0)
                intervals.push_back({s->value, saturatingEnd(s->value, s->size), i, i});
        }
        found = covering_.emplace(key, AddressIndex(std::move(intervals))).first;
    }
    auto index = found->second.find(address);
    return index ? at(*index) : std::nullopt;
}

bool DynamicSymbols::matches(std::uint32_t index, std::string_view name, std::uint32_t mask, DumpSymbol& out) {
    auto symbol = at(index);
    if (!symbol || symbol->name != name || !lookup::acceptsType(mask, symbol->type()) || symbol->shndx == 0)
        return false;
    out = *symbol;
    return true;
}

std::optional<DumpSymbol> DynamicSymbols::gnuLookup(std::string_view name, std::uint32_t mask) {
    const DumpDynamicTables& t = tables_;
    if (t.gnuBucketCount == 0 || t.gnuBloomCount == 0) return std::nullopt;
    const std::uint32_t h = gnuHash(name);
    TargetWord word = 0;
    TargetWord slot = (h / kBloomBits) & (t.gnuBloomCount - 1);
    if (!memory_.readWord(t.gnuBloom + slot * sizeof(TargetWord), word)) return std::nullopt;
    const TargetWord one = 1;
    if (!(word >> (h % kBloomBits) & one) || !(word >> (shiftRight(h, t.gnuBloomShift) % kBloomBits) & one))
        return std::nullopt;
    std::uint32_t index = 0;
    if (!memory_.read32(t.gnuBuckets + static_cast<TargetWord>((h % t.gnuBucketCount) * 4u), index)) return std::nullopt;
    if (index == 0 || index < t.gnuSymbolOffset) return std::nullopt;
    for (; index < count_; ++index) {
        std::uint32_t chain = 0;
        if (!memory_.read32(t.gnuChains + static_cast<TargetWord>((index - t.gnuSymbolOffset) * std::uint64_t{4}), chain))
            return std::nullopt;
        DumpSymbol found;
        if (((chain ^ h) >> 1) == 0 && matches(index, name, mask, found)) return found;
        if (chain & 1) break;
    }
    return std::nullopt;
}

std::optional<DumpSymbol> DynamicSymbols::sysvLookup(std::string_view name, std::uint32_t mask) {
    const DumpDynamicTables& t = tables_;
    if (t.sysvBucketCount == 0) return std::nullopt;
    std::uint32_t index = 0;
    if (!memory_.read32(t.sysvBuckets + static_cast<TargetWord>((elfHash(name) % t.sysvBucketCount) * 4u), index))
        return std::nullopt;
    // A chain visits each entry at most once; a longer walk is a loop in damaged tables.
    for (std::uint32_t steps = 0; index != 0 && index < t.sysvChainCount && steps < t.sysvChainCount; ++steps) {
        DumpSymbol found;
        if (matches(index, name, mask, found)) return found;
        if (!memory_.read32(t.sysvChains + static_cast<TargetWord>(index * std::uint64_t{4}), index)) return std::nullopt;
    }
    return std::nullopt;
}

std::optional<DumpSymbol> DynamicSymbols::hashed(std::string_view name, std::uint32_t mask) {
    return tables_.gnu ? gnuLookup(name, mask) : sysvLookup(name, mask);
}

}  // namespace coresift
