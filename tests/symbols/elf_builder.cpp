#include "tests/symbols/elf_builder.h"

namespace testsupport {

using coresift::ElfClass;

void put16(Bytes& bytes, std::uint64_t offset, std::uint16_t value) {
    if (bytes.size() < offset + 2) bytes.resize(offset + 2);
    for (int i = 0; i < 2; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
void put32(Bytes& bytes, std::uint64_t offset, std::uint32_t value) {
    if (bytes.size() < offset + 4) bytes.resize(offset + 4);
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
void put64(Bytes& bytes, std::uint64_t offset, std::uint64_t value) {
    if (bytes.size() < offset + 8) bytes.resize(offset + 8);
    for (int i = 0; i < 8; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

namespace {

bool is64(ElfClass c) { return c == ElfClass::Elf64; }

// Appends fields in order; `word` is 4 or 8 bytes by class.
struct Writer {
    Bytes& out;
    bool wide;
    void u8(std::uint8_t v) { out.push_back(v); }
    void u16(std::uint16_t v) { put16(out, out.size(), v); }
    void u32(std::uint32_t v) { put32(out, out.size(), v); }
    void u64(std::uint64_t v) { put64(out, out.size(), v); }
    void word(std::uint64_t v) { wide ? u64(v) : u32(static_cast<std::uint32_t>(v)); }
};

std::uint64_t align8(std::uint64_t v) { return (v + 7) & ~std::uint64_t{7}; }

}  // namespace

Bytes noteRecord(const std::string& name, std::uint32_t type, const Bytes& desc, bool nameNul) {
    Bytes out;
    std::uint32_t nameSize = static_cast<std::uint32_t>(name.size() + (nameNul ? 1 : 0));
    put32(out, 0, nameSize);
    put32(out, 4, static_cast<std::uint32_t>(desc.size()));
    put32(out, 8, type);
    out.insert(out.end(), name.begin(), name.end());
    if (nameNul) out.push_back(0);
    while (out.size() % 4) out.push_back(0);
    out.insert(out.end(), desc.begin(), desc.end());
    while (out.size() % 4) out.push_back(0);
    return out;
}

Bytes compressedSection(ElfClass elfClass, std::uint32_t chType, std::uint64_t chSize, const Bytes& payload) {
    Bytes out;
    Writer w{out, is64(elfClass)};
    w.u32(chType);
    if (is64(elfClass)) w.u32(0);
    w.word(chSize);
    w.word(1);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

ElfBuilder::ElfBuilder(ElfClass elfClass, std::uint16_t elfType)
    : type(elfType), machine(is64(elfClass) ? 183 : 40), class_(elfClass) {
    ident[4] = static_cast<std::uint8_t>(elfClass);
    ident[5] = 1;
    ident[6] = 1;
    sections_.push_back({"", 0, {}, 0, 0, 0, 0, 0});
    sections_.push_back({".shstrtab", coresift::elf::kShtStrtab, {}, 0, 0, 0, 0, 0});
}

std::uint32_t ElfBuilder::addSection(const std::string& name, std::uint32_t sectionType, const Bytes& data,
                                     std::uint64_t flags, std::uint64_t addr, std::uint32_t link,
                                     std::uint32_t info, std::uint64_t nobitsSize) {
    sections_.push_back({name, sectionType, data, flags, addr, link, info, nobitsSize});
    return static_cast<std::uint32_t>(sections_.size() - 1);
}

std::uint32_t ElfBuilder::addSymbols(const std::vector<SymbolEntry>& symbols, std::uint32_t tableType,
                                     std::uint32_t firstGlobal) {
    Bytes strings{0};
    Bytes entries;
    Writer w{entries, is64(class_)};
    auto addEntry = [&](std::uint32_t nameOffset, const SymbolEntry& s) {
        w.u32(nameOffset);
        if (is64(class_)) {
            w.u8(s.info), w.u8(0), w.u16(s.shndx), w.u64(s.value), w.u64(s.size);
        } else {
            w.u32(static_cast<std::uint32_t>(s.value)), w.u32(static_cast<std::uint32_t>(s.size));
            w.u8(s.info), w.u8(0), w.u16(s.shndx);
        }
    };
    addEntry(0, SymbolEntry{"", 0, 0, 0, 0});
    for (const auto& s : symbols) {
        auto offset = static_cast<std::uint32_t>(strings.size());
        strings.insert(strings.end(), s.name.begin(), s.name.end());
        strings.push_back(0);
        addEntry(s.name.empty() ? 0 : offset, s);
    }
    bool dynamic = tableType == coresift::elf::kShtDynsym;
    std::uint32_t stringIndex = addSection(dynamic ? ".dynstr" : ".strtab", coresift::elf::kShtStrtab, strings);
    return addSection(dynamic ? ".dynsym" : ".symtab", tableType, entries, 0, 0, stringIndex, firstGlobal);
}

void ElfBuilder::addSegmentForSection(std::uint32_t segmentType, std::uint32_t sectionIndex, std::uint32_t flags,
                                      std::uint64_t vaddr, std::uint64_t memsz) {
    coresift::ProgramHeader h;
    h.type = segmentType;
    h.flags = flags;
    h.vaddr = vaddr;
    h.memsz = memsz;
    h.align = 4;
    segments_.push_back({h, sectionIndex});
}

void ElfBuilder::addSegment(const coresift::ProgramHeader& header) { segments_.push_back({header, std::nullopt}); }

Bytes ElfBuilder::build() const {
    const bool wide = is64(class_);
    const std::uint64_t headerSize = wide ? 64 : 52, phSize = wide ? 56 : 32, shSize = wide ? 64 : 40;

    // Section names, then the section bytes after the program headers.
    std::vector<std::uint32_t> nameOffsets;
    Bytes names{0};
    for (const auto& s : sections_) {
        if (s.name.empty()) {
            nameOffsets.push_back(0);
            continue;
        }
        nameOffsets.push_back(static_cast<std::uint32_t>(names.size()));
        names.insert(names.end(), s.name.begin(), s.name.end());
        names.push_back(0);
    }
    Bytes out(headerSize + phSize * segments_.size(), 0);
    offsets_.assign(sections_.size(), 0);
    for (std::size_t i = 1; i < sections_.size(); ++i) {
        const Bytes& data = i == 1 ? names : sections_[i].data;
        out.resize(align8(out.size()), 0);
        offsets_[i] = out.size();
        if (sections_[i].type != coresift::elf::kShtNobits) out.insert(out.end(), data.begin(), data.end());
    }
    out.resize(align8(out.size()), 0);
    std::uint64_t tableOffset = out.size();
    if (withSectionTable) {
        Writer w{out, wide};
        for (std::size_t i = 0; i < sections_.size(); ++i) {
            const Section& s = sections_[i];
            bool nobits = s.type == coresift::elf::kShtNobits;
            std::uint64_t size = i == 0 ? 0 : nobits ? s.nobitsSize : (i == 1 ? names : s.data).size();
            auto overridden = sizeOverrides.find(static_cast<std::uint32_t>(i));
            if (overridden != sizeOverrides.end()) size = overridden->second;
            w.u32(nameOffsets[i]), w.u32(s.type), w.word(s.flags), w.word(s.addr), w.word(offsets_[i]), w.word(size);
            w.u32(s.link), w.u32(i == 0 ? section0Info : s.info), w.word(1), w.word(0);
        }
    }

    // Program headers.
    for (std::size_t i = 0; i < segments_.size(); ++i) {
        coresift::ProgramHeader h = segments_[i].header;
        if (segments_[i].section) {
            const Section& s = sections_.at(*segments_[i].section);
            h.offset = offsets_[*segments_[i].section];
            h.filesz = s.type == coresift::elf::kShtNobits ? 0 : s.data.size();
            if (h.vaddr == 0) h.vaddr = s.addr;
            if (h.memsz == 0) h.memsz = h.filesz;
        }
        Bytes entry;
        Writer w{entry, wide};
        w.u32(h.type);
        if (wide) {
            w.u32(h.flags), w.u64(h.offset), w.u64(h.vaddr), w.u64(h.paddr), w.u64(h.filesz), w.u64(h.memsz), w.u64(h.align);
        } else {
            for (std::uint64_t v : {h.offset, h.vaddr, h.paddr, h.filesz, h.memsz}) w.u32(static_cast<std::uint32_t>(v));
            w.u32(h.flags), w.u32(static_cast<std::uint32_t>(h.align));
        }
        std::copy(entry.begin(), entry.end(), out.begin() + static_cast<std::ptrdiff_t>(headerSize + i * phSize));
    }

    // The file header.
    Bytes header;
    Writer w{header, wide};
    for (std::uint8_t b : ident) w.u8(b);
    w.u16(type), w.u16(machine), w.u32(1), w.word(0);
    w.word(phoff.value_or(segments_.empty() ? 0 : headerSize));
    w.word(shoff.value_or(withSectionTable ? tableOffset : 0));
    w.u32(0), w.u16(static_cast<std::uint16_t>(headerSize)), w.u16(static_cast<std::uint16_t>(phSize));
    w.u16(phnum.value_or(static_cast<std::uint16_t>(segments_.size())));
    w.u16(static_cast<std::uint16_t>(shSize));
    w.u16(shnum.value_or(withSectionTable ? static_cast<std::uint16_t>(sections_.size()) : 0));
    w.u16(shstrndx.value_or(withSectionTable ? 1 : 0));
    std::copy(header.begin(), header.end(), out.begin());
    return out;
}

}  // namespace testsupport
