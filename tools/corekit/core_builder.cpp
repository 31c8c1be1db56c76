#include "tools/corekit/core_builder.h"

#include <fstream>
#include <utility>

#include "tools/corekit/byte_writer.h"
#include "tools/corekit/elf_constants.h"

namespace corekit {

CoreBuilder::CoreBuilder(CoreArch arch)
    : arch_(arch),
      fileType_(elf::ET_CORE),
      machine_(machineOf(arch)),
      elfClass_(arch == CoreArch::Arm64 ? elf::kClass64 : elf::kClass32) {}

CoreBuilder& CoreBuilder::addSegment(std::uint64_t vaddr, std::vector<std::uint8_t> bytes, std::uint32_t flags) {
    CoreSegment s;
    s.vaddr = vaddr;
    s.memsz = bytes.size();
    s.flags = flags;
    s.hasBytes = true;
    s.bytes = std::move(bytes);
    return addSegment(std::move(s));
}

CoreBuilder& CoreBuilder::addSegment(std::uint64_t vaddr, std::uint64_t size, std::uint32_t flags) {
    CoreSegment s;
    s.vaddr = vaddr;
    s.memsz = size;
    s.flags = flags;
    return addSegment(std::move(s));
}

CoreBuilder& CoreBuilder::addSegment(CoreSegment segment) {
    segments_.push_back(std::move(segment));
    return *this;
}

CoreBuilder& CoreBuilder::addNote(std::uint32_t type, std::string name, std::vector<std::uint8_t> desc) {
    return addNote(CoreNote{std::move(name), type, std::move(desc)});
}

CoreBuilder& CoreBuilder::addNote(CoreNote note) {
    notes_.push_back(std::move(note));
    return *this;
}

CoreBuilder& CoreBuilder::addPrStatus(const PrStatus& status) {
    return addNote(elf::NT_PRSTATUS, "CORE", encodePrStatus(arch_, status));
}
CoreBuilder& CoreBuilder::addPrPsInfo(const PrPsInfo& info, PsInfoLayout layout) {
    return addNote(elf::NT_PRPSINFO, "CORE", encodePrPsInfo(arch_, info, layout));
}
CoreBuilder& CoreBuilder::addAuxv(const Auxv& auxv) { return addNote(elf::NT_AUXV, "CORE", encodeAuxv(arch_, auxv)); }
CoreBuilder& CoreBuilder::addFileNote(const FileNote& note) {
    return addNote(elf::NT_FILE, "CORE", encodeFileNote(arch_, note));
}
CoreBuilder& CoreBuilder::addSigInfo(const SigInfo& info) {
    return addNote(elf::NT_SIGINFO, "CORE", encodeSigInfo(arch_, info));
}
CoreBuilder& CoreBuilder::addArmTls(std::uint64_t tls) {
    return addNote(elf::NT_ARM_TLS, "LINUX", encodeArmTls(arch_, tls));
}

CoreBuilder& CoreBuilder::setFileType(std::uint16_t type) {
    fileType_ = type;
    return *this;
}
CoreBuilder& CoreBuilder::setMachine(std::uint16_t machine) {
    machine_ = machine;
    return *this;
}
CoreBuilder& CoreBuilder::setClass(std::uint8_t elfClass) {
    elfClass_ = elfClass;
    return *this;
}
CoreBuilder& CoreBuilder::setFileAlignment(std::uint64_t alignment) {
    alignment_ = alignment ? alignment : 1;
    return *this;
}
CoreBuilder& CoreBuilder::omitNoteSegment(bool omit) {
    omitNotes_ = omit;
    return *this;
}
CoreBuilder& CoreBuilder::addRawProgramHeader(const RawProgramHeader& header) {
    rawHeaders_.push_back(header);
    return *this;
}

std::vector<std::uint8_t> encodeNote(const CoreNote& note) {
    std::vector<std::uint8_t> out;
    appendLe(out, note.name.size() + 1, 4);
    appendLe(out, note.desc.size(), 4);
    appendLe(out, note.type, 4);
    out.insert(out.end(), note.name.begin(), note.name.end());
    out.push_back(0);
    padTo(out, 4);
    out.insert(out.end(), note.desc.begin(), note.desc.end());
    padTo(out, 4);
    return out;
}

namespace {

void appendProgramHeader(std::vector<std::uint8_t>& out, bool is64, const RawProgramHeader& h) {
    if (is64) {
        appendLe(out, h.type, 4);
        appendLe(out, h.flags, 4);
        appendLe(out, h.offset, 8);
        appendLe(out, h.vaddr, 8);
        appendLe(out, 0, 8);  // p_paddr
        appendLe(out, h.filesz, 8);
        appendLe(out, h.memsz, 8);
        appendLe(out, h.align, 8);
    } else {
        appendLe(out, h.type, 4);
        appendLe(out, h.offset, 4);
        appendLe(out, h.vaddr, 4);
        appendLe(out, 0, 4);  // p_paddr
        appendLe(out, h.filesz, 4);
        appendLe(out, h.memsz, 4);
        appendLe(out, h.flags, 4);
        appendLe(out, h.align, 4);
    }
}

std::uint64_t alignUp(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

}  // namespace

std::vector<std::uint8_t> CoreBuilder::bytes() const {
    const bool is64 = arch_ == CoreArch::Arm64;
    const unsigned ehsize = is64 ? 64 : 52;
    const unsigned phentsize = is64 ? 56 : 32;
    const std::size_t phnum = (omitNotes_ ? 0 : 1) + segments_.size() + rawHeaders_.size();

    std::vector<std::uint8_t> noteBytes;
    for (const auto& note : notes_) {
        auto one = encodeNote(note);
        noteBytes.insert(noteBytes.end(), one.begin(), one.end());
    }

    // File offsets: notes right after the headers, then each segment's bytes aligned.
    const std::uint64_t notesOffset = ehsize + phentsize * phnum;
    std::uint64_t offset = notesOffset + (omitNotes_ ? 0 : noteBytes.size());
    std::vector<std::uint64_t> segmentOffsets;
    for (const auto& s : segments_) {
        offset = alignUp(offset, alignment_);
        segmentOffsets.push_back(offset);
        if (s.hasBytes) offset += s.bytes.size();
    }

    // e_ident: magic, class, data order, version; the rest zero.
    std::vector<std::uint8_t> out(16, 0);
    out[0] = 0x7F;
    out[1] = 'E';
    out[2] = 'L';
    out[3] = 'F';
    out[4] = elfClass_;
    out[5] = elf::kDataLittle;
    out[6] = 1;
    appendLe(out, fileType_, 2);
    appendLe(out, machine_, 2);
    appendLe(out, 1, 4);  // e_version
    const unsigned w = is64 ? 8 : 4;
    appendLe(out, 0, w);          // e_entry
    appendLe(out, ehsize, w);     // e_phoff
    appendLe(out, 0, w);          // e_shoff
    appendLe(out, 0, 4);          // e_flags
    appendLe(out, ehsize, 2);     // e_ehsize
    appendLe(out, phentsize, 2);  // e_phentsize
    appendLe(out, phnum, 2);
    appendLe(out, is64 ? 64 : 40, 2);  // e_shentsize
    appendLe(out, 0, 2);               // e_shnum
    appendLe(out, 0, 2);               // e_shstrndx

    if (!omitNotes_) {
        appendProgramHeader(out, is64, {elf::PT_NOTE, 0, notesOffset, 0, noteBytes.size(), 0, 0});
    }
    for (std::size_t i = 0; i < segments_.size(); ++i) {
        const auto& s = segments_[i];
        appendProgramHeader(out, is64,
                            {elf::PT_LOAD, s.flags, segmentOffsets[i], s.vaddr, s.hasBytes ? s.bytes.size() : 0,
                             s.memsz, 4096});
    }
    for (const auto& h : rawHeaders_) appendProgramHeader(out, is64, h);

    if (!omitNotes_) out.insert(out.end(), noteBytes.begin(), noteBytes.end());
    for (std::size_t i = 0; i < segments_.size(); ++i) {
        if (!segments_[i].hasBytes) continue;
        out.resize(segmentOffsets[i], 0);
        out.insert(out.end(), segments_[i].bytes.begin(), segments_[i].bytes.end());
    }
    // A kernel core ends at the last segment's offset even when that segment holds no bytes.
    if (out.size() < offset) out.resize(offset, 0);
    return out;
}

bool CoreBuilder::write(const std::string& path, std::string* error) const {
    const auto data = bytes();
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (file) file.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!file) {
        if (error) *error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace corekit
