// Reading the db's text files: the shared line and field rules, the internal record, the file
// descriptor listing, the properties and the memory-map listing.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "analyzer/driver/run_context.h"
#include "analyzer/process/db_text.h"
#include "analyzer/process/file_state.h"
#include "analyzer/process/internal_record.h"
#include "analyzer/process/process_maps.h"
#include "analyzer/process/property_table.h"
#include "tests/process/process_fixture.h"

namespace {

using namespace std::string_literals;
using coresift::nextField;
namespace rk = coresift::region_kind;

std::vector<std::string> lines(std::string_view text, std::size_t limit) {
    coresift::LineReader reader(text, limit);
    std::vector<std::string> result;
    for (std::string_view line; reader.next(line);) result.emplace_back(line);
    return result;
}

TEST(DbText, NextFieldSkipsDelimiterRunsAndEndsEmpty) {
    std::string_view rest = ",,first,,second,";
    EXPECT_EQ(nextField(rest, ','), "first");
    EXPECT_EQ(nextField(rest, ','), "second");
    EXPECT_EQ(nextField(rest, ','), "");
    EXPECT_EQ(nextField(rest, ','), "");
    rest = "  tail";
    EXPECT_EQ(nextField(rest, ' '), "tail");
    EXPECT_TRUE(rest.empty());
    EXPECT_EQ(nextField(rest, ' '), "");
}

TEST(DbText, LinesAreReadWholeThenCutToTheLimit) {
    std::string text = std::string(5000, 'a') + "\nsecond\r\nbefore\0after\nlast"s;
    auto result = lines(text, 4095);
    ASSERT_EQ(result.size(), 4u) << "an over-long line must not spill into a second line";
    EXPECT_EQ(result[0], std::string(4095, 'a'));
    EXPECT_EQ(result[1], "second");
    EXPECT_EQ(result[2], "before") << "text after a NUL is not part of the line";
    EXPECT_EQ(result[3], "last") << "no newline at the end";
    EXPECT_TRUE(lines("", 10).empty());
    EXPECT_EQ(lines("\n", 10), std::vector<std::string>{""});
}

TEST(InternalRecord, ExceptionTimeIsTheNinthFieldEvenAfterAnEmptySeventh) {
    using coresift::exceptionTimeOf;
    EXPECT_EQ(exceptionTimeOf("NE,0,0,99,/data/aee_exp/db.fx,1,,/system/bin/app,2026-12-07 09:35:44,1\n"),
              "2026-12-07 09:35:44");
    EXPECT_EQ(exceptionTimeOf("NE,0,0,99,/data/db,1,seven,/system/bin/app,2021-01-02 03:04:05"),
              "2021-01-02 03:04:05");
    EXPECT_EQ(exceptionTimeOf("a,b,c,d,e,f,,h,time\nsecond,line,is,never,read,at,all,x,y"), "time");
    EXPECT_EQ(exceptionTimeOf("a,b,c,d,e,f,,h"), std::nullopt);
    EXPECT_EQ(exceptionTimeOf("a,b,c"), std::nullopt);
    EXPECT_EQ(exceptionTimeOf(""), std::nullopt);
    EXPECT_EQ(exceptionTimeOf("NE\nNE,0,0,99,/data/db,1,,p,2021"), std::nullopt) << "only the first line counts";
}

class FileStateTest : public processtest::ProcessTest {
protected:
    coresift::FdTable read(std::string_view text, unsigned version) {
        coresift::FdTable table;
        coresift::readFileState(context(), text, version, table);
        return table;
    }
};

TEST_F(FileStateTest, BothLayoutsGiveNumberPathAndAccess) {
    auto before = read("lrwx------ root root 2016-01-01 10:00 3 -> /dev/null\n"
                       "l-w------- root root 2016-01-01 10:00 12 -> /data/log.txt\n"
                       "lr-x------ root root 2016-01-01 10:00 13 ->\n"
                       "lr-x------ root root 2016-01-01 10:00 14 -> socket:[4321]",
                       8);
    ASSERT_EQ(before.size(), 3u) << "a line without a path is skipped";
    EXPECT_EQ(before.find(3)->path, "/dev/null");
    EXPECT_EQ(before.find(3)->access, coresift::fd_access::kRead | coresift::fd_access::kWrite);
    EXPECT_EQ(before.find(12)->access, coresift::fd_access::kWrite);
    EXPECT_EQ(before.find(14)->path, "socket:[4321]");
    EXPECT_EQ(before.find(14)->access, coresift::fd_access::kRead);

    auto fromN = read("lrwx------ 1 root root 64 2020-01-01 10:00 7 -> /dev/binder\n", 9);
    ASSERT_EQ(fromN.size(), 1u);
    EXPECT_EQ(fromN.find(7)->path, "/dev/binder");
    auto misread = read("lrwx------ 1 root root 64 2020-01-01 10:00 7 -> /dev/binder\n", 8);
    ASSERT_NE(misread.find(2020), nullptr) << "with the old columns the date is the number...";
    EXPECT_EQ(misread.find(2020)->path, "7") << "...and the descriptor the path";
    EXPECT_EQ(err(), "");
}

TEST_F(FileStateTest, ADuplicateDescriptorStopsTheReading) {
    auto table = read("lrwx------ root root 2016-01-01 10:00 3 -> /dev/null\n"
                      "lrwx------ root root 2016-01-01 10:00 4 -> /dev/zero\n"
                      "lrwx------ root root 2016-01-01 10:00 3 -> /dev/random\n"
                      "lrwx------ root root 2016-01-01 10:00 5 -> /dev/urandom\n",
                      1);
    EXPECT_EQ(err(), "Error: Exist files with the same fd: 3\n");
    EXPECT_EQ(table.size(), 2u);
    EXPECT_EQ(table.find(3)->path, "/dev/null") << "the table so far is kept";
    EXPECT_EQ(table.find(5), nullptr) << "later lines are not read";
}

TEST(Properties, LinesAreEntriesOnlyInTheBracketForm) {
    using coresift::parsePropertyLine;
    auto entry = parsePropertyLine("[ro.build.type]: [user]");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->key, "ro.build.type");
    EXPECT_EQ(entry->value, "user");
    EXPECT_EQ(parsePropertyLine("[ro.x]: [a]b]")->value, "a");
    EXPECT_EQ(parsePropertyLine("[ro.x]: []")->value, "");
    for (const char* bad : {"[ro.x]:[a]", "[ro.x]: [a", "x[ro.x]: [a]", "[ro.x] : [a]", "[ro.x", "", "[", "[a]: "})
        EXPECT_FALSE(parsePropertyLine(bad)) << bad;
}

class PropertiesTest : public processtest::ProcessTest {};

TEST_F(PropertiesTest, SortedTableFindsKeysUpToTheLengthLimit) {
    std::string key230(230, 'k'), key231(231, 'k'), key300(300, 'z');
    std::string text = "[ro.build.type]: [user]\n"
                       "garbage line\n"
                       "[b]: [2]\n"
                       "[" + key300 + "]: [long]\n"
                       "[" + key231 + "]: [231]\n"
                       "[" + key230 + "]: [230]\n"
                       "[a]: [1]\n"
                       "[ro.build.fingerprint]: [x/y:14/z]";
    coresift::PropertyTable table;
    coresift::readProperties(context(), text, table);
    EXPECT_EQ(table.size(), 7u);
    EXPECT_EQ(table.find("ro.build.type"), "user");
    EXPECT_EQ(table.find("a"), "1");
    EXPECT_EQ(table.find("b"), "2");
    EXPECT_EQ(table.find("ro.build.fingerprint"), "x/y:14/z");
    EXPECT_EQ(table.find(key230), "230");
    EXPECT_EQ(table.find(key231), std::nullopt) << "a key of 231 characters is never found";
    EXPECT_EQ(table.find(key300), std::nullopt);
    EXPECT_EQ(table.find("c"), std::nullopt);
    EXPECT_EQ(table.find(""), std::nullopt);

    // Table order: shorter keys first, and the 300-character key last (its length must not wrap
    // into a one-byte field and sort among the short keys).
    std::vector<std::string> keys;
    table.forEach([&](std::string_view key, std::string_view) {
        keys.push_back(key.size() > 20 ? std::to_string(key.size()) : std::string(key));
        return 0;
    });
    EXPECT_EQ(keys, (std::vector<std::string>{"a", "b", "ro.build.type", "ro.build.fingerprint", "230", "231", "300"}));
}

TEST_F(PropertiesTest, TheRunLooksUpTheFilesTable) {
    EXPECT_EQ(coresift::findProperty(context(), "ro.build.type"), std::nullopt);
    context().properties = std::make_unique<coresift::PropertyTable>();
    coresift::readProperties(context(), "[ro.build.type]: [eng]\n", *context().properties);
    EXPECT_EQ(coresift::findProperty(context(), "ro.build.type"), "eng");
}

TEST(ProcessMaps, LinesScanLikeTheMapsFormat) {
    using coresift::scanMapsLine;
    auto line = scanMapsLine("00400000-004b0000 r-xp 00000000 fe:00 11075607      /system/bin/crashfix");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->start, 0x400000u);
    EXPECT_EQ(line->end, 0x4b0000u);
    EXPECT_EQ(line->permissions, "r-xp");
    EXPECT_EQ(line->path, "/system/bin/crashfix");
    EXPECT_EQ(scanMapsLine("0x1000-0X2000 rw-p 0 0:0 0 [anon:x y]")->path, "[anon:x y]");
    EXPECT_EQ(scanMapsLine("00400000-004b0000 r-xp 00000000 fe:00 11075607")->path, "");
    EXPECT_EQ(scanMapsLine("00400000-004b0000 r-xp")->path, "") << "three values are enough to be a line";
    EXPECT_EQ(scanMapsLine("00400000-004b0000 r-xprivate 0 0:0 0 /x")->path, "") << "a wider permission field";
    EXPECT_FALSE(scanMapsLine("00400000-004b0000"));
    EXPECT_FALSE(scanMapsLine("00400000 004b0000 r-xp 0 0:0 0 /x"));
    EXPECT_FALSE(scanMapsLine("zz-004b0000 r-xp 0 0:0 0 /x"));
    auto wide = scanMapsLine("5500001000-5500041000 rw-p 00000000 00:00 0   [stack]");
    if (kIs64) {
        ASSERT_TRUE(wide);
        EXPECT_EQ(wide->start, 0x5500001000u);
    } else {
        EXPECT_FALSE(wide) << "an address too large for the target is no address";
    }
    EXPECT_FALSE(scanMapsLine("1000-1ffffffffffffffff rw-p 0 0:0 0 /x"));
}

class ProcessMapsTest : public processtest::ProcessTest {};

TEST_F(ProcessMapsTest, OnlyExactlyMatchingUnclassifiedRegionsAreNamed) {
    coresift::AddressSpace& s = space();
    ASSERT_TRUE(s.addRegion(0x10000, 0x2000, rk::kRead, {}));
    ASSERT_TRUE(s.addRegion(0x20000, 0x3000, rk::kRead | rk::kWrite, {}));
    ASSERT_TRUE(s.addRegion(0x30000, 0x1000, rk::kRead | rk::kWrite, {}));
    ASSERT_TRUE(s.addRegion(0x40000, 0x1000, rk::kRead, {}));
    ASSERT_TRUE(s.addRegion(0x50000, 0x1000, rk::kRead, {}));
    s.nameRegion(*s.regionAt(0x40000), "[stack]", rk::kStack);
    coresift::readProcessMaps(context(),
                              "00010000-00012000 r--p 00000000 fe:00 1   /system/lib/libfoo.so\n"
                              "00020000-00021000 rw-p 00000000 00:00 0   [anon:part]\n"
                              "00030000-00031000 rw-p 00000000 00:00 0   [anon:libc_malloc]\n"
                              "00040000-00041000 rw-p 00000000 00:00 0   [anon:renamed]\n"
                              "00050000-00051000 r--p 00000000 00:05 9   /dev/ashmem/pool\n"
                              "00050800-00051000 r--p 00000000 00:05 9   /misaligned\n",
                              4096);
    EXPECT_EQ(s.regionAt(0x10000)->name, "/system/lib/libfoo.so");
    EXPECT_EQ(s.regionAt(0x10000)->type(), rk::kFile);
    EXPECT_EQ(s.regionAt(0x20000)->name, "") << "bounds covering part of a region change nothing";
    EXPECT_EQ(s.regionAt(0x30000)->name, "[anon:libc_malloc]");
    EXPECT_EQ(s.regionAt(0x30000)->kind & (rk::kTypeMask | rk::kOwnedName), rk::kOwnedName);
    EXPECT_EQ(s.regionAt(0x40000)->name, "[stack]") << "a classified region keeps its name";
    EXPECT_EQ(s.regionAt(0x50000)->type(), rk::kDev);
    EXPECT_EQ(err(), "");
}

TEST_F(ProcessMapsTest, BoundsMustBeAlignedToTheDumpsPageSizeAndOrdered) {
    coresift::AddressSpace& s = space();
    ASSERT_TRUE(s.addRegion(0x10000, 0x1000, rk::kRead, {}));
    ASSERT_TRUE(s.addRegion(0x20000, 0x4000, rk::kRead, {}));
    coresift::readProcessMaps(context(),
                              "00011000-00010000 r--p 0 0:0 0 /reversed\n"
                              "00010000-00011000 r--p 0 0:0 0 /four-k\n"
                              "00020000-00024000 r--p 0 0:0 0 /sixteen-k\n",
                              16384);
    EXPECT_EQ(s.regionAt(0x10000)->name, "") << "not aligned to 16 KiB pages";
    EXPECT_EQ(s.regionAt(0x20000)->name, "/sixteen-k");
}

}  // namespace
