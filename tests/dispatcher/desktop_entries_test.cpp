// The desktop entry files that stand in for the folder verb and the shortcuts outside Windows:
// program paths with characters the Exec format reserves reach the program unchanged.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/shell_integration.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

bool usesDesktopEntries() { return std::string(platform::kShortcutSuffix) == ".desktop"; }

// The tests' XDG_DATA_HOME (CTest points it into the build tree): never the user's own.
class DesktopEntries : public ::testing::Test {
protected:
    void SetUp() override {
        if (!usesDesktopEntries()) GTEST_SKIP() << "this system uses registry verbs and shell links";
        const char* data = std::getenv("XDG_DATA_HOME");
        if (!data || !*data) GTEST_SKIP() << "XDG_DATA_HOME is not set";
        data_ = data;
        fs::create_directories(data_);
    }
    std::string data_;
};

TEST_F(DesktopEntries, TheFolderVerbQuotesTheProgramAndComesAndGoes) {
    std::string program = data_ + "/odd \"dir\" $HOME `x` 100% \\ back/Dispatcher";
    ASSERT_TRUE(platform::registerFolderVerb(program, 4));
    EXPECT_EQ(platform::folderVerbLocation(), data_ + "/applications/ferrovane-analyze.desktop");
    std::string text = testsupport::readFile(platform::folderVerbLocation());
    // Exec quoting, then the entry's own escape of backslashes.
    std::string expected = "Exec=\"" + data_ +
                           "/odd \\\\\"dir\\\\\" \\\\$HOME \\\\`x\\\\` 100%% \\\\\\\\ back/Dispatcher\" %f -ext 4\n";
    EXPECT_NE(text.find(expected), std::string::npos) << text;
    EXPECT_NE(text.find("MimeType=inode/directory;\n"), std::string::npos);
    EXPECT_NE(text.find("Name=NE/KE-Analyze\n"), std::string::npos);
    platform::removeFolderVerb();
    EXPECT_FALSE(fs::exists(platform::folderVerbLocation()));
}

TEST_F(DesktopEntries, ShortcutsToProgramsScriptsAndAddresses) {
    std::string menu = platform::menuFolder();
    EXPECT_EQ(menu, data_ + "/applications/ferrovane");
    fs::create_directories(menu);
    ASSERT_TRUE(platform::createShortcut("/opt/f/Setting", menu + "/Setting.desktop", "Setting tool"));
    ASSERT_TRUE(platform::createShortcut("https://example.org/m", menu + "/User Manual.desktop", "User\nManual"));
    ASSERT_TRUE(platform::createShortcut("/opt/f/Uninstall.sh", menu + "/Uninstall.desktop", "Uninstall"));
    EXPECT_EQ(testsupport::readFile(menu + "/Setting.desktop"),
              "[Desktop Entry]\nName=Setting\nComment=Setting tool\nType=Application\nExec=\"/opt/f/Setting\"\n"
              "Terminal=true\n");
    EXPECT_EQ(testsupport::readFile(menu + "/User Manual.desktop"),
              "[Desktop Entry]\nName=User Manual\nComment=User\\nManual\nType=Link\nURL=https://example.org/m\n");
    EXPECT_NE(testsupport::readFile(menu + "/Uninstall.desktop").find("Exec=/bin/sh \"/opt/f/Uninstall.sh\"\n"),
              std::string::npos);
}

TEST_F(DesktopEntries, TheUninstallScriptQuotesTheFolderForTheShell) {
    platform::UninstallScript script = platform::uninstallScript("/home/u/it's here", "Dispatcher");
    EXPECT_EQ(script.fileName, "Uninstall.sh");
    EXPECT_EQ(script.text, "#!/bin/sh\n'/home/u/it'\\''s here/Dispatcher' -uninstall\nrm -rf '/home/u/it'\\''s here'\n");
}

}  // namespace
