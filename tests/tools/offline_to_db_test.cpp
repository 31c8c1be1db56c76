#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "tests/support/temp_folder.h"
#include "tools/corekit/core_reader.h"
#include "tools/corekit/elf_constants.h"
#include "tools/corekit/elf_file.h"
#include "tools/fixturekit/memory_layout.h"
#include "tools/fixturekit/offline_case.h"

namespace {

namespace fs = std::filesystem;
using namespace fixturekit;
namespace elf = corekit::elf;

const fs::path kCases = fs::path(FERROVANE_SHARED_DIR) / "fixtures/unwindstack-offline/cases";

struct Converted {
    OfflineCase input;
    OfflineDb db;
    corekit::CoreFile core;
};

// Converts a case of the shared fixtures; skips the test when they are absent.
#define CONVERT_OR_SKIP(var, name, options)                                                       \
    if (!fs::exists(kCases / (name))) GTEST_SKIP() << "no offline cases under " << kCases;        \
    Converted var;                                                                                \
    {                                                                                             \
        std::string error;                                                                        \
        ASSERT_TRUE(readOfflineCase((kCases / (name)).string(), var.input, error)) << error;      \
        ASSERT_TRUE(convertOfflineCase(var.input, options, var.db, error)) << error;              \
        auto parsed = corekit::CoreFile::parse(var.db.core.bytes(), &error);                      \
        ASSERT_TRUE(parsed) << error;                                                             \
        var.core = std::move(*parsed);                                                            \
    }

std::uint64_t reg(const OfflineCase& c, const std::string& name) {
    for (const auto& [n, v] : c.regs)
        if (n == name) return v;
    return 0;
}

const MemorySnapshot& snapshot(const OfflineCase& c, const std::string& file) {
    for (const auto& s : c.snapshots)
        if (s.file == file) return s;
    throw std::runtime_error("no snapshot " + file);
}

TEST(OfflineToDb, ArmThumbCaseKeepsRegistersStackAndThumbState) {
    CONVERT_OR_SKIP(c, "offset_arm", ConversionOptions{});
    EXPECT_EQ(c.core.arch(), corekit::CoreArch::Arm32);
    auto threads = c.core.threads();
    ASSERT_EQ(threads.size(), 1u);
    const auto& regs = threads[0].regs;
    for (int i = 0; i <= 10; ++i) EXPECT_EQ(regs[i], reg(c.input, "r" + std::to_string(i))) << i;
    EXPECT_EQ(regs[12], reg(c.input, "ip"));
    EXPECT_EQ(regs[13], reg(c.input, "sp"));
    EXPECT_EQ(regs[14], reg(c.input, "lr"));
    EXPECT_EQ(regs[15], 0x2e55fa0u);
    EXPECT_EQ(regs[16], 0x30u);  // user mode, Thumb: the pc lies in SignalInnerFunction, a Thumb function

    // The stack snapshot at sp, and zeros after it up to the page end.
    const auto& stack = snapshot(c.input, "stack0.data");
    auto atSp = c.core.read(stack.start, stack.bytes.size());
    ASSERT_TRUE(atSp);
    EXPECT_EQ(*atSp, stack.bytes);
    const std::uint64_t end = stack.start + stack.bytes.size();
    auto tail = c.core.read(end, pageUp(end) - end);
    if (pageUp(end) > end) {
        ASSERT_TRUE(tail);
        EXPECT_EQ(std::count(tail->begin(), tail->end(), 0), static_cast<long>(tail->size()));
    }
    EXPECT_FALSE(c.core.read(pageUp(end), 4));  // nothing invented past the snapshot's pages

    // Names: absolute device paths in NT_FILE, AT_BASE at a mapping with an ELF header.
    auto files = c.core.fileNote();
    ASSERT_TRUE(files);
    EXPECT_EQ(files->mappings.front().path, "/system/bin/libunwindstack_test");
    EXPECT_EQ(corekit::auxvValue(*c.core.auxv(), elf::AT_BASE), 0x2b2a000u);
    EXPECT_EQ(corekit::auxvValue(*c.core.auxv(), elf::AT_PAGESZ), 4096u);
    EXPECT_NE(c.db.processMaps.find("02b6c000-02e92000 r-xp 00042000"), std::string::npos);
    // Code stays out of the core, as device dumps often have it.
    EXPECT_FALSE(c.core.read(0x2e55fa0, 4));
}

// The library's writable segment as the device held it: .dynamic as in the file, the constructor
// table relocated by the load bias; or read-only without bytes when asked.
TEST(OfflineToDb, WritableSegmentsHoldTheRelocatedTablesOrNoBytes) {
    CONVERT_OR_SKIP(c, "offset_arm", ConversionOptions{});
    auto file = corekit::ElfFile::parse(c.input.files.at("libunwindstack_test"));
    ASSERT_TRUE(file);
    const std::uint64_t bias = 0x2b2a000;
    const corekit::ElfSection* init = nullptr;
    const corekit::ElfSection* dynamic = nullptr;
    for (const auto& s : file->sections()) {
        if (s.type == elf::SHT_INIT_ARRAY) init = &s;
        if (s.type == elf::SHT_DYNAMIC) dynamic = &s;
    }
    ASSERT_TRUE(init && dynamic);
    auto fileInit = file->sectionBytes(*init);
    auto coreInit = c.core.read(bias + init->addr, init->size);
    ASSERT_TRUE(fileInit && coreInit);
    int relocated = 0;
    for (std::uint64_t off = 0; off + 4 <= init->size; off += 4) {
        std::uint32_t f, d;
        std::memcpy(&f, fileInit->data() + off, 4);
        std::memcpy(&d, coreInit->data() + off, 4);
        if (f == 0 || f == 0xFFFFFFFFu) {
            EXPECT_EQ(d, f);
        } else {
            EXPECT_EQ(d, f + bias);
            ++relocated;
        }
    }
    EXPECT_GT(relocated, 0);
    auto fileDynamic = file->sectionBytes(*dynamic);
    auto coreDynamic = c.core.read(bias + dynamic->addr, dynamic->size);
    ASSERT_TRUE(coreDynamic);
    EXPECT_TRUE(std::equal(coreDynamic->begin(), coreDynamic->end(), fileDynamic->data()));

    ConversionOptions byteless;
    byteless.rwWithoutBytes = true;
    CONVERT_OR_SKIP(r, "offset_arm", byteless);
    const corekit::LoadSegment* seg = r.core.segmentAt(bias + dynamic->addr);
    ASSERT_TRUE(seg);
    EXPECT_EQ(seg->filesz, 0u);
    EXPECT_EQ(seg->flags, elf::PF_R);
}

TEST(OfflineToDb, Arm64CasesKeepSignedPointersVdsoBytesAndRoundedEnds) {
    CONVERT_OR_SKIP(pauth, "pauth_pc_arm64", ConversionOptions{});
    auto regs = pauth.core.threads().at(0).regs;
    EXPECT_EQ(regs[32], 0x20005c390884a8u);  // the pc as the thread had it, signature included
    EXPECT_EQ(regs[30], reg(pauth.input, "lr"));
    EXPECT_EQ(regs[33], 0x80001000u);
    const auto& stack = snapshot(pauth.input, "stack.data");
    EXPECT_EQ(*pauth.core.read(reg(pauth.input, "sp"), 64),
              std::vector<std::uint8_t>(stack.bytes.begin(), stack.bytes.begin() + 64));

    CONVERT_OR_SKIP(vdso, "load_bias_different_section_bias_arm64", ConversionOptions{});
    const auto& image = vdso.input.files.at("vdso");
    auto inCore = vdso.core.read(0x7112be2000, 64);
    ASSERT_TRUE(inCore);
    EXPECT_TRUE(std::equal(inCore->begin(), inCore->end(), image.begin()));
    EXPECT_EQ(corekit::auxvValue(*vdso.core.auxv(), elf::AT_BASE), 0x7112be4000u);  // linker64

    // "...-0000007fe0d84fff" is an inclusive end: the [stack] region runs to the page boundary.
    CONVERT_OR_SKIP(straddle, "straddle_arm64", ConversionOptions{});
    const corekit::LoadSegment* top = straddle.core.segmentAt(0x7fe0d84fff);
    ASSERT_TRUE(top);
    EXPECT_EQ(top->vaddr + top->memsz, 0x7fe0d85000u);
    EXPECT_EQ(top->filesz, top->memsz);
}

TEST(OfflineToDb, UnsupportedCasesAreRefusedWithTheirReason) {
    if (!fs::exists(kCases / "jit_map_arm")) GTEST_SKIP() << "no offline cases under " << kCases;
    OfflineCase in;
    OfflineDb db;
    std::string error;
    ASSERT_TRUE(readOfflineCase((kCases / "jit_map_arm").string(), in, error)) << error;
    EXPECT_FALSE(convertOfflineCase(in, {}, db, error));
    EXPECT_NE(error.find("JIT"), std::string::npos);
    ConversionOptions force;
    force.force = true;
    EXPECT_FALSE(convertOfflineCase(in, force, db, error));
    EXPECT_NE(error.find("lies in no mapping"), std::string::npos);
    EXPECT_FALSE(unsupportedReason("shared_lib_in_apk_memory_only_arm64").empty());
    EXPECT_TRUE(unsupportedReason("offset_arm").empty());
    EXPECT_NE(offlineConversionNotes().find("jit_map_arm"), std::string::npos);
}

TEST(OfflineToDb, WritesTheDbFolderAndRefusesBadInput) {
    testsupport::TempFolder folder;
    folder.write("x86/maps.txt", "1000-2000 r-xp 0 00:00 0 libc.so\n");
    folder.write("x86/regs.txt", "eax: 1 esp: 1000 eip: 1000\n");
    folder.write("bad/maps.txt", "1000-2000 r-xp 0 00:00 0 prog\n");
    folder.write("bad/regs.txt", "pc 1000\n");
    folder.write("small/maps.txt", "1000-2000 r-xp 0 00:00 0 prog\n");
    folder.write("small/regs.txt", "pc: 1800 sp: 3000 x29: 0\n");
    folder.write("small/stack.data", std::string("\x00\x30\x00", 3));
    OfflineCase in;
    std::string error;
    EXPECT_FALSE(readOfflineCase(folder.str() + "/x86", in, error));
    EXPECT_NE(error.find("ARM"), std::string::npos);
    EXPECT_FALSE(readOfflineCase(folder.str() + "/bad", in, error));
    EXPECT_FALSE(readOfflineCase(folder.str() + "/small", in, error));
    EXPECT_NE(error.find("8-byte start address"), std::string::npos);
    EXPECT_FALSE(readOfflineCase(folder.str() + "/missing", in, error));

    // A minimal AArch64 case: one code mapping without a file, a stack snapshot.
    std::string stack(8 + 16, '\x5A');
    const std::uint64_t start = 0x3000;
    std::memcpy(stack.data(), &start, 8);
    folder.write("tiny/maps.txt", "1000-2000 r-xp 0 00:00 0 prog\n");
    folder.write("tiny/regs.txt", "pc: 1800 sp: 3000 x29: 0\n");
    folder.write("tiny/stack.data", stack);
    ASSERT_TRUE(readOfflineCase(folder.str() + "/tiny", in, error)) << error;
    OfflineDb db;
    ASSERT_TRUE(convertOfflineCase(in, {}, db, error)) << error;
    ASSERT_TRUE(writeOfflineDb(db, folder.str() + "/out", error)) << error;
    auto core = corekit::CoreFile::load(folder.str() + "/out/PROCESS_COREDUMP");
    ASSERT_TRUE(core);
    EXPECT_EQ(core->read(0x3000, 1)->at(0), 0x5A);
    EXPECT_EQ(core->read(0x3010, 1)->at(0), 0);
    EXPECT_EQ(corekit::auxvValue(*core->auxv(), elf::AT_BASE), 0x1000u);  // the only file mapping
    EXPECT_NE(testsupport::readFile(folder.path() / "out/PROCESS_MAPS").find("/system/bin/prog"), std::string::npos);
    EXPECT_NE(testsupport::readFile(folder.path() / "out/PROCESS_MAPS").find("[stack]"), std::string::npos);
}

TEST(MemoryLayout, KeepsKnownPagesAndSplitsFileRegionsWhereKnowledgeEnds) {
    MemoryLayout m;
    ASSERT_TRUE(m.add(Region{0x10000, 0x14000, elf::PF_R | elf::PF_X, "/system/lib/libx.so", true, 0, false, {}}));
    ASSERT_TRUE(m.add(Region{0x20000, 0x22000, elf::PF_R | elf::PF_W, "", false, 0, false, {}}));
    EXPECT_FALSE(m.add(Region{0x13000, 0x15000, elf::PF_R, "", false, 0, false, {}}));  // overlaps
    auto runs = m.uncovered(0xF800, 0x21000);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0], std::make_pair(std::uint64_t{0xF000}, std::uint64_t{0x10000}));
    EXPECT_EQ(runs[1], std::make_pair(std::uint64_t{0x14000}, std::uint64_t{0x20000}));

    const std::uint8_t bytes[4] = {1, 2, 3, 4};
    EXPECT_EQ(m.write(0x11FFE, common::ByteView(bytes, 4)), 0u);         // across two pages
    EXPECT_EQ(m.write(0x20FFF, common::ByteView(bytes, 4)), 0u);
    EXPECT_EQ(m.write(0x30000, common::ByteView(bytes, 4)), 4u);         // outside every region
    auto segments = m.segments();
    // The file region splits into unknown / known (two pages) / unknown; the anonymous writable
    // one is given whole.
    ASSERT_EQ(segments.size(), 4u);
    EXPECT_FALSE(segments[0].hasBytes);
    EXPECT_EQ(segments[1].vaddr, 0x11000u);
    EXPECT_EQ(segments[1].memsz, 0x2000u);
    EXPECT_EQ(segments[1].bytes[0xFFE], 1);
    EXPECT_EQ(segments[1].bytes[0x1001], 4);
    EXPECT_FALSE(segments[2].hasBytes);
    EXPECT_EQ(segments[3].memsz, 0x2000u);
    EXPECT_EQ(segments[3].bytes[0xFFF], 1);
    EXPECT_EQ(segments[3].bytes[0], 0);
}

}  // namespace
