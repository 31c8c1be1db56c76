// The symbols-folder search: the device path first, the tree depth-first by name, the size test,
// the external folder's copy, the last rejected candidate, and paths from the dump that try to
// leave the folder.
#include <gtest/gtest.h>

#include <fstream>

#include "analyzer/symbols/symbol_file_search.h"
#include "tests/support/run_capture.h"
#include "tests/support/temp_folder.h"
#include "tests/symbols/elf_builder.h"

namespace {

namespace fs = std::filesystem;
using testsupport::Bytes;
using testsupport::TempFolder;

void writeBytes(const fs::path& path, const Bytes& bytes) {
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// An ELF file whose one executable load segment is `codeSize` bytes.
Bytes libraryWithCode(std::uint64_t codeSize, coresift::ElfClass elfClass = coresift::kTargetElfClass) {
    testsupport::ElfBuilder b(elfClass);
    b.addSection(".text", 1, Bytes(16, 0), 6, 0);
    b.addSegment({1, 5, 0, 0, 0, codeSize, codeSize, 0x1000});
    return b.build();
}

class SymbolSearch : public ::testing::Test {
protected:
    SymbolSearch() : cwd_(root_.path()) {
        run_.context().catalog.selectEnglish();
        run_.context().options.symbolsDir = "syms";
    }

    // Searches and returns the path of the opened file ("" when none).
    std::string find(const std::string& path, const coresift::AcceptCandidate& accept = {}) {
        auto file = coresift::findSymbolFile(run_.context(), path, accept);
        return file ? file->path() : std::string();
    }

    TempFolder root_;
    testsupport::WorkingFolder cwd_;
    testsupport::RunCapture run_;
};

TEST_F(SymbolSearch, DevicePathUnderTheFolderIsTakenWithoutAsking) {
    writeBytes("syms/system/lib/libx.so", {1});
    writeBytes("syms/a/libx.so", {2});
    EXPECT_EQ(find("/system/lib/libx.so", [](const std::string&) { return false; }), "syms/system/lib/libx.so");
    EXPECT_EQ(run_.out(), "Loading libx.so ...\n");
}

TEST_F(SymbolSearch, TreeIsSearchedDepthFirstInNameOrder) {
    writeBytes("syms/b/libx.so", {1});
    writeBytes("syms/a/deep/libx.so", {2});
    writeBytes("syms/a/libx.so.bak", {3});
    writeBytes("syms/a/LIBX.SO", {4});
    std::vector<std::string> offered;
    auto record = [&](const std::string& candidate) {
        offered.push_back(candidate);
        return false;
    };
    // None accepted: every candidate offered once, in order, and the last one is opened.
    EXPECT_EQ(find("/vendor/lib/libx.so", record), "syms/b/libx.so");
    EXPECT_EQ(offered, (std::vector<std::string>{"syms/a/deep/libx.so", "syms/b/libx.so"}));
    // The first accepted one wins; the file in a folder comes before its subfolders.
    writeBytes("syms/libx.so", {5});
    offered.clear();
    EXPECT_EQ(find("libx.so", [&](const std::string& c) { return c == "syms/a/deep/libx.so"; }), "syms/a/deep/libx.so");
    EXPECT_EQ(find("libx.so", [&](const std::string&) { return true; }), "syms/libx.so");
    EXPECT_EQ(find("/vendor/lib/liby.so"), "");
}

TEST_F(SymbolSearch, TheDefaultFolderIsCreatedOnFirstUse) {
    run_.context().options.symbolsDir = "symbols";
    EXPECT_EQ(find("/system/lib/libx.so"), "");
    EXPECT_TRUE(fs::is_directory(root_.path() / "symbols"));
}

TEST_F(SymbolSearch, ExternalFolderCopyComesIntoTheSymbolsFolder) {
    writeBytes("remote/system/lib/libx.so", {7, 7});
    run_.context().options.externalSymbolsDir = (root_.path() / "remote").string();
    EXPECT_EQ(find("/system/lib/libx.so"), "syms/system/lib/libx.so");
    EXPECT_EQ(run_.out(), "Copy remote libx.so ...\nLoading libx.so ...\n");
    EXPECT_EQ(fs::file_size(root_.path() / "syms/system/lib/libx.so"), 2u);
    // A copy that cannot be made gives no file (a file stands where the folder should be).
    writeBytes("remote/system/bin/tool", {1});
    writeBytes("syms/system/bin", {1});
    EXPECT_EQ(find("/system/bin/tool"), "");
}

// Paths come from the dump: "..", drive or stream separators and backslashes never take the
// search (or the copy) outside the symbols folder; only the search by base name is left.
TEST_F(SymbolSearch, PathsFromTheDumpStayInsideTheSymbolsFolder) {
    writeBytes("outside/libx.so", {1});
    writeBytes("remote/outside/libx.so", {1});
    writeBytes("remote/system/libx.so", {1});
    run_.context().options.externalSymbolsDir = (root_.path() / "remote").string();
    fs::create_directories(root_.path() / "syms");
    for (const char* path : {"/../outside/libx.so", "/system/../../outside/libx.so", "/system/..", "/c:/outside/libx.so",
                             "/system\\..\\..\\outside/libx.so", "/system/lib/.."}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(find(path), "");
    }
    EXPECT_FALSE(fs::exists(root_.path() / "outside/libx.so.part"));
    EXPECT_EQ(run_.out(), "");
    // Too long for the folder: not looked up by its path, nor copied.
    std::string longPath = "/system/" + std::string(250, 'd') + "/libx.so";
    writeBytes("remote" + longPath, {1});
    EXPECT_EQ(find(longPath), "");
    EXPECT_EQ(run_.out(), "");
    for (const auto& entry : fs::recursive_directory_iterator(root_.path() / "syms")) EXPECT_FALSE(entry.is_regular_file()) << entry.path();
    EXPECT_TRUE(coresift::safeDevicePath("/system/lib/libc.so"));
    EXPECT_TRUE(coresift::safeDevicePath("/system/lib/..so"));
    EXPECT_FALSE(coresift::safeDevicePath(std::string("/system/lib\0/x", 14)));
}

TEST_F(SymbolSearch, SizePlausibilityOfACandidate) {
    writeBytes("near.so", libraryWithCode(0x20000));
    writeBytes("far.so", libraryWithCode(0x30000));
    writeBytes("other-class.so", libraryWithCode(0x20000, kIs64 ? coresift::ElfClass::Elf32 : coresift::ElfClass::Elf64));
    writeBytes("not-elf.so", Bytes(64, 'x'));
    EXPECT_TRUE(coresift::plausibleSymbolFile("near.so", 0x20000 + 0x3000));
    EXPECT_TRUE(coresift::plausibleSymbolFile("near.so", 0x20000 - 0x3000));
    EXPECT_FALSE(coresift::plausibleSymbolFile("near.so", 0x20000 + 0x4000));
    EXPECT_FALSE(coresift::plausibleSymbolFile("far.so", 0x20000));
    EXPECT_FALSE(coresift::plausibleSymbolFile("other-class.so", 0x20000));
    EXPECT_FALSE(coresift::plausibleSymbolFile("not-elf.so", 0x20000));
    EXPECT_FALSE(coresift::plausibleSymbolFile("missing.so", 0x20000));
}

}  // namespace
