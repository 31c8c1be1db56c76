// A module's symbol file and what look-ups read from it: its symbol table (`.symtab`, or the
// MiniDebugInfo table when the file has no SHT_SYMTAB), its debugging information, and the
// sorted indexes built on first use. Everything is in the file's own addresses.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "analyzer/symbols/address_index.h"
#include "analyzer/symbols/dwarf_info.h"
#include "analyzer/symbols/elf_image.h"

namespace coresift {

class Console;

// Symbol look-up kind mask: bits 0-15 accept ELF symbol types (bit n for type n); the rest
// choose the parts of `.symtab` searched.
namespace lookup {
inline constexpr std::uint32_t kObject = 1u << 1, kFunction = 1u << 2, kThumbFunction = 1u << 13;
inline constexpr std::uint32_t kTypeBits = 0xFFFF;
inline constexpr std::uint32_t kHashed = 0x10000;       // set by every caller
inline constexpr std::uint32_t kGlobalPart = 0x40000;   // entries from sh_info to the end
inline constexpr std::uint32_t kLocalPart = 0x80000;    // entries 1 to sh_info - 1
inline constexpr std::uint32_t kFunctionMask = 0xD2004;
inline constexpr std::uint32_t kObjectMask = 0xD0002;
inline constexpr bool acceptsType(std::uint32_t mask, unsigned type) { return type < 16 && (mask >> type & 1); }
inline constexpr bool acceptsFunctions(std::uint32_t mask) { return (mask & (kFunction | kThumbFunction)) != 0; }
}  // namespace lookup

class SymbolFile {
public:
    // `miniDebugInfo`: the image's `.gnu_debugdata` image when the caller has opened it already.
    SymbolFile(Console& console, std::unique_ptr<ElfImage> image, std::unique_ptr<ElfImage> miniDebugInfo = nullptr);
    ~SymbolFile();
    SymbolFile(const SymbolFile&) = delete;
    SymbolFile& operator=(const SymbolFile&) = delete;

    const ElfImage& image() const { return *image_; }
    Console& console() const { return console_; }

    // The table standing for `.symtab`: the file's own, else its MiniDebugInfo's (read once).
    const SymbolTable& symbols();
    bool hasSymbols() { return !symbols().empty(); }
    bool symbolsFromMiniDebugInfo() { return symbols(), fromMiniDebugInfo_; }
    // The MiniDebugInfo image opened for a file without `.symtab` (its `.debug_frame` serves the
    // unwinder); null otherwise.
    const ElfImage* miniDebugInfo() { return symbols(), mini_.get(); }

    // The first symbol in scan order (global part, then local part, as the mask allows) whose
    // range [st_value, st_value + st_size) holds `address`, whose type the mask accepts and whose
    // section index is not 0.
    std::optional<Symbol> symbolCovering(std::uint64_t address, std::uint32_t mask);
    // The first symbol in that order named `name` whose type the mask accepts and whose section
    // index is not 0.
    std::optional<Symbol> symbolNamed(std::string_view name, std::uint32_t mask);
    // A function symbol of size 0 at exactly `value`, in that order (start-up code such as
    // `_start` is written without sizes).
    std::optional<Symbol> sizelessFunctionAt(std::uint64_t value, std::uint32_t mask);

    // The debugging information, made on first use; null without `.debug_info`.
    DwarfInfo* dwarf();

private:
    // The first of `candidates` (ascending table indexes) in scan order that `accept` takes.
    std::optional<Symbol> firstInScanOrder(const std::vector<std::uint32_t>& candidates, std::uint32_t mask,
                                           const std::function<bool(const Symbol&)>& accept);
    const AddressIndex& coveringIndex(std::uint32_t mask);

    Console& console_;
    std::unique_ptr<ElfImage> image_;
    std::unique_ptr<ElfImage> mini_;
    bool symbolsRead_ = false, fromMiniDebugInfo_ = false;
    SymbolTable symbols_;
    std::map<std::uint32_t, AddressIndex> covering_;  // by the mask's type and part bits
    // Symbol indexes in table order, by name and (for function symbols of size 0) by value.
    bool namesIndexed_ = false;
    std::unordered_map<std::string_view, std::vector<std::uint32_t>> byName_;
    bool sizelessIndexed_ = false;
    std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> sizeless_;
    bool dwarfTried_ = false;
    std::unique_ptr<DwarfInfo> dwarf_;
};

}  // namespace coresift
