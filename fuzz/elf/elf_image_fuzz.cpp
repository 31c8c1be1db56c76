// libFuzzer target: arbitrary bytes opened as an ELF file image and as an in-memory image of the
// class their EI_CLASS byte names, then every read operation of the reader (sections, compressed
// sections, notes, build-id, symbols, program headers, MiniDebugInfo).
#include <cstdint>
#include <cstdio>
#include <vector>

#include "analyzer/driver/console.h"
#include "analyzer/symbols/elf_image.h"
#include "tests/symbols/elf_exercise.h"

namespace {

coresift::Console& quietConsole() {
    static coresift::MessageCatalog catalog;
    static std::FILE* sink = std::fopen("/dev/null", "w");
    static coresift::Console console(sink, sink, catalog);
    return console;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    coresift::Console& console = quietConsole();
    auto elfClass = size > 4 && data[4] == 2 ? coresift::ElfClass::Elf64 : coresift::ElfClass::Elf32;
    // The file copy has exactly `size` bytes, so AddressSanitizer sees any read past the end.
    auto file = coresift::MappedFile::fromBuffer("fuzz.so", std::vector<std::uint8_t>(data, data + size));
    if (auto image = coresift::ElfImage::open(console, file, 0x1F, elfClass))
        testsupport::exerciseElfImage(console, *image);
    if (auto image = coresift::ElfImage::openMemory(common::ByteView(data, size), "[fuzz]", elfClass))
        testsupport::exerciseElfImage(console, *image);
    return 0;
}
