#include "analyzer/symbols/elf_layout.h"

namespace coresift::elf {
namespace {

constexpr Layout kLayout32{ElfClass::Elf32, 52, 40, 32, 16, 12, 40, "32bit", "ARM"};
constexpr Layout kLayout64{ElfClass::Elf64, 64, 64, 56, 24, 24, 183, "64bit", "ARM64"};

// An address, offset or size field: 4 bytes in ELF32, 8 in ELF64.
std::uint64_t word(common::ByteReader& r, const Layout& layout) {
    return layout.elfClass == ElfClass::Elf64 ? r.u64() : r.u32();
}

}  // namespace

const Layout& layoutOf(ElfClass elfClass) { return elfClass == ElfClass::Elf64 ? kLayout64 : kLayout32; }

std::optional<FileHeader> decodeFileHeader(common::ByteView bytes, const Layout& layout) {
    if (bytes.size() < layout.headerSize) return std::nullopt;
    common::ByteReader r(bytes);
    FileHeader h;
    for (auto& b : h.ident) b = r.u8();
    h.type = r.u16();
    h.machine = r.u16();
    r.u32();  // e_version
    h.entry = word(r, layout);
    h.phoff = word(r, layout);
    h.shoff = word(r, layout);
    r.u32();  // e_flags
    r.u16();  // e_ehsize
    r.u16();  // e_phentsize
    h.phnum = r.u16();
    r.u16();  // e_shentsize
    h.shnum = r.u16();
    h.shstrndx = r.u16();
    if (!r.ok()) return std::nullopt;
    return h;
}

std::optional<SectionHeader> decodeSectionHeader(common::ByteView bytes, const Layout& layout) {
    if (bytes.size() < layout.sectionHeaderSize) return std::nullopt;
    common::ByteReader r(bytes);
    SectionHeader s;
    s.nameOffset = r.u32();
    s.type = r.u32();
    s.flags = word(r, layout);
    s.addr = word(r, layout);
    s.offset = word(r, layout);
    s.size = word(r, layout);
    s.link = r.u32();
    s.info = r.u32();
    s.addralign = word(r, layout);
    s.entsize = word(r, layout);
    if (!r.ok()) return std::nullopt;
    return s;
}

std::optional<ProgramHeader> decodeProgramHeader(common::ByteView bytes, const Layout& layout) {
    if (bytes.size() < layout.programHeaderSize) return std::nullopt;
    common::ByteReader r(bytes);
    ProgramHeader p;
    p.type = r.u32();
    if (layout.elfClass == ElfClass::Elf64) {
        p.flags = r.u32();
        p.offset = r.u64();
        p.vaddr = r.u64();
        p.paddr = r.u64();
        p.filesz = r.u64();
        p.memsz = r.u64();
        p.align = r.u64();
    } else {
        p.offset = r.u32();
        p.vaddr = r.u32();
        p.paddr = r.u32();
        p.filesz = r.u32();
        p.memsz = r.u32();
        p.flags = r.u32();
        p.align = r.u32();
    }
    if (!r.ok()) return std::nullopt;
    return p;
}

std::optional<Symbol> decodeSymbol(common::ByteView bytes, const Layout& layout) {
    if (bytes.size() < layout.symbolSize) return std::nullopt;
    common::ByteReader r(bytes);
    Symbol s;
    s.nameOffset = r.u32();
    if (layout.elfClass == ElfClass::Elf64) {
        s.info = r.u8();
        s.other = r.u8();
        s.shndx = r.u16();
        s.value = r.u64();
        s.size = r.u64();
    } else {
        s.value = r.u32();
        s.size = r.u32();
        s.info = r.u8();
        s.other = r.u8();
        s.shndx = r.u16();
    }
    if (!r.ok()) return std::nullopt;
    return s;
}

std::optional<CompressionHeader> decodeCompressionHeader(common::ByteView bytes, const Layout& layout) {
    if (bytes.size() < layout.compressionHeaderSize) return std::nullopt;
    common::ByteReader r(bytes);
    CompressionHeader c;
    c.type = r.u32();
    if (layout.elfClass == ElfClass::Elf64) r.u32();  // ch_reserved
    c.size = word(r, layout);
    c.addralign = word(r, layout);
    if (!r.ok()) return std::nullopt;
    return c;
}

const char* typeName(std::uint16_t type) {
    static constexpr const char* kNames[] = {"NONE", "REL", "EXEC", "DYN", "CORE"};
    return type < 5 ? kNames[type] : "?";
}

}  // namespace coresift::elf
