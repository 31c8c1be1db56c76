// The code comparison's runs and benign differences, the function index of the unwind tables,
// and the function-body comparison of function match mode.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "analyzer/symbols/code_comparison.h"
#include "analyzer/symbols/function_tables.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using coresift::CodeKind;

common::ByteView view(const Bytes& b) { return common::ByteView(b.data(), b.size()); }

void put(Bytes& b, std::size_t at, const std::string& text) { std::memcpy(b.data() + at, text.data(), text.size()); }
void put32(Bytes& b, std::size_t at, std::uint32_t v) { std::memcpy(b.data() + at, &v, 4); }

// Two code images of 256 bytes of filler, `dump` with `dumpText` and `file` with `fileText` at `at`.
struct Pair {
    Bytes dump = Bytes(256, 0x5A), file = Bytes(256, 0x5A);
    Pair(std::size_t at, const std::string& dumpText, const std::string& fileText) {
        put(dump, at, dumpText);
        put(file, at, fileText);
    }
    coresift::CodeComparison compare() const { return coresift::compareCode(view(dump), view(file)); }
};

TEST(CodeComparison, CompileTimesDatesBuildIdNotesAndPaddingAreBenign) {
    for (auto [dumpText, fileText] : std::vector<std::pair<std::string, std::string>>{
             {" 12:34:56 ", " 13:04:17 "},
             {" Jan  5 2024 ", " Feb 11 2023 "},
             {" Dec 31 1999 at 23:59:59 ", " Jan  1 2000 at 00:00:00 "}}) {
        SCOPED_TRACE(dumpText);
        auto result = Pair(40, dumpText, fileText).compare();
        EXPECT_FALSE(result.identical);
        EXPECT_TRUE(result.unexplained.empty());
    }
    // A build-id note at an aligned offset: only its descriptor differs.
    Pair note(64, "", "");
    for (Bytes* b : {&note.dump, &note.file}) {
        put32(*b, 64, 4);
        put32(*b, 68, 16);
        put32(*b, 72, 3);
        put(*b, 76, std::string("GNU\0", 4));
    }
    note.file[85] = 0x01;
    note.file[95] = 0x02;
    EXPECT_TRUE(note.compare().unexplained.empty());
    // Trap padding on either side, up to three words at a time.
    Pair pad(128, "", "");
    for (std::size_t at = 128; at < 144; at += 4) put32(pad.file, at, 0xD4D4D4D4);
    EXPECT_TRUE(pad.compare().unexplained.empty());
}

TEST(CodeComparison, TextsThatOnlyLookLikeTimesOrDatesAreNotBenign) {
    for (auto [dumpText, fileText] : std::vector<std::pair<std::string, std::string>>{
             {" 24:00:00 ", " 23:00:00 "},   // no such hour
             {"a12:34:56 ", "a12:34:57 "},   // glued to a letter
             {" 12:34:567", " 12:34:568"},   // glued to a digit
             {" Jan 35 2024 ", " Jan 34 2024 "},
             {" Foo  5 2024 ", " Foo  6 2024 "},
             {" Jan  5 1969 ", " Jan  5 1968 "}}) {
        SCOPED_TRACE(dumpText);
        EXPECT_EQ(Pair(40, dumpText, fileText).compare().unexplained.size(), 1u);
    }
    // A pattern further than 33 bytes before the differing byte does not explain it.
    Pair far(40, " 12:34:56 ", " 12:34:56 ");
    far.dump[40 + 60] ^= 1;
    EXPECT_EQ(far.compare().unexplained.size(), 1u);
}

TEST(CodeComparison, DifferingWordsGroupIntoRunsAndOnlyTwoAreRecorded) {
    Bytes dump(1024, 0), file(1024, 0);
    dump[4] = dump[4 + 15 * 4] = 1;                 // 15 words apart: one run
    dump[200 * 4] = dump[200 * 4 + 16 * 4] = 1;     // 16 words apart: two runs
    dump[1000] = 1;                                 // not reached: recording stops at two
    auto result = coresift::compareCode(view(dump), view(file));
    ASSERT_EQ(result.unexplained.size(), 2u);
    EXPECT_EQ(result.unexplained[0].begin, 4u);
    EXPECT_EQ(result.unexplained[0].end, 4u + 16 * 4);
    EXPECT_EQ(result.unexplained[1].begin, 800u);
    EXPECT_EQ(result.unexplained[1].end, 804u);
    // Equal: identical. A file shorter than the dump compares as zeros past its end.
    EXPECT_TRUE(coresift::compareCode(view(file), view(file)).identical);
    Bytes shorter(1000, 0);
    EXPECT_TRUE(coresift::compareCode(view(file), view(shorter)).unexplained.empty());
    file[1020] = 7;
    EXPECT_EQ(coresift::compareCode(view(file), view(shorter)).unexplained.size(), 1u);
}

// An `.eh_frame_hdr` at `address` whose table holds the given function offsets (from the header).
Bytes ehFrameHdr(const std::vector<std::int32_t>& functions) {
    Bytes b(12 + functions.size() * 8, 0);
    b[0] = 1;     // version
    b[1] = 0x1B;  // eh_frame_ptr: pc-relative signed 4 bytes
    b[2] = 0x03;  // fde_count: unsigned 4 bytes
    b[3] = 0x3B;  // table: data-relative signed 4 bytes
    put32(b, 8, static_cast<std::uint32_t>(functions.size()));
    for (std::size_t i = 0; i < functions.size(); ++i) put32(b, 12 + i * 8, static_cast<std::uint32_t>(functions[i]));
    return b;
}

TEST(FunctionIndex, StartsFromTheSearchTableAndTheExceptionIndex) {
    auto index = coresift::FunctionIndex::fromEhFrameHdr(view(ehFrameHdr({-0x800, -0x400, 0x100})), 0x10000);
    ASSERT_TRUE(index);
    ASSERT_EQ(index->size(), 3u);
    EXPECT_EQ(index->start(0), 0xF800u);
    EXPECT_EQ(index->containing(0xFC10), std::optional<std::size_t>(1));
    EXPECT_EQ(index->containing(0xF7FF), std::nullopt);
    EXPECT_EQ(index->length(1), std::optional<TargetWord>(0x500));
    EXPECT_EQ(index->length(2), std::nullopt);
    EXPECT_EQ(index->nearest(0x10080), 2u);
    EXPECT_EQ(index->nearest(0xFA00), 1u);
    // Damaged headers: another version or table format, a count beyond the bytes.
    Bytes bad = ehFrameHdr({0});
    bad[0] = 2;
    EXPECT_FALSE(coresift::FunctionIndex::fromEhFrameHdr(view(bad), 0));
    bad = ehFrameHdr({0});
    put32(bad, 8, 0x10000000);
    EXPECT_FALSE(coresift::FunctionIndex::fromEhFrameHdr(view(bad), 0));
    // Exception index entries: 31-bit place-relative offsets, negative ones too; Thumb bit clear.
    Bytes exidx(16, 0);
    put32(exidx, 0, 0x7FFFFF00);  // -0x100 from the entry
    put32(exidx, 8, 0x00000101);  // +0x101 from the entry
    auto table = coresift::FunctionIndex::fromExidx(view(exidx), 0x8000, 2);
    ASSERT_TRUE(table);
    EXPECT_EQ(table->start(0), 0x7F00u);
    EXPECT_EQ(table->start(1), 0x8108u);
    EXPECT_FALSE(coresift::FunctionIndex::fromExidx(view(exidx), 0x8000, 3));
}

Bytes words(const std::vector<std::uint32_t>& w) {
    Bytes b(w.size() * 4);
    std::memcpy(b.data(), w.data(), b.size());
    return b;
}

Bytes halves(const std::vector<std::uint16_t>& h) {
    Bytes b(h.size() * 2);
    std::memcpy(b.data(), h.data(), b.size());
    return b;
}

TEST(FunctionIndex, BodiesCompareAsTheSameFunctionDespiteLinking) {
    // ARM: branches to anywhere are alike; other words must be equal.
    EXPECT_TRUE(coresift::sameFunctionBody(view(words({0xE92D4010, 0xEB000010})), view(words({0xE92D4010, 0xEB0000F0})), CodeKind::Arm));
    EXPECT_FALSE(coresift::sameFunctionBody(view(words({0xE92D4010, 0xE3A00001})), view(words({0xE92D4010, 0xE3A00002})), CodeKind::Arm));
    // The file's function must be at least as long.
    EXPECT_FALSE(coresift::sameFunctionBody(view(words({0xE92D4010, 0xE12FFF1E})), view(words({0xE92D4010})), CodeKind::Arm));
    // A64: the file's word may be any B or BL.
    EXPECT_TRUE(coresift::sameFunctionBody(view(words({0xD503201F, 0x94000005})), view(words({0xD503201F, 0x97FFFFF0})), CodeKind::A64));
    EXPECT_FALSE(coresift::sameFunctionBody(view(words({0xD503201F, 0x94000005})), view(words({0xD503201F, 0x91000400})), CodeKind::A64));
    // Thumb: literal loads, ADR and conditional branches may differ in their low byte; BL pairs
    // and unconditional branches are alike; wide conditional branches need the same condition.
    EXPECT_TRUE(coresift::sameFunctionBody(view(halves({0x4803, 0xA102, 0xD005, 0xE7F0})),
                                           view(halves({0x4809, 0xA1FF, 0xD0AA, 0xE012})), CodeKind::Thumb));
    EXPECT_FALSE(coresift::sameFunctionBody(view(halves({0x2001})), view(halves({0x2002})), CodeKind::Thumb));
    EXPECT_FALSE(coresift::sameFunctionBody(view(halves({0xD005})), view(halves({0xD105})), CodeKind::Thumb));
    EXPECT_TRUE(coresift::sameFunctionBody(view(halves({0xF000, 0xF810, 0xF000, 0x8010})),
                                           view(halves({0xF7FF, 0xFFE0, 0xF000, 0x8120})), CodeKind::Thumb));
    EXPECT_FALSE(coresift::sameFunctionBody(view(halves({0xF000, 0x8010})), view(halves({0xF040, 0x8010})), CodeKind::Thumb));
}

}  // namespace
