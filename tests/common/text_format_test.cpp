#include "common/text_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using common::format;

TEST(TextFormat, PrintsLikePrintfWhenTypesAgree) {
    EXPECT_EQ(format("0x%08X-%d %s%%", 0xABCu, -5, "x").text, "0x00000ABC--5 x%");
    EXPECT_EQ(format("0x%016llX", std::uint64_t{0x7F001234}).text, "0x000000007F001234");
    EXPECT_EQ(format("%lld", std::int64_t{-1}).text, "-1");
    EXPECT_EQ(format("[%*c]", 4, ' ').text, "[    ]");
    EXPECT_EQ(format("%c%c%c%c", 0x7F, 'E', 'L', 'F').text, "\x7F" "ELF");
    EXPECT_EQ(format("%-5s|%5s|%.2s", "ab", "cd", "efgh").text, "ab   |   cd|ef");
    EXPECT_EQ(format("no conversions").mismatches, 0u);
}

TEST(TextFormat, StringsLongerThanAnyBuffer) {
    std::string big(100000, 'z');
    auto r = format("<%s>", big.c_str());
    EXPECT_EQ(r.text.size(), big.size() + 2);
    EXPECT_EQ(r.mismatches, 0u);
}

TEST(TextFormat, WidthMismatchIsCountedAndPrintedAsTheConversionAsks) {
    // A 64-bit value given to a 32-bit conversion prints its low half, never reads past the
    // argument list.
    auto r = format("0x%08X", std::uint64_t{0x1122334455667788});
    EXPECT_EQ(r.text, "0x55667788");
    EXPECT_EQ(r.mismatches, 1u);
    // A 32-bit value given to a 64-bit conversion is widened.
    r = format("%llu", 7u);
    EXPECT_EQ(r.text, "7");
    EXPECT_EQ(r.mismatches, 1u);
}

TEST(TextFormat, WrongKindsAndCountsAreCounted) {
    auto r = format("%s", 5);
    EXPECT_EQ(r.mismatches, 1u);
    r = format("%d %d", 1);
    EXPECT_EQ(r.text, "1 0");
    EXPECT_EQ(r.mismatches, 1u);
    r = format("%d", 1, 2);
    EXPECT_EQ(r.mismatches, 1u);
    const char* null = nullptr;
    r = format("%s", null);
    EXPECT_EQ(r.text, "(null)");
    EXPECT_EQ(r.mismatches, 0u);
}

TEST(TextFormat, MalformedFormatPrintsRestLiterally) {
    auto r = format("abc %", 1);
    EXPECT_EQ(r.text, "abc %");
    EXPECT_GE(r.mismatches, 1u);
    r = format("%q", 1);
    EXPECT_EQ(r.text, "%q");
}

TEST(TextFormat, ParsesConversionList) {
    std::vector<common::Conversion> list;
    ASSERT_TRUE(common::parseConversions("%s at 0x%016llX ++ %d%% %*c", list));
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].letter, 's');
    EXPECT_EQ(list[1].letter, 'X');
    EXPECT_EQ(list[1].bits, 64);
    EXPECT_EQ(list[2].bits, 32);
    EXPECT_TRUE(list[3].starWidth);
    EXPECT_FALSE(common::parseConversions("bad %", list));
}

}  // namespace
