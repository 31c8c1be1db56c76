// Layout facts, type texts and frame parameters on the cross-compiled test library, whose
// debugging information carries the members of crashns::Header (a member of a member, an
// anonymous union, a pointer, an enumeration) and the parameters of many_args(). Every
// compiler and DWARF version of this build's width is checked.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sstream>

#include "analyzer/symbols/dwarf_constants.h"
#include "analyzer/symbols/frame_parameters.h"
#include "analyzer/symbols/layout_facts.h"
#include "analyzer/symbols/symbol_lookup.h"
#include "analyzer/symbols/type_text.h"
#include "tests/support/run_capture.h"
#include "tests/symbols/symbol_test_support.h"

namespace {

namespace fs = std::filesystem;
namespace dw = coresift::dw;
using coresift::Entry;
using coresift::LayoutFact;

// The libraries whose compile units hold the types (type units keep them elsewhere).
std::vector<fs::path> libraries() {
    std::vector<fs::path> out;
    for (const fs::path& folder : testsupport::ownSymbolFixtureFolders())
        for (const char* name : {"libsym_dw2.so", "libsym_dw3.so", "libsym_dw4.so", "libsym_dw5.so", "libsym_zlib.so",
                                 "libsym_lld.so", "libsym_clang.so"})
            out.push_back(folder / name);
    return out;
}

class DwarfTypesTest : public testing::Test {
protected:
    void SetUp() override {
        if (libraries().empty()) GTEST_SKIP() << "the cross-compiled libraries were not built";
        run.context().catalog.selectEnglish();
    }
    testsupport::RunCapture run;
};

// crashns { Header { magic, <anonymous union> { asInt, asFloat }, inner { x, label },
// next -> { x, label }, kind, tail, missing (optional) }, Kind { kKindSmall, kKindLarge } }
std::vector<LayoutFact> headerFacts(bool requireMissing) {
    std::vector<LayoutFact> f(17);
    auto set = [&f](int i, std::uint32_t tag, std::string_view name, std::uint32_t flags, int next, int child = -1) {
        f[i].tag = tag, f[i].name = name, f[i].flags = flags, f[i].next = next, f[i].firstChild = child;
    };
    set(0, dw::kTagNamespace, "crashns", coresift::kFactScope, -1, 1);
    set(1, dw::kTagStructureType, "Header", coresift::kFactScope, 9, 2);
    set(2, dw::kTagMember, "magic", 0, 3);
    set(3, dw::kTagMember, "", coresift::kFactFollowType, 4);
    set(4, dw::kTagMember, "asInt", 0, 5);
    set(5, dw::kTagMember, "asFloat", 0, 6);
    set(6, dw::kTagMember, "inner", coresift::kFactFollowType, 7, 10);
    set(7, dw::kTagMember, "next", coresift::kFactFollowType, 8, 12);
    set(8, dw::kTagMember, "kind", 0, 14);
    set(9, dw::kTagEnumerationType, "Kind", coresift::kFactScope, -1, 15);
    set(10, dw::kTagMember, "x", 0, 11);
    set(11, dw::kTagMember, "label", 0, -1);
    set(12, dw::kTagMember, "x", 0, 13);
    set(13, dw::kTagMember, "label", 0, -1);
    set(14, dw::kTagMember, "tail", 0, 16);
    set(15, dw::kTagEnumerator, "kKindLarge", 0, -1);
    set(16, dw::kTagMember, "missing", requireMissing ? 0u : coresift::kFactOptional, -1);
    return f;
}

TEST_F(DwarfTypesTest, LayoutFactsResolveMembersOfMembersUnionsPointersAndEnumerators) {
    const std::string_view files[] = {"symbols_fixture.cpp"};
    // Offsets as the procedure-call standard lays the structure out.
    const std::int64_t pointer = kIs64 ? 8 : 4;
    const std::int64_t inner = 8, next = inner + 2 * pointer, kind = next + pointer, tail = kind + 4;
    for (const fs::path& path : libraries()) {
        SCOPED_TRACE(path.string());
        auto source = testsupport::openSource(run.context().console, path);
        ASSERT_TRUE(source);
        coresift::DwarfInfo* dwarf = source->symbolFile()->dwarf();
        ASSERT_TRUE(dwarf);
        std::vector<LayoutFact> facts = headerFacts(false);
        ASSERT_EQ(coresift::resolveFactGroup(*dwarf, files, facts, 0), 0);
        EXPECT_EQ(facts[1].value, (tail + 6 + pointer - 1) / pointer * pointer);  // sizeof(Header)
        EXPECT_EQ(facts[2].value, 0);
        EXPECT_EQ(facts[4].value, 4);  // the anonymous union's members, at its offset
        EXPECT_EQ(facts[5].value, 4);
        EXPECT_EQ(facts[6].value, inner);
        EXPECT_EQ(facts[10].value, inner);            // inner.x
        EXPECT_EQ(facts[11].value, inner + pointer);  // inner.label
        EXPECT_EQ(facts[7].value, next);
        EXPECT_EQ(facts[12].value, 0);                // next->x: through a pointer, from 0
        EXPECT_EQ(facts[13].value, pointer);
        EXPECT_EQ(facts[8].value, kind);
        EXPECT_EQ(facts[14].value, tail);
        EXPECT_EQ(facts[15].value, 0x40);
        EXPECT_EQ(facts[9].value, 4);                 // sizeof(Kind)
        EXPECT_FALSE(facts[16].resolved);
        EXPECT_EQ(dwarf->name(facts[7].entry), "next");
        // A required member that is not there fails the group.
        std::vector<LayoutFact> strict = headerFacts(true);
        EXPECT_EQ(coresift::resolveFactGroup(*dwarf, files, strict, 0), 1);
        EXPECT_FALSE(strict[1].resolved);
        const std::string_view elsewhere[] = {"other.cpp"};
        std::vector<LayoutFact> unused = headerFacts(false);
        EXPECT_EQ(coresift::resolveFactGroup(*dwarf, elsewhere, unused, 0), 1);
    }
    EXPECT_EQ(run.err(), "");
}

TEST_F(DwarfTypesTest, TypesRenderAsDeclarationsWithTheirBodies) {
    for (const fs::path& path : libraries()) {
        SCOPED_TRACE(path.string());
        auto source = testsupport::openSource(run.context().console, path);
        coresift::DwarfInfo* dwarf = source->symbolFile()->dwarf();
        Entry ns = dwarf->findTopLevel(dw::kTagNamespace, "crashns");
        ASSERT_TRUE(ns);
        std::map<std::string, std::string> texts;
        for (Entry e = dwarf->firstChild(ns); e; e = dwarf->nextSibling(e))
            if (!dwarf->name(e).empty() && !dwarf->flag(e, dw::kAtDeclaration)) texts[std::string(dwarf->name(e))] = coresift::renderType(*dwarf, e);
        const std::string pointerOffset = kIs64 ? "0x018" : "0x010";
        EXPECT_EQ(texts["Kind"], "enum Kind {\n    kKindNone = 0x0,\n    kKindSmall = 0x3,\n    kKindLarge = 0x40,\n}");
        const std::string& header = texts["Header"];
        EXPECT_TRUE(header.starts_with("struct Header {\n    unsigned int magic; /* 0x000 */\n")) << header;
        EXPECT_NE(header.find("    struct Inner *next; /* " + pointerOffset + " */\n"), std::string::npos) << header;
        EXPECT_NE(header.find("    enum Kind kind; /* "), std::string::npos) << header;
        EXPECT_NE(header.find("    unsigned char tail[6]; /* "), std::string::npos) << header;
        EXPECT_TRUE(header.ends_with("}"));
        EXPECT_NE(texts["Inner"].find("    const char *label; /* " + std::string(kIs64 ? "0x008" : "0x004") + " */\n"), std::string::npos);
        const std::string& widget = texts["Widget"];
        EXPECT_TRUE(widget.starts_with("class Widget {\n")) << widget;
        // GCC's version 2 information leaves the (public) accessibility out.
        const std::string access = path.filename() == "libsym_dw2.so" ? "" : "public ";
        EXPECT_NE(widget.find("    " + access + "virtual int poke(volatile int *, int);\n"), std::string::npos) << widget;
        EXPECT_NE(widget.find("    " + access + "explicit "), std::string::npos) << widget;
        EXPECT_NE(widget.find("static int counter;\n"), std::string::npos) << widget;
    }
}

TEST_F(DwarfTypesTest, DeclarationsWrapArraysAndFunctionsAroundTheirDeclarators) {
    auto source = testsupport::openSource(run.context().console, libraries().front());
    coresift::DwarfInfo* dwarf = source->symbolFile()->dwarf();
    Entry ns = dwarf->findTopLevel(dw::kTagNamespace, "crashns");
    Entry widget;
    for (Entry e = dwarf->firstChild(ns); e; e = dwarf->nextSibling(e))
        if (dwarf->name(e) == "Widget" && !dwarf->flag(e, dw::kAtDeclaration)) widget = e;
    ASSERT_TRUE(widget);
    Entry vptr;
    for (Entry m = dwarf->firstChild(widget); m; m = dwarf->nextSibling(m))
        if (dwarf->name(m).starts_with("_vptr")) vptr = m;
    ASSERT_TRUE(vptr);
    // A pointer to a pointer to a function type: "int (**name)(...)".
    EXPECT_EQ(coresift::declareType(*dwarf, dwarf->typeOf(vptr), "table"), "int (**table)(...)");
    EXPECT_EQ(coresift::declareType(*dwarf, Entry{}, "p"), "void p");
    EXPECT_EQ(coresift::renderType(*dwarf, Entry{}), "void");
}

// Fake frame: argument registers r0-r3 / x0-x7 hold 0x100 + n, the stack words above SP hold
// 0x200 + n (so that each value tells where it came from).
struct FakeFrame {
    coresift::FrameRegisters registers;
    testsupport::FakeMemory memory;

    FakeFrame(TargetWord pc, TargetWord sp) {
        registers.pc = pc;
        registers.sp = sp;
        for (unsigned n = 0; n < 8; ++n) registers.values[n] = 0x100 + n;
        registers.known = 0xFF;
        registers.entryValues = kIs64 ? 0xFF : 0x0F;
        testsupport::Bytes stack;
        for (unsigned n = 0; n < 16; ++n) testsupport::put32(stack, stack.size(), 0x200 + n);
        memory.place(sp, stack);
    }
};

std::vector<std::string> parameters(coresift::SymbolSource& source, const FakeFrame& frame) {
    Entry subprogram = coresift::subprogramAt(source, frame.registers.pc);
    std::vector<std::string> out;
    coresift::frameParameters(source, subprogram, frame.registers, frame.memory, [&out](const coresift::FrameParameter& p) {
        std::ostringstream text;
        text << p.name << "=" << (p.known ? std::to_string(p.value) : "?");
        out.push_back(text.str());
        return 0;
    });
    return out;
}

TEST_F(DwarfTypesTest, FrameParametersComeFromArgumentRegistersTheStackAndLocations) {
    for (const fs::path& path : libraries()) {
        SCOPED_TRACE(path.string());
        const TargetWord bias = 0x40000000;
        auto source = testsupport::openSource(run.context().console, path, bias);
        TargetWord size = 0;
        TargetWord function = coresift::symbolNamed(*source, "many_args", coresift::lookup::kFunctionMask, &size);
        ASSERT_NE(function, 0u);
        TargetWord pc = function & ~TargetWord{1};
        EXPECT_EQ(source->symbolFile()->dwarf()->name(coresift::subprogramAt(*source, pc + 2)), "many_args");
        FakeFrame frame(pc, 0x7000);
        std::vector<std::string> got = parameters(*source, frame);
        if constexpr (kIs64) {
            // a, b, c, e, f in x0-x4; d (a double) in a SIMD register: from its location only.
            ASSERT_EQ(got.size(), 6u);
            EXPECT_EQ(got[0], "a=256");
            EXPECT_EQ(got[1], "b=257");
            EXPECT_EQ(got[2], "c=258");
            EXPECT_EQ(got[4], "e=259");
            EXPECT_EQ(got[5], "f=260");
        } else {
            // a in r0; b in r2:r3 (an even pair); c is word 4, the first on the stack; d words
            // 6-7; e word 8; f word 9.
            std::uint64_t b = 0x102 | (std::uint64_t{0x103} << 32);
            EXPECT_EQ(got, (std::vector<std::string>{"a=256", "b=" + std::to_string(b), "c=512",
                                                     "d=" + std::to_string(0x202 | (std::uint64_t{0x203} << 32)),
                                                     "e=516", "f=517"}));
        }
        // Registers that no longer hold their entry values: the location descriptions answer
        // (at the function's first instruction the first argument is still in r0 / x0).
        frame.registers.entryValues = 0;
        got = parameters(*source, frame);
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(got[0], "a=256");
        // Nothing known at all: the values are unknown, the names are still given.
        frame.registers.known = 0;
        got = parameters(*source, frame);
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(got[0], "a=?");
    }
}

}  // namespace
