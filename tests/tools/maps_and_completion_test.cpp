#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/temp_folder.h"
#include "tools/corekit/core_reader.h"
#include "tools/corekit/elf_constants.h"
#include "tools/fixturekit/core_completion.h"
#include "tools/fixturekit/decompress.h"
#include "tools/fixturekit/maps_text.h"

namespace {

using namespace fixturekit;
namespace elf = corekit::elf;

TEST(MapsText, ParsesKernelLinesAndTheLooseFormsOfSnapshots) {
    auto kernel = parseMapsLine("5500000000-5500004000 r-xp 00000000 fe:00 10995995          /system/bin/crash fix");
    ASSERT_TRUE(kernel);
    EXPECT_EQ(kernel->start, 0x5500000000u);
    EXPECT_EQ(kernel->end, 0x5500004000u);
    EXPECT_EQ(kernel->inode, 10995995u);
    EXPECT_EQ(kernel->path, "/system/bin/crash fix");  // blanks inside a path stay
    EXPECT_EQ(kernel->elfFlags(), elf::PF_R | elf::PF_X);

    auto loose = parseMapsLine("c7ee8000-c8c52fff r-xp  12e4000    00:00 0  invalid.apk");
    ASSERT_TRUE(loose);
    EXPECT_EQ(loose->end, 0xc8c52fffu);  // as written; the converter rounds it up
    EXPECT_EQ(loose->offset, 0x12e4000u);
    EXPECT_EQ(loose->path, "invalid.apk");
    auto nameless = parseMapsLine("5d47893000-5d47894000 ---p 0 00:00 0");
    ASSERT_TRUE(nameless);
    EXPECT_TRUE(nameless->path.empty());
    EXPECT_EQ(nameless->elfFlags(), 0u);

    for (const char* bad : {"", "garbage", "1000-0500 r-xp 0 00:00 0 x", "1000-2000 rwx 0 00:00 0", "10000000000000000-1 r--p 0"})
        EXPECT_FALSE(parseMapsLine(bad)) << bad;
    std::size_t skipped = 0;
    EXPECT_EQ(parseMaps("1000-2000 r--p 0 00:00 0 a\nnonsense\n\n3000-4000 rw-p 0 00:00 0\n", &skipped).size(), 2u);
    EXPECT_EQ(skipped, 1u);

    MapsEntry e{0x1000, 0x2000, "rw-p", 0x3000, "fd:00", 42, "/system/lib/libc.so"};
    const std::string line = formatMapsLine(e, false);
    EXPECT_EQ(line.rfind("00001000-00002000 rw-p 00003000 fd:00 42", 0), 0u);
    EXPECT_EQ(line.find("/system/lib/libc.so"), 50u);
    EXPECT_EQ(parseMapsLine(line)->path, e.path);
}

TEST(Decompress, RefusesTruncatedAndForeignStreams) {
    // "hello\n" compressed by gzip -n.
    const std::vector<std::uint8_t> gz = {0x1f, 0x8b, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x03, 0xcb, 0x48, 0xcd,
                                          0xc9, 0xc9, 0xe7, 0x02, 0x00, 0x20, 0x30, 0x3a, 0x36, 0x06, 0x00, 0x00, 0x00};
    auto text = gunzip(common::ByteView(gz.data(), gz.size()));
    ASSERT_TRUE(text);
    EXPECT_EQ(std::string(text->begin(), text->end()), "hello\n");
    EXPECT_FALSE(gunzip(common::ByteView(gz.data(), gz.size() - 9)));
    EXPECT_FALSE(gunzip(common::ByteView(gz.data(), gz.size()), 3));  // over the cap
    EXPECT_FALSE(unxz(common::ByteView(gz.data(), gz.size())));
}

// A small qemu-style core: the program's code without bytes, its read-only data dumped, a C
// library page without bytes, and a stack holding the run path that AT_EXECFN points to.
struct QemuStyleCore {
    static constexpr std::uint64_t kStack = 0x7000000;
    std::string root;
    corekit::CoreFile core;
    std::vector<MapsEntry> maps;
};

QemuStyleCore makeCore(const std::string& root) {
    corekit::CoreBuilder b(corekit::CoreArch::Arm64);
    const std::string execPath = root + "/system/bin/prog";
    b.addSegment(0x400000, 0x2000, elf::PF_R | elf::PF_X);
    b.addSegment(0x402000, std::vector<std::uint8_t>(0x1000, 0xEE), elf::PF_R);
    b.addSegment(0x500000, 0x1000, elf::PF_R | elf::PF_X);
    std::vector<std::uint8_t> stack(0x1000, 0);
    std::copy(execPath.begin(), execPath.end(), stack.begin() + 0x100);
    b.addSegment(QemuStyleCore::kStack, std::move(stack), elf::PF_R | elf::PF_W);
    corekit::PrStatus first;
    first.pid = 11;
    first.cursig = 11;
    first.regs.assign(34, 0);
    corekit::PrStatus second = first;
    second.pid = 12;
    second.cursig = 0;
    corekit::PrPsInfo info;
    info.pid = 11;
    info.fname = "prog";
    info.psargs = execPath + " null-write .";
    b.addPrStatus(first).addPrPsInfo(info).addAuxv({{elf::AT_PAGESZ, 4096}, {elf::AT_EXECFN, QemuStyleCore::kStack + 0x100}});
    b.addPrStatus(second);
    QemuStyleCore q{root, *corekit::CoreFile::parse(b.bytes()), {}};
    q.maps = parseMaps("400000-402000 r-xp 00000000 fe:00 7 " + execPath + "\n" +
                       "402000-403000 r--p 00002000 fe:00 7 " + execPath + "\n" +
                       "500000-501000 r-xp 00000000 fe:00 9 /usr/aarch64-linux-gnu/lib/libc.so.6\n" +
                       "7000000-7001000 rw-p 00000000 00:00 0 [stack]\n");
    return q;
}

TEST(CoreCompletion, FillsTheFixturesCodeAddsFileAndSignalNotesAndDevicePaths) {
    testsupport::TempFolder folder;
    const std::string root = folder.str() + "/root";
    // The program file is shorter than its code mapping: the rest of the page reads as zeros.
    std::string program(0x1800, '\0');
    for (std::size_t i = 0; i < program.size(); ++i) program[i] = static_cast<char>(i % 251);
    folder.write("root/system/bin/prog", program);
    QemuStyleCore q = makeCore(root);

    CompletionInput input;
    input.core = q.core;
    input.maps = q.maps;
    input.runRoot = root;
    input.prefixMap = {{"/usr/aarch64-linux-gnu", ""}};
    input.sigInfo = corekit::encodeSigInfo(corekit::CoreArch::Arm64, {11, 0, 1, 0, std::nullopt});
    CompletionResult result;
    std::string error;
    ASSERT_TRUE(completeCore(input, result, error)) << error;
    auto done = corekit::CoreFile::parse(result.core.bytes());
    ASSERT_TRUE(done);

    // Code pages of the program, from its file; the C library's stay without bytes; the dumped
    // read-only page keeps what qemu wrote.
    auto code = done->read(0x400000, 0x2000);
    ASSERT_TRUE(code);
    EXPECT_EQ((*code)[0x17FF], static_cast<std::uint8_t>(0x17FF % 251));
    EXPECT_EQ((*code)[0x1800], 0);
    EXPECT_FALSE(done->read(0x500000, 4));
    EXPECT_EQ(done->read(0x402000, 1)->at(0), 0xEE);

    // Notes in kernel order, paths as on the device.
    std::vector<std::uint32_t> types;
    for (const auto& n : done->notes()) types.push_back(n.type);
    EXPECT_EQ(types, (std::vector<std::uint32_t>{elf::NT_PRSTATUS, elf::NT_PRPSINFO, elf::NT_SIGINFO, elf::NT_AUXV,
                                                  elf::NT_FILE, elf::NT_PRSTATUS}));
    auto files = done->fileNote();
    ASSERT_TRUE(files);
    ASSERT_EQ(files->mappings.size(), 3u);  // [stack] has no inode
    EXPECT_EQ(files->mappings[0].path, "/system/bin/prog");
    EXPECT_EQ(files->mappings[1].pageOffset, 2u);
    EXPECT_EQ(files->mappings[2].path, "/lib/libc.so.6");
    EXPECT_EQ(done->processInfo()->psargs, "/system/bin/prog null-write .");
    EXPECT_EQ(done->readString(*corekit::auxvValue(*done->auxv(), elf::AT_EXECFN)), "/system/bin/prog");
    EXPECT_EQ(done->sigInfo()->signo, 11);
    ASSERT_EQ(result.deviceMaps.size(), 4u);
    EXPECT_EQ(result.deviceMaps[0].path, "/system/bin/prog");
    EXPECT_EQ(result.deviceMaps[3].path, "[stack]");
}

TEST(CoreCompletion, RefusesWhatItCannotCompleteFaithfully) {
    testsupport::TempFolder folder;
    const std::string root = folder.str() + "/root";
    QemuStyleCore q = makeCore(root);
    CompletionInput input;
    input.core = q.core;
    input.maps = q.maps;
    input.runRoot = root;
    CompletionResult result;
    std::string error;
    // The program's file is missing.
    EXPECT_FALSE(completeCore(input, result, error));
    EXPECT_NE(error.find("cannot read"), std::string::npos);

    folder.write("root/system/bin/prog", "x");
    input.sigInfo.assign(100, 0);  // not a siginfo
    error.clear();
    EXPECT_FALSE(completeCore(input, result, error));
    EXPECT_NE(error.find("not 128"), std::string::npos);

    // A code segment that the program's mapping covers only in part is left as it was.
    input.sigInfo.clear();
    input.maps[0].end = 0x401000;
    error.clear();
    ASSERT_TRUE(completeCore(input, result, error)) << error;
    auto done = corekit::CoreFile::parse(result.core.bytes());
    EXPECT_FALSE(done->read(0x400000, 1));
    EXPECT_FALSE(done->sigInfo());
}

TEST(CoreCompletion, DevicePathsStripTheRunRootAndMapOtherPrefixes) {
    const std::vector<std::pair<std::string, std::string>> prefixes = {{"/usr/arm-linux-gnueabihf", ""}};
    EXPECT_EQ(devicePath("/w/root/system/lib/libx.so", "/w/root", prefixes), "/system/lib/libx.so");
    EXPECT_EQ(devicePath("/w/rootless/a", "/w/root", prefixes), "/w/rootless/a");
    EXPECT_EQ(devicePath("/usr/arm-linux-gnueabihf/lib/libc.so.6", "/w/root", prefixes), "/lib/libc.so.6");
    EXPECT_EQ(devicePath("[stack]", "/w/root", prefixes), "[stack]");
}

}  // namespace
