// The debugging-information reader on hand-made sections: unit headers of every version and unit
// type, every attribute form, the form messages, entries and their links, address ranges and the
// unit that covers an address. Damaged offsets, lengths and numbers read as absent.
#include <gtest/gtest.h>

#include "analyzer/symbols/dwarf_constants.h"
#include "tests/support/run_capture.h"
#include "tests/symbols/dwarf_builder.h"

namespace {

namespace dw = coresift::dw;
using coresift::DebugSection;
using coresift::DwarfInfo;
using coresift::ElfClass;
using coresift::Entry;
using testsupport::AbbrevWriter;
using testsupport::AttributeForm;
using testsupport::ByteWriter;
using testsupport::Bytes;
using testsupport::DwarfFixture;
using testsupport::UnitShape;
using testsupport::put32;

class DwarfTest : public testing::Test {
protected:
    DwarfTest() { run.context().catalog.selectEnglish(); }
    coresift::Console& console() { return run.context().console; }
    std::unique_ptr<DwarfInfo> make(ElfClass elfClass = ElfClass::Elf32) { return sections.make(console(), elfClass); }
    static Bytes cat(std::initializer_list<Bytes> parts) {
        Bytes out;
        for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
        return out;
    }

    testsupport::RunCapture run;
    DwarfFixture sections;
};

// --- Unit headers ---

TEST_F(DwarfTest, UnitHeadersOfEveryVersionAndTypePlaceTheirEntriesAsTheStandardSays) {
    AbbrevWriter abbrev;
    std::uint32_t named = abbrev.add(dw::kTagCompileUnit, false, {{dw::kAtName, dw::kFormString}});
    sections.abbrev = abbrev.bytes();

    struct Case {
        const char* label;
        UnitShape shape;
        std::uint64_t expectedHeader;
    };
    std::vector<Case> cases = {
        {"v2", {.version = 2}, 11},
        {"v3", {.version = 3}, 11},
        {"v4", {.version = 4}, 11},
        {"v4-64", {.version = 4, .dwarf64 = true}, 23},
        {"compile", {.version = 5, .unitType = dw::kUtCompile}, 12},
        {"partial", {.version = 5, .unitType = dw::kUtPartial}, 12},
        {"skeleton", {.version = 5, .unitType = dw::kUtSkeleton, .dwoId = 0x1122334455667788}, 20},
        {"split", {.version = 5, .unitType = dw::kUtSplitCompile, .dwoId = 0x99}, 20},
        {"type", {.version = 5, .unitType = dw::kUtType, .typeSignature = 0xABCDEF, .typeOffset = 24}, 24},
        {"split-type", {.version = 5, .unitType = dw::kUtSplitType, .typeSignature = 0x77, .typeOffset = 24}, 24},
        {"type-64", {.version = 5, .unitType = dw::kUtType, .dwarf64 = true, .typeSignature = 5, .typeOffset = 40}, 40},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(testsupport::unitHeaderSize(c.shape), c.expectedHeader) << c.label;
        ByteWriter entry;
        entry.uleb(named).str(c.label).u8(0);
        Bytes unit = testsupport::unitBytes(c.shape, entry.bytes);
        sections.info.insert(sections.info.end(), unit.begin(), unit.end());
    }
    auto dwarf = make();
    ASSERT_TRUE(dwarf);
    ASSERT_EQ(dwarf->units().size(), cases.size());
    std::uint64_t offset = 0;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto& h = dwarf->units()[i].header;
        EXPECT_EQ(h.offset, offset) << cases[i].label;
        EXPECT_EQ(h.firstEntry, offset + cases[i].expectedHeader) << cases[i].label;
        EXPECT_EQ(h.dwoId, cases[i].shape.dwoId) << cases[i].label;
        EXPECT_EQ(h.typeSignature, cases[i].shape.typeSignature) << cases[i].label;
        EXPECT_EQ(h.typeOffset, cases[i].shape.typeOffset) << cases[i].label;
        EXPECT_EQ(dwarf->name(dwarf->unitEntry(dwarf->units()[i])), cases[i].label);
        offset = h.end;
    }
    EXPECT_EQ(run.err(), "");
}

TEST_F(DwarfTest, TypeUnitsOfBothSectionsAnswerSignatureReferences) {
    AbbrevWriter abbrev;
    std::uint32_t unitCode = abbrev.add(dw::kTagCompileUnit, true, {});
    std::uint32_t typeUnitCode = abbrev.add(dw::kTagTypeUnit, true, {});
    std::uint32_t structure = abbrev.add(dw::kTagStructureType, false, {{dw::kAtName, dw::kFormString}});
    std::uint32_t variable = abbrev.add(dw::kTagVariable, false, {{dw::kAtName, dw::kFormString}, {dw::kAtType, dw::kFormRefSig8}});
    sections.abbrev = abbrev.bytes();

    // A version 5 type unit in .debug_info and a version 4 one in .debug_types.
    UnitShape v5{.version = 5, .unitType = dw::kUtType, .typeSignature = 0x5555};
    v5.typeOffset = testsupport::unitHeaderSize(v5) + 1;
    UnitShape v4{.version = 4, .typeSignature = 0x4444, .typesSection = true};
    v4.typeOffset = testsupport::unitHeaderSize(v4) + 1;
    auto typeUnit = [&](const UnitShape& shape, const char* name) {
        ByteWriter e;
        e.uleb(typeUnitCode).uleb(structure).str(name).u8(0);
        return testsupport::unitBytes(shape, e.bytes);
    };
    ByteWriter user;
    user.uleb(unitCode).uleb(variable).str("a").u64(0x5555).uleb(variable).str("b").u64(0x4444);
    user.uleb(variable).str("c").u64(0x9999).u8(0);
    sections.info = cat({typeUnit(v5, "FromInfo"), testsupport::unitBytes({.version = 5}, user.bytes)});
    sections.types = typeUnit(v4, "FromTypes");

    auto dwarf = make();
    ASSERT_TRUE(dwarf);
    ASSERT_EQ(dwarf->units().size(), 3u);
    Entry a = dwarf->firstChild(dwarf->unitEntry(dwarf->units()[1]));
    Entry b = dwarf->nextSibling(a);
    Entry c = dwarf->nextSibling(b);
    EXPECT_EQ(dwarf->name(dwarf->typeOf(a)), "FromInfo");
    EXPECT_EQ(dwarf->name(dwarf->typeOf(b)), "FromTypes");
    EXPECT_FALSE(dwarf->typeOf(c));  // no unit carries that signature
    EXPECT_FALSE(dwarf->nextSibling(c));
}

TEST_F(DwarfTest, UnsupportedVersionsAreSkippedWithAMessageAndTheRestIsRead) {
    AbbrevWriter abbrev;
    std::uint32_t named = abbrev.add(dw::kTagCompileUnit, false, {{dw::kAtName, dw::kFormString}});
    sections.abbrev = abbrev.bytes();
    auto unit = [&](std::uint16_t version, const char* name) {
        ByteWriter e;
        e.uleb(named).str(name);
        return testsupport::unitBytes({.version = version}, e.bytes);
    };
    sections.info = cat({unit(4, "first"), unit(6, "future"), unit(1, "ancient"), unit(5, "last")});
    auto dwarf = make();
    ASSERT_TRUE(dwarf);
    ASSERT_EQ(dwarf->units().size(), 2u);
    EXPECT_EQ(dwarf->name(dwarf->unitEntry(dwarf->units()[0])), "first");
    EXPECT_EQ(dwarf->name(dwarf->unitEntry(dwarf->units()[1])), "last");
    EXPECT_EQ(run.err(), "Error: Don't support  of .debug_info version 0x6\n"
                         "Error: Don't support  of .debug_info version 0x1\n");
}

TEST_F(DwarfTest, DamagedUnitLengthsEndTheWalkWithoutReadingPastTheSection) {
    AbbrevWriter abbrev;
    std::uint32_t named = abbrev.add(dw::kTagCompileUnit, false, {{dw::kAtName, dw::kFormString}});
    sections.abbrev = abbrev.bytes();
    ByteWriter e;
    e.uleb(named).str("good");
    Bytes good = testsupport::unitBytes({.version = 4}, e.bytes);
    for (std::uint32_t length : {0xFFFFFFF0u, 0x7FFFFFFFu, 1u, 0u}) {
        ByteWriter bad;
        bad.u32(length).u16(4);
        sections.info = cat({good, bad.bytes});
        auto dwarf = make();
        ASSERT_TRUE(dwarf);
        EXPECT_EQ(dwarf->units().size(), 1u) << length;
    }
    // A 64-bit length larger than the section.
    ByteWriter huge;
    huge.u32(0xFFFFFFFFu).u64(UINT64_MAX).u16(4);
    sections.info = cat({good, huge.bytes});
    EXPECT_EQ(make()->units().size(), 1u);
    // Abbreviation offsets outside .debug_abbrev give units whose entries read as none.
    sections.info = testsupport::unitBytes({.version = 4, .abbrevOffset = 0xFFFFFF}, e.bytes);
    auto dwarf = make();
    ASSERT_EQ(dwarf->units().size(), 1u);
    EXPECT_FALSE(dwarf->unitEntry(dwarf->units()[0]));
}

// --- Attribute forms ---

// One entry carrying every form; each attribute has its own (vendor) name so it can be read alone,
// and a last attribute that can only be reached when every size before it was right.
TEST_F(DwarfTest, EveryFormIsReadAndSkippedBySize) {
    struct FormCase {
        std::uint32_t form;
        std::function<void(ByteWriter&)> write;
        std::uint64_t value;  // expected raw value (0 for blocks and strings)
    };
    ByteWriter str;
    str.u8(0).str("in-str");                  // offset 1
    ByteWriter lineStr;
    lineStr.str("in-line-str");                // offset 0
    ByteWriter strOffsets;
    strOffsets.u32(0).u32(0).u32(1);           // version 5 table header (8 bytes), then index 0 -> 1
    ByteWriter addr;
    addr.u32(0).u32(0x1000).u32(0x2000);       // index 0 at base 4
    sections.str = str.bytes;
    sections.lineStr = lineStr.bytes;
    sections.strOffsets = strOffsets.bytes;
    sections.addr = addr.bytes;

    std::vector<FormCase> cases = {
        {dw::kFormAddr, [](ByteWriter& w) { w.u32(0xA0A0); }, 0xA0A0},
        {dw::kFormBlock2, [](ByteWriter& w) { w.u16(3).u8(1).u8(2).u8(3); }, 0},
        {dw::kFormBlock4, [](ByteWriter& w) { w.u32(2).u8(1).u8(2); }, 0},
        {dw::kFormData2, [](ByteWriter& w) { w.u16(0xBEEF); }, 0xBEEF},
        {dw::kFormData4, [](ByteWriter& w) { w.u32(0xDEADBEEF); }, 0xDEADBEEF},
        {dw::kFormData8, [](ByteWriter& w) { w.u64(0x0102030405060708); }, 0x0102030405060708},
        {dw::kFormString, [](ByteWriter& w) { w.str("inline"); }, 0},
        {dw::kFormBlock, [](ByteWriter& w) { w.uleb(1).u8(9); }, 0},
        {dw::kFormBlock1, [](ByteWriter& w) { w.u8(1).u8(9); }, 0},
        {dw::kFormData1, [](ByteWriter& w) { w.u8(0x7F); }, 0x7F},
        {dw::kFormFlag, [](ByteWriter& w) { w.u8(1); }, 1},
        {dw::kFormSdata, [](ByteWriter& w) { w.sleb(-300); }, static_cast<std::uint64_t>(-300)},
        {dw::kFormStrp, [](ByteWriter& w) { w.u32(1); }, 1},
        {dw::kFormUdata, [](ByteWriter& w) { w.uleb(1u << 20); }, 1u << 20},
        {dw::kFormRefAddr, [](ByteWriter& w) { w.u32(0x33); }, 0x33},
        {dw::kFormRef1, [](ByteWriter& w) { w.u8(1); }, 1},
        {dw::kFormRef2, [](ByteWriter& w) { w.u16(2); }, 2},
        {dw::kFormRef4, [](ByteWriter& w) { w.u32(3); }, 3},
        {dw::kFormRef8, [](ByteWriter& w) { w.u64(4); }, 4},
        {dw::kFormRefUdata, [](ByteWriter& w) { w.uleb(5); }, 5},
        {dw::kFormIndirect, [](ByteWriter& w) { w.uleb(dw::kFormData2).u16(0x4242); }, 0x4242},
        {dw::kFormSecOffset, [](ByteWriter& w) { w.u32(0x10); }, 0x10},
        {dw::kFormExprloc, [](ByteWriter& w) { w.uleb(2).u8(0x30).u8(0x31); }, 0},
        {dw::kFormFlagPresent, [](ByteWriter&) {}, 1},
        {dw::kFormStrx, [](ByteWriter& w) { w.uleb(0); }, 0},
        {dw::kFormAddrx, [](ByteWriter& w) { w.uleb(1); }, 1},
        {dw::kFormRefSup4, [](ByteWriter& w) { w.u32(6); }, 6},
        {dw::kFormStrpSup, [](ByteWriter& w) { w.u32(7); }, 7},
        {dw::kFormData16, [](ByteWriter& w) { w.u64(1).u64(2); }, 0},
        {dw::kFormLineStrp, [](ByteWriter& w) { w.u32(0); }, 0},
        {dw::kFormRefSig8, [](ByteWriter& w) { w.u64(0x5151); }, 0x5151},
        {dw::kFormImplicitConst, [](ByteWriter&) {}, static_cast<std::uint64_t>(-7)},
        {dw::kFormLoclistx, [](ByteWriter& w) { w.uleb(8); }, 8},
        {dw::kFormRnglistx, [](ByteWriter& w) { w.uleb(9); }, 9},
        {dw::kFormRefSup8, [](ByteWriter& w) { w.u64(10); }, 10},
        {dw::kFormStrx1, [](ByteWriter& w) { w.u8(0); }, 0},
        {dw::kFormStrx2, [](ByteWriter& w) { w.u16(0); }, 0},
        {dw::kFormStrx3, [](ByteWriter& w) { w.u8(0).u8(0).u8(0); }, 0},
        {dw::kFormStrx4, [](ByteWriter& w) { w.u32(0); }, 0},
        {dw::kFormAddrx1, [](ByteWriter& w) { w.u8(0); }, 0},
        {dw::kFormAddrx2, [](ByteWriter& w) { w.u16(1); }, 1},
        {dw::kFormAddrx3, [](ByteWriter& w) { w.u8(0).u8(0).u8(0); }, 0},
        {dw::kFormAddrx4, [](ByteWriter& w) { w.u32(1); }, 1},
        {dw::kFormGnuAddrIndex, [](ByteWriter& w) { w.uleb(0); }, 0},
        {dw::kFormGnuStrIndex, [](ByteWriter& w) { w.uleb(0); }, 0},
        {dw::kFormGnuRefAlt, [](ByteWriter& w) { w.u32(11); }, 11},
        {dw::kFormGnuStrpAlt, [](ByteWriter& w) { w.u32(12); }, 12},
    };
    std::vector<AttributeForm> specs = {{dw::kAtStrOffsetsBase, dw::kFormSecOffset}, {dw::kAtAddrBase, dw::kFormSecOffset}};
    for (std::size_t i = 0; i < cases.size(); ++i)
        specs.push_back({static_cast<std::uint32_t>(0x2100 + i), cases[i].form, cases[i].form == dw::kFormImplicitConst ? -7 : 0});
    specs.push_back({dw::kAtName, dw::kFormString});
    AbbrevWriter abbrev;
    std::uint32_t code = abbrev.add(dw::kTagCompileUnit, false, specs);
    sections.abbrev = abbrev.bytes();
    ByteWriter entry;
    entry.uleb(code).u32(8).u32(4);
    for (const FormCase& c : cases) c.write(entry);
    entry.str("reached");
    sections.info = testsupport::unitBytes({.version = 5}, entry.bytes);

    auto dwarf = make();
    ASSERT_TRUE(dwarf);
    Entry top = dwarf->unitEntry(dwarf->units()[0]);
    EXPECT_EQ(dwarf->name(top), "reached");
    for (std::size_t i = 0; i < cases.size(); ++i) {
        auto value = dwarf->attribute(top, static_cast<std::uint32_t>(0x2100 + i));
        ASSERT_TRUE(value) << "form " << cases[i].form;
        EXPECT_EQ(value->value, cases[i].value) << "form " << cases[i].form;
    }
    auto byForm = [&](std::uint32_t form) {
        for (std::size_t i = 0; i < cases.size(); ++i)
            if (cases[i].form == form) return static_cast<std::uint32_t>(0x2100 + i);
        return 0u;
    };
    EXPECT_EQ(dwarf->text(top, byForm(dw::kFormString)), "inline");
    EXPECT_EQ(dwarf->text(top, byForm(dw::kFormStrp)), "in-str");
    EXPECT_EQ(dwarf->text(top, byForm(dw::kFormLineStrp)), "in-line-str");
    EXPECT_EQ(dwarf->text(top, byForm(dw::kFormStrx3)), "in-str");
    EXPECT_EQ(dwarf->text(top, byForm(dw::kFormGnuStrIndex)), "in-str");
    EXPECT_EQ(dwarf->address(top, byForm(dw::kFormAddr)), 0xA0A0u);
    EXPECT_EQ(dwarf->address(top, byForm(dw::kFormAddrx)), 0x2000u);
    EXPECT_EQ(dwarf->address(top, byForm(dw::kFormAddrx1)), 0x1000u);
    EXPECT_EQ(dwarf->signedConstant(top, byForm(dw::kFormSdata)), -300);
    EXPECT_EQ(dwarf->signedConstant(top, byForm(dw::kFormImplicitConst)), -7);
    EXPECT_EQ(dwarf->attribute(top, byForm(dw::kFormBlock2))->bytes.size(), 3u);
    EXPECT_EQ(dwarf->attribute(top, byForm(dw::kFormData16))->bytes.size(), 16u);
    EXPECT_EQ(dwarf->attribute(top, byForm(dw::kFormIndirect))->form, dw::kFormData2);
    EXPECT_TRUE(dwarf->flag(top, byForm(dw::kFormFlagPresent)));
    EXPECT_EQ(run.err(), "");
}

TEST_F(DwarfTest, FormsAReaderDoesNotTakeAreReportedOncePerClassAndForm) {
    AbbrevWriter abbrev;
    std::uint32_t code = abbrev.add(dw::kTagCompileUnit, true,
                                    {{dw::kAtName, dw::kFormData4}, {dw::kAtType, dw::kFormString},
                                     {dw::kAtLowPc, dw::kFormData1}, {dw::kAtByteSize, dw::kFormString}});
    std::uint32_t badSibling = abbrev.add(dw::kTagVariable, true, {{dw::kAtSibling, dw::kFormData1}});
    std::uint32_t unknownForm = abbrev.add(dw::kTagVariable, false, {{dw::kAtName, 0x7F}});
    sections.abbrev = abbrev.bytes();
    ByteWriter e;
    e.uleb(code).u32(1).str("t").u8(2).str("s");
    e.uleb(badSibling).u8(0x40).u8(0).uleb(unknownForm).u8(0).u8(0);
    sections.info = testsupport::unitBytes({.version = 4}, e.bytes);
    auto dwarf = make();
    Entry top = dwarf->unitEntry(dwarf->units()[0]);
    for (int twice = 0; twice < 2; ++twice) {
        EXPECT_FALSE(dwarf->text(top, dw::kAtName));
        EXPECT_FALSE(dwarf->typeOf(top));
        EXPECT_FALSE(dwarf->address(top, dw::kAtLowPc));
        EXPECT_FALSE(dwarf->constant(top, dw::kAtByteSize));
        Entry child = dwarf->firstChild(top);
        dwarf->nextSibling(child);
        EXPECT_EQ(dwarf->name(dwarf->firstChild(child)), "");
    }
    EXPECT_EQ(run.err(), "Error: Unrecognized Str Form type: 0x6\n"
                         "Error: Unrecognized Ref Form type: 0x8\n"
                         "Error: Unrecognized Addr Form type: 0xB\n"
                         "Error: Unrecognized Data Form type: 0x8\n"
                         "Error: Unrecognized Form type: 0x7F\n"
                         "Error: Unrecognized Sibling Form type: 0xB\n");
}

TEST_F(DwarfTest, OffsetsIndexesAndNumbersOutsideTheirSectionsReadAsAbsent) {
    AbbrevWriter abbrev;
    std::uint32_t code = abbrev.add(
        dw::kTagCompileUnit, false,
        {{dw::kAtName, dw::kFormStrp}, {dw::kAtCompDir, dw::kFormStrx}, {dw::kAtLowPc, dw::kFormAddrx},
         {dw::kAtType, dw::kFormRef4}, {dw::kAtSpecification, dw::kFormRefAddr}, {dw::kAtRanges, dw::kFormRnglistx},
         {dw::kAtByteSize, dw::kFormUdata}, {0x2001, dw::kFormIndirect}});
    sections.abbrev = abbrev.bytes();
    ByteWriter e;
    e.uleb(code).u32(0xFFFF).uleb(UINT64_MAX / 2).uleb(UINT64_MAX).u32(0x7FFFFFFF).u32(0xFFFFFF).uleb(1000);
    // An eleven-byte LEB128 number, then a chain of indirections.
    for (int i = 0; i < 10; ++i) e.u8(0x80);
    e.u8(0x01);
    e.uleb(dw::kFormIndirect).uleb(dw::kFormIndirect).uleb(dw::kFormIndirect).uleb(dw::kFormIndirect).uleb(dw::kFormIndirect).u8(1);
    sections.info = testsupport::unitBytes({.version = 5}, e.bytes);
    sections.str = {'a', 0};
    auto dwarf = make();
    Entry top = dwarf->unitEntry(dwarf->units()[0]);
    EXPECT_FALSE(dwarf->text(top, dw::kAtName));
    EXPECT_FALSE(dwarf->text(top, dw::kAtCompDir));
    EXPECT_FALSE(dwarf->address(top, dw::kAtLowPc));
    EXPECT_FALSE(dwarf->typeOf(top));
    EXPECT_FALSE(dwarf->referenced(top, dw::kAtSpecification));
    EXPECT_FALSE(dwarf->covers(top, 0));
    EXPECT_FALSE(dwarf->constant(top, dw::kAtByteSize));  // the LEB128 number is too long
    EXPECT_FALSE(dwarf->attribute(top, 0x2001));
    EXPECT_FALSE(dwarf->endOfSubtree(top));
}

// --- Entries ---

TEST_F(DwarfTest, ChildrenAndSiblingsFollowTheTreeWhateverTheSiblingPointersSay) {
    AbbrevWriter abbrev;
    std::uint32_t parent = abbrev.add(dw::kTagCompileUnit, true, {});
    std::uint32_t withSibling = abbrev.add(dw::kTagStructureType, true, {{dw::kAtName, dw::kFormString}, {dw::kAtSibling, dw::kFormRef4}});
    std::uint32_t leaf = abbrev.add(dw::kTagMember, false, {{dw::kAtName, dw::kFormString}});
    sections.abbrev = abbrev.bytes();
    const std::uint64_t header = 11;
    ByteWriter e;
    e.uleb(parent);
    // "A" with a correct sibling pointer, "B" pointing backwards (ignored), "C" pointing past the unit.
    std::size_t aSibling = 0, bSibling = 0, cSibling = 0;
    e.uleb(withSibling).str("A");
    aSibling = e.size();
    e.u32(0).uleb(leaf).str("a1").uleb(leaf).str("a2").u8(0);
    std::uint64_t bOffset = header + e.size();
    put32(e.bytes, aSibling, static_cast<std::uint32_t>(bOffset));
    e.uleb(withSibling).str("B");
    bSibling = e.size();
    e.u32(static_cast<std::uint32_t>(header)).uleb(leaf).str("b1").u8(0);
    e.uleb(withSibling).str("C");
    cSibling = e.size();
    e.u32(0xFFFF).u8(0);  // no children
    e.uleb(leaf).str("D").u8(0);
    put32(e.bytes, bSibling, static_cast<std::uint32_t>(header));
    put32(e.bytes, cSibling, 0xFFFF);
    sections.info = testsupport::unitBytes({.version = 4}, e.bytes);

    auto dwarf = make();
    Entry top = dwarf->unitEntry(dwarf->units()[0]);
    std::vector<std::string> names;
    for (Entry child = dwarf->firstChild(top); child; child = dwarf->nextSibling(child)) {
        names.emplace_back(dwarf->name(child));
        for (Entry grand = dwarf->firstChild(child); grand; grand = dwarf->nextSibling(grand))
            names.push_back("  " + std::string(dwarf->name(grand)));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"A", "  a1", "  a2", "B", "  b1", "C", "D"}));
    EXPECT_EQ(dwarf->endOfSubtree(top), dwarf->units()[0].header.end);
}

TEST_F(DwarfTest, AnUnclosedUnitEndsItsChildren) {
    AbbrevWriter abbrev;
    std::uint32_t parent = abbrev.add(dw::kTagCompileUnit, true, {});
    std::uint32_t leaf = abbrev.add(dw::kTagMember, true, {{dw::kAtName, dw::kFormString}});
    sections.abbrev = abbrev.bytes();
    ByteWriter e;
    e.uleb(parent).uleb(leaf).str("x").uleb(leaf).str("y");  // no null entries at all
    sections.info = testsupport::unitBytes({.version = 4}, e.bytes);
    auto dwarf = make();
    Entry top = dwarf->unitEntry(dwarf->units()[0]);
    Entry x = dwarf->firstChild(top);
    EXPECT_EQ(dwarf->name(x), "x");
    EXPECT_EQ(dwarf->name(dwarf->firstChild(x)), "y");
    EXPECT_FALSE(dwarf->nextSibling(x));
    EXPECT_EQ(dwarf->endOfSubtree(top), dwarf->units()[0].header.end);
}

// --- Ranges and the unit at an address ---

TEST_F(DwarfTest, RangesOfEveryKindCoverTheirAddresses) {
    AbbrevWriter abbrev;
    std::uint32_t pcs = abbrev.add(dw::kTagCompileUnit, true, {{dw::kAtLowPc, dw::kFormAddr}, {dw::kAtHighPc, dw::kFormData4}});
    std::uint32_t v4ranges = abbrev.add(dw::kTagSubprogram, false, {{dw::kAtRanges, dw::kFormSecOffset}});
    std::uint32_t highAddress = abbrev.add(dw::kTagSubprogram, false, {{dw::kAtLowPc, dw::kFormAddr}, {dw::kAtHighPc, dw::kFormAddr}});
    std::uint32_t v5unit = abbrev.add(dw::kTagCompileUnit, true,
                                      {{dw::kAtLowPc, dw::kFormAddr}, {dw::kAtRnglistsBase, dw::kFormSecOffset},
                                       {dw::kAtAddrBase, dw::kFormSecOffset}});
    std::uint32_t rnglistx = abbrev.add(dw::kTagSubprogram, false, {{dw::kAtRanges, dw::kFormRnglistx}});
    sections.abbrev = abbrev.bytes();

    // .debug_ranges: base 0x1000 from the unit, a base selection to 0x8000, (0, 0).
    ByteWriter ranges;
    ranges.u32(0x10).u32(0x20).u32(0xFFFFFFFF).u32(0x8000).u32(0x4).u32(0x8).u32(0).u32(0);
    sections.ranges = ranges.bytes;
    // .debug_rnglists: header, one offset, then a list of every entry kind.
    ByteWriter lists;
    lists.u32(0).u16(5).u8(4).u8(0).u32(1).u32(4);
    lists.u8(dw::kRleOffsetPair).uleb(0x10).uleb(0x18);                       // base 0x20000 (unit low_pc)
    lists.u8(dw::kRleBaseAddressx).uleb(0).u8(dw::kRleOffsetPair).uleb(0).uleb(4);  // 0x30000
    lists.u8(dw::kRleStartxEndx).uleb(1).uleb(2);                              // 0x31000-0x31010
    lists.u8(dw::kRleStartxLength).uleb(1).uleb(2);                            // 0x31000-0x31002
    lists.u8(dw::kRleBaseAddress).u32(0x40000).u8(dw::kRleOffsetPair).uleb(1).uleb(2);
    lists.u8(dw::kRleStartEnd).u32(0x50000).u32(0x50008);
    lists.u8(dw::kRleStartLength).u32(0x60000).uleb(8);
    lists.u8(dw::kRleEndOfList);
    sections.rnglists = lists.bytes;
    ByteWriter addr;
    addr.u32(0).u32(0x30000).u32(0x31000).u32(0x31010);
    sections.addr = addr.bytes;

    ByteWriter v4;
    v4.uleb(pcs).u32(0x1000).u32(0x100).uleb(v4ranges).u32(0).uleb(highAddress).u32(0x1080).u32(0x1090).u8(0);
    ByteWriter v5;
    v5.uleb(v5unit).u32(0x20000).u32(12).u32(4).uleb(rnglistx).uleb(0).u8(0);
    sections.info = cat({testsupport::unitBytes({.version = 4}, v4.bytes), testsupport::unitBytes({.version = 5}, v5.bytes)});

    auto dwarf = make();
    auto rangesOf = [&](const Entry& entry) {
        std::vector<std::pair<std::uint64_t, std::uint64_t>> out;
        dwarf->forEachRange(entry, [&out](std::uint64_t b, std::uint64_t e) {
            out.emplace_back(b, e);
            return false;
        });
        return out;
    };
    using R = std::vector<std::pair<std::uint64_t, std::uint64_t>>;
    Entry first = dwarf->unitEntry(dwarf->units()[0]);
    EXPECT_EQ(rangesOf(first), (R{{0x1000, 0x1100}}));
    Entry sub = dwarf->firstChild(first);
    EXPECT_EQ(rangesOf(sub), (R{{0x1010, 0x1020}, {0x8004, 0x8008}}));
    EXPECT_EQ(rangesOf(dwarf->nextSibling(sub)), (R{{0x1080, 0x1090}}));
    Entry listed = dwarf->firstChild(dwarf->unitEntry(dwarf->units()[1]));
    EXPECT_EQ(rangesOf(listed), (R{{0x20010, 0x20018}, {0x30000, 0x30004}, {0x31000, 0x31010}, {0x31000, 0x31002},
                                   {0x40001, 0x40002}, {0x50000, 0x50008}, {0x60000, 0x60008}}));
    EXPECT_TRUE(dwarf->covers(listed, 0x50007));
    EXPECT_FALSE(dwarf->covers(listed, 0x50008));
    EXPECT_EQ(dwarf->lowestAddress(listed), 0x20010u);
}

TEST_F(DwarfTest, TheUnitAtAnAddressComesFromArangesThenFromTheUnitsInOrder) {
    AbbrevWriter abbrev;
    std::uint32_t code = abbrev.add(dw::kTagCompileUnit, false,
                                    {{dw::kAtName, dw::kFormString}, {dw::kAtLowPc, dw::kFormAddr}, {dw::kAtHighPc, dw::kFormData4}});
    sections.abbrev = abbrev.bytes();
    auto unit = [&](const char* name, std::uint32_t low, std::uint32_t size) {
        ByteWriter e;
        e.uleb(code).str(name).u32(low).u32(size);
        return testsupport::unitBytes({.version = 4}, e.bytes);
    };
    Bytes one = unit("one", 0x1000, 0x1000), two = unit("two", 0x1800, 0x1000), three = unit("three", 0x5000, 0x10);
    sections.info = cat({one, two, three});
    const std::uint32_t twoOffset = static_cast<std::uint32_t>(one.size());
    // Aranges: a set for unit "two" claiming 0x1000-0x1400 (with an empty tuple before the end),
    // a set with 8-byte addresses (wrong for this file), and one pointing between units.
    auto set = [](std::uint32_t infoOffset, std::uint8_t addressSize, std::vector<std::pair<std::uint64_t, std::uint64_t>> tuples) {
        ByteWriter body;
        body.u16(2).u32(infoOffset).u8(addressSize).u8(0);
        while ((body.size() + 4) % (2 * addressSize)) body.u8(0);
        for (auto [a, l] : tuples) body.sized(a, addressSize).sized(l, addressSize);
        body.sized(0, addressSize).sized(0, addressSize);
        ByteWriter out;
        out.u32(body.size()).raw(body.bytes);
        return out.bytes;
    };
    sections.aranges = cat({set(twoOffset, 4, {{0x9000, 0}, {0x1000, 0x400}}), set(0, 8, {{0x5000, 0x10}}), set(3, 4, {{0x6000, 4}})});

    auto dwarf = make();
    auto nameAt = [&](std::uint64_t a) { return std::string(dwarf->name(dwarf->unitAt(a))); };
    EXPECT_EQ(nameAt(0x1000), "two");    // aranges first
    EXPECT_EQ(nameAt(0x13FF), "two");
    EXPECT_EQ(nameAt(0x1400), "one");    // then the first unit in order that covers it
    EXPECT_EQ(nameAt(0x1900), "one");
    EXPECT_EQ(nameAt(0x2000), "two");
    EXPECT_EQ(nameAt(0x5008), "three");  // its arange set was refused
    EXPECT_EQ(nameAt(0x6000), "");       // a set naming no unit start covers nothing
    EXPECT_EQ(nameAt(0x2800), "");
    EXPECT_EQ(run.err(), "Error: Don't support  of .debug_aranges version 0x80002\n");
}

TEST_F(DwarfTest, TopLevelEntriesAndUnitsAreFoundByName) {
    AbbrevWriter abbrev;
    std::uint32_t unit = abbrev.add(dw::kTagCompileUnit, true, {{dw::kAtName, dw::kFormString}});
    std::uint32_t structure = abbrev.add(dw::kTagStructureType, false, {{dw::kAtName, dw::kFormString}});
    std::uint32_t ns = abbrev.add(dw::kTagNamespace, true, {{dw::kAtName, dw::kFormString}});
    sections.abbrev = abbrev.bytes();
    auto make1 = [&](const char* file, const char* type) {
        ByteWriter e;
        e.uleb(unit).str(file).uleb(ns).str("art").uleb(structure).str("Nested").u8(0).uleb(structure).str(type).u8(0);
        return testsupport::unitBytes({.version = 4}, e.bytes);
    };
    sections.info = cat({make1("art/runtime/thread.cc", "Thread"), make1("bionic/libc/malloc.cpp", "Chunk")});
    auto dwarf = make();
    EXPECT_EQ(dwarf->name(dwarf->findTopLevel(dw::kTagStructureType, "Chunk")), "Chunk");
    EXPECT_FALSE(dwarf->findTopLevel(dw::kTagStructureType, "Nested"));  // not a direct child
    EXPECT_FALSE(dwarf->findTopLevel(dw::kTagClassType, "Thread"));
    std::vector<std::string> visited;
    std::string_view wanted[] = {"thread.cc", "other.cc"};
    dwarf->forEachUnitNamed(wanted, [&](const Entry& e) {
        visited.emplace_back(dwarf->name(e));
        return 0;
    });
    EXPECT_EQ(visited, std::vector<std::string>{"art/runtime/thread.cc"});
}

}  // namespace
