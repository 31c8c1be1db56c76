#include "tools/decode/elf_sections.h"


namespace decodetools {

using common::ByteReader;
using common::ByteView;

ElfFile::ElfFile(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {
    ByteView all(bytes_.data(), bytes_.size());
    ByteReader r(all);
    if (r.u32() != 0x464C457F) return;
    const std::uint8_t cls = r.u8(), data = r.u8();
    if ((cls != 1 && cls != 2) || data != 1) return;
    is64_ = cls == 2;
    r.seek(18);
    machine_ = r.u16();
    std::uint64_t shoff;
    std::uint16_t shentsize, shnum, shstrndx;
    if (is64_) {
        r.seek(0x28);
        shoff = r.u64();
        r.seek(0x3A);
    } else {
        r.seek(0x20);
        shoff = r.u32();
        r.seek(0x2E);
    }
    shentsize = r.u16();
    shnum = r.u16();
    shstrndx = r.u16();
    if (!r.ok() || shentsize < (is64_ ? 64u : 40u)) return;
    for (unsigned i = 0; i < shnum; ++i) {
        auto header = all.sub(shoff + std::uint64_t{i} * shentsize, shentsize);
        if (!header) return;
        ByteReader h(*header);
        Section s;
        const std::uint32_t nameOffset = h.u32();
        s.type = h.u32();
        if (is64_) {
            s.flags = h.u64(); s.address = h.u64(); s.offset = h.u64(); s.size = h.u64();
            s.link = h.u32(); h.u32(); h.u64(); s.entrySize = h.u64();
        } else {
            s.flags = h.u32(); s.address = h.u32(); s.offset = h.u32(); s.size = h.u32();
            s.link = h.u32(); h.u32(); h.u32(); s.entrySize = h.u32();
        }
        s.name = std::to_string(nameOffset);  // resolved below
        sections_.push_back(s);
    }
    if (shstrndx < sections_.size()) {
        const Section& names = sections_[shstrndx];
        auto table = all.sub(names.offset, names.size);
        for (Section& s : sections_) {
            const std::uint64_t offset = std::stoull(s.name);
            auto text = table ? table->cstring(offset) : std::nullopt;
            s.name = text ? std::string(*text) : std::string();
        }
    }
    ok_ = true;
}

const Section* ElfFile::find(const std::string& name) const {
    for (const Section& s : sections_)
        if (s.name == name) return &s;
    return nullptr;
}

ByteView ElfFile::contents(const Section& s) const {
    if (s.type == 8) return {};  // SHT_NOBITS
    auto v = ByteView(bytes_.data(), bytes_.size()).sub(s.offset, s.size);
    return v ? *v : ByteView();
}

std::vector<Symbol> ElfFile::symbols() const {
    std::vector<Symbol> out;
    const Section* table = find(".symtab");
    if (!table) table = find(".dynsym");
    if (!table || table->link >= sections_.size()) return out;
    const ByteView entries = contents(*table), names = contents(sections_[table->link]);
    const std::size_t size = is64_ ? 24 : 16;
    for (std::size_t offset = size; offset + size <= entries.size(); offset += size) {
        ByteReader e(*entries.sub(offset, size));
        Symbol s;
        const std::uint32_t name = e.u32();
        if (is64_) {
            s.type = e.u8() & 15; e.u8(); s.section = e.u16(); s.value = e.u64(); s.size = e.u64();
        } else {
            s.value = e.u32(); s.size = e.u32(); s.type = e.u8() & 15; e.u8(); s.section = e.u16();
        }
        auto text = names.cstring(name);
        s.name = text ? std::string(*text) : std::string();
        out.push_back(s);
    }
    return out;
}

}  // namespace decodetools
