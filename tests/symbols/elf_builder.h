// Builds small ELF32 or ELF64 images in memory for tests: sections with their bytes, program
// headers pointing at sections or at explicit ranges, symbol tables and note records. The
// header fields can be overridden after layout to make malformed images.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "analyzer/symbols/elf_image.h"

namespace testsupport {

using Bytes = std::vector<std::uint8_t>;

struct SymbolEntry {
    std::string name;
    std::uint64_t value = 0, size = 0;
    std::uint8_t info = 0x12;  // global function
    std::uint16_t shndx = 1;
};

// One note record as it lies in a note segment (4-byte aligned name and descriptor).
Bytes noteRecord(const std::string& name, std::uint32_t type, const Bytes& desc, bool nameNul = true);

// The bytes of an SHF_COMPRESSED section: compression header then `payload` as it is.
Bytes compressedSection(coresift::ElfClass elfClass, std::uint32_t chType, std::uint64_t chSize, const Bytes& payload);

class ElfBuilder {
public:
    explicit ElfBuilder(coresift::ElfClass elfClass = coresift::kTargetElfClass,
                        std::uint16_t type = coresift::elf::kEtDyn);

    // Adds a section (index 0 is the NULL section); returns its index. SHT_NOBITS sections
    // occupy no file bytes (their size is `nobitsSize`).
    std::uint32_t addSection(const std::string& name, std::uint32_t type, const Bytes& data,
                             std::uint64_t flags = 0, std::uint64_t addr = 0, std::uint32_t link = 0,
                             std::uint32_t info = 0, std::uint64_t nobitsSize = 0);
    // Adds .symtab (or .dynsym) with its string table; returns the symbol table's index.
    std::uint32_t addSymbols(const std::vector<SymbolEntry>& symbols, std::uint32_t type = coresift::elf::kShtSymtab,
                             std::uint32_t firstGlobal = 1);
    // A program header covering a section's bytes, or an explicit one.
    void addSegmentForSection(std::uint32_t type, std::uint32_t sectionIndex, std::uint32_t flags = 4,
                              std::uint64_t vaddr = 0, std::uint64_t memsz = 0);
    void addSegment(const coresift::ProgramHeader& header);

    // Header fields; the unset ones are computed by build().
    std::uint8_t ident[16] = {0x7F, 'E', 'L', 'F'};
    std::uint16_t type;
    std::uint16_t machine;
    std::optional<std::uint16_t> phnum, shnum, shstrndx;
    std::optional<std::uint64_t> phoff, shoff;
    bool withSectionTable = true;
    // sh_size written for a section instead of its real size; sh_info of section 0.
    std::map<std::uint32_t, std::uint64_t> sizeOverrides;
    std::uint32_t section0Info = 0;

    Bytes build() const;

    // Where section `index` landed in the last build().
    std::uint64_t sectionOffset(std::uint32_t index) const { return offsets_.at(index); }

private:
    struct Section {
        std::string name;
        std::uint32_t type;
        Bytes data;
        std::uint64_t flags, addr;
        std::uint32_t link, info;
        std::uint64_t nobitsSize;
    };
    struct Segment {
        coresift::ProgramHeader header;
        std::optional<std::uint32_t> section;
    };
    coresift::ElfClass class_;
    std::vector<Section> sections_;
    std::vector<Segment> segments_;
    mutable std::vector<std::uint64_t> offsets_;
};

// Little-endian writes into a byte vector (growing it as needed).
void put16(Bytes& bytes, std::uint64_t offset, std::uint16_t value);
void put32(Bytes& bytes, std::uint64_t offset, std::uint32_t value);
void put64(Bytes& bytes, std::uint64_t offset, std::uint64_t value);

}  // namespace testsupport
