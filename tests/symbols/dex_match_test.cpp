// Matching the DEX files the Java runtime had open with the files of the symbols folder: bare
// DEX files and "dey" containers, the words the runtime's object must hold, and files of another
// size, format or content.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "analyzer/symbols/dex_match.h"
#include "tests/support/run_capture.h"
#include "tests/support/temp_folder.h"

namespace {

namespace dw = coresift::dex_word;
using Bytes = std::vector<std::uint8_t>;

constexpr TargetWord kMapped = 0x70000000;
const std::string kDevicePath = "/system/framework/core.dex";

void put32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    if (bytes.size() < at + 4) bytes.resize(at + 4);
    std::memcpy(bytes.data() + at, &value, 4);
}

// A bare DEX of `size` bytes whose header names its tables at fixed offsets.
Bytes dexFile(std::uint32_t size = 0x400, const char* magic = "dex\n035") {
    Bytes dex(size, 0);
    std::memcpy(dex.data(), magic, 8);
    put32(dex, 32, size);
    put32(dex, 36, 112);
    const std::uint32_t offsets[][2] = {{52, 0x3f0}, {60, 0x70}, {68, 0x90}, {76, 0xa0},
                                        {84, 0xc0}, {92, 0xe0}, {100, 0x100}, {108, 0x120}};
    for (const auto& o : offsets) put32(dex, o[0], o[1]);
    return dex;
}

// The words the runtime holds for a DEX whose header lies at `begin`, as dexFile lays it out.
std::array<TargetWord, dw::kCount> runtimeWords(TargetWord begin, std::uint32_t size = 0x400) {
    std::array<TargetWord, dw::kCount> w{};
    w[dw::kBegin] = w[dw::kHeader] = begin;
    w[dw::kSize] = size;
    w[dw::kStringIds] = begin + 0x70;
    w[dw::kTypeIds] = begin + 0x90;
    w[dw::kProtoIds] = begin + 0xa0;
    w[dw::kFieldIds] = begin + 0xc0;
    w[dw::kMethodIds] = begin + 0xe0;
    w[dw::kClassDefs] = begin + 0x100;
    w[dw::kMapList] = begin + 0x3f0;
    w[dw::kData] = begin + 0x120;
    return w;
}

// A "dey" container: header, two tagged sections and the end tag, then the DEX at 0x100.
Bytes containerFile(const char* version = "036") {
    Bytes file(0x100, 0);
    std::memcpy(file.data(), "dey\n", 4);
    std::memcpy(file.data() + 4, version, 4);
    put32(file, 8, 0x100);
    put32(file, 24, 0x20);
    put32(file, 0x20, 0x434C4B50);  // 13 bytes of data: the next section 0x18 later
    put32(file, 0x24, 13);
    put32(file, 0x38, 0x524D4150);
    put32(file, 0x3c, 8);
    put32(file, 0x48, 0x41454E44);
    Bytes dex = dexFile();
    file.insert(file.end(), dex.begin(), dex.end());
    return file;
}

coresift::DexRecord recordAt(TargetWord mapAddress) {
    coresift::DexRecord record;
    record.path = kDevicePath;
    record.mapAddress = mapAddress;
    return record;
}

class DexMatch : public ::testing::Test {
protected:
    DexMatch() : cwd_(root_.path()) { run_.context().catalog.selectEnglish(); }

    void place(const Bytes& bytes) {
        std::filesystem::path path = root_.path() / ("symbols" + kDevicePath);
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        record_.fileSize = bytes.size();
    }
    bool match() { return coresift::matchDexFile(run_.context(), record_); }

    testsupport::TempFolder root_;
    testsupport::WorkingFolder cwd_;
    testsupport::RunCapture run_;
    coresift::DexRecord record_ = recordAt(kMapped);
};

TEST_F(DexMatch, TheSameBareDexMatchesAndIsKept) {
    place(dexFile());
    record_.words = runtimeWords(kMapped);
    EXPECT_TRUE(match()) << run_.err();
    EXPECT_TRUE(record_.matched);
    ASSERT_NE(record_.file, nullptr);
    EXPECT_EQ(record_.file->size(), 0x400u);
    EXPECT_EQ(run_.out(), "Loading core.dex ...\n");
    EXPECT_EQ(run_.err(), "");
}

TEST_F(DexMatch, AContainersSectionsAndItsDexArePlacedFromTheMapping) {
    Bytes file = containerFile();
    place(file);
    record_.words = runtimeWords(kMapped + 0x100);
    record_.words[dw::kContainerA] = kMapped + 0x28;
    record_.words[dw::kContainerB] = kMapped + 0x40;
    EXPECT_TRUE(match()) << run_.err();

    bool unsupported = true;
    auto words = coresift::dexWordsOf(common::ByteView(file.data(), file.size()), kMapped, unsupported);
    ASSERT_TRUE(words);
    EXPECT_FALSE(unsupported);
    EXPECT_EQ(words->words, record_.words);
}

TEST_F(DexMatch, AnyDifferenceIsReportedOnceAndTheFileLetGo) {
    struct Case {
        const char* what;
        std::function<void(Bytes&, coresift::DexRecord&)> change;
    };
    const Case cases[] = {
        {"a table elsewhere", [](Bytes&, coresift::DexRecord& r) { r.words[dw::kClassDefs] += 8; }},
        {"mapped elsewhere", [](Bytes&, coresift::DexRecord& r) { r.mapAddress += 0x1000; }},
        {"another size", [](Bytes& b, coresift::DexRecord& r) { b.resize(0x800), r.fileSize = 0x400; }},
        {"the DEX beyond the file", [](Bytes& b, coresift::DexRecord&) { b = containerFile(); b.resize(0x140); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::TempFolder root;
        testsupport::WorkingFolder cwd(root.path());
        testsupport::RunCapture run;
        run.context().catalog.selectEnglish();
        Bytes file = dexFile();
        coresift::DexRecord record = recordAt(kMapped);
        record.words = runtimeWords(kMapped);
        c.change(file, record);
        std::filesystem::create_directories(root.path() / "symbols/system/framework");
        std::ofstream(root.path() / ("symbols" + kDevicePath), std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), file.size());
        if (record.fileSize == 0) record.fileSize = file.size();
        EXPECT_FALSE(coresift::matchDexFile(run.context(), record));
        EXPECT_FALSE(coresift::matchDexFile(run.context(), record)) << "once per record";
        EXPECT_EQ(run.err(), "Error: symbols" + kDevicePath +
                                 " and coredump are not matched, please provide the same file from crashed phone\n");
        EXPECT_EQ(record.file, nullptr);
    }
}

TEST_F(DexMatch, FilesOfUnknownFormatsAreRefused) {
    struct Case {
        const char* what;
        Bytes file;
    };
    Bytes looping = containerFile();
    put32(looping, 0x48, 0x11111111);  // no end tag: the list runs out of the file
    const Case cases[] = {
        {"compact DEX", dexFile(0x400, "cdex001")},
        {"container of version 037", containerFile("037")},
        {"container without its end", looping},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        bool unsupported = false;
        EXPECT_FALSE(coresift::dexWordsOf(common::ByteView(c.file.data(), c.file.size()), kMapped, unsupported));
        EXPECT_TRUE(unsupported);
    }
    place(containerFile("037"));
    EXPECT_FALSE(match());
    EXPECT_EQ(run_.err(), "Error: Don't support this DEX format\n");
}

TEST_F(DexMatch, NoFileNoMessage) {
    EXPECT_FALSE(match());
    EXPECT_EQ(run_.out() + run_.err(), "");
}

}  // namespace
