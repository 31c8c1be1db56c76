// Reads an ELF executable or shared object (either class, little-endian): its header, program
// headers, sections and symbols. The fixture tools use it to copy a module's pages into a core, to
// rebuild a library's writable segment and to name addresses. Every offset is checked against the
// file; what does not fit is left out and reported by `parse`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/byte_reader.h"

namespace corekit {

struct ElfProgramHeader {
    std::uint32_t type = 0;
    std::uint32_t flags = 0;
    std::uint64_t offset = 0;
    std::uint64_t vaddr = 0;
    std::uint64_t filesz = 0;
    std::uint64_t memsz = 0;
    std::uint64_t align = 0;
};

struct ElfSection {
    std::string name;
    std::uint32_t type = 0;
    std::uint64_t flags = 0;
    std::uint64_t addr = 0;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint32_t link = 0;
    std::uint64_t entsize = 0;
};

struct ElfSymbol {
    std::string name;
    std::uint64_t value = 0;
    std::uint64_t size = 0;
    std::uint8_t type = 0;  // STT_*
    std::uint16_t shndx = 0;
};

class ElfFile {
public:
    // Parses an ELF image held in `data`; nothing (and why in `error`) when its headers do not fit.
    static std::optional<ElfFile> parse(std::vector<std::uint8_t> data, std::string* error = nullptr);
    static std::optional<ElfFile> load(const std::string& path, std::string* error = nullptr);

    bool is64() const { return is64_; }
    std::uint16_t type() const { return type_; }
    std::uint16_t machine() const { return machine_; }
    std::uint64_t entry() const { return entry_; }
    const std::vector<std::uint8_t>& data() const { return data_; }
    common::ByteView view() const { return common::ByteView(data_.data(), data_.size()); }

    const std::vector<ElfProgramHeader>& programHeaders() const { return phdrs_; }
    const std::vector<ElfSection>& sections() const { return sections_; }
    const ElfSection* section(const std::string& name) const;
    // The section's bytes, or nothing for SHT_NOBITS and sections outside the file.
    std::optional<common::ByteView> sectionBytes(const ElfSection& section) const;

    // Symbols of .symtab, then .dynsym (each table read once, names from its linked string table).
    std::vector<ElfSymbol> symbols() const;

    // The file offset holding virtual address `vaddr` in a PT_LOAD, if any.
    std::optional<std::uint64_t> fileOffsetOf(std::uint64_t vaddr) const;
    // The PT_LOAD whose file range holds `offset` (page-rounded as the loader maps it), if any.
    const ElfProgramHeader* loadSegmentAtOffset(std::uint64_t offset, std::uint64_t pageSize = 4096) const;
    bool hasInterpreter() const;

private:
    std::vector<std::uint8_t> data_;
    bool is64_ = false;
    std::uint16_t type_ = 0;
    std::uint16_t machine_ = 0;
    std::uint64_t entry_ = 0;
    std::vector<ElfProgramHeader> phdrs_;
    std::vector<ElfSection> sections_;
};

// Whether bytes start with the ELF magic.
bool looksLikeElf(common::ByteView bytes);

}  // namespace corekit
