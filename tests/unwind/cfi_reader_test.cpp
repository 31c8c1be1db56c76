// Pointer encodings and the CIE/FDE reader on hand-built `.eh_frame` and `.debug_frame` bytes.
#include <gtest/gtest.h>

#include "analyzer/unwind/cfi_entries.h"
#include "analyzer/unwind/pointer_encoding.h"
#include "tests/unwind/unwind_support.h"

namespace {

using namespace coresift::unwind;
using testsupport::ByteVector;
using testsupport::CfiBuilder;

constexpr TargetWord kBase = 0x1000;

struct Read {
    PointerStatus status;
    TargetWord value;
    std::size_t consumed;
};

Read readPointer(const ByteVector& bytes, std::uint8_t encoding, TargetWord viewAddress = kBase,
                 std::optional<TargetWord> dataBase = std::nullopt, std::size_t start = 0) {
    common::ByteReader reader(common::ByteView(bytes.data(), bytes.size()), start);
    TargetWord value = 0xDEAD;
    PointerStatus status = readEncodedPointer(reader, encoding, {viewAddress, dataBase}, value);
    return {status, value, reader.offset() - start};
}

TEST(PointerEncoding, FormatsReadTheirSizeAndSign) {
    const ByteVector bytes = {0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x11};
    EXPECT_EQ(readPointer(bytes, pe::kUdata2).value, 0xFFF0u);
    EXPECT_EQ(readPointer(bytes, pe::kUdata2).consumed, 2u);
    EXPECT_EQ(readPointer(bytes, pe::kSdata2).value, static_cast<TargetWord>(-16));
    EXPECT_EQ(readPointer(bytes, pe::kUdata4).value, 0xFFFFFFF0u);
    EXPECT_EQ(readPointer(bytes, pe::kSdata4).value, static_cast<TargetWord>(-16));
    // 8-byte formats are read whole; CoreSift keeps the low word.
    EXPECT_EQ(readPointer(bytes, pe::kUdata8).consumed, 8u);
    EXPECT_EQ(readPointer(bytes, pe::kUdata8).value, static_cast<TargetWord>(0xFFFFFFFFFFFFFFF0ull));
    EXPECT_EQ(readPointer(bytes, pe::kAbsptr).consumed, sizeof(TargetWord));
    EXPECT_EQ(readPointer({0xE5, 0x8E, 0x26}, pe::kUleb128).value, 624485u);
    EXPECT_EQ(readPointer({0xC0, 0xBB, 0x78}, pe::kSleb128).value, static_cast<TargetWord>(-123456));
}

TEST(PointerEncoding, ApplicationsAndOmit) {
    const ByteVector bytes = {0, 0, 0, 0, 0x10, 0, 0, 0, 0xF0, 0xFF, 0xFF, 0xFF};
    // pc-relative: the field's own address is added, except to a value of 0.
    EXPECT_EQ(readPointer(bytes, pe::kPcrel | pe::kSdata4, kBase, std::nullopt, 4).value, kBase + 4 + 0x10);
    EXPECT_EQ(readPointer(bytes, pe::kPcrel | pe::kSdata4, kBase, std::nullopt, 8).value, kBase + 8 - 16);
    EXPECT_EQ(readPointer(bytes, pe::kPcrel | pe::kSdata4).value, 0u);
    // data-relative only where a data base exists (the .eh_frame_hdr table).
    EXPECT_EQ(readPointer(bytes, pe::kDatarel | pe::kSdata4, kBase, TargetWord{0x5000}, 4).value, 0x5010u);
    EXPECT_EQ(readPointer(bytes, pe::kDatarel | pe::kSdata4).status, PointerStatus::Unsupported);
    // aligned: the position is first rounded up to a pointer boundary of the target address.
    const Read aligned = readPointer(ByteVector(24, 0x22), pe::kAligned, kBase + 1, std::nullopt, 0);
    EXPECT_EQ(aligned.consumed, 2 * sizeof(TargetWord) - 1);
    // omit reads nothing and gives 0.
    const Read omitted = readPointer(bytes, pe::kOmit);
    EXPECT_EQ(omitted.status, PointerStatus::Ok);
    EXPECT_EQ(omitted.value, 0u);
    EXPECT_EQ(omitted.consumed, 0u);
}

TEST(PointerEncoding, UnsupportedAndTruncated) {
    const ByteVector bytes(16, 0x01);
    for (std::uint8_t encoding : {0x05, 0x06, 0x07, 0x08, 0x0D, 0x0E, 0x0F, 0x1F, 0x20 | 0x03, 0x40 | 0x03, 0x80 | 0x1B, 0x9B})
        EXPECT_EQ(readPointer(bytes, encoding).status, PointerStatus::Unsupported) << int(encoding);
    EXPECT_EQ(readPointer({0x01, 0x02}, pe::kUdata4).status, PointerStatus::Truncated);
    EXPECT_EQ(readPointer({0x81, 0x82}, pe::kUleb128).status, PointerStatus::Truncated);
    // A personality pointer is stepped over by its format's size, even when indirect.
    common::ByteReader reader(common::ByteView(bytes.data(), bytes.size()));
    EXPECT_EQ(skipEncodedPointer(reader, 0x9B, {kBase, std::nullopt}), PointerStatus::Ok);
    EXPECT_EQ(reader.offset(), 4u);
    EXPECT_EQ(skipEncodedPointer(reader, 0x0D, {kBase, std::nullopt}), PointerStatus::Unsupported);
}

class CfiReader : public testsupport::UnwindTest {
protected:
    CfiSection section(const CfiBuilder& builder, CfiFormat format, const char* name = ".eh_frame") {
        memory.add(builder.address(), builder.bytes());
        return {&memory, format, builder.address(), static_cast<TargetWord>(builder.bytes().size()), names(name)};
    }
};

TEST_F(CfiReader, EhFrameCieAndFde) {
    CfiBuilder builder(CfiFormat::EhFrame, 0x20000);
    CfiBuilder::CieFields fields;
    fields.augmentation = "zPLRS";
    // Personality as indirect pc-relative sdata4 (skipped, never followed), LSDA encoding, then R.
    fields.augmentationData = {0x9B, 0x10, 0x20, 0x30, 0x40, 0x1B, 0x1B};
    fields.instructions = {0x0C, static_cast<std::uint8_t>(kSpRegister), 0x00};
    const std::size_t cie = builder.cie(fields);
    const std::size_t fde = builder.fde(cie, 0x8000, 0x40, {0x41});
    const CfiSection s = section(builder, CfiFormat::EhFrame);

    std::optional<Fde> parsed = readFde(s, builder.addressOf(fde));
    ASSERT_TRUE(parsed) << errors();
    EXPECT_EQ(parsed->pcBegin, 0x8000u);
    EXPECT_EQ(parsed->pcEnd, 0x8040u);
    EXPECT_EQ(parsed->cie.fdeEncoding, 0x1B);
    EXPECT_TRUE(parsed->cie.signalFrame);
    EXPECT_EQ(parsed->cie.codeAlignment, kIs64 ? 4u : 2u);
    EXPECT_EQ(parsed->cie.dataAlignment, kIs64 ? -8 : -4);
    EXPECT_EQ(parsed->cie.returnRegister, kIs64 ? 30u : 14u);
    ASSERT_GE(parsed->cie.instructions.size(), 3u);
    EXPECT_EQ(parsed->cie.instructions.data()[0], 0x0C);
    ASSERT_GE(parsed->instructions.size(), 1u);
    EXPECT_EQ(parsed->instructions.data()[0], 0x41);
    EXPECT_EQ(errors(), "");
}

TEST_F(CfiReader, DebugFrameTakesOnlyAbsoluteAddresses) {
    CfiBuilder builder(CfiFormat::DebugFrame, 0);
    CfiBuilder::CieFields plain;
    plain.augmentation = "";
    plain.version = 3;
    const std::size_t cie = builder.cie(plain);
    const std::size_t fde = builder.fde(cie, 0x8000, 0x40, {}, 0, false);
    CfiBuilder::CieFields pcRelative;  // zR with 0x1B: fine in .eh_frame, not in .debug_frame
    const std::size_t badCie = builder.cie(pcRelative);
    const std::size_t badFde = builder.fde(badCie, 0x9000, 0x40, {});
    const CfiSection s = section(builder, CfiFormat::DebugFrame, ".debug_frame");

    std::optional<Fde> parsed = readFde(s, fde);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->pcBegin, 0x8000u);
    EXPECT_EQ(parsed->cie.version, 3u);
    EXPECT_FALSE(readFde(s, badFde));
    EXPECT_EQ(errors(), "Error: Don't support pointer encoding: 0x1B\n");
}

TEST_F(CfiReader, DebugFrameIn64BitFormat) {
    // length 0xFFFFFFFF, then 8-byte length and CIE id; locations stay address-sized.
    testsupport::Emitter out;
    out.u32(0xFFFFFFFFu).u64(0).u64(~0ull).u8(3).text("").uleb(1).sleb(-4).uleb(kIs64 ? 30 : 14);
    out.data()[4] = static_cast<std::uint8_t>(out.size() - 12);
    const std::size_t fde = out.size();
    out.u32(0xFFFFFFFFu).u64(0).u64(0).word(0x4000).word(0x20).u8(0);
    out.data()[fde + 4] = static_cast<std::uint8_t>(out.size() - fde - 12);
    memory.add(0, out.data());
    const CfiSection s{&memory, CfiFormat::DebugFrame, 0, static_cast<TargetWord>(out.size()), names(".debug_frame")};
    std::optional<Fde> parsed = readFde(s, static_cast<TargetWord>(fde));
    ASSERT_TRUE(parsed) << errors();
    EXPECT_EQ(parsed->pcBegin, 0x4000u);
    EXPECT_EQ(parsed->pcEnd, 0x4020u);
}

TEST_F(CfiReader, RejectedCies) {
    struct Case {
        std::string augmentation;
        unsigned version;
        unsigned returnRegister;
        std::string message;
    };
    const unsigned tooHigh = kIs64 ? 33 : 16;
    const std::vector<Case> cases = {
        {"eh", 1, 14, "Error: Don't support libfoo.so of .eh_frame augmentation e\n"},
        {"zX", 1, 14, "Error: Don't support libfoo.so of .eh_frame augmentation X\n"},
        {"zR", 2, 14, "Error: Don't support libfoo.so of .eh_frame version 0x2\n"},
        {"zR", 3, tooHigh, "Error: Invalid libfoo.so of .eh_frame register index: " + std::to_string(tooHigh) + "\n"},
    };
    for (const Case& c : cases) {
        testsupport::UnwindTest::run.context().catalog.selectEnglish();
        CfiBuilder builder(CfiFormat::EhFrame, 0x30000);
        CfiBuilder::CieFields fields;
        fields.augmentation = c.augmentation;
        fields.version = c.version;
        fields.returnRegister = c.returnRegister;
        const std::size_t cie = builder.cie(fields);
        const std::string before = errors();
        EXPECT_FALSE(readCie(section(builder, CfiFormat::EhFrame), builder.addressOf(cie)));
        EXPECT_EQ(errors().substr(before.size()), c.message) << c.augmentation;
    }
}

TEST_F(CfiReader, AArch64AugmentationsForSignedAndTaggedFrames) {
    CfiBuilder builder(CfiFormat::EhFrame, 0x30000);
    CfiBuilder::CieFields fields;
    fields.augmentation = "zRBG";
    const std::size_t cie = builder.cie(fields);
    std::optional<Cie> parsed = readCie(section(builder, CfiFormat::EhFrame), builder.addressOf(cie));
    EXPECT_EQ(parsed.has_value(), kIs64);
    EXPECT_EQ(errors(), kIs64 ? "" : "Error: Don't support libfoo.so of .eh_frame augmentation B\n");
}

TEST_F(CfiReader, DamagedEntries) {
    CfiBuilder builder(CfiFormat::EhFrame, 0x40000);
    const std::size_t cie = builder.cie({});
    const std::size_t fde = builder.fde(cie, 0x8000, 0x10, {});
    const std::size_t orphan = builder.fde(fde, 0x9000, 0x10, {});  // names an FDE as its CIE
    ByteVector bytes = builder.bytes();
    const CfiSection s = section(builder, CfiFormat::EhFrame);
    EXPECT_FALSE(readFde(s, builder.addressOf(orphan)));
    // The FDE named as a CIE is reported where it lies.
    EXPECT_EQ(errors(), "Error: <libfoo.so> .eh_frame segment address(" +
                            common::format(kAddressFormat, builder.addressOf(fde)).text + ") is corrupted\n");
    // An entry whose length runs past the readable bytes is not read at all.
    bytes.pop_back();
    bytes.pop_back();
    memory.clear();
    memory.add(0x40000, bytes);
    const CfiSection cut{&memory, CfiFormat::EhFrame, 0x40000, 0, names()};
    EXPECT_FALSE(readEntryHeader(cut, builder.addressOf(orphan)));
    EXPECT_TRUE(readFde(cut, builder.addressOf(fde)));
}

TEST_F(CfiReader, WalkVisitsEveryFdeOnceAndStops) {
    CfiBuilder builder(CfiFormat::EhFrame, 0x50000);
    const std::size_t cie = builder.cie({});
    for (TargetWord i = 0; i < 5; ++i) builder.fde(cie, 0x1000 + i * 0x100, 0x80, {});
    builder.terminate();
    builder.fde(cie, 0x9000, 0x80, {});  // after the terminator: not visited
    const CfiSection s = section(builder, CfiFormat::EhFrame);
    std::vector<TargetWord> begins;
    forEachFde(s, 100, [&](TargetWord, TargetWord begin, TargetWord end) {
        begins.push_back(begin);
        EXPECT_EQ(end - begin, 0x80u);
    });
    EXPECT_EQ(begins, (std::vector<TargetWord>{0x1000, 0x1100, 0x1200, 0x1300, 0x1400}));
    // The entry bound holds on a section of nothing but CIEs.
    CfiBuilder many(CfiFormat::EhFrame, 0x60000);
    for (int i = 0; i < 50; ++i) many.cie({});
    EXPECT_EQ(forEachFde(section(many, CfiFormat::EhFrame), 10, [](TargetWord, TargetWord, TargetWord) {}), 10u);
}

}  // namespace
