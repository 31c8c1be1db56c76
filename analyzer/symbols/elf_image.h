// ELF images: the coredump, the symbol files of the loaded modules, and images that exist only in
// memory (a module's headers as they lie in the dump, the decompressed `.gnu_debugdata`, JIT code).
//
// Files are mapped read-only once and never copied; every table is read in place through
// bounds-checked views, and every offset, size, count and index taken from the image is checked
// against the bytes that exist before it is used. A decompressed section is the only heap copy.
//
// CoreSift reads ELF32 little-endian ARM images, CoreSift64 ELF64 little-endian AArch64 images
// (`kTargetElfClass`). The parsing itself takes the class as a value, so every build can read
// (and test) both.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/byte_reader.h"
#include "common/target_word.h"

namespace platform {
class FileMapping;
}

namespace coresift {

class Console;

// The values of EI_CLASS.
enum class ElfClass : std::uint8_t { Elf32 = 1, Elf64 = 2 };
inline constexpr ElfClass kTargetElfClass = kIs64 ? ElfClass::Elf64 : ElfClass::Elf32;

namespace elf {
// e_type
inline constexpr std::uint16_t kEtRel = 1, kEtExec = 2, kEtDyn = 3, kEtCore = 4;
// Sets of e_type values for ElfImage::open (bit n allows type n).
inline constexpr unsigned typeBit(std::uint16_t type) { return type < 32 ? 1u << type : 0; }
inline constexpr unsigned kCoreTypes = typeBit(kEtCore);                        // 16
inline constexpr unsigned kSymbolFileTypes = typeBit(kEtExec) | typeBit(kEtDyn);  // 12
// sh_type
inline constexpr std::uint32_t kShtProgbits = 1, kShtSymtab = 2, kShtStrtab = 3, kShtNote = 7,
                               kShtNobits = 8, kShtDynsym = 11;
// sh_flags
inline constexpr std::uint64_t kShfCompressed = 0x800;
// ch_type
inline constexpr std::uint32_t kCompressZlib = 1, kCompressZstd = 2;
// p_type
inline constexpr std::uint32_t kPtLoad = 1, kPtDynamic = 2, kPtNote = 4;
// e_phnum value that moves the real count into section 0's sh_info.
inline constexpr std::uint16_t kPnXnum = 0xFFFF;
// Note type of the GNU build-id.
inline constexpr std::uint32_t kNtGnuBuildId = 3;
}  // namespace elf

// One opened file, mapped read-only as a whole. Shared (reference counted) by every image made
// from it and by whoever else keeps it, such as the address space for the coredump.
class MappedFile {
public:
    // Opens and maps `path`. Silent: returns null when the file cannot be opened or mapped.
    static std::shared_ptr<const MappedFile> open(const std::string& path);
    // As open, for the symbol-file search: after a successful open prints "Loading %s ...\n"
    // with the file's base name on standard output.
    static std::shared_ptr<const MappedFile> openAnnounced(Console& console, const std::string& path);
    // A file whose bytes are already in memory (an unpacked fixture, a fuzz input).
    static std::shared_ptr<const MappedFile> fromBuffer(std::string path, std::vector<std::uint8_t> bytes);

    MappedFile(std::string path, std::unique_ptr<platform::FileMapping> mapping);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    const std::string& path() const { return path_; }
    std::uint64_t size() const { return bytes_.size(); }
    common::ByteView bytes() const { return bytes_; }
    // The bytes [offset, offset + length), or nothing when they are not all in the file.
    std::optional<common::ByteView> view(std::uint64_t offset, std::uint64_t length) const {
        return bytes_.sub(offset, length);
    }

private:
    std::string path_;
    std::unique_ptr<platform::FileMapping> mapping_;
    common::ByteView bytes_;
};

// Header records, widened to 64 bits for both classes.
struct SectionHeader {
    std::uint32_t index = 0;  // position in the section header table
    std::string_view name;    // from the section-name table; empty when unnamed or unreadable
    std::uint32_t nameOffset = 0, type = 0;
    std::uint64_t flags = 0, addr = 0, offset = 0, size = 0;
    std::uint32_t link = 0, info = 0;
    std::uint64_t addralign = 0, entsize = 0;
};

struct ProgramHeader {
    std::uint32_t type = 0, flags = 0;
    std::uint64_t offset = 0, vaddr = 0, paddr = 0, filesz = 0, memsz = 0, align = 0;
};

struct Note {
    std::uint32_t type = 0;
    common::ByteView nameBytes;  // all namesz bytes
    std::string_view name;       // the name up to its first NUL
    common::ByteView desc;
};

struct Symbol {
    std::uint32_t index = 0;
    std::uint32_t nameOffset = 0;  // st_name
    std::string_view name;  // empty when st_name is 0 or points outside the string table
    std::uint64_t value = 0, size = 0;
    std::uint8_t info = 0, other = 0;
    std::uint16_t shndx = 0;
    std::uint8_t bind() const { return info >> 4; }
    std::uint8_t type() const { return info & 0xF; }
};

// A symbol table section and its string table, both inside the image.
class SymbolTable {
public:
    SymbolTable() = default;
    SymbolTable(ElfClass elfClass, const SectionHeader& table, common::ByteView entries,
                const SectionHeader& strings, common::ByteView stringBytes);

    bool empty() const { return count_ == 0; }
    std::uint32_t count() const { return count_; }
    std::uint32_t firstGlobal() const { return firstGlobal_; }  // sh_info
    // Where the tables lie in the image (offset and size of each).
    std::uint64_t offset() const { return offset_; }
    std::uint64_t size() const { return entries_.size(); }
    std::uint64_t stringsOffset() const { return stringsOffset_; }
    std::uint64_t stringsSize() const { return strings_.size(); }

    // Symbol `index`, or nothing past the end.
    std::optional<Symbol> at(std::uint32_t index) const;
    // Calls `visit` for every symbol in order; a non-zero result stops the walk and is returned.
    int forEach(const std::function<int(const Symbol&)>& visit) const;

private:
    ElfClass class_ = kTargetElfClass;
    common::ByteView entries_, strings_;
    std::uint64_t offset_ = 0, stringsOffset_ = 0;
    std::uint32_t count_ = 0, firstGlobal_ = 0;
};

// The bytes of one section: a view into the image, or a decompressed copy that this object owns.
class SectionBytes {
public:
    SectionBytes(common::ByteView mapped) : view_(mapped) {}
    explicit SectionBytes(std::vector<std::uint8_t> decompressed)
        : storage_(std::move(decompressed)), view_(storage_.data(), storage_.size()), decompressed_(true) {}
    SectionBytes(SectionBytes&&) = default;
    SectionBytes& operator=(SectionBytes&&) = default;
    SectionBytes(const SectionBytes&) = delete;
    SectionBytes& operator=(const SectionBytes&) = delete;

    common::ByteView view() const { return view_; }
    std::size_t size() const { return view_.size(); }
    bool decompressed() const { return decompressed_; }

private:
    std::vector<std::uint8_t> storage_;  // moving a vector keeps its buffer, so view_ stays valid
    common::ByteView view_;
    bool decompressed_ = false;
};

class ElfImage {
public:
    // Opens a file image. Checks, in order, each failing with its message: the header is in the
    // file ("%s fail to map %s" / "elf header"), the magic, the class, the byte order, the machine,
    // the type (bit e_type of `allowedTypes`, see elf::kCoreTypes), the section header table and
    // section-name table ("File %s damaged" when the last section runs past the end), the program
    // header table. Takes a reference on the file.
    static std::unique_ptr<ElfImage> open(Console& console, std::shared_ptr<const MappedFile> file,
                                          unsigned allowedTypes, ElfClass elfClass = kTargetElfClass);
    // Opens an image held in memory; `bytes` must outlive the image. Silent on every failure: the
    // header must be complete with the right magic, class, byte order and machine (any e_type);
    // a section header table that is not inside the bytes is ignored; a section-name table or a
    // program header table that is not inside them rejects the image.
    static std::unique_ptr<ElfImage> openMemory(common::ByteView bytes, std::string name,
                                                ElfClass elfClass = kTargetElfClass);
    // As openMemory, for bytes the image owns (a decompressed image).
    static std::unique_ptr<ElfImage> openOwnedMemory(std::vector<std::uint8_t> bytes, std::string name,
                                                     ElfClass elfClass = kTargetElfClass);

    ~ElfImage();
    ElfImage(const ElfImage&) = delete;
    ElfImage& operator=(const ElfImage&) = delete;

    const std::string& name() const { return name_; }
    ElfClass elfClass() const { return class_; }
    bool isFileImage() const { return file_ != nullptr; }
    const std::shared_ptr<const MappedFile>& file() const { return file_; }
    std::uint16_t type() const { return type_; }  // e_type
    std::uint64_t entry() const { return entry_; }
    // The image's bytes (the whole file, or the in-memory buffer), and a range of them.
    common::ByteView bytes() const { return bytes_; }
    std::optional<common::ByteView> view(std::uint64_t offset, std::uint64_t length) const {
        return bytes_.sub(offset, length);
    }
    // The ELF header plus the program header table, as laid out at the start of a loaded module.
    std::uint64_t headersSize() const;

    // --- Sections ---
    std::uint32_t sectionCount() const { return sectionCount_; }
    std::optional<SectionHeader> section(std::uint32_t index) const;
    // The first section of type `type` whose name equals `name` (any name when `name` is empty).
    std::optional<SectionHeader> findSection(std::uint32_t type, std::string_view name = {}) const;
    // Index of the first SHT_SYMTAB section, when there is one.
    std::optional<std::uint32_t> symtabIndex() const { return symtabIndex_; }
    // The bytes of a section, decompressed when it carries SHF_COMPRESSED (zlib or Zstandard).
    // Nothing, with a message, when the bytes are not all inside the image or cannot be
    // decompressed; nothing, silently, for SHT_NOBITS.
    std::optional<SectionBytes> mapSection(Console& console, const SectionHeader& section) const;
    std::optional<SectionBytes> mapSection(Console& console, std::uint32_t type, std::string_view name) const;

    // --- Program headers ---
    std::uint32_t segmentCount() const { return segmentCount_; }
    std::optional<ProgramHeader> segment(std::uint32_t index) const;
    // The LAST program header of type `type`.
    std::optional<ProgramHeader> findSegment(std::uint32_t type) const;
    // The file bytes of a segment (p_filesz at p_offset), when they are inside the image.
    std::optional<common::ByteView> segmentBytes(const ProgramHeader& segment) const;
    // Visits the PT_LOAD headers from the last to the first, skipping those with p_memsz 0; the
    // visitor sees p_offset as 0 when p_filesz is 0. A non-zero result stops the walk and is returned.
    int forEachLoad(const std::function<int(const ProgramHeader&)>& visit) const;

    // --- Notes ---
    // Walks the notes of the LAST PT_NOTE segment. A segment outside the image gives warning
    // "%s fail to map %s" (".note"); an image without PT_NOTE whose name contains "PROCESS_" (the
    // coredump) gives error "Fail to find <%s> %s segment"; both on standard output, and both
    // return kNoNoteSegment. A
    // non-zero result of the visitor stops the walk and is returned; a record that runs past the
    // segment ends it.
    static constexpr int kNoNoteSegment = -1;
    int forEachNote(Console& console, const std::function<int(const Note&)>& visit) const;
    // The GNU build-id as lowercase hexadecimal (at most 20 bytes; a longer one is cut with
    // message "build-id(%d) is too long"), searched in EVERY PT_NOTE segment (Android libraries
    // keep it in the first of two), then, when the segments hold none, in the SHT_NOTE sections
    // (files whose program headers do not cover their notes). Empty when there is none.
    std::string buildId(Console& console) const;

    // --- Symbols ---
    // The first section of type `type` (SHT_SYMTAB or SHT_DYNSYM) with its linked string table;
    // empty when there is none or either table is not inside the image.
    SymbolTable symbolTable(std::uint32_t type = elf::kShtSymtab) const;

    // MiniDebugInfo: the image inside the XZ-compressed SHT_PROGBITS section ".gnu_debugdata",
    // opened as an in-memory image of the same class that owns its bytes and carries this
    // image's name. Its symbol table stands in when this image has no SHT_SYMTAB. Nothing when
    // there is no such section; a decoder failure also prints "Fail to unzip %s" ("XzDec").
    std::unique_ptr<ElfImage> miniDebugInfo(Console& console) const;

private:
    ElfImage() = default;
    static std::unique_ptr<ElfImage> finishMemoryImage(std::unique_ptr<ElfImage> image);
    std::uint64_t programHeaderCount(std::uint16_t phnum) const;
    void findSymtab();
    std::optional<SectionHeader> rawSection(std::uint32_t index) const;  // without its name
    std::optional<common::ByteView> noteSegmentBytes(Console& console, const ProgramHeader& segment) const;

    std::shared_ptr<const MappedFile> file_;
    std::vector<std::uint8_t> ownedBytes_;
    common::ByteView bytes_;
    std::string name_;
    ElfClass class_ = kTargetElfClass;
    std::uint16_t type_ = 0;
    std::uint64_t entry_ = 0;
    common::ByteView sectionTable_, sectionNames_, programTable_;
    std::uint32_t sectionCount_ = 0, segmentCount_ = 0;
    std::optional<std::uint32_t> symtabIndex_;
};

// Writes `bytes` as lowercase hexadecimal, two digits per byte, high nibble first.
std::string toHex(common::ByteView bytes);

}  // namespace coresift
