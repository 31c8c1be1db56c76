// The note handlers over hand-made descriptors in the layouts the kernel writes, for both widths.
#include <cstring>

#include "analyzer/process/core_dump.h"
#include "analyzer/process/core_notes.h"
#include "tests/process/space_fixture.h"

namespace {

using coresift::CoreDump;
using coresift::handleCoreNote;
using coresift::MapEntry;
using coresift::NoteWalk;
using coresift::RegisterSet;
using coresift::ThreadRecord;
namespace nt = coresift::note_type;
namespace rk = coresift::region_kind;

constexpr unsigned kWord = sizeof(TargetWord);

// A descriptor of `size` zero bytes with little-endian stores.
struct Desc {
    explicit Desc(std::size_t size) : bytes(size) {}
    template <class T>
    Desc& put(std::size_t offset, T value) {
        std::memcpy(bytes.data() + offset, &value, sizeof value);
        return *this;
    }
    Desc& text(std::size_t offset, const std::string& s) {
        std::memcpy(bytes.data() + offset, s.data(), s.size());
        return *this;
    }
    common::ByteView view() const { return {bytes.data(), bytes.size()}; }
    std::vector<std::uint8_t> bytes;
};

constexpr std::size_t kPrStatusSize = kIs64 ? 392 : 148;
constexpr std::size_t kRegOffset = kIs64 ? 112 : 72;

Desc prStatus(std::uint32_t tid, std::int16_t cursig = 0, std::uint32_t ppid = 0, TargetWord status = 0) {
    Desc d(kPrStatusSize);
    d.put<std::int16_t>(12, cursig).put<std::uint32_t>(kIs64 ? 32 : 24, tid).put<std::uint32_t>(kIs64 ? 36 : 28, ppid);
    for (unsigned i = 0; i + 1 < RegisterSet::kCount; ++i) d.put<TargetWord>(kRegOffset + i * kWord, TargetWord(0x100 + i));
    d.put<TargetWord>(kRegOffset + RegisterSet::kStatus * kWord, status);
    return d;
}

class NoteTest : public processtest::SpaceTest {
protected:
    NoteTest() { core.dumpFileName = "PROCESS_COREDUMP"; }
    bool apply(std::uint32_t type, const Desc& d) { return handleCoreNote(walk(), type, d.view()); }
    NoteWalk& walk() {
        if (!walk_) walk_ = std::make_unique<NoteWalk>(NoteWalk{run_.context().console, core, space()});
        return *walk_;
    }
    CoreDump core;
    std::unique_ptr<NoteWalk> walk_;
};

TEST_F(NoteTest, PrStatusMakesThreadsWithRegistersAndTheFirstGivesTheSignal) {
    ASSERT_TRUE(apply(nt::kPrStatus, prStatus(1234, 11, 99, 0x20)));  // Thumb state on ARM
    ASSERT_TRUE(apply(nt::kPrStatus, prStatus(1240, 6, 55, 0x60000000)));
    EXPECT_EQ(core.threadCount, 2u);
    EXPECT_EQ(core.signal, 11u);
    EXPECT_EQ(core.ppid, 99u);
    ASSERT_NE(core.firstThread, nullptr);
    EXPECT_EQ(core.firstThread->tid, 1234u);
    EXPECT_TRUE(core.firstThread->isFirst());
    EXPECT_EQ(core.lastThread->tid, 1240u);
    EXPECT_FALSE(core.lastThread->isFirst());
    EXPECT_EQ(core.lastThread->priority, 120u);
    EXPECT_EQ(core.lastThread->state, 10u);

    const RegisterSet& first = core.firstThread->registers;
    EXPECT_EQ(first.r[0], 0x100u);
    EXPECT_EQ(first.sp(), 0x100u + RegisterSet::kSp);
    if (kIs64) {
        EXPECT_EQ(first.pc(), 0x100u + RegisterSet::kPc) << "no Thumb adjustment on AArch64";
        EXPECT_EQ(first.status(), 0x120u);
        EXPECT_EQ(core.lastThread->registers.status(), 0x60000100u);
    } else {
        EXPECT_EQ(first.pc(), (0x100u + RegisterSet::kPc) | 1) << "Thumb bit moves into the pc";
        EXPECT_EQ(first.status(), 0x30u);
        EXPECT_EQ(core.lastThread->registers.pc(), 0x100u + RegisterSet::kPc);
        EXPECT_EQ(core.lastThread->registers.status(), 0x60000010u);
    }
}

TEST_F(NoteTest, PrStatusOfTheWrongSizeOrADuplicateTidStopsTheLoad) {
    EXPECT_FALSE(apply(nt::kPrStatus, Desc(kPrStatusSize - 4)));
    ASSERT_TRUE(apply(nt::kPrStatus, prStatus(7)));
    EXPECT_FALSE(apply(nt::kPrStatus, prStatus(7)));
    EXPECT_EQ(core.threadCount, 1u);
    EXPECT_EQ(err(), "Error: PROCESS_COREDUMP of NT_PRSTATUS segment size(" + std::to_string(kPrStatusSize - 4) +
                         "B) is incorrect\nError: Exist threads with the same tid: 7\n");
    EXPECT_EQ(run_.context().console.formatMismatches(), 0u);
}

TEST_F(NoteTest, NegativeCurrentSignalIsSignExtended) {
    ASSERT_TRUE(apply(nt::kPrStatus, prStatus(1, -1)));
    EXPECT_EQ(core.signal, 0xFFFFFFFFu);
}

// NT_PRPSINFO in each layout the build accepts: {size, pid offset, args offset}.
struct PsLayout {
    std::size_t size, pid, args;
};
std::vector<PsLayout> psLayouts() {
    if (kIs64) return {{136, 24, 56}};
    return {{124, 12, 44}, {128, 16, 48}};
}

TEST_F(NoteTest, PrPsInfoGivesPidStateNiceAndTheCommandLine) {
    for (const PsLayout& layout : psLayouts()) {
        core.ppid = 5;
        Desc d(layout.size);
        d.put<std::uint8_t>(0, 42).put<std::int8_t>(3, -8).put<std::uint32_t>(layout.pid, 3000);
        d.put<std::uint32_t>(layout.pid + 4, 0);
        d.text(layout.args, "/system/bin/app_process64 --zygote   ");
        ASSERT_TRUE(apply(nt::kPrPsInfo, d)) << layout.size;
        EXPECT_EQ(core.pid, 3000u);
        EXPECT_EQ(core.ppid, 5u) << "a zero ppid keeps the one from NT_PRSTATUS";
        EXPECT_EQ(core.processState, 10u);
        EXPECT_EQ(core.nice, -8);
        EXPECT_EQ(core.commandLine, "/system/bin/app_process64 --zygote");

        d.put<std::uint32_t>(layout.pid + 4, 77).text(layout.args, std::string(80, 'a'));
        ASSERT_TRUE(apply(nt::kPrPsInfo, d));
        EXPECT_EQ(core.ppid, 77u);
        EXPECT_EQ(core.commandLine, std::string(79, 'a')) << "at most 79 bytes, as the record's field";
        EXPECT_TRUE(walk().sawPrPsInfo);
    }
    EXPECT_FALSE(apply(nt::kPrPsInfo, Desc(132)));
    EXPECT_EQ(err(), "Error: PROCESS_COREDUMP of NT_PRPSINFO segment size(132B) is incorrect\n");
}

Desc auxv(std::vector<std::pair<TargetWord, TargetWord>> pairs) {
    Desc d(pairs.size() * 2 * kWord);
    for (std::size_t i = 0; i < pairs.size(); ++i)
        d.put<TargetWord>(i * 2 * kWord, pairs[i].first).put<TargetWord>(i * 2 * kWord + kWord, pairs[i].second);
    return d;
}

TEST_F(NoteTest, AuxvGivesLinkerBaseEntryStackAndExecutablePath) {
    makeDump(2);
    std::memcpy(dump_.data() + 0x1ff0, "/system/bin/top", 16);
    ASSERT_TRUE(add(0xbe000000, 0x2000, rk::kRead | rk::kWrite, 0));
    ASSERT_TRUE(add(0xffff0000, 0x1000, rk::kRead | rk::kExecute));
    ASSERT_TRUE(apply(nt::kAuxv, auxv({{6, 4096}, {7, 0xb0001000}, {9, 0x8000}, {25, 0xbe000100},
                                        {31, 0xbe001ff0}, {0, 0}, {7, 1}})));
    EXPECT_EQ(core.interpreterBase, 0xb0001000u);
    EXPECT_EQ(core.entryPoint, 0x8000u);
    EXPECT_EQ(core.executablePath, "/system/bin/top");
    EXPECT_EQ(core.executableBaseName(), "top");
    MapEntry* stack = space().regionAt(0xbe000000);
    EXPECT_EQ(stack->name, "[stack]");
    EXPECT_EQ(stack->type(), rk::kStack);
    MapEntry* vectors = space().regionAt(0xffff0000);
    if (kIs64) {
        EXPECT_FALSE(vectors->hasName());
    } else {
        EXPECT_EQ(vectors->name, "[vectors]");
        EXPECT_EQ(vectors->type(), rk::kIgnore);
    }
    EXPECT_EQ(coresift::auxvValue(auxv({{9, 1}, {6, 16384}}).view(), 6).value(), 16384u);
    EXPECT_FALSE(coresift::auxvValue(auxv({{9, 1}, {0, 0}, {6, 16384}}).view(), 6).has_value());
    Desc cut = auxv({{9, 1}, {6, 4096}});
    cut.bytes.resize(cut.bytes.size() - 1);
    EXPECT_FALSE(coresift::auxvValue(cut.view(), 6).has_value()) << "an incomplete pair is not read";
}

TEST_F(NoteTest, UnreadableExecutablePathFailsTheNoteAfterTheWholeVector) {
    ASSERT_TRUE(add(0x10000, 0x1000, rk::kRead | rk::kWrite));
    EXPECT_FALSE(apply(nt::kAuxv, auxv({{31, 0x90000}, {7, 0x1234000}})));
    EXPECT_EQ(core.interpreterBase, 0x1234000u) << "pairs after the failure are still read";
    EXPECT_EQ(out(), "Fail to get proc name\n");
}

// NT_FILE: count, page size, (start, end, offset) triples, then the paths.
Desc fileNote(std::vector<std::pair<TargetWord, std::string>> files, TargetWord count = ~TargetWord{0}) {
    std::size_t paths = 0;
    for (auto& file : files) paths += file.second.size() + 1;
    Desc d(2 * kWord + files.size() * 3 * kWord + paths);
    d.put<TargetWord>(0, count == ~TargetWord{0} ? TargetWord(files.size()) : count).put<TargetWord>(kWord, 4096);
    std::size_t text = 2 * kWord + files.size() * 3 * kWord;
    for (std::size_t i = 0; i < files.size(); ++i) {
        d.put<TargetWord>(2 * kWord + i * 3 * kWord, files[i].first);
        d.put<TargetWord>(2 * kWord + i * 3 * kWord + kWord, files[i].first + 0x1000);
        d.text(text, files[i].second);
        text += files[i].second.size() + 1;
    }
    return d;
}

TEST_F(NoteTest, FileNoteNamesTheRegionsHoldingEachFileStart) {
    for (TargetWord start : {0x10000u, 0x20000u, 0x30000u}) ASSERT_TRUE(add(start, 0x2000, rk::kRead));
    ASSERT_TRUE(apply(nt::kFile, fileNote({{0x10000, "/system/lib/libc.so"}, {0x21000, "/dev/ashmem/x (deleted)"},
                                           {0x50000, "/nowhere"}})));
    EXPECT_EQ(space().regionAt(0x10000)->name, "/system/lib/libc.so");
    EXPECT_EQ(space().regionAt(0x10000)->kind & rk::kNamingBits, rk::kFile | rk::kOwnedName);
    EXPECT_EQ(space().regionAt(0x20000)->name, "/dev/ashmem/x (deleted)");
    EXPECT_EQ(space().regionAt(0x20000)->kind & rk::kNamingBits, rk::kDev | rk::kOwnedName);
    EXPECT_FALSE(space().regionAt(0x30000)->hasName());
}

TEST_F(NoteTest, FileNoteThatRunsPastItsDescriptorStopsAtTheLastCompleteEntry) {
    for (TargetWord start : {0x10000u, 0x20000u}) ASSERT_TRUE(add(start, 0x1000, rk::kRead));
    Desc cut = fileNote({{0x10000, "/a"}, {0x20000, "/bbbb"}});
    cut.bytes.resize(cut.bytes.size() - 2);  // the second path loses its end and NUL
    ASSERT_TRUE(apply(nt::kFile, cut));
    EXPECT_EQ(space().regionAt(0x10000)->name, "/a");
    EXPECT_FALSE(space().regionAt(0x20000)->hasName());

    // A count far beyond the descriptor names nothing and reads nothing outside it.
    ASSERT_TRUE(apply(nt::kFile, fileNote({{0x20000, "/c"}}, TargetWord(1) << (kIs64 ? 60 : 28))));
    ASSERT_TRUE(apply(nt::kFile, fileNote({{0x20000, "/c"}}, 2)));
    EXPECT_FALSE(space().regionAt(0x20000)->hasName());
    ASSERT_TRUE(apply(nt::kFile, Desc(3)));
}

TEST_F(NoteTest, SigInfoGivesSignalCodeAndFaultAddress) {
    ASSERT_TRUE(apply(nt::kPrStatus, prStatus(1, 6)));
    Desc d(128);
    d.put<std::uint32_t>(0, 11).put<std::uint32_t>(8, 1).put<TargetWord>(kIs64 ? 16 : 12, TargetWord(0x12345678));
    ASSERT_TRUE(apply(nt::kSigInfo, d));
    EXPECT_EQ(core.signal, 11u) << "overrides NT_PRSTATUS";
    EXPECT_EQ(core.signalCode, 1u);
    EXPECT_EQ(core.faultAddress, 0x12345678u);
    EXPECT_TRUE(apply(nt::kSigInfo, Desc(kIs64 ? 24 : 16)));
    EXPECT_FALSE(apply(nt::kSigInfo, Desc(kIs64 ? 23 : 15)));
    EXPECT_EQ(err(), "Error: PROCESS_COREDUMP of NT_SIGINFO segment size(" + std::to_string(kIs64 ? 23 : 15) +
                         "B) is incorrect\n");
}

TEST_F(NoteTest, RegisterNotesAreIgnoredUnknownTypesStopTheLoad) {
    Desc tls(kWord);
    tls.put<TargetWord>(0, TargetWord(0x7fb73606f0ull & ~TargetWord{0}));
    ASSERT_TRUE(apply(nt::kArmTls, tls)) << "no thread yet: ignored";
    ASSERT_TRUE(apply(nt::kPrStatus, prStatus(1)));
    ASSERT_TRUE(apply(nt::kPrStatus, prStatus(2)));
    ASSERT_TRUE(apply(nt::kArmTls, tls));
    EXPECT_EQ(core.lastThread->tls, TargetWord(0x7fb73606f0ull & ~TargetWord{0}));
    EXPECT_EQ(core.firstThread->tls, 0u);
    ASSERT_TRUE(apply(nt::kArmTls, Desc(2))) << "too short to hold a word: ignored";

    for (std::uint32_t ignored : {2u, 0x400u, 0x402u, 0x403u, 0x408u, 0x40Au})
        EXPECT_TRUE(apply(ignored, Desc(8))) << std::hex << ignored;
    EXPECT_EQ(core.flags, 0u);
    ASSERT_TRUE(apply(nt::kArmTaggedAddrCtrl, Desc(8).put<std::uint64_t>(0, 1)));
    EXPECT_EQ(core.flags, coresift::core_flag::kTaggedAddresses);
    EXPECT_EQ(err(), "");

    std::string expected;
    for (std::uint32_t unknown : {0u, 4u, 5u, 0x3FFu, 0x40Bu, 0x46494C46u}) {
        EXPECT_FALSE(apply(unknown, Desc(4)));
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%X", unknown);
        expected += std::string("Error: Unrecognized NOTE type: ") + hex + "\n";
    }
    EXPECT_EQ(err(), expected);
}

TEST(CoreNotes, PageSizesEachBuildReads) {
    EXPECT_TRUE(coresift::supportedPageSize(4096));
    EXPECT_EQ(coresift::supportedPageSize(16384), kIs64);
    EXPECT_EQ(coresift::supportedPageSize(65536), kIs64);
    EXPECT_FALSE(coresift::supportedPageSize(8192));
    EXPECT_FALSE(coresift::supportedPageSize(0));
}

TEST(CoreNotes, DebuggerTranslationSettings) {
    auto mmu = coresift::debuggerMmuFor(4096, 0x7fc0360000ull & ~TargetWord{0});
    if (!kIs64) {
        EXPECT_EQ(mmu.translationControl, 0x35003500u);
        EXPECT_EQ(mmu.systemControl, 0x30C5383Du);
        EXPECT_EQ(mmu.levelIndexBits, (std::vector<unsigned>{12, 8}));
        EXPECT_EQ(mmu.levelCountMinusOne, 1u);
        return;
    }
    EXPECT_EQ(mmu.translationControl, 25 * 0x10001ull | 0x32B5003500ull);
    EXPECT_EQ(mmu.systemControl, 0x04C5D93Du);
    EXPECT_EQ(mmu.levelIndexBits, (std::vector<unsigned>{9, 9, 9}));
    EXPECT_EQ(mmu.levelCountMinusOne, 2u);

    auto big = coresift::debuggerMmuFor(65536, std::uint64_t{1} << 39);  // needs 40 bits: 47-bit space
    EXPECT_EQ(big.translationControl, 17 * 0x10001ull | 0x32F5007500ull);
    EXPECT_EQ(big.levelIndexBits, (std::vector<unsigned>{13, 13, 5}));
    EXPECT_EQ(big.levelCountMinusOne, 2u);
    auto mid = coresift::debuggerMmuFor(16384, 0x1000);
    EXPECT_EQ(mid.translationControl, 25 * 0x10001ull | 0x327500B500ull);
    EXPECT_EQ(mid.levelIndexBits, (std::vector<unsigned>{11, 11, 3}));
    auto four = coresift::debuggerMmuFor(4096, std::uint64_t{1} << 40);
    EXPECT_EQ(four.levelIndexBits, (std::vector<unsigned>{9, 9, 9, 8}));
    EXPECT_EQ(four.levelCountMinusOne, 3u);
}

}  // namespace
