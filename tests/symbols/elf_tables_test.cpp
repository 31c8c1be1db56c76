// Sections, program headers and symbol tables of ELF images, including hostile indices and sizes.
#include "tests/symbols/elf_test_support.h"

namespace {

using coresift::ProgramHeader;
using testsupport::Bytes;
using testsupport::ElfBuilder;
using testsupport::SymbolEntry;
namespace elf = coresift::elf;

class ElfTables : public testsupport::ElfClassTest {};

TEST_P(ElfTables, SectionsAreFoundByTypeAndExactName) {
    ElfBuilder b(GetParam());
    b.addSection(".debug_info", elf::kShtProgbits, Bytes{1, 2, 3}, 0, 0);
    b.addSection(".text", elf::kShtProgbits, Bytes(8, 0x90), 6, 0x4000);
    b.addSection(".text", elf::kShtNobits, {}, 0, 0, 0, 0, 0x40);
    auto image = open(b.build());
    ASSERT_TRUE(image);

    auto text = image->findSection(elf::kShtProgbits, ".text");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->index, 3u);
    EXPECT_EQ(text->addr, 0x4000u);
    EXPECT_EQ(text->size, 8u);
    EXPECT_EQ(text->flags, 6u);
    EXPECT_EQ(text->offset, b.sectionOffset(3));
    EXPECT_EQ(image->findSection(elf::kShtNobits, ".text")->index, 4u);
    EXPECT_EQ(image->findSection(elf::kShtProgbits)->index, 2u);  // any name: the first of the type
    EXPECT_FALSE(image->findSection(elf::kShtProgbits, ".tex"));
    EXPECT_FALSE(image->findSection(elf::kShtProgbits, ".text2"));
    EXPECT_FALSE(image->section(5));

    auto bytes = image->mapSection(console(), elf::kShtProgbits, ".debug_info");
    ASSERT_TRUE(bytes);
    EXPECT_FALSE(bytes->decompressed());
    EXPECT_EQ(Bytes(bytes->view().data(), bytes->view().data() + bytes->size()), (Bytes{1, 2, 3}));
    // A mapped section is a view into the file, not a copy.
    EXPECT_GE(bytes->view().data(), image->bytes().data());
    EXPECT_LE(bytes->view().data() + bytes->size(), image->bytes().data() + image->bytes().size());
}

TEST_P(ElfTables, SectionNamesOutsideTheNameTableAreEmpty) {
    ElfBuilder b(GetParam());
    b.addSection(".a", elf::kShtProgbits, Bytes{1});
    Bytes bytes = b.build();
    // Point section 2's sh_name far past the name table; and cut the table's final NUL.
    std::uint64_t table = bytes.size() - (wide() ? 64u : 40u) * 3;
    std::uint64_t entry2 = table + (wide() ? 64u : 40u) * 2;
    testsupport::put32(bytes, entry2, 0x7FFFFFF0);
    auto image = open(bytes);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->section(2)->name, "");
    EXPECT_FALSE(image->findSection(elf::kShtProgbits, ".a"));

    testsupport::put32(bytes, entry2, 11);  // ".a" follows ".shstrtab\0" at offset 11
    std::uint64_t namesSizeField = table + (wide() ? 64u + 32u : 40u + 20u);
    if (wide()) testsupport::put64(bytes, namesSizeField, 12);  // "\0.shstrtab\0." : no NUL after ".a"
    else testsupport::put32(bytes, namesSizeField, 12);
    image = open(bytes);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->section(2)->name, "");
}

TEST_P(ElfTables, LoadSegmentsAreVisitedLastFirstSkippingEmptyOnes) {
    ElfBuilder b(GetParam(), elf::kEtCore);
    auto load = [&](std::uint64_t vaddr, std::uint64_t filesz, std::uint64_t memsz) {
        ProgramHeader h;
        h.type = elf::kPtLoad;
        h.flags = 6;
        h.vaddr = vaddr;
        h.offset = 0x40;
        h.filesz = filesz;
        h.memsz = memsz;
        h.align = 0x1000;
        b.addSegment(h);
    };
    load(0x1000, 0x10, 0x1000);
    load(0x2000, 0, 0);  // no memory: skipped
    ProgramHeader note;
    note.type = elf::kPtNote;
    b.addSegment(note);
    load(0x3000, 0, 0x2000);  // no file bytes: offset shown as 0
    auto image = open(b.build(), elf::kCoreTypes);
    ASSERT_TRUE(image);

    std::vector<std::pair<std::uint64_t, std::uint64_t>> seen;  // vaddr, offset
    EXPECT_EQ(image->forEachLoad([&](const ProgramHeader& h) {
        seen.emplace_back(h.vaddr, h.offset);
        return 0;
    }), 0);
    EXPECT_EQ(seen, (std::vector<std::pair<std::uint64_t, std::uint64_t>>{{0x3000, 0}, {0x1000, 0x40}}));
    EXPECT_EQ(image->forEachLoad([](const ProgramHeader&) { return 7; }), 7);

    EXPECT_EQ(image->findSegment(elf::kPtLoad)->vaddr, 0x3000u);  // the last of its type
    EXPECT_EQ(image->segment(0)->filesz, 0x10u);
    EXPECT_FALSE(image->segment(4));
    EXPECT_TRUE(image->segmentBytes(*image->segment(0)));
}

TEST_P(ElfTables, SymbolsWithNamesValuesAndBinding) {
    ElfBuilder b(GetParam());
    b.addSection(".text", elf::kShtProgbits, Bytes(16, 0), 6, 0x1000);
    std::uint64_t big = wide() ? 0xFFFFFF8000001000ull : 0x80001000u;
    std::uint32_t symtab = b.addSymbols({{"local_helper", 0x1000, 4, 0x02, 2}, {"main", 0x1004, 12, 0x12, 2}, {"", big, 0, 0x10, 0}},
                                        elf::kShtSymtab, 2);
    auto image = open(b.build());
    ASSERT_TRUE(image);
    ASSERT_TRUE(image->symtabIndex());
    auto table = image->symbolTable();
    ASSERT_EQ(table.count(), 4u);
    EXPECT_EQ(table.firstGlobal(), 2u);
    EXPECT_EQ(table.size(), 4u * (wide() ? 24 : 16));
    EXPECT_EQ(table.offset(), b.sectionOffset(symtab));
    EXPECT_EQ(table.stringsOffset(), b.sectionOffset(symtab - 1));  // .strtab is added just before
    EXPECT_EQ(table.stringsSize(), 20u);  // "\0local_helper\0main\0" and a NUL for the unnamed symbol
    auto main = table.at(2);
    ASSERT_TRUE(main);
    EXPECT_EQ(main->name, "main");
    EXPECT_EQ(main->value, 0x1004u);
    EXPECT_EQ(main->size, 12u);
    EXPECT_EQ(main->bind(), 1);
    EXPECT_EQ(main->type(), 2);
    EXPECT_EQ(main->shndx, 2);
    EXPECT_EQ(table.at(3)->value, big);
    EXPECT_EQ(table.at(3)->name, "");
    EXPECT_FALSE(table.at(4));

    std::vector<std::string> names;
    table.forEach([&](const coresift::Symbol& s) {
        names.emplace_back(s.name);
        return 0;
    });
    EXPECT_EQ(names, (std::vector<std::string>{"", "local_helper", "main", ""}));
    EXPECT_TRUE(image->symbolTable(elf::kShtDynsym).empty());
}

TEST_P(ElfTables, BrokenSymbolTablesGiveNoSymbolsOrEmptyNames) {
    ElfBuilder b(GetParam());
    std::uint32_t symtab = b.addSymbols({{"alpha", 1, 1}, {"beta", 2, 2}});
    Bytes good = b.build();
    std::uint64_t shSize = wide() ? 64 : 40;
    std::uint64_t table = good.size() - shSize * 4;
    std::uint64_t symtabEntry = table + shSize * symtab;
    std::uint64_t linkField = symtabEntry + (wide() ? 40 : 24);

    Bytes badLink = good;  // sh_link names no section
    testsupport::put32(badLink, linkField, 99);
    auto image = open(badLink);
    ASSERT_TRUE(image);
    EXPECT_TRUE(image->symbolTable().empty());

    Bytes badName = good;  // st_name of "beta" points past the strings
    std::uint64_t entries = b.sectionOffset(symtab);
    testsupport::put32(badName, entries + (wide() ? 24 : 16) * 2, 0xFFFFFF00u);
    image = open(badName);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->symbolTable().at(1)->name, "alpha");
    EXPECT_EQ(image->symbolTable().at(2)->name, "");

    Bytes ragged = good;  // a size that is not a whole number of entries
    std::uint64_t sizeField = symtabEntry + (wide() ? 32 : 20);
    if (wide()) testsupport::put64(ragged, sizeField, 24 * 2 + 5);
    else testsupport::put32(ragged, sizeField, 16 * 2 + 5);
    image = open(ragged);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->symbolTable().count(), 2u);
    EXPECT_EQ(run.err(), "");
}

TEST_P(ElfTables, InMemoryImagesReadTheirTablesFromTheBuffer) {
    ElfBuilder b(GetParam());
    b.addSymbols({{"jitted", 0x7000, 0x40}});
    Bytes bytes = b.build();
    auto image = openMemory(bytes);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->symbolTable().at(1)->name, "jitted");
    EXPECT_EQ(image->bytes().data(), bytes.data());  // nothing copied
}

FERROVANE_BOTH_ELF_CLASSES(ElfTables);

}  // namespace
