// Record layouts of the two ELF classes, and their decoding from bounds-checked views.
// Used only inside the ELF reader; callers see the widened records of elf_image.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "analyzer/symbols/elf_image.h"
#include "common/byte_reader.h"

namespace coresift::elf {

struct Layout {
    ElfClass elfClass;
    std::size_t headerSize;         // Ehdr
    std::size_t sectionHeaderSize;  // Shdr
    std::size_t programHeaderSize;  // Phdr
    std::size_t symbolSize;         // Sym
    std::size_t compressionHeaderSize;  // Chdr
    std::uint16_t machine;          // EM_ARM or EM_AARCH64
    const char* classWord;          // as message "'%s' isn't %s ELF file" names them
    const char* machineWord;
};

const Layout& layoutOf(ElfClass elfClass);

// e_ident bytes
inline constexpr std::size_t kIdentClass = 4, kIdentData = 5;
inline constexpr std::uint8_t kDataLittleEndian = 1;

struct FileHeader {
    std::uint8_t ident[16] = {};
    std::uint16_t type = 0, machine = 0;
    std::uint64_t entry = 0, phoff = 0, shoff = 0;
    std::uint16_t phnum = 0, shnum = 0, shstrndx = 0;
};

struct CompressionHeader {
    std::uint32_t type = 0;
    std::uint64_t size = 0, addralign = 0;
};

// Each decoder reads one record at the start of `bytes`; nothing when the bytes are too short.
std::optional<FileHeader> decodeFileHeader(common::ByteView bytes, const Layout& layout);
std::optional<SectionHeader> decodeSectionHeader(common::ByteView bytes, const Layout& layout);
std::optional<ProgramHeader> decodeProgramHeader(common::ByteView bytes, const Layout& layout);
std::optional<Symbol> decodeSymbol(common::ByteView bytes, const Layout& layout);
std::optional<CompressionHeader> decodeCompressionHeader(common::ByteView bytes, const Layout& layout);

// The name e_type has in message "Don't support %s format of ELF file(%s)".
const char* typeName(std::uint16_t type);

}  // namespace coresift::elf
