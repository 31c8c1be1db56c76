// elfdump: a developer's view of ELF files as the analyzer's reader sees them (either class).
//   elfdump [-s] [-d] [-m] [-x SECTION] FILE...
//   default  header, sections, program headers, notes of the last PT_NOTE segment, build-id
//   -s       also the .symtab symbols;  -d  also the .dynsym symbols
//   -m       the symbols of the MiniDebugInfo image (.gnu_debugdata)
//   -x NAME  hexadecimal dump of a section's bytes (decompressed when compressed)
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "analyzer/driver/console.h"
#include "analyzer/symbols/elf_image.h"

namespace {

using coresift::ElfClass;
using coresift::ElfImage;

struct Options {
    bool symtab = false, dynsym = false, mini = false;
    std::string hexSection;
    std::vector<std::string> files;
};

void printHeader(const ElfImage& image) {
    std::printf("%s: ELF%d type %u entry 0x%" PRIx64 ", %u sections, %u program headers, headers size %" PRIu64 "\n",
                image.name().c_str(), image.elfClass() == ElfClass::Elf64 ? 64 : 32, image.type(), image.entry(),
                image.sectionCount(), image.segmentCount(), image.headersSize());
}

void printSections(const ElfImage& image) {
    std::printf("  [Nr] %-24s %10s %16s %10s %10s %6s\n", "Name", "Type", "Addr", "Off", "Size", "Flags");
    for (std::uint32_t i = 0; i < image.sectionCount(); ++i) {
        auto s = image.section(i);
        if (!s) continue;
        std::printf("  [%2u] %-24.*s %10x %16" PRIx64 " %10" PRIx64 " %10" PRIx64 " %6" PRIx64 "\n", i,
                    static_cast<int>(s->name.size()), s->name.data(), s->type, s->addr, s->offset, s->size, s->flags);
    }
}

void printSegments(const ElfImage& image) {
    std::printf("  %-10s %10s %16s %10s %10s %5s %8s\n", "Type", "Offset", "VirtAddr", "FileSiz", "MemSiz", "Flags", "Align");
    for (std::uint32_t i = 0; i < image.segmentCount(); ++i) {
        auto p = image.segment(i);
        if (!p) continue;
        std::printf("  %10x %10" PRIx64 " %16" PRIx64 " %10" PRIx64 " %10" PRIx64 " %5x %8" PRIx64 "\n", p->type,
                    p->offset, p->vaddr, p->filesz, p->memsz, p->flags, p->align);
    }
}

void printNotes(coresift::Console& console, const ElfImage& image) {
    image.forEachNote(console, [](const coresift::Note& n) {
        std::printf("  note %-10.*s type 0x%x, %zu bytes\n", static_cast<int>(n.name.size()), n.name.data(), n.type,
                    n.desc.size());
        return 0;
    });
    std::printf("  build-id: %s\n", image.buildId(console).c_str());
}

void printSymbols(const coresift::SymbolTable& table, const char* title) {
    std::printf("  %s: %u symbols, first global %u\n", title, table.count(), table.firstGlobal());
    table.forEach([](const coresift::Symbol& s) {
        std::printf("  %6u %16" PRIx64 " %8" PRIu64 " %2u %2u %5u %.*s\n", s.index, s.value, s.size, s.type(), s.bind(),
                    s.shndx, static_cast<int>(s.name.size()), s.name.data());
        return 0;
    });
}

void printHex(coresift::Console& console, const ElfImage& image, const std::string& name) {
    std::optional<coresift::SectionHeader> section;
    for (std::uint32_t i = 0; i < image.sectionCount() && !section; ++i)
        if (auto s = image.section(i); s && s->name == name) section = s;
    auto bytes = section ? image.mapSection(console, *section) : std::nullopt;
    if (!bytes) {
        std::fprintf(stderr, "%s: no bytes for section %s\n", image.name().c_str(), name.c_str());
        return;
    }
    common::ByteView v = bytes->view();
    for (std::size_t row = 0; row < v.size(); row += 16) {
        std::printf("  %08zx ", row);
        for (std::size_t i = row; i < row + 16 && i < v.size(); ++i) std::printf(" %02x", v.data()[i]);
        std::printf("\n");
    }
}

int dump(coresift::Console& console, const std::string& path, const Options& options) {
    auto file = coresift::MappedFile::open(path);
    if (!file) {
        std::fprintf(stderr, "%s: cannot open\n", path.c_str());
        return 1;
    }
    // The class decides the layout; any e_type is shown.
    auto classByte = file->bytes().read<std::uint8_t>(4).value_or(1);
    ElfClass elfClass = classByte == 2 ? ElfClass::Elf64 : ElfClass::Elf32;
    auto image = ElfImage::open(console, file, 0x1F, elfClass);
    if (!image) return 1;
    printHeader(*image);
    printSections(*image);
    printSegments(*image);
    printNotes(console, *image);
    if (options.symtab) printSymbols(image->symbolTable(coresift::elf::kShtSymtab), ".symtab");
    if (options.dynsym) printSymbols(image->symbolTable(coresift::elf::kShtDynsym), ".dynsym");
    if (options.mini) {
        auto mini = image->miniDebugInfo(console);
        if (mini) printSymbols(mini->symbolTable(), ".gnu_debugdata .symtab");
        else std::printf("  no MiniDebugInfo\n");
    }
    if (!options.hexSection.empty()) printHex(console, *image, options.hexSection);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-s") options.symtab = true;
        else if (arg == "-d") options.dynsym = true;
        else if (arg == "-m") options.mini = true;
        else if (arg == "-x" && i + 1 < argc) options.hexSection = argv[++i];
        else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "usage: elfdump [-s] [-d] [-m] [-x SECTION] FILE...\n");
            return 2;
        } else options.files.push_back(arg);
    }
    if (options.files.empty()) {
        std::fprintf(stderr, "usage: elfdump [-s] [-d] [-m] [-x SECTION] FILE...\n");
        return 2;
    }
    coresift::MessageCatalog catalog;
    catalog.selectEnglish();
    coresift::Console console(stdout, stderr, catalog);
    int status = 0;
    for (const auto& path : options.files) status |= dump(console, path, options);
    return status;
}
