// Unpacking packed db containers: the three versions, scrambled entries, and hostile containers
// that must write nothing outside the db folder and never half a file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "common/byte_reader.h"
#include "dispatcher/container.h"
#include "tests/dispatcher/container_builder.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using testsupport::BuilderEntry;
using testsupport::ContainerBuilder;
using testsupport::readFile;
using testsupport::TempFolder;
using testsupport::WorkingFolder;

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

// Unpacks `container` (as "expdb") inside a db folder of its own and returns the folder's files.
struct Unpacked {
    TempFolder root;  // the db folder is root/db: anything written next to it escaped
    fs::path db;
    unsigned written = 0;
};

std::unique_ptr<Unpacked> unpack(const std::string& container, const char* fileName = "expdb") {
    auto result = std::make_unique<Unpacked>();
    result->db = result->root.path() / "db";
    fs::create_directory(result->db);
    result->root.write(std::string("db/") + fileName, container);
    WorkingFolder inside(result->db);
    result->written = dispatcher::unpackContainer();
    return result;
}

TEST(Container, UnpacksEveryVersionWithPlainAndScrambledEntries) {
    for (std::uint32_t version : {16u, 17u, 18u}) {
        SCOPED_TRACE(version);
        auto run = unpack(ContainerBuilder(version)
                              .add({"PROCESS_COREDUMP", std::string("\x7F" "ELF\x02 core bytes", 15), false})
                              .add({"ZZ_INTERNAL", "Native (NE),0,1,99", true})
                              .bytes());
        EXPECT_EQ(run->written, 2u);
        EXPECT_EQ(readFile(run->db / "PROCESS_COREDUMP"), std::string("\x7F" "ELF\x02 core bytes", 15));
        EXPECT_EQ(readFile(run->db / "ZZ_INTERNAL"), "Native (NE),0,1,99");
    }
}

TEST(Container, ScrambledLengthsThatAreNotWholeWordsKeepTheirLength) {
    std::string data;
    for (int i = 0; i < 11; ++i) data += static_cast<char>(0xA0 + i);
    for (std::size_t length = 0; length <= data.size(); ++length) {
        SCOPED_TRACE(length);
        auto run = unpack(ContainerBuilder().add({"F", data.substr(0, length), true}).bytes());
        EXPECT_EQ(readFile(run->db / "F"), data.substr(0, length));
    }
}

TEST(Container, HeadersThatAreNotKnownAreIgnored) {
    std::string good = ContainerBuilder().add({"F", "x"}).bytes();
    std::string badMagic = ContainerBuilder().magic(0x7B40DEAE).add({"F", "x"}).bytes();
    std::string badVersion = ContainerBuilder(19).add({"F", "x"}).bytes();
    for (const std::string& bytes : {badMagic, badVersion, good.substr(0, 39), std::string()}) {
        auto run = unpack(bytes);
        EXPECT_EQ(run->written, 0u);
        EXPECT_EQ(namesIn(run->db), std::set<std::string>{"expdb"});
    }
    EXPECT_EQ(unpack(good)->written, 1u);
}

TEST(Container, TheSecondNameIsUsedOnlyWithoutTheFirst) {
    EXPECT_EQ(unpack(ContainerBuilder().add({"A", "a"}).bytes(), "RHX_EXP_RAW")->written, 1u);

    TempFolder db;
    db.write("expdb", ContainerBuilder().add({"FROM_EXPDB", "1"}).bytes());
    db.write("RHX_EXP_RAW", ContainerBuilder().add({"FROM_RAW", "2"}).bytes());
    WorkingFolder inside(db.path());
    dispatcher::unpackContainer();
    EXPECT_TRUE(fs::exists(db.path() / "FROM_EXPDB"));
    EXPECT_FALSE(fs::exists(db.path() / "FROM_RAW"));
}

TEST(Container, AbsentAndOutOfFileEntriesAreSkippedOneByOne) {
    BuilderEntry absent{"ABSENT", "a"};
    absent.present = 0;
    BuilderEntry pastEnd{"PAST_END", "b"};
    pastEnd.length = 1000;
    BuilderEntry wrapping{"WRAPS", "c"};  // offset + length and length + 4 overflow 32 bits
    wrapping.offset = 0xFFFFFFF0;
    wrapping.length = 0xFFFFFFFF;
    BuilderEntry hugeLength{"HUGE", "d", true};
    hugeLength.length = 0xFFFFFFFD;
    auto run = unpack(ContainerBuilder()
                          .add(absent)
                          .add(pastEnd)
                          .add(wrapping)
                          .add(hugeLength)
                          .add({"GOOD", "kept"})
                          .bytes());
    EXPECT_EQ(run->written, 1u);
    EXPECT_EQ(namesIn(run->db), (std::set<std::string>{"expdb", "GOOD"}));
    EXPECT_EQ(readFile(run->db / "GOOD"), "kept");
}

TEST(Container, EntryNamesThatLeaveTheFolderAreSkipped) {
    std::string noTerminator(32, 'N');
    ContainerBuilder builder;
    for (std::string name : {"../escape", "..", "/tmp/abs", "sub/file", "sub\\file", "C:escape", "C:", "a..b", "",
                             "CON", "nul.txt", "com1", "LPT9.log", "tab\there", "stream:data"})
        builder.add({name, "bad"});
    builder.add({noTerminator, "bad"});
    builder.add({"SYS_KERNEL_LOG", "fine"});
    auto run = unpack(builder.bytes());
    EXPECT_EQ(namesIn(run->root.path()), std::set<std::string>{"db"});
    EXPECT_EQ(namesIn(run->db), (std::set<std::string>{"expdb", "SYS_KERNEL_LOG"}));
    EXPECT_FALSE(fs::exists(run->root.path().parent_path() / "escape"));
}

TEST(Container, SafeNamesAreThoseOfFilesDirectlyInTheFolder) {
    for (const char* name : {"PROCESS_COREDUMP", "_exp_detail.txt", "SYS_LAST_CPU_BUS", "a.b.c", "CONSOLE", "COM10"})
        EXPECT_TRUE(dispatcher::isSafeEntryName(name)) << name;
    for (const char* name : {"", ".", "..", "x/..", "../x", "x/y", "x\\y", "D:y", "aux", "Aux.txt", "\x7F"})
        EXPECT_FALSE(dispatcher::isSafeEntryName(name)) << name;
}

TEST(Container, ATableEndFarPastTheFileStopsAtTheFile) {
    auto run = unpack(ContainerBuilder().add({"ONLY", "1"}).tableEnd(0xFFFFFFFF).bytes());
    EXPECT_EQ(run->written, 1u);

    // A table cut in the middle of its second entry; the first entry's data is the header's start.
    BuilderEntry first{"FIRST", ""};
    first.offset = 0;
    first.length = 4;
    std::string bytes = ContainerBuilder().add(first).add({"SECOND", ""}).bytes();
    auto cut = unpack(bytes.substr(0, 48 + 64 + 40));
    EXPECT_EQ(namesIn(cut->db), (std::set<std::string>{"expdb", "FIRST"}));
    EXPECT_EQ(readFile(cut->db / "FIRST"), "\xAD\xDE\x40\x7B");
}

TEST(Container, ExistingFilesAreReplacedWholeAndFailedWritesLeaveNothing) {
    TempFolder db;
    db.write("PROCESS_MAPS", std::string(5000, 'o'));
    fs::create_directory(db.path() / "SYS_ANDROID_LOG");  // a folder where an entry wants a file
    db.write("expdb", ContainerBuilder().add({"PROCESS_MAPS", "new maps"}).add({"SYS_ANDROID_LOG", "log"}).bytes());
    WorkingFolder inside(db.path());
    EXPECT_EQ(dispatcher::unpackContainer(), 1u);
    EXPECT_EQ(readFile(db.path() / "PROCESS_MAPS"), "new maps");
    EXPECT_TRUE(fs::is_directory(db.path() / "SYS_ANDROID_LOG"));
    EXPECT_EQ(namesIn(db.path()), (std::set<std::string>{"expdb", "PROCESS_MAPS", "SYS_ANDROID_LOG"}));
}

TEST(Container, EntriesAreVisitedInTableOrderWithTheirData) {
    std::string bytes = ContainerBuilder(16).add({"B", "two"}).add({"A", "one", true}).bytes();
    common::ByteView view(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    std::vector<std::string> seen;
    dispatcher::forEachContainerEntry(view, [&seen](const dispatcher::ContainerEntry& entry) {
        auto contents = dispatcher::entryContents(entry);
        seen.push_back(std::string(entry.name) + "=" + std::string(contents.begin(), contents.end()));
    });
    EXPECT_EQ(seen, (std::vector<std::string>{"B=two", "A=one"}));
}

}  // namespace
