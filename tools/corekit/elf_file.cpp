#include "tools/corekit/elf_file.h"

#include <fstream>
#include <iterator>

#include "tools/corekit/elf_constants.h"

namespace corekit {

using common::ByteReader;
using common::ByteView;

bool looksLikeElf(ByteView bytes) {
    auto magic = bytes.sub(0, 4);
    return magic && magic->data()[0] == 0x7F && magic->data()[1] == 'E' && magic->data()[2] == 'L' &&
           magic->data()[3] == 'F';
}

std::optional<ElfFile> ElfFile::load(const std::string& path, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        if (error) *error = "cannot open " + path;
        return std::nullopt;
    }
    std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return parse(std::move(data), error);
}

std::optional<ElfFile> ElfFile::parse(std::vector<std::uint8_t> data, std::string* error) {
    auto failWith = [error](const std::string& why) -> std::optional<ElfFile> {
        if (error) *error = why;
        return std::nullopt;
    };
    ElfFile elf;
    elf.data_ = std::move(data);
    const ByteView file = elf.view();
    if (!looksLikeElf(file)) return failWith("not an ELF file");
    ByteReader r(file, 4);
    const std::uint8_t elfClass = r.u8();
    if (elfClass != elf::kClass32 && elfClass != elf::kClass64) return failWith("unknown ELF class");
    if (r.u8() != elf::kDataLittle) return failWith("not a little-endian ELF file");
    elf.is64_ = elfClass == elf::kClass64;
    const bool is64 = elf.is64_;
    r.seek(16);
    elf.type_ = r.u16();
    elf.machine_ = r.u16();
    r.u32();  // e_version
    elf.entry_ = is64 ? r.u64() : r.u32();
    const std::uint64_t phoff = is64 ? r.u64() : r.u32();
    const std::uint64_t shoff = is64 ? r.u64() : r.u32();
    r.u32();  // e_flags
    r.u16();  // e_ehsize
    const std::uint16_t phentsize = r.u16();
    const std::uint16_t phnum = r.u16();
    const std::uint16_t shentsize = r.u16();
    const std::uint16_t shnum = r.u16();
    const std::uint16_t shstrndx = r.u16();
    if (!r.ok()) return failWith("ELF header is cut off");

    if (phnum) {
        if (phentsize < (is64 ? 56u : 32u) || !file.sub(phoff, std::uint64_t{phentsize} * phnum))
            return failWith("program headers do not fit in the file");
        for (unsigned i = 0; i < phnum; ++i) {
            ByteReader h(file, static_cast<std::size_t>(phoff + std::uint64_t{i} * phentsize));
            ElfProgramHeader p;
            p.type = h.u32();
            if (is64) {
                p.flags = h.u32();
                p.offset = h.u64();
                p.vaddr = h.u64();
                h.u64();
                p.filesz = h.u64();
                p.memsz = h.u64();
                p.align = h.u64();
            } else {
                p.offset = h.u32();
                p.vaddr = h.u32();
                h.u32();
                p.filesz = h.u32();
                p.memsz = h.u32();
                p.flags = h.u32();
                p.align = h.u32();
            }
            elf.phdrs_.push_back(p);
        }
    }

    // Section headers are optional (stripped files may lose them); a broken table is ignored.
    if (shnum && shentsize >= (is64 ? 64u : 40u) && file.sub(shoff, std::uint64_t{shentsize} * shnum)) {
        std::vector<std::uint32_t> nameOffsets;
        for (unsigned i = 0; i < shnum; ++i) {
            ByteReader h(file, static_cast<std::size_t>(shoff + std::uint64_t{i} * shentsize));
            ElfSection s;
            nameOffsets.push_back(h.u32());
            s.type = h.u32();
            s.flags = is64 ? h.u64() : h.u32();
            s.addr = is64 ? h.u64() : h.u32();
            s.offset = is64 ? h.u64() : h.u32();
            s.size = is64 ? h.u64() : h.u32();
            s.link = h.u32();
            h.u32();  // sh_info
            if (is64) h.u64(); else h.u32();  // sh_addralign
            s.entsize = is64 ? h.u64() : h.u32();
            elf.sections_.push_back(s);
        }
        if (shstrndx < elf.sections_.size()) {
            auto names = elf.sectionBytes(elf.sections_[shstrndx]);
            for (std::size_t i = 0; names && i < elf.sections_.size(); ++i) {
                if (auto name = names->cstring(nameOffsets[i])) elf.sections_[i].name = std::string(*name);
            }
        }
    }
    return elf;
}

const ElfSection* ElfFile::section(const std::string& name) const {
    for (const auto& s : sections_)
        if (s.name == name) return &s;
    return nullptr;
}

std::optional<ByteView> ElfFile::sectionBytes(const ElfSection& section) const {
    if (section.type == elf::SHT_NOBITS) return std::nullopt;
    return view().sub(section.offset, section.size);
}

std::vector<ElfSymbol> ElfFile::symbols() const {
    std::vector<ElfSymbol> out;
    for (std::uint32_t tableType : {elf::SHT_SYMTAB, elf::SHT_DYNSYM}) {
        for (const auto& table : sections_) {
            if (table.type != tableType || table.link >= sections_.size()) continue;
            auto bytes = sectionBytes(table);
            auto strings = sectionBytes(sections_[table.link]);
            if (!bytes || !strings) continue;
            const unsigned entry = is64_ ? 24 : 16;
            for (std::uint64_t off = 0; off + entry <= bytes->size(); off += entry) {
                ByteReader r(*bytes, static_cast<std::size_t>(off));
                ElfSymbol sym;
                const std::uint32_t nameOffset = r.u32();
                if (is64_) {
                    const std::uint8_t info = r.u8();
                    r.u8();
                    sym.shndx = r.u16();
                    sym.value = r.u64();
                    sym.size = r.u64();
                    sym.type = info & 0xF;
                } else {
                    sym.value = r.u32();
                    sym.size = r.u32();
                    const std::uint8_t info = r.u8();
                    r.u8();
                    sym.shndx = r.u16();
                    sym.type = info & 0xF;
                }
                auto name = strings->cstring(nameOffset);
                if (!r.ok() || !name || name->empty()) continue;
                sym.name = std::string(*name);
                out.push_back(std::move(sym));
            }
        }
    }
    return out;
}

std::optional<std::uint64_t> ElfFile::fileOffsetOf(std::uint64_t vaddr) const {
    for (const auto& p : phdrs_) {
        if (p.type == elf::PT_LOAD && vaddr >= p.vaddr && vaddr - p.vaddr < p.filesz) return p.offset + (vaddr - p.vaddr);
    }
    return std::nullopt;
}

const ElfProgramHeader* ElfFile::loadSegmentAtOffset(std::uint64_t offset, std::uint64_t pageSize) const {
    for (const auto& p : phdrs_) {
        if (p.type != elf::PT_LOAD) continue;
        const std::uint64_t start = p.offset & ~(pageSize - 1);
        const std::uint64_t end = p.offset + p.filesz;
        if (offset >= start && offset < end) return &p;
    }
    return nullptr;
}

bool ElfFile::hasInterpreter() const {
    for (const auto& p : phdrs_)
        if (p.type == elf::PT_INTERP) return true;
    return false;
}

}  // namespace corekit
