// The platform services the Dispatcher and Setting rest on: argument quoting for Windows command
// lines, the locale's language, atomic file writes, outside libraries, process references and the
// install lock.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/directory.h"
#include "platform/locale.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/shared_library.h"
#include "platform/shell_integration.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using testsupport::TempFolder;

// Splits a command line the way the C runtime of a Windows program does (arguments after the
// first), to check that quoting round-trips.
std::vector<std::string> splitLikeTheRuntime(const std::string& line) {
    std::vector<std::string> args;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size()) break;
        std::string arg;
        bool quoted = false;
        while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
            std::size_t slashes = 0;
            while (i < line.size() && line[i] == '\\') ++slashes, ++i;
            if (i < line.size() && line[i] == '"') {
                arg.append(slashes / 2, '\\');
                if (slashes % 2) arg += '"';
                else quoted = !quoted;
                ++i;
            } else {
                arg.append(slashes, '\\');
                if (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) arg += line[i++];
            }
        }
        args.push_back(arg);
    }
    return args;
}

TEST(PlatformServices, WindowsQuotingRoundTripsEveryArgument) {
    EXPECT_EQ(platform::quoteWindowsArgument("plain"), "plain");
    EXPECT_EQ(platform::quoteWindowsArgument(""), "\"\"");
    EXPECT_EQ(platform::quoteWindowsArgument("a b"), "\"a b\"");
    EXPECT_EQ(platform::quoteWindowsArgument("C:\\dir\\"), "C:\\dir\\");
    EXPECT_EQ(platform::quoteWindowsArgument("C:\\my dir\\"), "\"C:\\my dir\\\\\"");
    EXPECT_EQ(platform::quoteWindowsArgument("say \"hi\""), "\"say \\\"hi\\\"\"");
    const std::vector<std::string> args = {"a b", "", "x\\\"y", "\\\\server\\share\\", "tab\there", "new\nline",
                                           "&|;$%", "end\\\\", "\"", "\\"};
    std::string line;
    for (const auto& arg : args) line += (line.empty() ? "" : " ") + platform::quoteWindowsArgument(arg);
    EXPECT_EQ(splitLikeTheRuntime(line), args);
}

TEST(PlatformServices, LocaleLanguageFields) {
    EXPECT_EQ(platform::languageFieldForLocaleId(1028), 2u);
    EXPECT_EQ(platform::languageFieldForLocaleId(3076), 2u);
    EXPECT_EQ(platform::languageFieldForLocaleId(2052), 0u);
    EXPECT_EQ(platform::languageFieldForLocaleId(1033), 1u);
    EXPECT_EQ(platform::languageFieldForLocaleId(4100), 1u);  // Singapore's id is not one of them
    EXPECT_EQ(platform::languageFieldForLocaleName("zh_TW.UTF-8"), 2u);
    EXPECT_EQ(platform::languageFieldForLocaleName("zh_HK"), 2u);
    EXPECT_EQ(platform::languageFieldForLocaleName("zh_CN.GB18030"), 0u);
    EXPECT_EQ(platform::languageFieldForLocaleName("zh_SG@latin"), 0u);
    EXPECT_EQ(platform::languageFieldForLocaleName("zh_CNX"), 1u);
    EXPECT_EQ(platform::languageFieldForLocaleName("zh"), 1u);
    EXPECT_EQ(platform::languageFieldForLocaleName("C"), 1u);
    EXPECT_EQ(platform::languageFieldForLocaleName(""), 1u);
    EXPECT_LE(platform::systemLanguageField(), 2u);
}

TEST(PlatformServices, AtomicWritesReplaceWholeOrLeaveNothing) {
    TempFolder folder;
    const std::string target = (folder.path() / "file").string();
    folder.write("file", std::string(10000, 'o'));
    ASSERT_TRUE(platform::writeFileAtomically(target, "new", 3));
    EXPECT_EQ(testsupport::readFile(target), "new");
    ASSERT_TRUE(platform::writeFileAtomically(target, nullptr, 0));
    EXPECT_EQ(testsupport::readFile(target), "");

    fs::create_directory(folder.path() / "folder");
    std::string error;
    EXPECT_FALSE(platform::writeFileAtomically((folder.path() / "folder").string(), "x", 1, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(platform::writeFileAtomically((folder.path() / "missing" / "file").string(), "x", 1));
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(folder.path())) {
        ++count;
        EXPECT_TRUE(entry.path().filename() == "file" || entry.path().filename() == "folder") << entry.path();
    }
    EXPECT_EQ(count, 2u);
}

TEST(PlatformServices, OutsideLibrariesLoadOnlyByFullPath) {
    std::string error;
    auto library = platform::SharedLibrary::load(TESSIV_STUB_PATH, &error);
    ASSERT_NE(library, nullptr) << error;
    EXPECT_NE(library->symbol("Tessiv"), nullptr);
    EXPECT_EQ(library->symbol("NoSuchExport"), nullptr);
    EXPECT_EQ(platform::SharedLibrary::load(fs::path(TESSIV_STUB_PATH).filename().string()), nullptr);
    EXPECT_EQ(platform::SharedLibrary::load("/no/such/library"), nullptr);
}

TEST(PlatformServices, ProcessReferencesThatNameNoProcess) {
    for (const char* reference : {"", "0", "not a number", "12x", "99999999999999"})
        EXPECT_FALSE(platform::waitForProcess(reference)) << reference;
}

TEST(PlatformServices, FolderOfAPath) {
    EXPECT_EQ(platform::folderOf("dir/sub/file"), "dir/sub");
    EXPECT_EQ(platform::folderOf("file"), "");
    EXPECT_FALSE(platform::defaultInstallFolder().empty());
}

TEST(PlatformServices, TheInstallLockIsHeldOnceAtATime) {
    const std::string name = "FerrovaneLockTest";
    auto first = platform::acquireInstallLock(name);
    ASSERT_TRUE(first->owned());
    EXPECT_FALSE(platform::acquireInstallLock(name)->owned());
    first.reset();
    EXPECT_TRUE(platform::acquireInstallLock(name)->owned());
}

// The copied files keep their write time, and renames replace what is in the way.
TEST(PlatformServices, FileTimesAndReplacingRenames) {
    TempFolder folder;
    folder.write("a", "first");
    folder.write("b", "second");
    std::string a = (folder.path() / "a").string(), b = (folder.path() / "b").string();
    auto time = platform::fileWriteTime(a);
    ASSERT_TRUE(time);
    ASSERT_TRUE(platform::setFileWriteTime(b, *time - 1000));
    EXPECT_EQ(platform::fileWriteTime(b), *time - 1000);
    EXPECT_TRUE(platform::renameFile(a, b));
    EXPECT_EQ(testsupport::readFile(b), "first");
    EXPECT_FALSE(platform::fileWriteTime(a));
    EXPECT_FALSE(platform::renameFile(a, b));
}

}  // namespace
