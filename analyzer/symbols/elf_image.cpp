// Opening ELF images (file and in-memory) and their header tables.
#include "analyzer/symbols/elf_image.h"

#include <new>

#include "analyzer/driver/console.h"
#include "analyzer/symbols/elf_layout.h"

namespace coresift {
namespace {

constexpr std::uint8_t kMagic[4] = {0x7F, 'E', 'L', 'F'};

bool hasMagic(const elf::FileHeader& h) {
    return h.ident[0] == kMagic[0] && h.ident[1] == kMagic[1] && h.ident[2] == kMagic[2] && h.ident[3] == kMagic[3];
}

// offset + size, or nothing when the sum does not fit in 64 bits.
std::optional<std::uint64_t> endOf(std::uint64_t offset, std::uint64_t size) {
    if (size > ~std::uint64_t{0} - offset) return std::nullopt;
    return offset + size;
}

// Where a section's bytes end in the file; a SHT_NOBITS section occupies none.
std::optional<std::uint64_t> fileEnd(const SectionHeader& s) {
    return s.type == elf::kShtNobits ? std::optional<std::uint64_t>(0) : endOf(s.offset, s.size);
}

}  // namespace

ElfImage::~ElfImage() = default;

std::unique_ptr<ElfImage> ElfImage::open(Console& console, std::shared_ptr<const MappedFile> file,
                                         unsigned allowedTypes, ElfClass elfClass) {
    if (!file) return nullptr;
    const elf::Layout& layout = elf::layoutOf(elfClass);
    const std::string& path = file->path();

    auto headerBytes = file->view(0, layout.headerSize);
    auto header = headerBytes ? elf::decodeFileHeader(*headerBytes, layout) : std::nullopt;
    if (!header) {
        console.warning(Msg::FailToMap, path, "elf header");
        return nullptr;
    }
    const elf::FileHeader& h = *header;
    if (!hasMagic(h)) {
        console.error(Msg::NotElfMagic, path, static_cast<int>(h.ident[0]), static_cast<int>(h.ident[1]),
                      static_cast<int>(h.ident[2]), static_cast<int>(h.ident[3]));
        return nullptr;
    }
    if (h.ident[elf::kIdentClass] != static_cast<std::uint8_t>(elfClass)) {
        console.error(Msg::NotElfOfClass, path, layout.classWord);
        return nullptr;
    }
    if (h.ident[elf::kIdentData] != elf::kDataLittleEndian) {
        console.error(Msg::NotElfOfClass, path, "little endian");
        return nullptr;
    }
    if (h.machine != layout.machine) {
        console.error(Msg::NotElfOfClass, path, layout.machineWord);
        return nullptr;
    }
    if (!(allowedTypes & elf::typeBit(h.type))) {
        console.error(Msg::UnsupportedElfFormat, elf::typeName(h.type), path);
        return nullptr;
    }

    std::unique_ptr<ElfImage> image;
    try {
        image.reset(new ElfImage());
    } catch (const std::bad_alloc&) {
        console.error(Msg::OutOfMemory);
        return nullptr;
    }
    image->file_ = std::move(file);
    image->bytes_ = image->file_->bytes();
    image->name_ = path;
    image->class_ = elfClass;
    image->type_ = h.type;
    image->entry_ = h.entry;

    if (h.shnum != 0) {
        auto table = image->view(h.shoff, std::uint64_t{h.shnum} * layout.sectionHeaderSize);
        if (!table) {
            console.warning(Msg::FailToMap, path, "shdr table");
            return nullptr;
        }
        image->sectionTable_ = *table;
        image->sectionCount_ = h.shnum;
        auto last = image->rawSection(h.shnum - 1u);
        auto lastEnd = last ? fileEnd(*last) : std::nullopt;
        if (h.shnum <= h.shstrndx || !lastEnd || *lastEnd > image->bytes_.size()) {
            console.error(Msg::FileDamaged, path);
            return nullptr;
        }
        auto names = image->rawSection(h.shstrndx);
        auto namesBytes = names ? image->view(names->offset, names->size) : std::nullopt;
        if (!namesBytes) {
            console.warning(Msg::FailToMap, path, ".shstrtab");
            return nullptr;
        }
        image->sectionNames_ = *namesBytes;
        image->findSymtab();
    }

    std::uint64_t count = image->programHeaderCount(h.phnum);
    if (count == 0) return image;
    auto phdrs = image->view(h.phoff, count * layout.programHeaderSize);
    if (!phdrs) {
        console.warning(Msg::FailToMap, path, "phdr table");
        return nullptr;
    }
    image->programTable_ = *phdrs;
    image->segmentCount_ = static_cast<std::uint32_t>(count);
    auto last = image->segment(image->segmentCount_ - 1);
    auto lastEnd = last ? endOf(last->offset, last->filesz) : std::nullopt;
    if (!lastEnd || *lastEnd > image->bytes_.size()) {
        // A core cut short (a device out of storage) still holds its notes and most of its
        // memory: the address space keeps the bytes the file has and warns once. Any other file
        // cut inside its segments is unusable.
        if (h.type == elf::kEtCore && lastEnd) return image;
        console.error(Msg::FileDamaged, path);
        return nullptr;
    }
    return image;
}

std::unique_ptr<ElfImage> ElfImage::openMemory(common::ByteView bytes, std::string name, ElfClass elfClass) {
    std::unique_ptr<ElfImage> image(new (std::nothrow) ElfImage());
    if (!image) return nullptr;
    image->bytes_ = bytes;
    image->name_ = std::move(name);
    image->class_ = elfClass;
    return finishMemoryImage(std::move(image));
}

std::unique_ptr<ElfImage> ElfImage::openOwnedMemory(std::vector<std::uint8_t> bytes, std::string name,
                                                    ElfClass elfClass) {
    std::unique_ptr<ElfImage> image(new (std::nothrow) ElfImage());
    if (!image) return nullptr;
    image->ownedBytes_ = std::move(bytes);
    image->bytes_ = common::ByteView(image->ownedBytes_.data(), image->ownedBytes_.size());
    image->name_ = std::move(name);
    image->class_ = elfClass;
    return finishMemoryImage(std::move(image));
}

// The header checks of an in-memory image; every failure is silent.
std::unique_ptr<ElfImage> ElfImage::finishMemoryImage(std::unique_ptr<ElfImage> image) {
    const elf::Layout& layout = elf::layoutOf(image->class_);
    auto header = elf::decodeFileHeader(image->bytes_, layout);
    if (!header || !hasMagic(*header)) return nullptr;
    const elf::FileHeader& h = *header;
    if (h.ident[elf::kIdentClass] != static_cast<std::uint8_t>(image->class_) ||
        h.ident[elf::kIdentData] != elf::kDataLittleEndian || h.machine != layout.machine)
        return nullptr;
    image->type_ = h.type;
    image->entry_ = h.entry;

    if (h.shnum != 0 && h.shnum > h.shstrndx) {
        if (auto table = image->view(h.shoff, std::uint64_t{h.shnum} * layout.sectionHeaderSize)) {
            image->sectionTable_ = *table;
            image->sectionCount_ = h.shnum;
            auto names = image->rawSection(h.shstrndx);
            auto namesBytes = names ? image->view(names->offset, names->size) : std::nullopt;
            if (!namesBytes) return nullptr;
            image->sectionNames_ = *namesBytes;
            image->findSymtab();
        }
    }

    std::uint64_t count = image->programHeaderCount(h.phnum);
    if (count != 0) {
        auto phdrs = image->view(h.phoff, count * layout.programHeaderSize);
        if (!phdrs) return nullptr;
        image->programTable_ = *phdrs;
        image->segmentCount_ = static_cast<std::uint32_t>(count);
    }
    return image;
}

// e_phnum, or, when it is PN_XNUM, the real count kept in section 0's sh_info.
std::uint64_t ElfImage::programHeaderCount(std::uint16_t phnum) const {
    if (phnum != elf::kPnXnum || sectionCount_ == 0) return phnum;
    auto first = rawSection(0);
    return first ? first->info : 0;
}

void ElfImage::findSymtab() {
    for (std::uint32_t i = 0; i < sectionCount_; ++i) {
        auto s = rawSection(i);
        if (s && s->type == elf::kShtSymtab) {
            symtabIndex_ = i;
            return;
        }
    }
}

std::uint64_t ElfImage::headersSize() const {
    const elf::Layout& layout = elf::layoutOf(class_);
    return layout.headerSize + std::uint64_t{segmentCount_} * layout.programHeaderSize;
}

std::optional<SectionHeader> ElfImage::rawSection(std::uint32_t index) const {
    if (index >= sectionCount_) return std::nullopt;
    const elf::Layout& layout = elf::layoutOf(class_);
    auto entry = sectionTable_.sub(std::uint64_t{index} * layout.sectionHeaderSize, layout.sectionHeaderSize);
    if (!entry) return std::nullopt;
    auto s = elf::decodeSectionHeader(*entry, layout);
    if (s) s->index = index;
    return s;
}

std::optional<SectionHeader> ElfImage::section(std::uint32_t index) const {
    auto s = rawSection(index);
    if (s) s->name = sectionNames_.cstring(s->nameOffset).value_or(std::string_view());
    return s;
}

std::optional<SectionHeader> ElfImage::findSection(std::uint32_t type, std::string_view name) const {
    for (std::uint32_t i = 0; i < sectionCount_; ++i) {
        auto s = section(i);
        if (s && s->type == type && (name.empty() || s->name == name)) return s;
    }
    return std::nullopt;
}

std::optional<ProgramHeader> ElfImage::segment(std::uint32_t index) const {
    if (index >= segmentCount_) return std::nullopt;
    const elf::Layout& layout = elf::layoutOf(class_);
    auto entry = programTable_.sub(std::uint64_t{index} * layout.programHeaderSize, layout.programHeaderSize);
    return entry ? elf::decodeProgramHeader(*entry, layout) : std::nullopt;
}

std::optional<ProgramHeader> ElfImage::findSegment(std::uint32_t type) const {
    for (std::uint32_t i = segmentCount_; i-- > 0;) {
        auto p = segment(i);
        if (p && p->type == type) return p;
    }
    return std::nullopt;
}

std::optional<common::ByteView> ElfImage::segmentBytes(const ProgramHeader& segment) const {
    return view(segment.offset, segment.filesz);
}

int ElfImage::forEachLoad(const std::function<int(const ProgramHeader&)>& visit) const {
    for (std::uint32_t i = segmentCount_; i-- > 0;) {
        auto p = segment(i);
        if (!p || p->type != elf::kPtLoad || p->memsz == 0) continue;
        if (p->filesz == 0) p->offset = 0;
        if (int result = visit(*p)) return result;
    }
    return 0;
}

}  // namespace coresift
