// A module's dynamic symbol table as it lies in the dump, read through the memory seam: entries
// by index, the symbol covering an address (sorted index, built on first use per type mask), and
// look-up by name through the SysV or GNU hash table.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "analyzer/decode/target_memory.h"
#include "analyzer/symbols/address_index.h"
#include "analyzer/symbols/symbol_source.h"

namespace coresift {

struct DumpSymbol {
    std::uint32_t index = 0;
    std::uint32_t nameOffset = 0;  // st_name
    std::string_view name;  // read from the dump's string table; empty when unreadable
    TargetWord value = 0, size = 0;
    std::uint8_t info = 0, other = 0;
    std::uint16_t shndx = 0;
    unsigned type() const { return info & 0xF; }
};

// The ELF hash of System V hash tables, and the hash of GNU hash tables.
std::uint32_t elfHash(std::string_view name);
std::uint32_t gnuHash(std::string_view name);

// Reads the NUL-terminated text at `address` (at most `limit` bytes); nothing when its end
// cannot be read.
std::optional<std::string> readDumpString(const decode::TargetMemory& memory, TargetWord address,
                                          std::size_t limit = 4096);

class DynamicSymbols {
public:
    // No more entries than this are read (a damaged count must not make a look-up read forever).
    static constexpr std::uint32_t kMaxSymbols = 1u << 22;

    DynamicSymbols(const DumpDynamicTables& tables, const decode::TargetMemory& memory);

    std::uint32_t count() const { return count_; }
    // Entry `index` with its name; nothing when it cannot be read from the dump.
    std::optional<DumpSymbol> at(std::uint32_t index);
    // The first entry (from 1 up) covering file address `address` whose type the mask accepts
    // and whose section index is not 0.
    std::optional<DumpSymbol> covering(TargetWord address, std::uint32_t mask);
    // The entry named `name` found through the hash table whose type the mask accepts and whose
    // section index is not 0; nothing without a hash table.
    std::optional<DumpSymbol> hashed(std::string_view name, std::uint32_t mask);

private:
    std::optional<DumpSymbol> readEntry(std::uint32_t index) const;
    std::string_view nameOf(std::uint32_t index, std::uint32_t nameOffset);
    bool matches(std::uint32_t index, std::string_view name, std::uint32_t mask, DumpSymbol& out);
    std::optional<DumpSymbol> gnuLookup(std::string_view name, std::uint32_t mask);
    std::optional<DumpSymbol> sysvLookup(std::string_view name, std::uint32_t mask);

    DumpDynamicTables tables_;
    const decode::TargetMemory& memory_;
    std::uint32_t count_ = 0;
    std::map<std::uint32_t, AddressIndex> covering_;  // by type mask
    std::unordered_map<std::uint32_t, std::string> names_;  // read names, by entry index
};

}  // namespace coresift
