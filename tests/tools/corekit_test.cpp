#include <gtest/gtest.h>

#include <cstring>

#include "tools/corekit/core_builder.h"
#include "tools/corekit/core_reader.h"
#include "tools/corekit/elf_constants.h"
#include "tools/corekit/elf_file.h"

namespace {

using namespace corekit;

std::uint32_t u32At(const std::vector<std::uint8_t>& b, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}
std::uint64_t u64At(const std::vector<std::uint8_t>& b, std::size_t at) {
    std::uint64_t v;
    std::memcpy(&v, b.data() + at, 8);
    return v;
}

CoreBuilder sampleCore(CoreArch arch) {
    CoreBuilder core(arch);
    std::vector<std::uint8_t> stack(0x2000, 0);
    for (std::size_t i = 0; i < stack.size(); ++i) stack[i] = static_cast<std::uint8_t>(i * 7);
    core.addSegment(0x10000, 0x3000, elf::PF_R | elf::PF_X);
    core.addSegment(0x7000000, std::move(stack), elf::PF_R | elf::PF_W);
    PrStatus thread;
    thread.cursig = 11;
    thread.pid = 4321;
    thread.ppid = 77;
    thread.regs.resize(registerCount(arch));
    for (std::size_t i = 0; i < thread.regs.size(); ++i) thread.regs[i] = 0x1000 + i;
    core.addPrStatus(thread);
    PrPsInfo process;
    process.pid = 4321;
    process.ppid = 77;
    process.nice = -4;
    process.fname = "a-rather-long-program-name";
    process.psargs = "/system/bin/prog --flag";
    core.addPrPsInfo(process);
    core.addSigInfo(SigInfo{11, 0, 1, 0xDEAD0, std::nullopt});
    core.addAuxv({{elf::AT_PAGESZ, 4096}, {elf::AT_BASE, 0xB0001000}, {elf::AT_EXECFN, 0x7000010}});
    FileNote files;
    files.mappings.push_back({0x10000, 0x13000, 2, "/system/bin/prog"});
    files.mappings.push_back({0x20000, 0x21000, 0, "/dev/ashmem/x"});
    core.addFileNote(files);
    core.addArmTls(0x7F00AA00);
    core.addNote(0x402, "LINUX", {1, 2, 3});  // any other type, odd size
    return core;
}

// The layouts a kernel writes, checked byte by byte against the offsets the analyzer reads.
TEST(CoreKitNotes, PrStatusPsInfoAndSigInfoUseTheKernelLayouts) {
    PrStatus s;
    s.cursig = 6;
    s.pid = 0x1111;
    s.ppid = 0x2222;
    s.regs = std::vector<std::uint64_t>(34, 0);
    s.regs[15] = 0xABCD;  // ARM pc
    s.regs[16] = 0x30;    // ARM cpsr
    s.regs[32] = 0x5500; // AArch64 pc
    s.regs[33] = 0x80000000;
    auto arm = encodePrStatus(CoreArch::Arm32, s);
    ASSERT_EQ(arm.size(), 148u);
    EXPECT_EQ(arm[12], 6);
    EXPECT_EQ(u32At(arm, 24), 0x1111u);
    EXPECT_EQ(u32At(arm, 28), 0x2222u);
    EXPECT_EQ(u32At(arm, 72 + 15 * 4), 0xABCDu);
    EXPECT_EQ(u32At(arm, 136), 0x30u);
    auto a64 = encodePrStatus(CoreArch::Arm64, s);
    ASSERT_EQ(a64.size(), 392u);
    EXPECT_EQ(u32At(a64, 32), 0x1111u);
    EXPECT_EQ(u32At(a64, 36), 0x2222u);
    EXPECT_EQ(u64At(a64, 112 + 32 * 8), 0x5500u);
    EXPECT_EQ(u64At(a64, 376), 0x80000000u);

    PrPsInfo p;
    p.pid = 99;
    p.ppid = 98;
    p.psargs = std::string(100, 'x');  // longer than the field: cut to 79 and a NUL
    auto narrow = encodePrPsInfo(CoreArch::Arm32, p);
    auto wide = encodePrPsInfo(CoreArch::Arm32, p, PsInfoLayout::WideIds);
    auto p64 = encodePrPsInfo(CoreArch::Arm64, p);
    ASSERT_EQ(narrow.size(), 124u);
    ASSERT_EQ(wide.size(), 128u);
    ASSERT_EQ(p64.size(), 136u);
    EXPECT_EQ(u32At(narrow, 12), 99u);
    EXPECT_EQ(u32At(wide, 16), 99u);
    EXPECT_EQ(u32At(p64, 24), 99u);
    EXPECT_EQ(u32At(p64, 28), 98u);
    EXPECT_EQ(p64[56 + 79], 0);
    EXPECT_EQ(decodePrPsInfo(CoreArch::Arm32, common::ByteView(wide.data(), wide.size()))->pid, 99u);
    EXPECT_EQ(decodePrPsInfo(CoreArch::Arm64, common::ByteView(p64.data(), p64.size()))->psargs.size(), 79u);

    auto fault32 = encodeSigInfo(CoreArch::Arm32, SigInfo{11, 0, 2, 0x1234, std::nullopt});
    auto fault64 = encodeSigInfo(CoreArch::Arm64, SigInfo{11, 0, 2, 0x123456789, std::nullopt});
    ASSERT_EQ(fault32.size(), 128u);
    EXPECT_EQ(u32At(fault32, 8), 2u);
    EXPECT_EQ(u32At(fault32, 12), 0x1234u);
    EXPECT_EQ(u64At(fault64, 16), 0x123456789u);
    auto kill = encodeSigInfo(CoreArch::Arm64, SigInfo{6, 0, -6, 0, std::make_pair(500u, 10u)});
    auto decoded = decodeSigInfo(CoreArch::Arm64, common::ByteView(kill.data(), kill.size()));
    ASSERT_TRUE(decoded && decoded->sender);
    EXPECT_EQ(decoded->sender->first, 500u);
    EXPECT_EQ(decoded->sender->second, 10u);
}

TEST(CoreKitNotes, DecodersRefuseWrongSizesAndCounts) {
    std::vector<std::uint8_t> short64(391, 0);
    EXPECT_FALSE(decodePrStatus(CoreArch::Arm64, common::ByteView(short64.data(), short64.size())));
    EXPECT_FALSE(decodePrPsInfo(CoreArch::Arm64, common::ByteView(short64.data(), 124)));
    // An NT_FILE whose count promises more entries than the descriptor holds.
    FileNote note;
    note.mappings.push_back({1, 2, 0, "/a"});
    auto bytes = encodeFileNote(CoreArch::Arm32, note);
    bytes[0] = 0xFF;
    bytes[3] = 0x7F;
    EXPECT_FALSE(decodeFileNote(CoreArch::Arm32, common::ByteView(bytes.data(), bytes.size())));
    // A path without its NUL.
    auto cut = encodeFileNote(CoreArch::Arm32, note);
    cut.pop_back();
    EXPECT_FALSE(decodeFileNote(CoreArch::Arm32, common::ByteView(cut.data(), cut.size())));
    std::vector<std::uint8_t> oddAuxv(12, 0);
    EXPECT_FALSE(decodeAuxv(CoreArch::Arm32, common::ByteView(oddAuxv.data(), oddAuxv.size())));
}

class CoreKitRoundTrip : public testing::TestWithParam<CoreArch> {};

TEST_P(CoreKitRoundTrip, WrittenCoresReadBackWithEveryNoteAndSegment) {
    const CoreArch arch = GetParam();
    auto core = CoreFile::parse(sampleCore(arch).bytes());
    ASSERT_TRUE(core);
    EXPECT_EQ(core->arch(), arch);
    ASSERT_EQ(core->segments().size(), 2u);
    EXPECT_EQ(core->segments()[0].filesz, 0u);
    EXPECT_EQ(core->segments()[0].memsz, 0x3000u);
    EXPECT_EQ(core->segments()[1].filesz, 0x2000u);
    EXPECT_EQ(core->segments()[1].offset % 4096, 0u);
    EXPECT_EQ(core->segments()[1].flags, elf::PF_R | elf::PF_W);

    ASSERT_EQ(core->notes().size(), 7u);
    EXPECT_EQ(core->notes()[5].name, "LINUX");
    EXPECT_EQ(core->notes()[6].desc, (std::vector<std::uint8_t>{1, 2, 3}));
    auto threads = core->threads();
    ASSERT_EQ(threads.size(), 1u);
    EXPECT_EQ(threads[0].pid, 4321u);
    EXPECT_EQ(threads[0].cursig, 11);
    EXPECT_EQ(threads[0].regs.back(), 0x1000u + registerCount(arch) - 1);
    auto process = core->processInfo();
    ASSERT_TRUE(process);
    EXPECT_EQ(process->fname, "a-rather-long-p");  // 16-byte field
    EXPECT_EQ(process->psargs, "/system/bin/prog --flag");
    EXPECT_EQ(process->nice, -4);
    EXPECT_EQ(auxvValue(*core->auxv(), elf::AT_BASE), 0xB0001000u);
    auto files = core->fileNote();
    ASSERT_TRUE(files);
    ASSERT_EQ(files->mappings.size(), 2u);
    EXPECT_EQ(files->mappings[1].path, "/dev/ashmem/x");
    EXPECT_EQ(files->mappings[0].pageOffset, 2u);
    EXPECT_EQ(core->sigInfo()->addr, 0xDEAD0u);
    EXPECT_EQ(decodeArmTls(arch, common::ByteView(core->findNote(elf::NT_ARM_TLS)->desc.data(), wordSize(arch))),
              0x7F00AA00u);

    // Memory: inside the dumped segment, never across its end or from the byte-less one.
    auto bytes = core->read(0x7000010, 4);
    ASSERT_TRUE(bytes);
    EXPECT_EQ((*bytes)[0], static_cast<std::uint8_t>(0x10 * 7));
    EXPECT_FALSE(core->read(0x7001FFE, 4));
    EXPECT_FALSE(core->read(0x10000, 1));
    EXPECT_FALSE(core->read(0x7000000, ~std::uint64_t{0}));

    // Rewriting a read core gives the same file.
    EXPECT_EQ(core->toBuilder().bytes(), sampleCore(arch).bytes());
}

INSTANTIATE_TEST_SUITE_P(BothWidths, CoreKitRoundTrip, testing::Values(CoreArch::Arm32, CoreArch::Arm64),
                         [](const testing::TestParamInfo<CoreArch>& param) {
                             return std::string(param.param == CoreArch::Arm64 ? "Arm64" : "Arm32");
                         });

TEST(CoreKitReader, RefusesCoresThatDoNotHoldTogether) {
    std::string error;
    auto good = sampleCore(CoreArch::Arm64).bytes();
    EXPECT_FALSE(CoreFile::parse({0x7F, 'E', 'L'}, &error));
    EXPECT_FALSE(CoreFile::parse(sampleCore(CoreArch::Arm64).setMachine(elf::EM_ARM).bytes(), &error));
    EXPECT_FALSE(CoreFile::parse(sampleCore(CoreArch::Arm32).setFileType(elf::ET_EXEC).bytes(), &error));
    EXPECT_NE(error.find("not an ELF core"), std::string::npos);
    // A load segment claiming bytes past the end of the file.
    auto beyond = sampleCore(CoreArch::Arm32)
                      .addRawProgramHeader({elf::PT_LOAD, elf::PF_R, 0x100000, 0x9000, 0x1000, 0x1000, 4096})
                      .bytes();
    EXPECT_FALSE(CoreFile::parse(beyond, &error));
    EXPECT_NE(error.find("past the end"), std::string::npos);
    // More file bytes than memory bytes.
    auto inverted = sampleCore(CoreArch::Arm32).addRawProgramHeader({elf::PT_LOAD, elf::PF_R, 0, 0x9000, 16, 8, 4}).bytes();
    EXPECT_FALSE(CoreFile::parse(inverted, &error));
    // A note whose descriptor size runs past its segment.
    auto notes = good;
    const std::uint64_t noteOffset = 64 + 56 * 3;  // ELF header, three program headers
    notes[noteOffset + 4] = 0xFF;
    notes[noteOffset + 5] = 0xFF;
    EXPECT_FALSE(CoreFile::parse(notes, &error));
    EXPECT_NE(error.find("runs past"), std::string::npos);
    // Every cut of a valid core either parses or fails cleanly (the sanitizer build watches reads).
    for (std::size_t size = 0; size < good.size(); size += 97) {
        std::vector<std::uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size));
        auto parsed = CoreFile::parse(cut);
        if (parsed) {
            for (const auto& s : parsed->segments()) EXPECT_LE(s.offset + s.filesz, size);
        }
    }
}

TEST(CoreKitBuilder, MalformedCoresForNegativeTests) {
    auto noNotes = CoreFile::parse(sampleCore(CoreArch::Arm64).omitNoteSegment().bytes());
    ASSERT_TRUE(noNotes);
    EXPECT_TRUE(noNotes->notes().empty());
    EXPECT_EQ(noNotes->segments().size(), 2u);
    auto small = sampleCore(CoreArch::Arm32).setFileAlignment(4).bytes();
    EXPECT_LT(small.size(), 0x2000u + 0x1000u);
    auto parsed = CoreFile::parse(small);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->read(0x7000000, 1)->at(0), 0);
    auto classless = sampleCore(CoreArch::Arm64).setClass(1).bytes();
    EXPECT_EQ(classless[4], 1);
    EXPECT_FALSE(CoreFile::parse(classless));
}

TEST(CoreKitElfFile, ReadsHeadersSectionsAndSymbolsAndRefusesCutFiles) {
    // A core is an ELF file too: headers and program headers, no sections.
    auto core = sampleCore(CoreArch::Arm32).bytes();
    auto file = ElfFile::parse(core);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->type(), elf::ET_CORE);
    EXPECT_FALSE(file->is64());
    EXPECT_EQ(file->programHeaders().size(), 3u);
    EXPECT_TRUE(file->sections().empty());
    EXPECT_TRUE(file->symbols().empty());
    ASSERT_TRUE(file->loadSegmentAtOffset(file->programHeaders()[2].offset));
    std::vector<std::uint8_t> cut(core.begin(), core.begin() + 60);
    EXPECT_FALSE(ElfFile::parse(cut));
    EXPECT_FALSE(ElfFile::parse({1, 2, 3}));
}

}  // namespace
