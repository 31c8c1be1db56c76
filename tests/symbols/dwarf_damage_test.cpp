// Damaged debugging information that once made the reader's work grow far beyond the size of the
// file: abbreviation tables starting inside one another, and an unnamed member whose type is the
// structure that holds it. The reader must give its answer with bounded work.
#include <gtest/gtest.h>

#include "analyzer/symbols/dwarf_constants.h"
#include "analyzer/symbols/layout_facts.h"
#include "tests/support/run_capture.h"
#include "tests/symbols/dwarf_builder.h"

namespace {

namespace dw = coresift::dw;
using coresift::DwarfInfo;
using coresift::ElfClass;
using coresift::Entry;
using coresift::LayoutFact;
using testsupport::AbbrevWriter;
using testsupport::ByteWriter;
using testsupport::Bytes;

class DwarfDamageTest : public testing::Test {
protected:
    DwarfDamageTest() { run.context().catalog.selectEnglish(); }
    std::unique_ptr<DwarfInfo> make() { return sections.make(run.context().console, ElfClass::Elf32); }

    testsupport::RunCapture run;
    testsupport::DwarfFixture sections;
};

// Each unit's table starts one declaration further into a single table that has no terminating
// code 0, so each would read the rest of the section: the work would grow with the square of
// the unit count. A file whose units have tables of their own is read whole.
TEST_F(DwarfDamageTest, AbbreviationTablesStartingInsideOneAnotherAreReadWithBoundedWork) {
    constexpr std::uint32_t kUnits = 600;
    ByteWriter abbrev;
    std::vector<std::uint64_t> starts;
    for (std::uint32_t code = 1; code <= kUnits; ++code) {
        starts.push_back(abbrev.size());
        abbrev.uleb(code).uleb(dw::kTagCompileUnit).u8(0).uleb(dw::kAtName).uleb(dw::kFormString).uleb(0).uleb(0);
    }
    sections.abbrev = abbrev.bytes;  // no terminating 0
    for (std::uint32_t i = 0; i < kUnits; ++i) {
        ByteWriter entry;
        entry.uleb(i + 1).str("u");
        Bytes unit = testsupport::unitBytes({.version = 4, .abbrevOffset = starts[i]}, entry.bytes);
        sections.info.insert(sections.info.end(), unit.begin(), unit.end());
    }
    auto dwarf = make();
    ASSERT_TRUE(dwarf);
    ASSERT_EQ(dwarf->units().size(), kUnits);
    std::size_t declarations = 0;
    for (const coresift::Unit& unit : dwarf->units()) declarations += unit.abbreviations->size();
    EXPECT_EQ(dwarf->units()[0].abbreviations->size(), kUnits);  // the first table is read to the section end
    EXPECT_EQ(dwarf->name(dwarf->unitEntry(dwarf->units()[1])), "u");
    EXPECT_LT(declarations, std::size_t{kUnits} * kUnits / 8);  // unbounded: kUnits * (kUnits + 1) / 2

    // Sound tables, one per unit and each terminated, are all read.
    sections.abbrev.clear();
    sections.info.clear();
    for (std::uint32_t i = 0; i < kUnits; ++i) {
        AbbrevWriter table;
        table.add(dw::kTagCompileUnit, false, {{dw::kAtName, dw::kFormString}});
        ByteWriter entry;
        entry.uleb(1).str("own");
        Bytes unit = testsupport::unitBytes({.version = 4, .abbrevOffset = sections.abbrev.size()}, entry.bytes);
        sections.info.insert(sections.info.end(), unit.begin(), unit.end());
        Bytes bytes = table.bytes();
        sections.abbrev.insert(sections.abbrev.end(), bytes.begin(), bytes.end());
    }
    dwarf = make();
    ASSERT_EQ(dwarf->units().size(), kUnits);
    for (const coresift::Unit& unit : dwarf->units()) ASSERT_EQ(dwarf->name(dwarf->unitEntry(unit)), "own");
}

// struct S { <unnamed> : S at 4; <unnamed> : S at 8; a at 0 } — S holding itself by value. The
// unnamed members are opened once: `a` is found at 4, through the first of them, not at the
// bottom of a chain of S inside S inside S (whose count grows with the power of the depth).
TEST_F(DwarfDamageTest, AnUnnamedMemberHoldingItsOwnStructureIsOpenedOnce) {
    AbbrevWriter abbrev;
    const std::uint32_t unitCode = abbrev.add(dw::kTagCompileUnit, true, {});
    const std::uint32_t structCode = abbrev.add(dw::kTagStructureType, true, {{dw::kAtName, dw::kFormString}});
    const std::uint32_t unnamedCode = abbrev.add(
        dw::kTagMember, false, {{dw::kAtType, dw::kFormRef4}, {dw::kAtDataMemberLocation, dw::kFormData1}});
    const std::uint32_t namedCode = abbrev.add(
        dw::kTagMember, false, {{dw::kAtName, dw::kFormString}, {dw::kAtDataMemberLocation, dw::kFormData1}});
    sections.abbrev = abbrev.bytes();
    const testsupport::UnitShape shape{.version = 4};
    ByteWriter e;
    e.uleb(unitCode);
    const auto structOffset = static_cast<std::uint32_t>(testsupport::unitHeaderSize(shape) + e.size());
    e.uleb(structCode).str("S");
    e.uleb(unnamedCode).u32(structOffset).u8(4);
    e.uleb(unnamedCode).u32(structOffset).u8(8);
    e.uleb(namedCode).str("a").u8(0);
    e.u8(0).u8(0);
    sections.info = testsupport::unitBytes(shape, e.bytes);
    auto dwarf = make();
    ASSERT_TRUE(dwarf);

    std::vector<LayoutFact> facts(3);
    auto set = [&facts](int i, std::uint32_t tag, std::string_view name, std::uint32_t flags, int next, int child) {
        facts[i].tag = tag, facts[i].name = name, facts[i].flags = flags, facts[i].next = next, facts[i].firstChild = child;
    };
    set(0, dw::kTagStructureType, "S", coresift::kFactScope, -1, 1);
    set(1, dw::kTagMember, "", coresift::kFactFollowType, 2, -1);
    set(2, dw::kTagMember, "a", 0, -1, -1);
    EXPECT_EQ(coresift::resolveFacts(*dwarf, dwarf->unitEntry(dwarf->units()[0]), facts, 0, 0), 0);
    EXPECT_TRUE(facts[2].resolved);
    EXPECT_EQ(facts[2].value, 4);
}

}  // namespace
