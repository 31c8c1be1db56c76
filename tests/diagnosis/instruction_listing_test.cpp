// The annotated instruction listing on hand-made code: the slice through loads and moves, the
// path through a conditional branch, tips, the chain into the caller through a parameter
// register, an execute error ending the chain, and the bounded path search.
#include <gtest/gtest.h>

#include "analyzer/decode/printer.h"
#include "analyzer/diagnosis/instruction_listing.h"
#include "tests/diagnosis/diagnosis_fixture.h"

namespace diagnosistest {
namespace {

using coresift::CrashFrame;

// Encodings used below, per program.
struct Code {
    std::uint32_t nop, storeR1AtR0, loadR0FromR2Plus16, loadR1FromR0, literalLoadR0, branchEqOver8To16,
        moveR0FromR1, branchOut12To40, loadR2FromCalleeSaved, callFrom104To0, branchSelf, branchEqSkipOne, addR0Is8;
    unsigned calleeSaved;
};
constexpr Code kCode64 = {0xD503201F, 0xB9000001, 0xF9400840, 0xF9400001, 0x58000040, 0x54000060,
                          0xAA0103E0, 0x1400000D, 0xF9400262, 0x97FFFFBF, 0x14000000, 0x54000040, 0x91002000, 19};
constexpr Code kCode32 = {0xE320F000, 0xE5801000, 0xE5920010, 0xE5901000, 0xE59F0000, 0x0A000001,
                          0xE1A00001, 0xEA00000B, 0xE5942000, 0xEBFFFFBD, 0xEAFFFFFE, 0x0A000000, 0xE2800008, 4};
constexpr Code kIsa = kIs64 ? kCode64 : kCode32;

class ListingTest : public DiagnosisTest {
protected:
    ListingTest() { space().nameFromMapsLine(kData, kData + 0x1000, "[anon:data]"); }

    CrashFrame innermost(TargetWord pc) {
        CrashFrame frame;
        frame.pc = pc;
        frame.function = "f";
        for (unsigned r = 0; r < coresift::decode::kValueRegisterCount; ++r) frame.registers.set(r, regs().r[r]);
        frame.registers.set(coresift::decode::kRegPc, pc);
        return frame;
    }
    std::string list(const std::vector<CrashFrame>& frames) {
        coresift::ReportWriter report(context().catalog);
        coresift::writeInstructionListing(space(), symbols, report, frames);
        EXPECT_EQ(report.formatMismatches(), 0u);
        return report.collected();
    }
    static std::string text(std::uint32_t word, TargetWord address) {
        coresift::decode::TextSink sink;
        coresift::decode::printInstruction(coresift::decode::setOfAddress(address), word, address, sink);
        return std::string(sink.view());
    }
    static std::string line(TargetWord address, std::uint32_t word) {
        char head[40];
        std::snprintf(head, sizeof head, "\n\t      %llX:  ", static_cast<unsigned long long>(address));
        return head + text(word, address);
    }
    static std::string title(TargetWord pc) {
        unsigned digits = 1;
        for (TargetWord v = pc; v >>= 4;) ++digits;
        return "   assembly inst.:\n\tline  addr" + std::string(digits - 1, ' ') + "inst.\t\t\ttips";
    }

    FakeSymbols symbols;
};

TEST_F(ListingTest, CrashOnTheFirstInstructionWithNothingTraced) {
    code(kCode, {kIsa.nop, kIsa.nop});
    symbols.functions.push_back({kCode, 8, "f"});
    const std::string out = list({innermost(kCode)});
    EXPECT_EQ(out.substr(0, out.find("\n\tcurrent")), title(kCode) + line(kCode, kIsa.nop) + "\t; thread stop here");
}

TEST_F(ListingTest, ParameterChainsIntoTheCaller) {
    // f(p, q, r): r->field is null and is written through. The caller g loaded r from its own
    // callee-saved register's memory.
    code(kCode, {kIsa.nop, kIsa.loadR0FromR2Plus16, kIsa.storeR1AtR0});
    code(kCode + 0x100, {kIsa.loadR2FromCalleeSaved, kIsa.callFrom104To0, kIsa.nop});
    symbols.functions.push_back({kCode, 12, "f"});
    symbols.functions.push_back({kCode + 0x100, 12, "g"});
    symbols.lines[kCode + 4] = {"/src/f.cpp", 12};
    symbols.lines[kCode + 8] = {"/src/f.cpp", 13};
    word(kData + 0x200, kData + 0x100);  // g's slot holding r
    regs().r[2] = kData + 0x100;         // r; r->field (at +16) is 0
    regs().r[0] = 0;
    regs().r[kIsa.calleeSaved] = kData + 0x200;
    CrashFrame caller;
    caller.pc = kCode + 0x108;
    caller.registers.set(kIsa.calleeSaved, kData + 0x200);
    const std::string out = list({innermost(kCode + 8), caller});

    std::string expected = title(kCode + 8);
    char address[32];
    std::snprintf(address, sizeof address, "%llX:  ", static_cast<unsigned long long>(kCode + 4));
    expected += "\n\t/src/f.cpp\n\t12  : " + std::string(address) + text(kIsa.loadR0FromR2Plus16, kCode + 4) + "\t; f()Para 3 maybe have problem\t; 0x0 <- [[anon:data]:0x20110]";
    std::snprintf(address, sizeof address, "%llX:  ", static_cast<unsigned long long>(kCode + 8));
    expected += "\n\t13  : " + std::string(address) + text(kIsa.storeR1AtR0, kCode + 8) + "\t; thread stop here";
    expected += "\n";  // the caller's block
    expected += line(kCode + 0x100, kIsa.loadR2FromCalleeSaved) + "\t; 0x20100 <- [[anon:data]:0x20200]";
    expected += line(kCode + 0x104, kIsa.callFrom104To0);
    expected += "\n\tcurrent register values:\n\t";
    EXPECT_EQ(out.substr(0, expected.size()), expected);
    EXPECT_EQ(out.back(), '\n');
}

TEST_F(ListingTest, RecordedValueThatDisagreesWithMemoryIsAnExecuteErrorAndEndsTheChain) {
    code(kCode, {kIsa.nop, kIsa.loadR0FromR2Plus16, kIsa.storeR1AtR0});
    code(kCode + 0x100, {kIsa.loadR2FromCalleeSaved, kIsa.callFrom104To0, kIsa.nop});
    symbols.functions.push_back({kCode, 12, "f"});
    symbols.functions.push_back({kCode + 0x100, 12, "g"});
    regs().r[2] = kData + 0x100;
    regs().r[0] = 5;  // not what r->field holds
    CrashFrame caller;
    caller.pc = kCode + 0x108;
    const std::string out = list({innermost(kCode + 8), caller});
    EXPECT_NE(out.find("\t; execute error\t; 0x5 != 0x0 <- [[anon:data]:0x20110]"), std::string::npos) << out;
    EXPECT_EQ(out.find("Para"), std::string::npos);
    EXPECT_EQ(out.find(text(kIsa.callFrom104To0, kCode + 0x104)), std::string::npos);  // no caller block
}

TEST_F(ListingTest, ValuesAreDerivedBackThroughAnAddedImmediate) {
    // p = r->next + 8, written through: the recorded p is 8, so r->next must have held 0.
    code(kCode, {kIsa.loadR0FromR2Plus16, kIsa.addR0Is8, kIsa.storeR1AtR0});
    symbols.functions.push_back({kCode, 12, "f"});
    regs().r[2] = kData;
    regs().r[0] = 8;
    std::string out = list({innermost(kCode + 8)});
    EXPECT_EQ(out.find("execute error"), std::string::npos) << out;
    EXPECT_NE(out.find(line(kCode, kIsa.loadR0FromR2Plus16) + "\t; f()Para 3 maybe have problem\t; 0x0 <- [[anon:data]:0x20010]"),
              std::string::npos)
        << out;
    word(kData + 16, 0x40);  // memory says r->next is 0x40: the recorded 8 cannot have come from it
    out = list({innermost(kCode + 8)});
    EXPECT_NE(out.find(line(kCode, kIsa.loadR0FromR2Plus16) + "\t; execute error\t; 0x0 != 0x40 <- [[anon:data]:0x20010]"),
              std::string::npos)
        << out;
}

TEST_F(ListingTest, LiteralLoadIsAGlobalVariable) {
    code(kCode, {kIsa.literalLoadR0, kIsa.loadR1FromR0, 0, 0});
    symbols.functions.push_back({kCode, 16, "f"});
    regs().r[0] = 0;
    const std::string out = list({innermost(kCode + 4)});
    EXPECT_NE(out.find(line(kCode, kIsa.literalLoadR0) + "\t; global variable  maybe have problem\t; 0x0 <- [:0x10008]"),
              std::string::npos)
        << out;
}

TEST_F(ListingTest, SliceFollowsThePathThroughATakenBranch) {
    code(kCode, {kIsa.loadR0FromR2Plus16, kIsa.branchEqOver8To16, kIsa.moveR0FromR1, kIsa.branchOut12To40,
                 kIsa.storeR1AtR0});
    symbols.functions.push_back({kCode, 20, "f"});
    regs().r[2] = kData;
    regs().r[0] = 0;
    const std::string out = list({innermost(kCode + 16)});
    EXPECT_NE(out.find(line(kCode, kIsa.loadR0FromR2Plus16)), std::string::npos) << out;
    EXPECT_NE(out.find(line(kCode + 4, kIsa.branchEqOver8To16)), std::string::npos) << out;
    EXPECT_EQ(out.find(text(kIsa.moveR0FromR1, kCode + 8)), std::string::npos) << out;
}

TEST_F(ListingTest, PathSearchIsBoundedOnManyBranches) {
    // A thousand alternating conditional branches and no way to the pc: every branch doubles the
    // paths, and the fall-through chain nests a thousand deep.
    std::vector<std::uint32_t> words;
    while (words.size() < 1020) {
        words.push_back(kIsa.branchEqSkipOne);
        words.push_back(kIsa.nop);
    }
    words.push_back(kIsa.branchSelf);
    words.push_back(kIsa.storeR1AtR0);
    for (std::size_t i = 0; i < words.size(); ++i) code(kCode + 4 * i, {words[i]});
    const TargetWord pc = kCode + 4 * (words.size() - 1);
    symbols.functions.push_back({kCode, static_cast<TargetWord>(4 * words.size()), "f"});
    regs().r[0] = 0;
    const std::string out = list({innermost(pc)});
    // No path reaches the pc; the slice walks back in address order and finds R0 unwritten.
    EXPECT_NE(out.find(line(pc, kIsa.storeR1AtR0) + "\t; f()Para 1 maybe have problem\n\tcurrent"), std::string::npos)
        << out.substr(0, 400);
}

TEST_F(ListingTest, SixthParameterIsHandedToTheCaller) {
    if (!kIs64) GTEST_SKIP() << "X5 is a parameter register in CoreSift64 only";
    code(kCode, {kIsa.nop, 0xF94000A1});  // NOP; LDR X1, [X5]
    symbols.functions.push_back({kCode, 8, "f"});
    regs().r[5] = 0;
    coresift::ReportWriter report(context().catalog);
    const std::uint32_t result = coresift::listFrame(space(), symbols, report, innermost(kCode + 4), true, 0);
    EXPECT_EQ(result, coresift::kListingWritten | 0x20u);
    EXPECT_NE(report.collected().find("f()Para 6 maybe have problem"), std::string::npos) << report.collected();
}

TEST_F(ListingTest, FramesOutsideModulesWithSymbolsWriteNothing) {
    regs().r[0] = 0;
    EXPECT_EQ(list({innermost(kData)}), "");
}

TEST_F(ListingTest, RegisterValuesLineUp) {
    coresift::decode::RegisterState registers;
    for (unsigned r = 0; r < coresift::decode::kValueRegisterCount; ++r) registers.set(r, r);
    coresift::ReportWriter report(context().catalog);
    coresift::printRegisterValues(report, registers);
    const std::string out = report.collected();
    if (kIs64) {
        EXPECT_EQ(out.rfind("\n\tcurrent register values:\n\tX0: 0000000000000000,  X1: 0000000000000001,  X2", 0), 0u);
        EXPECT_NE(out.find(",\n\tX8: 0000000000000008,  X9: 0000000000000009, X10: 000000000000000A"), std::string::npos);
        EXPECT_NE(out.find(", X30: 000000000000001E,  SP: 000000000000001F,\n\tPC: 0000000000000020\n"),
                  std::string::npos)
            << out;
    } else {
        EXPECT_EQ(out, "\n\tcurrent register values:\n\tR0: 00000000,  R1: 00000001,  R2: 00000002,  R3: 00000003,  "
                       "R4: 00000004,  R5: 00000005,  R6: 00000006,  R7: 00000007,\n\tR8: 00000008,  R9: 00000009,  "
                       "R10: 0000000A, R11: 0000000B, R12: 0000000C, SP: 0000000D, R14: 0000000E, PC: 0000000F\n");
    }
}

}  // namespace
}  // namespace diagnosistest
