// Writes ELF core files for 32-bit ARM (ELF32) and AArch64 (ELF64) processes: load segments with
// or without their bytes, and notes of any type, name and size, with typed helpers for the notes
// a Linux kernel writes.
//
// Layout of the written file, as a kernel writes it: ELF header, program headers (one PT_NOTE
// first, then the PT_LOADs in the order they were added, then any raw headers), the notes, then
// the segment bytes, each segment starting at a multiple of the file alignment (4096 unless set).
//
//     corekit::CoreBuilder core(corekit::CoreArch::Arm64);
//     core.addSegment(0x400000, 0x1000, corekit::elf::PF_R | corekit::elf::PF_X);   // no bytes
//     core.addSegment(0x7ff000, stackBytes, corekit::elf::PF_R | corekit::elf::PF_W);
//     core.addPrStatus(thread).addPrPsInfo(process).addAuxv({{corekit::elf::AT_PAGESZ, 4096}});
//     core.write("PROCESS_COREDUMP");
//
// Hand-built malformed cores: setFileType/setMachine/setClass change the header, omitNoteSegment
// drops the PT_NOTE header, addRawProgramHeader adds a header whose fields are written verbatim.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/corekit/core_notes.h"

namespace corekit {

struct CoreNote {
    std::string name;  // "CORE" for process notes, "LINUX" for register sets
    std::uint32_t type = 0;
    std::vector<std::uint8_t> desc;
};

struct CoreSegment {
    std::uint64_t vaddr = 0;
    std::uint64_t memsz = 0;
    std::uint32_t flags = 0;  // PF_R | PF_W | PF_X
    bool hasBytes = false;    // p_filesz = memsz when set, 0 otherwise
    std::vector<std::uint8_t> bytes;
};

// A program header written exactly as given (offsets and sizes are not checked or adjusted).
struct RawProgramHeader {
    std::uint32_t type = 0;
    std::uint32_t flags = 0;
    std::uint64_t offset = 0;
    std::uint64_t vaddr = 0;
    std::uint64_t filesz = 0;
    std::uint64_t memsz = 0;
    std::uint64_t align = 0;
};

class CoreBuilder {
public:
    explicit CoreBuilder(CoreArch arch);

    CoreArch arch() const { return arch_; }

    // A load segment holding `bytes` (p_filesz = p_memsz = bytes.size()).
    CoreBuilder& addSegment(std::uint64_t vaddr, std::vector<std::uint8_t> bytes, std::uint32_t flags);
    // A load segment of `size` bytes whose contents are not in the file (p_filesz = 0).
    CoreBuilder& addSegment(std::uint64_t vaddr, std::uint64_t size, std::uint32_t flags);
    CoreBuilder& addSegment(CoreSegment segment);

    CoreBuilder& addNote(std::uint32_t type, std::string name, std::vector<std::uint8_t> desc);
    CoreBuilder& addNote(CoreNote note);
    CoreBuilder& addPrStatus(const PrStatus& status);
    CoreBuilder& addPrPsInfo(const PrPsInfo& info, PsInfoLayout layout = PsInfoLayout::Native);
    CoreBuilder& addAuxv(const Auxv& auxv);
    CoreBuilder& addFileNote(const FileNote& note);
    CoreBuilder& addSigInfo(const SigInfo& info);
    CoreBuilder& addArmTls(std::uint64_t tls);

    CoreBuilder& setFileType(std::uint16_t type);
    CoreBuilder& setMachine(std::uint16_t machine);
    CoreBuilder& setClass(std::uint8_t elfClass);  // 1 ELF32, 2 ELF64; the layout stays the arch's
    CoreBuilder& setFileAlignment(std::uint64_t alignment);
    CoreBuilder& omitNoteSegment(bool omit = true);
    CoreBuilder& addRawProgramHeader(const RawProgramHeader& header);

    std::vector<CoreNote>& notes() { return notes_; }
    const std::vector<CoreNote>& notes() const { return notes_; }
    std::vector<CoreSegment>& segments() { return segments_; }
    const std::vector<CoreSegment>& segments() const { return segments_; }

    // The whole file.
    std::vector<std::uint8_t> bytes() const;
    // Writes the file; on failure returns false and says why in `error` when given.
    bool write(const std::string& path, std::string* error = nullptr) const;

private:
    CoreArch arch_;
    std::uint16_t fileType_;
    std::uint16_t machine_;
    std::uint8_t elfClass_;
    std::uint64_t alignment_ = 4096;
    bool omitNotes_ = false;
    std::vector<CoreNote> notes_;
    std::vector<CoreSegment> segments_;
    std::vector<RawProgramHeader> rawHeaders_;
};

// The bytes of one note (header, name, descriptor, each padded to 4 bytes).
std::vector<std::uint8_t> encodeNote(const CoreNote& note);

}  // namespace corekit
