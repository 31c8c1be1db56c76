// Damaged coredumps: cut at random lengths, with random bytes changed in the headers and notes.
// Loading must end with a result and its messages, never with a crash, a hang or a read outside
// the file (the sanitizer build runs these too).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "analyzer/driver/run_context.h"
#include "analyzer/process/address_space.h"
#include "analyzer/process/core_dump.h"
#include "analyzer/process/core_loader.h"
#include "analyzer/symbols/elf_image.h"
#include "tests/support/temp_folder.h"
#include "tools/corekit/core_builder.h"
#include "tools/corekit/elf_constants.h"

namespace {

namespace fs = std::filesystem;
namespace ck = corekit::elf;
constexpr auto kArch = kIs64 ? corekit::CoreArch::Arm64 : corekit::CoreArch::Arm32;

std::vector<std::uint8_t> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A small but complete core: three segments, two threads and every note type the loader reads.
std::vector<std::uint8_t> builtCore() {
    corekit::CoreBuilder core(kArch);
    core.addSegment(0x10000, 0x2000, ck::PF_R | ck::PF_X);
    std::vector<std::uint8_t> stack(0x2000, 0);
    std::string path = "/system/bin/app";
    std::copy(path.begin(), path.end(), stack.begin() + 0x1f00);
    core.addSegment(0x20000, stack, ck::PF_R | ck::PF_W);
    core.addSegment(0x30000, std::vector<std::uint8_t>(0x1000, 7), ck::PF_R);
    for (std::uint32_t tid : {40u, 41u}) {
        corekit::PrStatus s;
        s.pid = tid;
        s.regs.assign(corekit::registerCount(kArch), 0x20100);
        core.addPrStatus(s);
        core.addArmTls(0x1234);
    }
    corekit::PrPsInfo info;
    info.pid = 40;
    info.psargs = "app";
    core.addPrPsInfo(info);
    core.addAuxv({{ck::AT_PAGESZ, 4096}, {ck::AT_RANDOM, 0x20010}, {ck::AT_EXECFN, 0x21f00}, {ck::AT_BASE, 0x10000}});
    corekit::FileNote files;
    files.mappings = {{0x10000, 0x12000, 0, "/system/bin/app"}, {0x30000, 0x31000, 0, "/dev/x"}};
    core.addFileNote(files);
    corekit::SigInfo signal;
    signal.signo = 11;
    core.addSigInfo(signal);
    return core.bytes();
}

// Loads `bytes` as the dump; when it loads, reads through every region as later steps would.
bool loadAndUse(const std::vector<std::uint8_t>& bytes, std::FILE* sink) {
    bool loaded = false;
    {
        coresift::RunContext context(sink, sink);
        auto file = coresift::MappedFile::fromBuffer("PROCESS_COREDUMP", bytes);
        loaded = coresift::loadCoreFile(context, file);
        if (loaded) {
            coresift::AddressSpace& space = *context.addressSpace;
            space.forEachRegion(0, ~TargetWord{0}, [&](coresift::MapEntry& region) {
                std::uint8_t buffer[16];
                space.readMemory(region.start, buffer, sizeof buffer);
                space.readMemory(region.end - 8, buffer, 8);
                space.readString(region.end - 4);
                if (region.size() <= (64u << 20)) space.regionView(region);  // not huge reservations
                return 0;
            });
            context.core->threads.forEach([&](coresift::ThreadRecord& thread) {
                space.readString(thread.registers.sp());
                return 0;
            });
            coresift::teardownProcess(context);
        }
        EXPECT_EQ(context.console.formatMismatches(), 0u);
    }
    std::rewind(sink);
    return loaded;
}

// Where the analyzer's messages go while the variants load.
class MessageSink {
public:
    MessageSink() : file_(std::fopen((folder_.path() / "messages.txt").string().c_str(), "w+")) {}
    ~MessageSink() {
        if (file_) std::fclose(file_);
    }
    std::FILE* get() const { return file_; }

private:
    testsupport::TempFolder folder_;
    std::FILE* file_;
};

// Variants of one core: cuts at random lengths and random byte changes in its first `headerSpan`
// bytes (the ELF and program headers and the notes).
void tryVariants(const std::vector<std::uint8_t>& original, std::size_t headerSpan, unsigned count, unsigned seed) {
    MessageSink sink;
    ASSERT_NE(sink.get(), nullptr);
    std::mt19937 random(seed);
    for (unsigned i = 0; i < count; ++i) {
        std::vector<std::uint8_t> variant = original;
        if (i % 3 == 0) {
            variant.resize(std::uniform_int_distribution<std::size_t>(0, original.size() - 1)(random));
        } else {
            unsigned changes = 1 + i % 8;
            std::uniform_int_distribution<std::size_t> where(0, std::min(headerSpan, original.size()) - 1);
            for (unsigned c = 0; c < changes; ++c) variant[where(random)] = static_cast<std::uint8_t>(random());
        }
        SCOPED_TRACE("variant " + std::to_string(i));
        loadAndUse(variant, sink.get());
        if (::testing::Test::HasFatalFailure()) return;
    }
}

TEST(DamagedCores, BuiltCoreVariantsNeverCrash) {
    std::vector<std::uint8_t> core = builtCore();
    MessageSink sink;
    EXPECT_TRUE(loadAndUse(core, sink.get()));
    // Where the notes end: the segments' bytes start at the first 4 KiB boundary after them.
    tryVariants(core, 0x1000, 600, 1);
}

TEST(DamagedCores, RealCoreVariantsNeverCrash) {
    std::vector<fs::path> cores = {fs::path(FERROVANE_TEST_DATA_DIR) / "elfutils" / "testfile_aarch64_core",
                                   fs::path(FERROVANE_SHARED_DIR) / "fixtures" / "lldb-elfcore" / "linux-arm.core"};
    unsigned tried = 0;
    for (const fs::path& path : cores) {
        if (!fs::exists(path)) continue;
        std::vector<std::uint8_t> core = readFile(path);
        tryVariants(core, 0x1000, 120, 2);
        ++tried;
    }
    if (tried == 0) GTEST_SKIP() << "real cores not present";
}

}  // namespace
