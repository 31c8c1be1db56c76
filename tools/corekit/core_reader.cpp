#include "tools/corekit/core_reader.h"

#include <fstream>
#include <iterator>

#include "tools/corekit/elf_constants.h"

namespace corekit {

using common::ByteReader;
using common::ByteView;

namespace {

bool fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

std::uint64_t alignUp4(std::uint64_t v) { return (v + 3) & ~std::uint64_t{3}; }

}  // namespace

bool parseNotes(ByteView bytes, std::vector<CoreNote>& notes, std::string* error) {
    std::uint64_t offset = 0;
    while (offset < bytes.size()) {
        ByteReader r(bytes);
        r.seek(static_cast<std::size_t>(offset));
        const std::uint32_t namesz = r.u32();
        const std::uint32_t descsz = r.u32();
        const std::uint32_t type = r.u32();
        if (!r.ok()) return fail(error, "note header at offset " + std::to_string(offset) + " is cut off");
        const std::uint64_t nameOffset = offset + 12;
        const std::uint64_t descOffset = alignUp4(nameOffset + namesz);
        auto name = bytes.sub(nameOffset, namesz);
        auto desc = bytes.sub(descOffset, descsz);
        if (!name || !desc) return fail(error, "note at offset " + std::to_string(offset) + " runs past its segment");
        CoreNote note;
        note.type = type;
        const char* text = reinterpret_cast<const char*>(name->data());
        std::size_t length = 0;
        while (length < name->size() && text[length]) ++length;
        note.name.assign(text, length);
        note.desc.assign(desc->data(), desc->data() + desc->size());
        notes.push_back(std::move(note));
        offset = alignUp4(descOffset + descsz);
    }
    return true;
}

std::optional<CoreFile> CoreFile::load(const std::string& path, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        fail(error, "cannot open " + path);
        return std::nullopt;
    }
    std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return parse(std::move(data), error);
}

std::optional<CoreFile> CoreFile::parse(std::vector<std::uint8_t> data, std::string* error) {
    CoreFile core;
    core.data_ = std::move(data);
    const ByteView file(core.data_.data(), core.data_.size());
    ByteReader r(file);
    auto magic = r.bytes(4);
    if (!r.ok() || magic.data()[0] != 0x7F || magic.data()[1] != 'E' || magic.data()[2] != 'L' ||
        magic.data()[3] != 'F') {
        fail(error, "not an ELF file");
        return std::nullopt;
    }
    const std::uint8_t elfClass = r.u8();
    const std::uint8_t dataOrder = r.u8();
    if (dataOrder != elf::kDataLittle) {
        fail(error, "not a little-endian ELF file");
        return std::nullopt;
    }
    r.seek(16);
    const std::uint16_t type = r.u16();
    const std::uint16_t machine = r.u16();
    if (type != elf::ET_CORE) {
        fail(error, "not an ELF core (e_type " + std::to_string(type) + ")");
        return std::nullopt;
    }
    const bool is64 = elfClass == elf::kClass64;
    if ((is64 && machine != elf::EM_AARCH64) || (elfClass == elf::kClass32 && machine != elf::EM_ARM) ||
        (!is64 && elfClass != elf::kClass32)) {
        fail(error, "not a 32-bit ARM or 64-bit AArch64 core (class " + std::to_string(elfClass) + ", machine " +
                        std::to_string(machine) + ")");
        return std::nullopt;
    }
    core.arch_ = is64 ? CoreArch::Arm64 : CoreArch::Arm32;
    r.seek(is64 ? 32 : 28);
    const std::uint64_t phoff = is64 ? r.u64() : r.u32();
    r.seek(is64 ? 54 : 42);
    const std::uint16_t phentsize = r.u16();
    const std::uint16_t phnum = r.u16();
    const unsigned expectedEntry = is64 ? 56 : 32;
    if (!r.ok() || (phnum && phentsize < expectedEntry)) {
        fail(error, "ELF header is cut off or has a bad program header size");
        return std::nullopt;
    }
    if (!file.sub(phoff, std::uint64_t{phentsize} * phnum)) {
        fail(error, "program headers run past the end of the file");
        return std::nullopt;
    }
    for (unsigned i = 0; i < phnum; ++i) {
        ByteReader h(file, static_cast<std::size_t>(phoff + std::uint64_t{i} * phentsize));
        LoadSegment s;
        const std::uint32_t ptype = h.u32();
        if (is64) {
            s.flags = h.u32();
            s.offset = h.u64();
            s.vaddr = h.u64();
            h.u64();  // p_paddr
            s.filesz = h.u64();
            s.memsz = h.u64();
        } else {
            s.offset = h.u32();
            s.vaddr = h.u32();
            h.u32();  // p_paddr
            s.filesz = h.u32();
            s.memsz = h.u32();
            s.flags = h.u32();
        }
        if (!file.sub(s.offset, s.filesz)) {
            fail(error, "program header " + std::to_string(i) + " points past the end of the file");
            return std::nullopt;
        }
        if (ptype == elf::PT_NOTE) {
            if (!parseNotes(*file.sub(s.offset, s.filesz), core.notes_, error)) return std::nullopt;
        } else if (ptype == elf::PT_LOAD) {
            if (s.filesz > s.memsz) {
                fail(error, "load segment " + std::to_string(i) + " has more file bytes than memory bytes");
                return std::nullopt;
            }
            core.segments_.push_back(s);
        }
    }
    return core;
}

const CoreNote* CoreFile::findNote(std::uint32_t type, std::size_t index) const {
    for (const auto& note : notes_) {
        if (note.type != type) continue;
        if (index == 0) return &note;
        --index;
    }
    return nullptr;
}

std::size_t CoreFile::countNotes(std::uint32_t type) const {
    std::size_t n = 0;
    for (const auto& note : notes_) n += note.type == type;
    return n;
}

namespace {
ByteView viewOf(const CoreNote& note) { return ByteView(note.desc.data(), note.desc.size()); }
}  // namespace

std::vector<PrStatus> CoreFile::threads() const {
    std::vector<PrStatus> out;
    for (const auto& note : notes_) {
        if (note.type != elf::NT_PRSTATUS) continue;
        if (auto s = decodePrStatus(arch_, viewOf(note))) out.push_back(*s);
    }
    return out;
}

std::optional<PrPsInfo> CoreFile::processInfo() const {
    const CoreNote* note = findNote(elf::NT_PRPSINFO);
    return note ? decodePrPsInfo(arch_, viewOf(*note)) : std::nullopt;
}

std::optional<Auxv> CoreFile::auxv() const {
    const CoreNote* note = findNote(elf::NT_AUXV);
    return note ? decodeAuxv(arch_, viewOf(*note)) : std::nullopt;
}

std::optional<FileNote> CoreFile::fileNote() const {
    const CoreNote* note = findNote(elf::NT_FILE);
    return note ? decodeFileNote(arch_, viewOf(*note)) : std::nullopt;
}

std::optional<SigInfo> CoreFile::sigInfo() const {
    const CoreNote* note = findNote(elf::NT_SIGINFO);
    return note ? decodeSigInfo(arch_, viewOf(*note)) : std::nullopt;
}

const LoadSegment* CoreFile::segmentAt(std::uint64_t vaddr) const {
    for (const auto& s : segments_)
        if (vaddr >= s.vaddr && vaddr - s.vaddr < s.memsz) return &s;
    return nullptr;
}

std::optional<std::vector<std::uint8_t>> CoreFile::read(std::uint64_t vaddr, std::uint64_t size) const {
    const LoadSegment* s = segmentAt(vaddr);
    if (!s) return std::nullopt;
    const std::uint64_t inSegment = vaddr - s->vaddr;
    if (size > s->filesz || inSegment > s->filesz - size) return std::nullopt;
    const std::uint8_t* p = data_.data() + s->offset + inSegment;  // bounds checked when parsed
    return std::vector<std::uint8_t>(p, p + size);
}

std::optional<std::string> CoreFile::readString(std::uint64_t vaddr, std::size_t limit) const {
    const LoadSegment* s = segmentAt(vaddr);
    if (!s) return std::nullopt;
    const std::uint64_t inSegment = vaddr - s->vaddr;
    if (inSegment >= s->filesz) return std::nullopt;
    const char* p = reinterpret_cast<const char*>(data_.data() + s->offset + inSegment);
    const std::uint64_t available = s->filesz - inSegment;
    std::string text;
    for (std::uint64_t i = 0; i < available && i <= limit; ++i) {
        if (p[i] == 0) return text;
        text.push_back(p[i]);
    }
    return std::nullopt;
}

CoreBuilder CoreFile::toBuilder() const {
    CoreBuilder builder(arch_);
    for (const auto& s : segments_) {
        // A dumped part far smaller than its segment is kept as a segment without bytes rather
        // than padded into a huge buffer.
        constexpr std::uint64_t kMaxPadding = std::uint64_t{256} << 20;
        if (s.filesz == 0 || s.memsz - s.filesz > kMaxPadding) {
            builder.addSegment(s.vaddr, s.memsz, s.flags);
            continue;
        }
        std::vector<std::uint8_t> bytes(data_.begin() + static_cast<std::ptrdiff_t>(s.offset),
                                        data_.begin() + static_cast<std::ptrdiff_t>(s.offset + s.filesz));
        bytes.resize(static_cast<std::size_t>(s.memsz), 0);
        builder.addSegment(s.vaddr, std::move(bytes), s.flags);
    }
    for (const auto& note : notes_) builder.addNote(note);
    return builder;
}

}  // namespace corekit
