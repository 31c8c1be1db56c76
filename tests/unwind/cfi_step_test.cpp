// One CFI unwind step on a module held in memory: its `.eh_frame` reached through
// `.eh_frame_hdr` (or walked when the header cannot be used), a stack of known words.
#include <gtest/gtest.h>

#include <algorithm>

#include "analyzer/unwind/module_unwinder.h"
#include "analyzer/unwind/pointer_auth.h"
#include "tests/unwind/unwind_support.h"

namespace {

using namespace coresift::unwind;
using testsupport::ByteVector;
using testsupport::cat;
using testsupport::CfiBuilder;
using testsupport::sleb;
using testsupport::uleb;

constexpr std::uint8_t u(unsigned v) { return static_cast<std::uint8_t>(v); }
constexpr unsigned kSp = kSpRegister, kPc = kPcRegister;
constexpr unsigned kLr = kIs64 ? 30 : 14;
constexpr unsigned kFp = kIs64 ? 29 : 11;
constexpr unsigned kSaved = kIs64 ? 19 : 4;
constexpr unsigned kScratch = kIs64 ? 9 : 1;
constexpr int kWord = sizeof(TargetWord);
constexpr int kCaf = kIs64 ? 4 : 2;

constexpr TargetWord kCode = 0x10000;
constexpr TargetWord kEhFrame = 0x12000;
constexpr TargetWord kHeader = 0x13000;
constexpr TargetWord kStack = 0x70000;
constexpr TargetWord kStackWord = 0x5000000;  // word i of the stack holds kStackWord + i

class CfiStep : public testsupport::UnwindTest {
protected:
    CfiStep() : builder(CfiFormat::EhFrame, kEhFrame) {
        memory.add(kCode, ByteVector(0x1000, 0));
        memory.addWords(kStack, 256, kStackWord, 1);
        CfiBuilder::CieFields fields;
        fields.instructions = {0x0C, u(kSp), 0x00};
        cie = builder.cie(fields);
    }
    // Adds an FDE covering [kCode + begin, + range).
    void fde(TargetWord begin, TargetWord range, const ByteVector& program) {
        fdes.push_back({kCode + begin, builder.addressOf(builder.fde(cie, kCode + begin, range, program))});
    }
    // Publishes the section and its header; `header` may be replaced to damage it.
    ModuleUnwinder& unwinder(std::optional<ByteVector> header = std::nullopt, TargetWord headerSize = 0,
                             bool knownSection = false) {
        builder.terminate();
        memory.add(kEhFrame, builder.bytes());
        ByteVector bytes = header ? *header : testsupport::ehFrameHeader(kHeader, kEhFrame, fdes);
        memory.add(kHeader, bytes);
        ModuleTables tables;
        tables.name = "libfoo.so";
        tables.ehFrameHdr = kHeader;
        tables.ehFrameHdrSize = headerSize ? headerSize : static_cast<TargetWord>(bytes.size());
        if (knownSection) {
            tables.ehFrame = kEhFrame;
            tables.ehFrameSize = static_cast<TargetWord>(builder.bytes().size());
        }
        module = std::make_unique<ModuleUnwinder>(tables);
        return *module;
    }
    RegisterState frame(TargetWord pc) {
        RegisterState regs;
        for (unsigned reg = 0; reg < kRuleCount; ++reg) regs.set(reg, 0x100 + reg);
        regs.set(kSp, kStack + 0x40);
        regs.set(kPc, pc);
        return regs;
    }
    TargetWord stackWord(TargetWord address) const { return kStackWord + (address - kStack) / kWord; }

    CfiBuilder builder;
    std::size_t cie = 0;
    std::vector<std::pair<TargetWord, TargetWord>> fdes;
    std::unique_ptr<ModuleUnwinder> module;
};

TEST_F(CfiStep, RecoversTheCallerFromSavedRegisters) {
    // At begin + caf: CFA = SP + 4 words; LR at CFA - 1 word, the saved register at CFA - 2 words.
    fde(0x100, 0x80, {0x41, 0x0E, u(4 * kWord), u(0x80 | kLr), 0x01, u(0x80 | kSaved), 0x02});
    ModuleUnwinder& m = unwinder();
    RegisterState regs = frame(kCode + 0x100 + kCaf);
    const StepResult result = m.step(environment(), regs);
    ASSERT_EQ(result.status, StepStatus::Stepped) << errors();
    EXPECT_EQ(result.source, StepSource::EhFrame);
    const TargetWord cfa = kStack + 0x40 + 4 * kWord;
    EXPECT_EQ(regs.r[kSp], cfa);
    EXPECT_EQ(regs.r[kPc], stackWord(cfa - kWord));
    EXPECT_EQ(regs.r[kSaved], stackWord(cfa - 2 * kWord));
    EXPECT_FALSE(regs.known(kLr));       // the return-address register is spent
    EXPECT_FALSE(regs.known(kScratch));  // caller-saved: unknown in the caller
    EXPECT_TRUE(regs.known(kFp));        // callee-saved and untouched: the same
    EXPECT_EQ(regs.r[kFp], 0x100u + kFp);
    EXPECT_EQ(errors(), "");
}

TEST_F(CfiStep, TheCallersSpIsTheCfaWhateverSpsOwnRuleSays) {
    // A rule for SP itself (here: saved at CFA - 3 words) must not replace the CFA.
    fde(0x100, 0x80, {0x0E, u(4 * kWord), u(0x80 | kSp), 0x03, u(0x80 | kLr), 0x01});
    ModuleUnwinder& m = unwinder();
    RegisterState regs = frame(kCode + 0x100);
    ASSERT_EQ(m.step(environment(), regs).status, StepStatus::Stepped);
    EXPECT_EQ(regs.r[kSp], kStack + 0x40 + 4 * kWord);
}

TEST_F(CfiStep, AnUndefinedReturnAddressIsTheOutermostFrame) {
    fde(0x100, 0x80, {0x07, u(kLr)});
    // Even with a CFA that cannot be computed the frame is the last one.
    fde(0x200, 0x80, {0x07, u(kLr), 0x0C, u(kFp), 0x00});
    ModuleUnwinder& m = unwinder();
    for (TargetWord pc : {kCode + 0x100, kCode + 0x200}) {
        RegisterState regs = frame(pc);
        regs.forget(kFp);
        const RegisterState before = regs;
        EXPECT_EQ(m.step(environment(), regs).status, StepStatus::Outermost);
        EXPECT_EQ(regs.valid, before.valid);
        EXPECT_TRUE(std::equal(std::begin(regs.r), std::end(regs.r), std::begin(before.r)));
    }
    EXPECT_EQ(errors(), "");
}

TEST_F(CfiStep, FailuresLeaveTheRegistersAlone) {
    CfiBuilder::CieFields noCfa;  // a CIE that never defines the CFA
    const std::size_t bare = builder.cie(noCfa);
    fdes.push_back({kCode + 0x100, builder.addressOf(builder.fde(bare, kCode + 0x100, 0x10, {}))});
    fde(0x200, 0x10, {0x0C, u(kFp), 0x00});                        // base register unknown
    fde(0x300, 0x10, {0x0E, 0x80, 0x80, 0x40});                    // CFA in no region
    fde(0x400, 0x10, {0x0E, 0x00, u(0x80 | kLr), 0x7F});           // saved below the stack
    fde(0x500, 0x10, {0x09, u(kLr), u(kScratch)});                 // LR from an unknown register
    fde(0x600, 0x10, {0x10, u(kLr), 0x02, u(0x70 + kScratch), 0}); // LR at an unknown address
    ModuleUnwinder& m = unwinder();
    for (TargetWord offset : {0x100, 0x200, 0x300, 0x400, 0x500, 0x600}) {
        RegisterState regs = frame(kCode + offset);
        regs.forget(kFp);
        regs.forget(kScratch);
        const RegisterState before = regs;
        EXPECT_EQ(m.step(environment(), regs).status, StepStatus::Failed) << std::hex << offset;
        EXPECT_EQ(regs.valid, before.valid);
        EXPECT_TRUE(std::equal(std::begin(regs.r), std::end(regs.r), std::begin(before.r)));
    }
    // Only the missing CFA rule is the table's fault.
    EXPECT_EQ(errors(), "Error: Invalid libfoo.so of .eh_frame's SP rule\n");
}

TEST_F(CfiStep, ExpressionAndValueRules) {
    fde(0x100, 0x80, cat({{0x0F, 0x02, u(0x70 + kSp), u(2 * kWord)},             // CFA = SP + 2 words
                          {0x10, u(kLr), 0x02, u(0x70 + kSp), 0x00},              // LR at SP
                          {0x16, u(kSaved), 0x03, 0x9C, 0x23, 0x04},              // saved = CFA + 4
                          {0x14, u(kSaved + 1), 0x01},                            // CFA + daf
                          {0x09, u(kSaved + 2), u(kScratch)}}));                  // from a register
    ModuleUnwinder& m = unwinder();
    RegisterState regs = frame(kCode + 0x140);
    ASSERT_EQ(m.step(environment(), regs).status, StepStatus::Stepped) << errors();
    const TargetWord sp = kStack + 0x40, cfa = sp + 2 * kWord;
    EXPECT_EQ(regs.r[kSp], cfa);
    EXPECT_EQ(regs.r[kPc], stackWord(sp));
    EXPECT_EQ(regs.r[kSaved], cfa + 4);
    EXPECT_EQ(regs.r[kSaved + 1], cfa - kWord);
    EXPECT_EQ(regs.r[kSaved + 2], 0x100u + kScratch);
}

TEST_F(CfiStep, LookupsIgnoreTheThumbBitAndPointerAuthentication) {
    fde(0x100, 0x10, {0x0E, u(2 * kWord), u(0x80 | kLr), 0x01, 0x2D});
    ModuleUnwinder& m = unwinder();
    if constexpr (kIs64) {
        // A signed pc (PAC in bits 39 and up) finds its FDE; the caller's pc is the saved value
        // as it is, signature and all.
        const TargetWord sign = 0x0020000000000000ull;
        memory.pokeWord(kStack + 0x48, static_cast<TargetWord>(0x0034000011223344ull));
        RegisterState regs = frame(kCode + 0x104 + sign);
        ASSERT_EQ(m.step(environment(), regs).status, StepStatus::Stepped) << errors();
        EXPECT_EQ(regs.r[kPc], 0x0034000011223344ull);
    } else {
        RegisterState regs = frame(kCode + 0x105);
        ASSERT_EQ(m.step(environment(), regs).status, StepStatus::Failed) << "0x2D is not an ARM instruction";
        EXPECT_EQ(errors(), "Error: Unrecognized libfoo.so of .eh_frame op code: 0x2d\n");
    }
}

TEST_F(CfiStep, TheHeaderTableFindsTheCoveringFde) {
    fde(0x100, 0x40, {0x0E, u(kWord)});
    fde(0x200, 0x40, {0x0E, u(2 * kWord)});
    fde(0x300, 0x40, {0x0E, u(3 * kWord)});
    ModuleUnwinder& m = unwinder();
    struct Case {
        TargetWord pc;
        StepStatus status;
        int words;
    };
    for (const Case& c : {Case{kCode + 0x0FF, StepStatus::NoEntry, 0}, Case{kCode + 0x100, StepStatus::Stepped, 1},
                          Case{kCode + 0x13F, StepStatus::Stepped, 1}, Case{kCode + 0x140, StepStatus::NoEntry, 0},
                          Case{kCode + 0x230, StepStatus::Stepped, 2}, Case{kCode + 0x33F, StepStatus::Stepped, 3},
                          Case{kCode + 0x900, StepStatus::NoEntry, 0}}) {
        RegisterState regs = frame(c.pc);
        EXPECT_EQ(m.step(environment(), regs).status, c.status) << std::hex << c.pc;
        if (c.status == StepStatus::Stepped) {
            EXPECT_EQ(regs.r[kSp], kStack + 0x40 + c.words * kWord);
        }
    }
    EXPECT_EQ(m.ehFrameTable()->mode(), EhFrameTable::Mode::Search);
    EXPECT_EQ(m.ehFrameTable()->fdeCount(), 3u);
}

TEST_F(CfiStep, UnusableHeadersFallBackToWalkingTheSection) {
    struct Case {
        std::string name;
        std::function<ByteVector(ByteVector)> damage;
        TargetWord size;
        bool sectionKnown;
        EhFrameTable::Mode mode;
        std::string message;
    };
    const std::string header = common::format(kAddressFormat, kHeader).text;
    const std::vector<Case> cases = {
        {"no FDEs", [](ByteVector h) { h[8] = h[9] = h[10] = h[11] = 0; return h; }, 0, false,
         EhFrameTable::Mode::Linear, ""},
        {"table encoding", [](ByteVector h) { h[3] = 0x1B; return h; }, 0, false, EhFrameTable::Mode::Linear,
         "Error: Don't support pointer encoding: 0x1B\n"},
        {"short segment", [](ByteVector h) { return h; }, 12, false, EhFrameTable::Mode::Linear,
         "Error: libfoo.so of .eh_frame_hdr segment size(12B) is incorrect\n"},
        {"version", [](ByteVector h) { h[0] = 2; return h; }, 0, true, EhFrameTable::Mode::Linear,
         "Error: Don't support libfoo.so of .eh_frame_hdr version 0x2\n"},
        {"version, no section", [](ByteVector h) { h[0] = 2; return h; }, 0, false, EhFrameTable::Mode::Unusable,
         "Error: Don't support libfoo.so of .eh_frame_hdr version 0x2\n"},
        {"unreadable", [](ByteVector) { return ByteVector{}; }, 0, true, EhFrameTable::Mode::Linear,
         "Error: <libfoo.so> .eh_frame_hdr segment address(" + header + ") is corrupted\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        memory.clear();
        memory.add(kCode, ByteVector(0x1000, 0));
        memory.addWords(kStack, 256, kStackWord, 1);
        builder = CfiBuilder(CfiFormat::EhFrame, kEhFrame);
        fdes.clear();
        CfiBuilder::CieFields fields;
        fields.instructions = {0x0C, u(kSp), 0x00};
        cie = builder.cie(fields);
        fde(0x100, 0x40, {0x0E, u(kWord)});
        fde(0x200, 0x40, {0x0E, u(2 * kWord)});
        const std::string before = errors();
        ModuleUnwinder& m = unwinder(c.damage(testsupport::ehFrameHeader(kHeader, kEhFrame, fdes)), c.size, c.sectionKnown);
        RegisterState regs = frame(kCode + 0x210);
        const StepStatus status = m.step(environment(), regs).status;
        EXPECT_EQ(m.ehFrameTable()->mode(), c.mode);
        EXPECT_EQ(status, c.mode == EhFrameTable::Mode::Unusable ? StepStatus::NoEntry : StepStatus::Stepped);
        if (status == StepStatus::Stepped) {
            EXPECT_EQ(regs.r[kSp], kStack + 0x40 + 2 * kWord);
        }
        EXPECT_EQ(errors().substr(before.size()), c.message);
    }
}

TEST_F(CfiStep, AnFdeTheTableNamesBadlyIsAFailureNotAMiss) {
    fde(0x100, 0x40, {0x0E, u(kWord)});
    // The table entry points into the middle of the CIE.
    ModuleUnwinder& m = unwinder(testsupport::ehFrameHeader(kHeader, kEhFrame, {{kCode + 0x100, kEhFrame + 4}}));
    RegisterState regs = frame(kCode + 0x110);
    EXPECT_EQ(m.step(environment(), regs).status, StepStatus::Failed);
    EXPECT_NE(errors().find(".eh_frame segment address"), std::string::npos);
}

TEST_F(CfiStep, AnFdeMissingFromTheTableIsFoundInTheSection) {
    fde(0x100, 0x40, {0x0E, u(kWord)});
    fde(0x200, 0x40, {0x0E, u(2 * kWord)});
    // The header lists only the first FDE.
    ModuleUnwinder& m = unwinder(testsupport::ehFrameHeader(kHeader, kEhFrame, {fdes[0]}));
    RegisterState regs = frame(kCode + 0x210);
    ASSERT_EQ(m.step(environment(), regs).status, StepStatus::Stepped);
    EXPECT_EQ(regs.r[kSp], kStack + 0x40 + 2 * kWord);
    EXPECT_EQ(m.ehFrameTable()->mode(), EhFrameTable::Mode::Search);
    regs = frame(kCode + 0x280);
    EXPECT_EQ(m.step(environment(), regs).status, StepStatus::NoEntry);
}

TEST(PointerAuthentication, SignaturesAreStrippedToTheAddressBits) {
    if constexpr (kIs64) {
        EXPECT_EQ(stripPointerAuth(0x0020005C390884A8ull, 39), 0x5C390884A8ull);
        EXPECT_EQ(stripPointerAuth(0x0020005C390884A8ull, 48), 0x5C390884A8ull);
        EXPECT_EQ(stripPointerAuth(0x7F005C390884A8ull, 48), 0x5C390884A8ull);
        // Kernel addresses (bit 55 set) get their upper bits set instead.
        EXPECT_EQ(stripPointerAuth(0xFFA0001234567890ull, 39), 0xFFFFFF9234567890ull);
        EXPECT_EQ(stripPointerAuth(0x1234ull, 0), 0x1234ull);
    } else {
        EXPECT_EQ(stripPointerAuth(0xF0001235u, 39), 0xF0001235u);  // nothing is signed in CoreSift
    }
}

}  // namespace
