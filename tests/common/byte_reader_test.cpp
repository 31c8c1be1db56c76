#include "common/byte_reader.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using common::ByteReader;
using common::ByteView;

TEST(ByteReader, ReadsLittleEndianAndStopsAtTheEnd) {
    const std::uint8_t bytes[] = {0x78, 0x56, 0x34, 0x12, 0xFF, 0x01};
    ByteReader r(ByteView(bytes, sizeof bytes));
    EXPECT_EQ(r.u32(), 0x12345678u);
    EXPECT_EQ(r.u16(), 0x01FFu);
    EXPECT_TRUE(r.ok());
    EXPECT_TRUE(r.atEnd());
    EXPECT_EQ(r.u8(), 0u);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.u32(), 0u);  // stays failed
}

TEST(ByteReader, RangesNeverWrapOrRunPastTheView) {
    const std::uint8_t bytes[8] = {};
    ByteView v(bytes, sizeof bytes);
    EXPECT_TRUE(v.sub(8, 0).has_value());
    EXPECT_FALSE(v.sub(9, 0).has_value());
    EXPECT_FALSE(v.sub(4, ~std::uint64_t{0}).has_value());
    EXPECT_FALSE(v.read<std::uint64_t>(1).has_value());
    EXPECT_FALSE(v.read<std::uint32_t>(~std::uint64_t{0} - 1).has_value());
    ByteReader r(v);
    r.skip(~std::uint64_t{0});
    EXPECT_FALSE(r.ok());
}

TEST(ByteReader, Leb128) {
    const std::uint8_t bytes[] = {0xE5, 0x8E, 0x26, 0x7F, 0x80, 0x7F};
    ByteReader r(ByteView(bytes, sizeof bytes));
    EXPECT_EQ(r.uleb128(), 624485u);
    EXPECT_EQ(r.sleb128(), -1);
    EXPECT_EQ(r.sleb128(), -128);
    EXPECT_TRUE(r.ok());
    // Eleven continuation bytes are not a number.
    std::vector<std::uint8_t> longer(11, 0x80);
    longer.push_back(0);
    ByteReader bad(ByteView(longer.data(), longer.size()));
    bad.uleb128();
    EXPECT_FALSE(bad.ok());
    // A number cut off by the end fails.
    const std::uint8_t cut[] = {0x80, 0x80};
    ByteReader c(ByteView(cut, sizeof cut));
    c.uleb128();
    EXPECT_FALSE(c.ok());
}

TEST(ByteReader, Strings) {
    const char text[] = {'a', 'b', 0, 'c'};
    ByteView v(reinterpret_cast<const std::uint8_t*>(text), sizeof text);
    ByteReader r(v);
    EXPECT_EQ(r.cstring(), "ab");
    EXPECT_EQ(r.cstring(), "");  // "c" has no NUL before the end
    EXPECT_FALSE(r.ok());
    EXPECT_FALSE(v.cstring(4).has_value());
}

}  // namespace
