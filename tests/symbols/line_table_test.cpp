// Line-number programs on hand-made `.debug_line` sections: every version's file tables, the
// rows a look-up answers with, the choice between overlapping sequences, and programs that are
// damaged (unknown opcodes, no line range, endless numbers, unsupported versions).
#include <gtest/gtest.h>

#include "analyzer/symbols/dwarf_constants.h"
#include "analyzer/symbols/line_table.h"
#include "tests/support/run_capture.h"
#include "tests/symbols/dwarf_builder.h"

namespace {

namespace dw = coresift::dw;
using coresift::ElfClass;
using coresift::SourceLine;
using testsupport::AbbrevWriter;
using testsupport::ByteWriter;
using testsupport::Bytes;
using testsupport::LineShape;

class LineTableTest : public testing::Test {
protected:
    LineTableTest() { run.context().catalog.selectEnglish(); }

    // A unit whose line program is at offset 0 and whose compilation directory is "/build".
    void setUnits(std::initializer_list<Bytes> units, ElfClass elfClass = ElfClass::Elf32) {
        sections.line.clear();
        for (const Bytes& u : units) sections.line.insert(sections.line.end(), u.begin(), u.end());
        AbbrevWriter abbrev;
        std::uint32_t code = abbrev.add(dw::kTagCompileUnit, false, {{dw::kAtStmtList, dw::kFormSecOffset}, {dw::kAtCompDir, dw::kFormString}});
        sections.abbrev = abbrev.bytes();
        ByteWriter e;
        e.uleb(code).u32(0).str("/build");
        sections.info = testsupport::unitBytes({.version = 4}, e.bytes);
        dwarf = sections.make(run.context().console, elfClass);
    }
    std::optional<SourceLine> at(std::uint64_t address) { return dwarf->lineTables().lineAt(address); }
    std::string describe(std::uint64_t address) {
        auto line = at(address);
        return line ? line->path() + ":" + std::to_string(line->line) : "none";
    }

    testsupport::RunCapture run;
    testsupport::DwarfFixture sections;
    std::unique_ptr<coresift::DwarfInfo> dwarf;
};

// Special opcode for a line and address advance with the default shape (base 13, range 14, -5).
std::uint8_t special(int lineDelta, unsigned addressUnits) {
    return static_cast<std::uint8_t>((lineDelta + 5) + 14 * addressUnits + 13);
}

Bytes program(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes ops(std::initializer_list<std::uint8_t> bytes) { return Bytes(bytes); }

TEST_F(LineTableTest, EveryVersionAnswersWithTheLastRowAtOrBeforeTheAddress) {
    for (std::uint16_t version : {2, 3, 4, 5}) {
        LineShape shape;
        shape.version = version;
        shape.directories = version >= 5 ? std::vector<std::string>{"/build", "/src"} : std::vector<std::string>{"/src"};
        shape.files = version >= 5 ? std::vector<std::pair<std::string, std::uint64_t>>{{"main.c", 0}, {"main.c", 0}, {"util.h", 1}}
                                   : std::vector<std::pair<std::string, std::uint64_t>>{{"main.c", 0}, {"util.h", 1}};
        ByteWriter p;
        p.raw(testsupport::setAddress(0x1000, 4));
        p.u8(dw::kLnsCopy);                                      // 0x1000 line 1
        p.u8(special(4, 2));                                     // 0x1004 line 5
        p.u8(dw::kLnsAdvancePc).uleb(3).u8(dw::kLnsAdvanceLine).sleb(10).u8(dw::kLnsCopy);  // 0x100a line 15
        p.u8(dw::kLnsSetFile).uleb(2).u8(special(-3, 1));        // 0x100c line 12 util.h
        p.u8(dw::kLnsSetFile).uleb(1).u8(special(0, 0));         // 0x100c line 12 main.c (same address)
        p.u8(dw::kLnsConstAddPc).u8(special(1, 0));              // +((255-13)/14)*2 = 0x102e line 13
        p.u8(dw::kLnsFixedAdvancePc).u16(0x10).u8(dw::kLnsCopy); // 0x103e line 13
        p.u8(dw::kLnsAdvancePc).uleb(2).raw(testsupport::endSequence());  // ends at 0x1042
        setUnits({testsupport::lineUnitBytes(shape, p.bytes)});
        SCOPED_TRACE(version);
        EXPECT_EQ(describe(0xFFF), "none");
        EXPECT_EQ(describe(0x1000), "/build/main.c:1");
        EXPECT_EQ(describe(0x1003), "/build/main.c:1");
        EXPECT_EQ(describe(0x1004), "/build/main.c:5");
        EXPECT_EQ(describe(0x100a), "/build/main.c:15");
        EXPECT_EQ(describe(0x100c), "/build/main.c:12");  // the later of two rows at one address
        EXPECT_EQ(describe(0x102d), "/build/main.c:12");
        EXPECT_EQ(describe(0x102e), "/build/main.c:13");
        EXPECT_EQ(describe(0x1041), "/build/main.c:13");
        EXPECT_EQ(describe(0x1042), "none");
        auto header = dwarf->lineTables().fileOf(0, version >= 5 ? 2 : 2);
        ASSERT_TRUE(header);
        EXPECT_EQ(header->path(), "/src/util.h");
        EXPECT_EQ(run.err(), "");
    }
}

TEST_F(LineTableTest, OfSequencesCoveringAnAddressTheLatestStartWinsAndThenTheFirstProgram) {
    LineShape shape;
    auto sequence = [](std::uint64_t start, std::uint64_t length, int line) {
        ByteWriter p;
        p.raw(testsupport::setAddress(start, 4)).u8(dw::kLnsAdvanceLine).sleb(line - 1).u8(dw::kLnsCopy);
        p.u8(dw::kLnsAdvancePc).uleb(length / 2).raw(testsupport::endSequence());
        return p.bytes;
    };
    // Identical ranges in two units: the first program answers. A sequence inside another one
    // (a later start) wins inside it. A sequence at address 0 (a discarded function) is left out.
    setUnits({testsupport::lineUnitBytes(shape, program({sequence(0x2000, 0x100, 10), sequence(0x2040, 0x10, 30)})),
              testsupport::lineUnitBytes(shape, program({sequence(0x2000, 0x100, 20), sequence(0, 0x3000, 99)}))});
    EXPECT_EQ(at(0x2000)->line, 10u);
    EXPECT_EQ(at(0x203F)->line, 10u);
    EXPECT_EQ(at(0x2040)->line, 30u);
    EXPECT_EQ(at(0x204F)->line, 30u);
    EXPECT_EQ(at(0x2050)->line, 10u);
    EXPECT_FALSE(at(0x10));
    EXPECT_EQ(dwarf->lineTables().sequenceCount(), 3u);
}

TEST_F(LineTableTest, AnUnknownExtendedOpcodeAbandonsTheRestOfItsUnitOnly) {
    LineShape shape;
    ByteWriter first;
    first.raw(testsupport::setAddress(0x1000, 4)).u8(dw::kLnsCopy).u8(dw::kLnsAdvancePc).uleb(8).raw(testsupport::endSequence());
    first.raw(testsupport::extendedOp(0x80, {1, 2, 3}));
    first.raw(testsupport::setAddress(0x3000, 4)).u8(dw::kLnsCopy).u8(dw::kLnsAdvancePc).uleb(8).raw(testsupport::endSequence());
    ByteWriter second;
    second.raw(testsupport::setAddress(0x5000, 4)).u8(special(6, 0)).u8(dw::kLnsAdvancePc).uleb(8).raw(testsupport::endSequence());
    setUnits({testsupport::lineUnitBytes(shape, first.bytes), testsupport::lineUnitBytes(shape, second.bytes)});
    EXPECT_EQ(at(0x1000)->line, 1u);
    EXPECT_FALSE(at(0x3000));
    EXPECT_EQ(at(0x5000)->line, 7u);
    EXPECT_FALSE(at(0x3004));  // the walk ran once: the message is printed once
    EXPECT_EQ(run.err(), "Error: Unrecognized  of .debug_line op code: 0x80\n");
}

TEST_F(LineTableTest, UnitsThatCannotBeRunAreSkippedAndTheOthersAnswer) {
    LineShape good;
    ByteWriter p;
    p.raw(testsupport::setAddress(0x4000, 4)).u8(dw::kLnsCopy).u8(dw::kLnsAdvancePc).uleb(4).raw(testsupport::endSequence());
    LineShape noRange = good;
    noRange.lineRange = 0;
    LineShape noBase = good;
    noBase.opcodeBase = 0;
    LineShape future = good;
    future.version = 6;
    // A special opcode with line_range 0 would divide by zero; an eleven-byte LEB128 operand.
    ByteWriter endless;
    endless.raw(testsupport::setAddress(0x6000, 4)).u8(dw::kLnsCopy).u8(dw::kLnsAdvancePc);
    for (int i = 0; i < 10; ++i) endless.u8(0xFF);
    endless.u8(0x01).raw(testsupport::endSequence());
    setUnits({testsupport::lineUnitBytes(noRange, program({ops({special(1, 1)}), p.bytes})),
              testsupport::lineUnitBytes(future, p.bytes), testsupport::lineUnitBytes(noBase, p.bytes),
              testsupport::lineUnitBytes(good, endless.bytes), testsupport::lineUnitBytes(good, p.bytes)});
    EXPECT_EQ(describe(0x4002), "/src/a.c:1");
    EXPECT_FALSE(at(0x6000));
    EXPECT_EQ(dwarf->lineTables().sequenceCount(), 1u);
    EXPECT_EQ(run.err(), "Error: Don't support  of .debug_line version 0x6\n");
}

TEST_F(LineTableTest, FilesDefinedByTheProgramAndUnknownStandardOpcodesAreUnderstood) {
    LineShape shape;
    shape.opcodeBase = 14;  // opcode 13 is a vendor's, with one operand
    ByteWriter define;
    define.str("generated.c").uleb(1).uleb(0).uleb(0);
    ByteWriter p;
    p.raw(testsupport::extendedOp(dw::kLneDefineFile, define.bytes));
    p.raw(testsupport::extendedOp(dw::kLneSetDiscriminator, {3}));
    p.raw(testsupport::setAddress(0x7000, 4)).u8(13).uleb(0x12345).u8(dw::kLnsSetFile).uleb(3).u8(dw::kLnsCopy);
    p.u8(dw::kLnsAdvancePc).uleb(4).raw(testsupport::endSequence());
    setUnits({testsupport::lineUnitBytes(shape, p.bytes)});
    EXPECT_EQ(describe(0x7004), "/src/generated.c:1");
}

TEST_F(LineTableTest, RowsThatGoBackwardsStopTheAnswerAtTheFirstRowBeyondTheAddress) {
    LineShape shape;
    ByteWriter p;
    p.raw(testsupport::setAddress(0x8000, 4)).u8(dw::kLnsCopy);  // 0x8000 line 1
    p.raw(testsupport::setAddress(0x8020, 4)).u8(special(1, 0));  // 0x8020 line 2
    p.raw(testsupport::setAddress(0x8010, 4)).u8(special(1, 0));  // 0x8010 line 3 (backwards)
    p.raw(testsupport::setAddress(0x8040, 4)).raw(testsupport::endSequence());
    setUnits({testsupport::lineUnitBytes(shape, p.bytes)});
    EXPECT_EQ(at(0x8018)->line, 1u);  // the row at 0x8020 is beyond: the walk stops there
    EXPECT_EQ(at(0x8030)->line, 3u);
}

TEST_F(LineTableTest, SixtyFourBitAddressesAndVersionFiveHeadersOfThatSize) {
    LineShape shape;
    shape.version = 5;
    shape.addressSize = 8;
    shape.directories = {"/build"};
    shape.files = {{"wide.c", 0}, {"wide.c", 0}};
    ByteWriter p;
    p.raw(testsupport::setAddress(0x7F0000001000, 8)).u8(dw::kLnsCopy).u8(dw::kLnsAdvancePc).uleb(2).raw(testsupport::endSequence());
    setUnits({testsupport::lineUnitBytes(shape, p.bytes)}, ElfClass::Elf64);
    EXPECT_EQ(describe(0x7F0000001003), "/build/wide.c:1");
}

}  // namespace
