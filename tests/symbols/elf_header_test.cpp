// Opening ELF images: the header checks in their order with their messages, for both classes,
// file images and in-memory images.
#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"
#include "tests/symbols/elf_test_support.h"

namespace {

using coresift::ElfClass;
using coresift::ElfImage;
using coresift::MappedFile;
using testsupport::Bytes;
using testsupport::ElfBuilder;
namespace elf = coresift::elf;

class ElfHeader : public testsupport::ElfClassTest {};

TEST_P(ElfHeader, AWellFormedImageOpensSilently) {
    ElfBuilder b(GetParam());
    std::uint32_t text = b.addSection(".text", elf::kShtProgbits, Bytes(64, 0xAA), 6, 0x1000);
    b.addSegmentForSection(elf::kPtLoad, text, 5, 0x1000);
    auto image = open(b.build());
    ASSERT_TRUE(image);
    EXPECT_EQ(run.err(), "");
    EXPECT_EQ(image->elfClass(), GetParam());
    EXPECT_EQ(image->type(), elf::kEtDyn);
    EXPECT_TRUE(image->isFileImage());
    EXPECT_EQ(image->sectionCount(), 3u);
    EXPECT_EQ(image->segmentCount(), 1u);
    EXPECT_EQ(image->headersSize(), wide() ? 64u + 56u : 52u + 32u);
    EXPECT_EQ(image->file().use_count(), 1);  // the image holds the only reference now
}

TEST_P(ElfHeader, ChecksRunInOrderAndTheFirstFailureIsReported) {
    ElfBuilder b(GetParam());
    // Every later field is wrong too: only the first check's message may appear.
    b.ident[0] = 'X';
    b.ident[4] = 9;
    b.machine = 3;
    b.type = elf::kEtRel;
    EXPECT_FALSE(open(b.build()));
    EXPECT_EQ(run.err(), "Error: 'lib/libfoo.so' isn't ELF file, magic header: XELF\n");

    b.ident[0] = 0x7F;
    EXPECT_FALSE(open(b.build()));
    std::string word = wide() ? "64bit" : "32bit";
    EXPECT_NE(run.err().find("Error: 'lib/libfoo.so' isn't " + word + " ELF file\n"), std::string::npos);

    b.ident[4] = static_cast<std::uint8_t>(GetParam());
    b.ident[5] = 2;
    EXPECT_FALSE(open(b.build()));
    EXPECT_NE(run.err().find("isn't little endian ELF file\n"), std::string::npos);

    b.ident[5] = 1;
    EXPECT_FALSE(open(b.build()));
    EXPECT_NE(run.err().find(std::string("isn't ") + (wide() ? "ARM64" : "ARM") + " ELF file\n"), std::string::npos);

    b.machine = wide() ? 183 : 40;
    EXPECT_FALSE(open(b.build()));
    EXPECT_NE(run.err().find("Error: Don't support REL format of ELF file(lib/libfoo.so)\n"), std::string::npos);

    b.type = 7;
    EXPECT_FALSE(open(b.build()));
    EXPECT_NE(run.err().find("Don't support ? format of ELF file(lib/libfoo.so)\n"), std::string::npos);

    b.type = elf::kEtCore;
    EXPECT_FALSE(open(b.build()));
    EXPECT_TRUE(open(b.build(), elf::kCoreTypes));
}

TEST_P(ElfHeader, TheOtherClassIsRejectedByName) {
    ElfBuilder b(otherClass());
    EXPECT_FALSE(open(b.build()));
    EXPECT_NE(run.err().find(std::string("isn't ") + (wide() ? "64bit" : "32bit")), std::string::npos);
}

TEST_P(ElfHeader, FilesTooShortForTheHeaderCannotBeMapped) {
    Bytes bytes = ElfBuilder(GetParam()).build();
    bytes.resize(wide() ? 63 : 51);
    EXPECT_FALSE(open(bytes));
    EXPECT_FALSE(open({}));
    EXPECT_EQ(run.err(), "Warning: lib/libfoo.so fail to map elf header\n"
                         "Warning: lib/libfoo.so fail to map elf header\n");
}

TEST_P(ElfHeader, SectionTableOutsideTheFileOrDamagedIsRejected) {
    ElfBuilder b(GetParam());
    b.addSection(".data", elf::kShtProgbits, Bytes(100, 1));
    Bytes good = b.build();

    b.shoff = good.size() - 8;  // table runs past the end
    EXPECT_FALSE(open(b.build()));
    EXPECT_EQ(run.err(), "Warning: lib/libfoo.so fail to map shdr table\n");
    b.shoff.reset();

    b.shstrndx = 3;  // e_shnum <= e_shstrndx
    EXPECT_FALSE(open(b.build()));
    EXPECT_NE(run.err().find("Error: File lib/libfoo.so damaged\n"), std::string::npos);
    b.shstrndx.reset();

    b.sizeOverrides[2] = good.size();  // the last section runs past the end of the file
    EXPECT_FALSE(open(b.build()));
    EXPECT_NE(run.err().find("Error: File lib/libfoo.so damaged\n"), std::string::npos);
}

TEST_P(ElfHeader, ALastSectionWithoutFileBytesIsNotDamage) {
    ElfBuilder b(GetParam());
    std::uint32_t data = b.addSection(".data", elf::kShtProgbits, Bytes(16, 1));
    b.addSection(".bss", elf::kShtNobits, {}, 3, 0, 0, 0, 0x100000);
    auto image = open(b.build());
    ASSERT_TRUE(image) << run.err();
    // An earlier section running past the end is found when it is mapped, not at open.
    b.sizeOverrides[data] = 1u << 30;
    image = open(b.build());
    ASSERT_TRUE(image);
    EXPECT_FALSE(image->mapSection(console(), elf::kShtProgbits, ".data"));
    EXPECT_EQ(run.err(), "Warning: lib/libfoo.so fail to map .data\n");
    EXPECT_FALSE(image->mapSection(console(), elf::kShtNobits, ".bss"));  // no bytes, no message
    EXPECT_EQ(run.err(), "Warning: lib/libfoo.so fail to map .data\n");
}

TEST_P(ElfHeader, SectionNameTableOutsideTheFileIsRejected) {
    ElfBuilder b(GetParam());
    b.addSection(".data", elf::kShtProgbits, Bytes(16, 1));
    b.sizeOverrides[1] = 1u << 20;
    EXPECT_FALSE(open(b.build()));
    EXPECT_EQ(run.err(), "Warning: lib/libfoo.so fail to map .shstrtab\n");
}

TEST_P(ElfHeader, ProgramHeaderTableChecks) {
    ElfBuilder b(GetParam());
    std::uint32_t data = b.addSection(".data", elf::kShtProgbits, Bytes(16, 1));
    b.addSegmentForSection(elf::kPtLoad, data);
    Bytes good = b.build();

    b.phoff = good.size() - 4;
    EXPECT_FALSE(open(b.build()));
    EXPECT_EQ(run.err(), "Warning: lib/libfoo.so fail to map phdr table\n");
    b.phoff.reset();

    coresift::ProgramHeader past;
    past.type = elf::kPtNote;
    past.offset = good.size();
    past.filesz = 1u << 20;  // the LAST program header runs past the end
    b.addSegment(past);
    EXPECT_FALSE(open(b.build()));
    EXPECT_NE(run.err().find("Error: File lib/libfoo.so damaged\n"), std::string::npos);

    past.offset = ~std::uint64_t{0} - 2;  // offset + size wraps around
    if (!wide()) past.offset = 0xFFFFFFF0u;
    b.addSegment(past);
    EXPECT_FALSE(open(b.build()));
}

TEST_P(ElfHeader, NoProgramHeadersMeansNoSegmentOfAnyType) {
    ElfBuilder b(GetParam());
    auto image = open(b.build());
    ASSERT_TRUE(image);
    EXPECT_EQ(image->segmentCount(), 0u);
    EXPECT_EQ(image->headersSize(), wide() ? 64u : 52u);
    for (std::uint32_t type : {elf::kPtLoad, elf::kPtNote, elf::kPtDynamic}) EXPECT_FALSE(image->findSegment(type));
}

TEST_P(ElfHeader, ExtendedProgramHeaderCountComesFromSectionZero) {
    // A core with PN_XNUM: the real count is in section 0's sh_info.
    ElfBuilder b(GetParam(), elf::kEtCore);
    for (int i = 0; i < 3; ++i) {
        coresift::ProgramHeader load;
        load.type = elf::kPtLoad;
        load.vaddr = 0x1000u * (i + 1);
        load.memsz = 0x1000;
        b.addSegment(load);
    }
    b.phnum = elf::kPnXnum;
    b.section0Info = 3;
    auto image = open(b.build(), elf::kCoreTypes);
    ASSERT_TRUE(image) << run.err();
    EXPECT_EQ(image->segmentCount(), 3u);
    EXPECT_EQ(image->headersSize(), wide() ? 64u + 3 * 56u : 52u + 3 * 32u);
    // Without a section table, 0xFFFF is the count itself: far more headers than the file holds.
    b.withSectionTable = false;
    EXPECT_FALSE(open(b.build(), elf::kCoreTypes));
    EXPECT_NE(run.err().find("fail to map phdr table"), std::string::npos);
}

TEST_P(ElfHeader, InMemoryImagesAreSilentAndTolerateAMissingSectionTable) {
    ElfBuilder b(GetParam(), elf::kEtRel);  // any type is accepted in memory
    std::uint32_t data = b.addSection(".data", elf::kShtProgbits, Bytes(16, 1));
    b.addSegmentForSection(elf::kPtLoad, data);
    Bytes bytes = b.build();
    auto image = ElfImage::openMemory(common::ByteView(bytes.data(), bytes.size()), "[jit-cache]", GetParam());
    ASSERT_TRUE(image);
    EXPECT_FALSE(image->isFileImage());
    EXPECT_EQ(image->name(), "[jit-cache]");
    EXPECT_EQ(image->sectionCount(), 3u);

    // Only the headers of a module, as they lie in a dump: the section table is not there.
    std::uint64_t headers = image->headersSize();
    auto front = ElfImage::openMemory(common::ByteView(bytes.data(), headers), "libfoo.so", GetParam());
    ASSERT_TRUE(front);
    EXPECT_EQ(front->sectionCount(), 0u);
    EXPECT_EQ(front->segmentCount(), 1u);

    // Rejected without a word: short header, bad magic, wrong class or machine, program
    // headers or section-name table outside the bytes.
    EXPECT_FALSE(ElfImage::openMemory(common::ByteView(bytes.data(), headers - 1), "x", GetParam()));
    Bytes bad = bytes;
    bad[1] = 'e';
    EXPECT_FALSE(ElfImage::openMemory(common::ByteView(bad.data(), bad.size()), "x", GetParam()));
    EXPECT_FALSE(ElfImage::openMemory(common::ByteView(bytes.data(), bytes.size()), "x", otherClass()));
    b.machine = 62;
    bad = b.build();
    EXPECT_FALSE(ElfImage::openMemory(common::ByteView(bad.data(), bad.size()), "x", GetParam()));
    b.machine = wide() ? 183 : 40;
    b.sizeOverrides[1] = 1u << 20;
    bad = b.build();
    EXPECT_FALSE(ElfImage::openMemory(common::ByteView(bad.data(), bad.size()), "x", GetParam()));
    EXPECT_EQ(run.err(), "");
    EXPECT_EQ(run.out(), "");
}

TEST_P(ElfHeader, MappedFilesAreSharedByTheirImages) {
    auto file = MappedFile::fromBuffer("libfoo.so", ElfBuilder(GetParam()).build());
    {
        auto a = ElfImage::open(console(), file, elf::kSymbolFileTypes, GetParam());
        auto b = ElfImage::open(console(), file, elf::kSymbolFileTypes, GetParam());
        ASSERT_TRUE(a && b);
        EXPECT_EQ(file.use_count(), 3);
    }
    EXPECT_EQ(file.use_count(), 1);
    EXPECT_FALSE(MappedFile::open("/nonexistent/libfoo.so"));
    EXPECT_EQ(run.out(), "");
}

TEST_P(ElfHeader, SymbolFilesOpenedFromDiskAreAnnouncedByBaseName) {
    testsupport::TempFolder folder;
    Bytes bytes = ElfBuilder(GetParam()).build();
    folder.write("system/lib/libfoo.so", std::string(bytes.begin(), bytes.end()));
    auto file = MappedFile::openAnnounced(console(), (folder.path() / "system/lib/libfoo.so").string());
    ASSERT_TRUE(file);
    EXPECT_EQ(file->size(), bytes.size());
    EXPECT_EQ(run.out(), "Loading libfoo.so ...\n");
    EXPECT_TRUE(ElfImage::open(console(), file, elf::kSymbolFileTypes, GetParam()));
    EXPECT_FALSE(MappedFile::openAnnounced(console(), (folder.path() / "missing.so").string()));  // silent
    EXPECT_EQ(run.out(), "Loading libfoo.so ...\n");
    EXPECT_EQ(run.err(), "");
}

FERROVANE_BOTH_ELF_CLASSES(ElfHeader);

}  // namespace
