// Installing the suite from its distribution folder and removing it again: the copied files and
// their times, the store's values, the folder verb, the shortcuts and the uninstall script.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "platform/paths.h"
#include "platform/shell_integration.h"
#include "tests/dispatcher/dispatch_run.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using testsupport::DispatchRun;
using testsupport::TempFolder;

const std::string kExe = platform::kExecutableSuffix;

std::string join(const fs::path& folder, const std::string& name) {
    return folder.string() + platform::kPathSeparator + name;
}

// A distribution folder, an install folder below a missing one and a program-menu folder.
struct Distribution {
    Distribution() {
        dist.write("zDispatcher" + kExe, "new dispatcher");
        dist.write("CoreSift64" + kExe, "new analyzer");
        dist.write("setup.bat", "setup");
        fs::create_directories(dist.path() / "docs");
        run.ownFolder = dist.path().string();
        run.installFolder = (root.path() / "apps" / "Ferrovane").string();
        run.menuFolder = (root.path() / "menu" / "Ferrovane").string();
    }
    fs::path installed(const std::string& name) const { return fs::path(run.installFolder) / name; }

    TempFolder dist;
    TempFolder root;
    DispatchRun run;
};

TEST(DispatcherInstall, CopiesTheDistributionRecordsItAndRegistersTheShell) {
    Distribution setup;
    DispatchRun& run = setup.run;
    EXPECT_EQ(run.run({"-ext", "1", "-setup", "-ignored"}), 0);
    EXPECT_EQ(run.out(), "Setup ...\nSetup done\n");
    EXPECT_EQ(run.err(), "");
    // "z" is taken off; setup.bat and folders stay behind.
    EXPECT_EQ(testsupport::readFile(setup.installed("Dispatcher" + kExe)), "new dispatcher");
    EXPECT_EQ(testsupport::readFile(setup.installed("CoreSift64" + kExe)), "new analyzer");
    EXPECT_FALSE(fs::exists(setup.installed("setup.bat")));
    EXPECT_FALSE(fs::exists(setup.installed("docs")));
    EXPECT_EQ(fs::last_write_time(setup.installed("CoreSift64" + kExe)),
              fs::last_write_time(setup.dist.path() / ("CoreSift64" + kExe)));

    auto store = run.store().open();
    ASSERT_TRUE(store);
    EXPECT_EQ(store->readText("InstallDir"), run.installFolder);
    // English from the system, batch from -ext, the two script bits added.
    EXPECT_EQ(store->readWord("GlobalOpt"), 0x131u);

    ASSERT_TRUE(run.folderVerb());
    EXPECT_EQ(run.folderVerb()->first, join(run.installFolder, "Dispatcher" + kExe));
    EXPECT_EQ(run.folderVerb()->second, 4);

    platform::UninstallScript script = platform::uninstallScript(run.installFolder, "Dispatcher" + kExe);
    EXPECT_EQ(testsupport::readFile(setup.installed(script.fileName)), script.text);
    const std::string suffix = platform::kShortcutSuffix;
    ASSERT_EQ(run.shortcuts().size(), 3u);
    EXPECT_EQ(run.shortcuts()[0].target, join(run.installFolder, "Setting" + kExe));
    EXPECT_EQ(run.shortcuts()[0].path, join(run.menuFolder, "Setting" + suffix));
    EXPECT_EQ(run.shortcuts()[0].description, "Setting tool");
    EXPECT_NE(run.shortcuts()[1].target.find("/en/"), std::string::npos) << "English manual";
    EXPECT_EQ(run.shortcuts()[1].description, "User Manual");
    EXPECT_EQ(run.shortcuts()[2].target, join(run.installFolder, script.fileName));
    EXPECT_EQ(run.shortcuts()[2].path, join(run.menuFolder, "Uninstall" + suffix));
    EXPECT_EQ(run.shortcuts()[2].description, "Uninstall Ferrovane");
}

TEST(DispatcherInstall, AReinstallKeepsTheUsersWordAndInstalledFilesThatAreAsNew) {
    Distribution setup;
    DispatchRun& run = setup.run;
    run.store().setWord("GlobalOpt", 0x1001);
    fs::create_directories(run.installFolder);
    // Whole seconds, which every file system and C runtime keeps exactly.
    auto sourceTime = std::chrono::floor<std::chrono::seconds>(fs::last_write_time(setup.dist.path() / ("CoreSift64" + kExe)));
    fs::last_write_time(setup.dist.path() / ("CoreSift64" + kExe), sourceTime);
    fs::last_write_time(setup.dist.path() / ("zDispatcher" + kExe), sourceTime);
    // Same time as the distribution's: left alone. Older: replaced, without a ".old" left over.
    std::ofstream(setup.installed("CoreSift64" + kExe)) << "same time";
    fs::last_write_time(setup.installed("CoreSift64" + kExe), sourceTime);
    std::ofstream(setup.installed("Dispatcher" + kExe)) << "older";
    fs::last_write_time(setup.installed("Dispatcher" + kExe), sourceTime - std::chrono::hours(1));
    std::ofstream(setup.installed("Info")) << "left by an old version";

    EXPECT_EQ(run.run({"-setup"}), 0);
    EXPECT_EQ(testsupport::readFile(setup.installed("CoreSift64" + kExe)), "same time");
    EXPECT_EQ(testsupport::readFile(setup.installed("Dispatcher" + kExe)), "new dispatcher");
    EXPECT_FALSE(fs::exists(setup.installed("Dispatcher" + kExe + ".old")));
    EXPECT_FALSE(fs::exists(setup.installed("Info")));
    EXPECT_EQ(run.store().open()->readWord("GlobalOpt"), 0x1001u);
    EXPECT_EQ(run.keyReads(), 0);
}

TEST(DispatcherInstall, FromTheInstallFolderItselfNothingHappens) {
    Distribution setup;
    DispatchRun& run = setup.run;
    run.store().state().exists = false;
    run.installFolder = setup.dist.path().string() + platform::kPathSeparator;
    EXPECT_EQ(run.run({"-setup"}), 0);
    EXPECT_EQ(run.out(), "Setup ...\n");
    EXPECT_FALSE(run.store().state().exists);
    EXPECT_FALSE(run.folderVerb());
}

TEST(DispatcherInstall, ASecondInstallWaitsForAKeyAndEndsWithoutCopying) {
    for (bool batch : {false, true}) {
        Distribution setup;
        DispatchRun& run = setup.run;
        run.installLockHeld = true;
        run.store().setWord("GlobalOpt", batch ? 0x101 : 0x100);
        EXPECT_EQ(run.run({"-setup"}), 0);
        EXPECT_EQ(run.out(), "Setup ...\nDetect updating, please wait.\nPress any key to exit...\n");
        EXPECT_EQ(run.keyReads(), batch ? 0 : 1);
        EXPECT_FALSE(fs::exists(setup.installed("CoreSift64" + kExe)));
    }
}

TEST(DispatcherInstall, FailuresAreReportedAndTheInstallGoesOnWhereItCan) {
    {  // No store: the files are copied, the shell is left alone.
        Distribution setup;
        DispatchRun& run = setup.run;
        run.store().state().exists = false;
        run.store().state().writable = false;
        EXPECT_EQ(run.run({"-ext", "257", "-setup"}), 0);
        EXPECT_EQ(run.err(), "Error: Fail to open reginfo\n");
        EXPECT_EQ(run.out(), "Setup ...\nSetup done\n");
        EXPECT_TRUE(fs::exists(setup.installed("CoreSift64" + kExe)));
        EXPECT_FALSE(run.folderVerb());
        EXPECT_TRUE(run.shortcuts().empty());
    }
    {  // The folder verb cannot be written: message 24 names where it goes; shortcuts still made.
        Distribution setup;
        DispatchRun& run = setup.run;
        run.folderVerbFails = true;
        EXPECT_EQ(run.run({"-ext", "257", "-setup"}), 0);
        EXPECT_EQ(run.err(), "Error: Fail to register " + platform::folderVerbLocation() + "\n");
        EXPECT_EQ(run.shortcuts().size(), 3u);
    }
    {  // The install folder cannot be made: the install stops and says so with status 1.
        Distribution setup;
        DispatchRun& run = setup.run;
        setup.root.write("apps", "a file in the way");
        EXPECT_EQ(run.run({"-ext", "257", "-setup"}), 1);
        EXPECT_EQ(run.err(), "Fail to create path: " + run.installFolder + "\n");
        EXPECT_FALSE(run.store().state().values.find("InstallDir"));
    }
}

TEST(DispatcherInstall, UninstallRemovesTheStoreTheVerbAndTheMenuFolder) {
    Distribution setup;
    DispatchRun& run = setup.run;
    ASSERT_EQ(run.run({"-ext", "257", "-setup"}), 0);
    ASSERT_TRUE(fs::exists(fs::path(run.menuFolder) / ("Setting" + std::string(platform::kShortcutSuffix))));
    ASSERT_TRUE(run.folderVerb());
    EXPECT_EQ(run.run({"-uninstall"}), 0);
    EXPECT_EQ(run.out(), "Setup ...\nSetup done\nUninstall ...\nUninstall done\n");
    EXPECT_FALSE(run.store().state().exists);
    EXPECT_FALSE(run.folderVerb());
    EXPECT_FALSE(fs::exists(run.menuFolder));
    // The install folder itself is left to the uninstall script.
    EXPECT_TRUE(fs::exists(setup.installed("CoreSift64" + kExe)));
}

}  // namespace
