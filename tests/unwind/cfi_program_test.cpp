// The call-frame instruction interpreter: the rule row at a pc for hand-built CIE and FDE
// instruction streams, and the faults it reports.
#include <gtest/gtest.h>

#include "analyzer/unwind/cfi_program.h"
#include "tests/unwind/unwind_support.h"

namespace {

using namespace coresift::unwind;
using testsupport::ByteVector;
using testsupport::cat;
using testsupport::CfiBuilder;
using testsupport::sleb;
using testsupport::uleb;

constexpr unsigned kSp = kSpRegister;
constexpr unsigned kLr = kIs64 ? 30 : 14;
constexpr unsigned kFp = kIs64 ? 29 : 11;
constexpr unsigned kSaved = kIs64 ? 19 : 4;
constexpr unsigned kScratch = kIs64 ? 9 : 1;
constexpr TargetWord kBegin = 0x1000;
constexpr std::uint8_t u(unsigned v) { return static_cast<std::uint8_t>(v); }
// Code and data alignment of the test CIE.
constexpr int kCaf = kIs64 ? 4 : 2;
constexpr int kDaf = kIs64 ? -8 : -4;

class CfiProgram : public testsupport::UnwindTest {
protected:
    // The row at `pc` of an FDE at kBegin with `fdeInstructions`, its CIE defining CFA = SP + 0.
    std::optional<CfiRow> rowAt(TargetWord pc, const ByteVector& fdeInstructions, ByteVector cieInstructions = {},
                                CfiFormat format = CfiFormat::EhFrame) {
        CfiBuilder builder(format, format == CfiFormat::EhFrame ? 0x10000 : 0);
        CfiBuilder::CieFields fields;
        fields.instructions = cieInstructions.empty() ? ByteVector{0x0C, u(kSp), 0x00} : cieInstructions;
        if (format == CfiFormat::DebugFrame) fields.augmentation = "";
        const std::size_t cie = builder.cie(fields);
        const std::size_t fde = builder.fde(cie, kBegin, 0x100, fdeInstructions, 0x1B, format == CfiFormat::EhFrame);
        memory.add(builder.address(), builder.bytes());
        section_ = {&memory, format, builder.address(), static_cast<TargetWord>(builder.bytes().size()),
                    names(format == CfiFormat::EhFrame ? ".eh_frame" : ".debug_frame")};
        std::optional<Fde> parsed = readFde(section_, builder.addressOf(fde));
        if (!parsed) return std::nullopt;
        return rowForPc(section_, *parsed, pc);
    }

    CfiSection section_;
};

TEST_F(CfiProgram, DefaultRulesKeepCalleeSavedRegistersAndTheReturnAddress) {
    std::optional<CfiRow> row = rowAt(kBegin, {});
    ASSERT_TRUE(row);
    for (unsigned reg = 0; reg < kRuleCount; ++reg) {
        const bool kept = (reg >= (kIs64 ? 19u : 4u) && reg <= (kIs64 ? 29u : 11u)) || reg == kLr;
        EXPECT_EQ(row->rules[reg].kind, kept ? RuleKind::SameValue : RuleKind::Undefined) << reg;
    }
    EXPECT_EQ(row->cfa.kind, CfaKind::RegisterOffset);
    EXPECT_EQ(row->cfa.reg, kSp);
    EXPECT_EQ(row->cfa.offset, 0);
}

TEST_F(CfiProgram, RowsChangeOnlyOnceTheLocationPassesThem) {
    // advance 1 unit, CFA offset 16; advance_loc1 3 units, save LR and FP; advance_loc2,
    // advance_loc4 then restore FP; rows hold from their location to the next.
    const ByteVector program = cat({{0x41, 0x0E, 0x10}, {0x02, 0x03, u(0x80 | kLr), 0x01, u(0x80 | kFp), 0x02},
                                    {0x03, 0x01, 0x00, 0x0E, 0x20}, {0x04, 0x02, 0, 0, 0, u(0xC0 | kFp)}});
    const TargetWord first = kBegin + kCaf, second = first + 3 * kCaf, third = second + kCaf, fourth = third + 2 * kCaf;
    struct Expect {
        TargetWord pc;
        std::int64_t cfa;
        RuleKind lr, fp;
    };
    for (const Expect& e : {Expect{kBegin, 0, RuleKind::SameValue, RuleKind::SameValue},
                            Expect{first - 1, 0, RuleKind::SameValue, RuleKind::SameValue},
                            Expect{first, 16, RuleKind::SameValue, RuleKind::SameValue},
                            Expect{second - 1, 16, RuleKind::SameValue, RuleKind::SameValue},
                            Expect{second, 16, RuleKind::Offset, RuleKind::Offset},
                            Expect{third, 32, RuleKind::Offset, RuleKind::Offset},
                            Expect{fourth, 32, RuleKind::Offset, RuleKind::SameValue},
                            Expect{kBegin + 0xFF, 32, RuleKind::Offset, RuleKind::SameValue}}) {
        std::optional<CfiRow> row = rowAt(e.pc, program);
        ASSERT_TRUE(row) << std::hex << e.pc;
        EXPECT_EQ(row->cfa.offset, e.cfa) << std::hex << e.pc;
        EXPECT_EQ(row->rules[kLr].kind, e.lr) << std::hex << e.pc;
        EXPECT_EQ(row->rules[kFp].kind, e.fp) << std::hex << e.pc;
    }
    std::optional<CfiRow> row = rowAt(second, program);
    EXPECT_EQ(row->rules[kLr].offset, kDaf);
    EXPECT_EQ(row->rules[kFp].offset, 2 * kDaf);
}

TEST_F(CfiProgram, SetLocationUsesTheFdeEncoding) {
    // DW_CFA_set_loc with a pc-relative sdata4 address: the value is relative to its own field.
    CfiBuilder builder(CfiFormat::EhFrame, 0x10000);
    CfiBuilder::CieFields fields;
    fields.instructions = {0x0C, u(kSp), 0x00};
    const std::size_t cie = builder.cie(fields);
    // The FDE's instructions start after length, CIE pointer, location, range and the empty
    // augmentation data: 4 + 4 + 4 + 4 + 1 bytes; the set_loc operand follows its opcode.
    const std::size_t fdeOffset = builder.bytes().size();
    const TargetWord operand = builder.addressOf(fdeOffset + 17 + 1);
    const TargetWord target = kBegin + 0x40;
    ByteVector program = {0x01};
    for (int i = 0; i < 4; ++i) program.push_back(u((target - operand) >> (8 * i)));
    program.insert(program.end(), {0x0E, 0x30});
    builder.fde(cie, kBegin, 0x100, program);
    memory.add(builder.address(), builder.bytes());
    const CfiSection s{&memory, CfiFormat::EhFrame, builder.address(), 0, names()};
    std::optional<Fde> fde = readFde(s, builder.addressOf(fdeOffset));
    ASSERT_TRUE(fde);
    EXPECT_EQ(rowForPc(s, *fde, target - 1)->cfa.offset, 0);
    EXPECT_EQ(rowForPc(s, *fde, target)->cfa.offset, 0x30);
}

TEST_F(CfiProgram, RuleForms) {
    const ByteVector program = cat({
        {0x05, u(kSaved)}, uleb(3),                        // offset_extended: 3 * daf
        {0x11, u(kSaved + 1)}, sleb(-2),                   // offset_extended_sf: -2 * daf
        {0x2F, u(kSaved + 2)}, uleb(2),                    // GNU negative offset: -(2 * daf)
        {0x09, u(kSaved + 3), u(kScratch)},                // register
        {0x07, u(kSaved + 4)},                             // undefined
        {0x08, u(kScratch)},                               // same value
        {0x14, u(kSaved + 5)}, uleb(1),                    // val_offset
        {0x12, u(kFp)}, sleb(-2),                          // def_cfa_sf: -2 * daf
        {0x10, u(kSaved + 6), 0x02, 0x30, 0x31},           // expression
        {0x16, u(kSaved + 7), 0x01, 0x9C},                 // val_expression
        {0x2E}, uleb(64),                                  // GNU args size: ignored
        {0x05}, uleb(kRuleCount + 200), uleb(1),           // a register outside the set: ignored
    });
    std::optional<CfiRow> row = rowAt(kBegin, program);
    ASSERT_TRUE(row) << errors();
    const auto& r = row->rules;
    EXPECT_EQ(r[kSaved].kind, RuleKind::Offset);
    EXPECT_EQ(r[kSaved].offset, 3 * kDaf);
    EXPECT_EQ(r[kSaved + 1].offset, -2 * kDaf);
    EXPECT_EQ(r[kSaved + 2].offset, -2 * kDaf);
    EXPECT_EQ(r[kSaved + 3].kind, RuleKind::Register);
    EXPECT_EQ(r[kSaved + 3].reg, kScratch);
    EXPECT_EQ(r[kSaved + 4].kind, RuleKind::Undefined);
    EXPECT_EQ(r[kScratch].kind, RuleKind::SameValue);
    EXPECT_EQ(r[kSaved + 5].kind, RuleKind::ValOffset);
    EXPECT_EQ(r[kSaved + 5].offset, kDaf);
    EXPECT_EQ(row->cfa.reg, kFp);
    EXPECT_EQ(row->cfa.offset, -2 * kDaf);
    EXPECT_EQ(r[kSaved + 6].kind, RuleKind::Expression);
    EXPECT_EQ(r[kSaved + 6].expression.size(), 2u);
    EXPECT_EQ(r[kSaved + 7].kind, RuleKind::ValExpression);
    EXPECT_EQ(errors(), "");
}

TEST_F(CfiProgram, RestoreReturnsToTheRuleAfterTheCie) {
    // The CIE saves LR at CFA-4/8; the FDE moves it, then restores it.
    const ByteVector cie = {0x0C, u(kSp), 0x00, u(0x80 | kLr), 0x01};
    std::optional<CfiRow> row = rowAt(kBegin + kCaf, {u(0x80 | kLr), 0x04, 0x07, u(kFp), 0x41, u(0xC0 | kLr), 0x06, u(kFp)}, cie);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->rules[kLr].kind, RuleKind::Offset);
    EXPECT_EQ(row->rules[kLr].offset, kDaf);
    EXPECT_EQ(row->rules[kFp].kind, RuleKind::SameValue);  // restore_extended
}

TEST_F(CfiProgram, RememberedStates) {
    // remember; change; remember; change; restore; restore: the rules come back in order.
    const ByteVector program = {0x0E, 0x08, 0x0A, 0x0E, 0x10, u(0x80 | kLr), 0x01, 0x0A, 0x0E, 0x20,
                                0x41, 0x0B, 0x41, 0x0B};
    EXPECT_EQ(rowAt(kBegin, program)->cfa.offset, 0x20);
    std::optional<CfiRow> afterFirst = rowAt(kBegin + kCaf, program);
    EXPECT_EQ(afterFirst->cfa.offset, 0x10);
    EXPECT_EQ(afterFirst->rules[kLr].kind, RuleKind::Offset);
    std::optional<CfiRow> afterSecond = rowAt(kBegin + 2 * kCaf, program);
    EXPECT_EQ(afterSecond->cfa.offset, 0x08);
    EXPECT_EQ(afterSecond->rules[kLr].kind, RuleKind::SameValue);
    EXPECT_EQ(errors(), "");

    EXPECT_FALSE(rowAt(kBegin, {0x0B}));
    EXPECT_EQ(errors(), "Error: libfoo.so of .eh_frame register stack underflow\n");
}

TEST_F(CfiProgram, RememberDepthIsBounded) {
    EXPECT_TRUE(rowAt(kBegin, ByteVector(kMaxRememberedStates, 0x0A)));
    EXPECT_FALSE(rowAt(kBegin, ByteVector(kMaxRememberedStates + 1, 0x0A)));
    EXPECT_EQ(errors(), "Error: Invalid libfoo.so of .eh_frame stack index: " + std::to_string(kMaxRememberedStates) + "\n");
}

TEST_F(CfiProgram, FaultyInstructions) {
    struct Case {
        ByteVector program;
        std::string message;
    };
    const std::string prefix = "Error: ";
    const std::vector<Case> cases = {
        {{0x1F}, "Unrecognized libfoo.so of .eh_frame op code: 0x1f\n"},
        {{0x3F}, "Unrecognized libfoo.so of .eh_frame op code: 0x3f\n"},
        {{0x0C, u(kRuleCount), 0x00}, "Invalid libfoo.so of .eh_frame register index: " + std::to_string(kRuleCount) + "\n"},
        {{0x0D, 0x80, 0x02}, "Invalid libfoo.so of .eh_frame register index: 256\n"},
        {{0x09, u(kSaved), u(kRuleCount + 1)}, "Invalid libfoo.so of .eh_frame register index: " + std::to_string(kRuleCount + 1) + "\n"},
        {{0x10, u(kSaved), 0x05, 0x30}, "Unrecognized libfoo.so of .eh_frame op code: 0x10\n"},  // block past the end
    };
    for (const Case& c : cases) {
        const std::string before = errors();
        EXPECT_FALSE(rowAt(kBegin, c.program));
        EXPECT_EQ(errors().substr(before.size()), prefix + c.message);
    }
}

TEST_F(CfiProgram, NegateRaStateIsAnAArch64Instruction) {
    std::optional<CfiRow> row = rowAt(kBegin + kCaf, {0x2D, 0x41, 0x2D, 0x2D});
    if constexpr (kIs64) {
        ASSERT_TRUE(row);
        EXPECT_TRUE(row->returnAddressSigned);  // toggled three times by pc + caf
        EXPECT_TRUE(rowAt(kBegin, {0x2D, 0x41, 0x2D})->returnAddressSigned);
        EXPECT_FALSE(rowAt(kBegin + kCaf, {0x2D, 0x41, 0x2D})->returnAddressSigned);
        EXPECT_EQ(errors(), "");
    } else {
        EXPECT_FALSE(row);
        EXPECT_EQ(errors(), "Error: Unrecognized libfoo.so of .eh_frame op code: 0x2d\n");
    }
}

TEST_F(CfiProgram, CfaOffsetChangesKeepTheirBase) {
    // def_cfa_offset_sf factors its operand; def_cfa_register keeps the offset; a CFA offset
    // without any CFA rule leaves the CFA undefined.
    std::optional<CfiRow> row = rowAt(kBegin, cat({{0x13}, sleb(-4), {0x0D, u(kFp)}}));
    EXPECT_EQ(row->cfa.reg, kFp);
    EXPECT_EQ(row->cfa.offset, -4 * kDaf);
    std::optional<CfiRow> undefined = rowAt(kBegin, {0x0E, 0x10}, {0x00});
    EXPECT_EQ(undefined->cfa.kind, CfaKind::Unset);
    std::optional<CfiRow> expression = rowAt(kBegin, {0x0F, 0x02, u(0x70 + kSp), 0x08});
    EXPECT_EQ(expression->cfa.kind, CfaKind::Expression);
}

TEST_F(CfiProgram, DebugFrameSetLocationIsAPlainAddress) {
    ByteVector program = {0x01};
    for (unsigned i = 0; i < sizeof(TargetWord); ++i) program.push_back(u((kBegin + 0x20) >> (8 * i)));
    program.insert(program.end(), {0x0E, 0x18});
    EXPECT_EQ(rowAt(kBegin + 0x1F, program, {}, CfiFormat::DebugFrame)->cfa.offset, 0);
    EXPECT_EQ(rowAt(kBegin + 0x20, program, {}, CfiFormat::DebugFrame)->cfa.offset, 0x18);
}

}  // namespace
