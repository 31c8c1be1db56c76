// Starting the analyzer: where its program file and the install folder come from, the argument
// vector it receives (checked through real stub analyzers as well), the external symbols folder
// from the clipboard or the outside library, and the command-line limit.
#include <gtest/gtest.h>

#include <filesystem>

#include "dispatcher/launch.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/shared_library.h"
#include "tests/dispatcher/dispatch_run.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using testsupport::DispatchRun;
using testsupport::TempFolder;
using testsupport::WorkingFolder;

const std::string kElf32 = std::string("\x7F" "ELF\x01\x01\x01\0\0\0\0\0\0\0\0\0", 16);
const std::string kElf64 = std::string("\x7F" "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0", 16);
const std::string kSuffix = platform::kExecutableSuffix;

// A db folder (the working folder) and an install folder beside it.
struct DbAndInstall {
    explicit DbAndInstall(const std::string& dbName = "db") {
        db = root.path() / dbName;
        install = root.path() / "install dir";
        fs::create_directories(db);
        fs::create_directories(install);
        root.write(dbName + "/PROCESS_COREDUMP", kElf64);
        inside = std::make_unique<WorkingFolder>(db);
    }
    // Puts a copy of a built file into the install folder.
    void installFile(const char* built, const std::string& name) const {
        fs::copy_file(built, install / name, fs::copy_options::overwrite_existing);
        fs::permissions(install / name, fs::perms::owner_all, fs::perm_options::add);
    }
    void prepare(DispatchRun& run, std::uint32_t word = 0x100) const {
        run.store().setWord("GlobalOpt", word);
        run.store().setText("InstallDir", install.string());
    }

    TempFolder root;
    fs::path db, install;
    std::unique_ptr<WorkingFolder> inside;
};

std::vector<std::string> baseArgv(const DbAndInstall& setup, const std::string& word, const std::string& name = "CoreSift64") {
    return {name + kSuffix, "-l", platform::shortPathForm(setup.install.string()), "-ext", word};
}

TEST(Launch, TheAnalyzerGetsTheInstallFolderTheWordAndTheFolders) {
    DbAndInstall setup;
    DispatchRun run;
    setup.prepare(run, 0x1100);
    EXPECT_EQ(run.run({"-s", "my symbols", "-c", "cache dir", "-e", "extra \"quoted\""}), 0);
    ASSERT_EQ(run.started().size(), 1u);
    auto expected = baseArgv(setup, "4352");
    expected.insert(expected.end(), {"-s", "my symbols", "-c", "cache dir", "-e", "extra \"quoted\""});
    EXPECT_EQ(run.started()[0].argv, expected);
    EXPECT_EQ(run.started()[0].programFile, setup.install.string() + "/CoreSift64" + kSuffix);
    EXPECT_TRUE(fs::equivalent(run.started()[0].folder, setup.db));
}

TEST(Launch, TheSymcacheFolderIsPassedOnlyWithItsBit) {
    DbAndInstall setup;
    DispatchRun run;
    setup.prepare(run, 0x100);
    run.run({"-c", "cache", "-s", ""});
    auto expected = baseArgv(setup, "256");
    expected.insert(expected.end(), {"-s", ""});
    EXPECT_EQ(run.started().at(0).argv, expected);
}

TEST(Launch, TheInstallFolderComesFromTheStoreElseTheDefault) {
    {
        DbAndInstall setup;
        DispatchRun run;
        run.installFolder = "/default/install";
        run.store().setWord("GlobalOpt", 0x100);
        run.store().setText("InstallDir", std::string(259, 'i'));
        run.run({});
        EXPECT_EQ(run.context().settings.installFolder, std::string(259, 'i'));
    }
    for (const std::string& stored : {std::string(260, 'i'), std::string()}) {
        DbAndInstall setup;
        DispatchRun run;
        run.installFolder = "/default/install";
        run.store().setWord("GlobalOpt", 0x100);
        run.store().setText("InstallDir", stored);
        run.run({});
        EXPECT_EQ(run.context().settings.installFolder, "/default/install");
        EXPECT_EQ(run.started().at(0).programFile, "/default/install/CoreSift64" + kSuffix);
    }
}

TEST(Launch, AnAnalyzerNotInstalledIsTakenFromBesideTheDispatcher) {
    DbAndInstall setup;
    TempFolder own;
    own.write("CoreSift64" + kSuffix, "program");
    DispatchRun run;
    setup.prepare(run);
    run.ownFolder = own.str();
    EXPECT_EQ(run.run({}), 0);
    EXPECT_EQ(run.started().at(0).programFile, own.str() + "/CoreSift64" + kSuffix);

    // Installed wins.
    setup.installFile(STUB_ANALYZER_PATH, "CoreSift64" + kSuffix);
    DispatchRun again;
    setup.prepare(again);
    again.ownFolder = own.str();
    again.run({});
    EXPECT_EQ(again.started().at(0).programFile, setup.install.string() + "/CoreSift64" + kSuffix);
}

TEST(Launch, AMissingKernelAnalyzerIsReportedWithItsInstalledPath) {
    DbAndInstall setup;
    fs::remove(setup.db / "PROCESS_COREDUMP");
    setup.root.write("db/ZZ_INTERNAL", "Kernel (KE)");
    DispatchRun run;
    setup.prepare(run);
    run.startForReal = true;
    EXPECT_EQ(run.run({}), 1);
    EXPECT_EQ(run.err(), "Error: Fail to launch " + setup.install.string() + "/KernSift64" + kSuffix + "\n");
    EXPECT_EQ(run.out(), "Press any key to continue...");
    EXPECT_EQ(run.keyReads(), 1);
}

TEST(Launch, StubAnalyzersReceiveEveryArgumentIntactInTheDbFolder) {
    // Characters that a shell or a command line would take apart.
    DbAndInstall setup("db &;$%'`!() x");
    setup.installFile(STUB_ANALYZER_PATH, "CoreSift" + kSuffix);
    setup.root.write("db &;$%'`!() x/PROCESS_COREDUMP", kElf32);
    DispatchRun run;
    setup.prepare(run, 0x1001);
    run.startForReal = true;
    const std::string symbols = "sym \"quoted\" \\\\server\\share\\ & | ; $HOME %PATH% \\";
    const std::string extra = "line one\nline two\t\"end\"";
    EXPECT_EQ(run.run({"-s", symbols, "-c", "a b\\", "-e", extra}), 0);  // the stub's status is not looked at
    auto record = testsupport::readStubRecord(setup.db.string());
    ASSERT_TRUE(record.has_value());
    EXPECT_TRUE(fs::equivalent(record->folder, setup.db));
    auto expected = baseArgv(setup, "4097", "CoreSift");
    expected.insert(expected.end(), {"-s", symbols, "-c", "a b\\", "-e", extra});
    EXPECT_EQ(record->argv, expected);
}

TEST(Launch, ALongerCommandLineThanTheLimitIsRefusedNotCut) {
    DbAndInstall setup;
    const std::string base =
        "CoreSift64" + kSuffix + " -l \"" + platform::shortPathForm(setup.install.string()) + "\" -ext 256 -e \"\"";
    const std::size_t room = dispatcher::kMaxCommandLine - base.size();
    {
        DispatchRun run;
        setup.prepare(run);
        EXPECT_EQ(run.run({"-e", std::string(room, 'e')}), 0);
        EXPECT_EQ(run.started().size(), 1u);
    }
    {
        DispatchRun run;
        setup.prepare(run);
        EXPECT_EQ(run.run({"-e", std::string(room + 1, 'e')}), 1);
        EXPECT_TRUE(run.started().empty());
        EXPECT_EQ(run.err(), "Error: Fail to launch " + setup.install.string() + "/CoreSift64" + kSuffix + "\n");
    }
}

// The -se argument the analyzer received, or empty.
std::string externalSymbols(const DispatchRun& run) {
    const auto& argv = run.started().at(0).argv;
    for (std::size_t i = 0; i + 1 < argv.size(); ++i)
        if (argv[i] == "-se") return argv[i + 1];
    return "";
}

TEST(Launch, TheClipboardCanNameTheExternalSymbolsFolder) {
    DbAndInstall setup;
    fs::create_directories(setup.root.path() / "out" / "symbols");
    fs::create_directories(setup.db / "symbols");
    const std::string folder = (setup.root.path() / "out" / "symbols").string();
    {
        DispatchRun run;
        setup.prepare(run);
        run.clipboard = folder;
        run.run({});
        EXPECT_EQ(externalSymbols(run), folder);
        EXPECT_EQ(run.out(), "symbols path(" + folder + ")come from clipboard\n");
        EXPECT_TRUE(run.clipboardCleared());
    }
    // Not ending in "symbols", unreadable, shorter than 8 characters: the clipboard is left alone.
    for (const std::string& text : {(setup.root.path() / "out").string(), std::string("/no/such/symbols"),
                                    std::string("symbols"), folder + "\n"}) {
        DispatchRun run;
        setup.prepare(run);
        run.clipboard = text;
        run.run({});
        EXPECT_EQ(externalSymbols(run), "") << text;
        EXPECT_FALSE(run.clipboardCleared());
        EXPECT_EQ(run.out(), "");
    }
    // Only the first 259 characters count, and the text ends at a NUL.
    std::string dots;
    while (dots.size() + 7 < 259) dots += "./";
    ASSERT_EQ((dots + "symbols").size(), 259u);
    for (const std::string& text : {dots + "symbols" + "/more", folder + std::string(1, '\0') + "rest"}) {
        DispatchRun run;
        setup.prepare(run);
        run.clipboard = text;
        run.run({});
        EXPECT_EQ(externalSymbols(run), text.substr(0, std::min<std::size_t>(259, text.find('\0'))));
    }
}

TEST(Launch, TheOutsideLibraryCanNameTheExternalSymbolsFolder) {
    DbAndInstall setup;
    setup.installFile(TESSIV_STUB_PATH, platform::sharedLibraryFileName("Tessiv"));
    fs::create_directories(setup.root.path() / "remote" / "symbols");
    const std::string folder = (setup.root.path() / "remote" / "symbols").string();
    struct Case {
        std::optional<std::string> answer;
        std::string expected;
    };
    const Case cases[] = {
        {folder, folder},
        {std::string("/no/such/folder"), ""},
        {std::string("!fill"), ""},  // a full buffer without a terminator is cut, not overrun
        {std::nullopt, ""},          // the library knows no folder
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer.value_or("(none)"));
        fs::remove(setup.db / "tessiv-answer.txt");
        if (c.answer) setup.root.write("db/tessiv-answer.txt", *c.answer);
        DispatchRun run;
        setup.prepare(run);
        EXPECT_EQ(run.run({}), 0);
        EXPECT_EQ(externalSymbols(run), c.expected);
    }
    // The clipboard comes first.
    fs::create_directories(setup.root.path() / "clip" / "symbols");
    setup.root.write("db/tessiv-answer.txt", folder);
    const std::string clipped = (setup.root.path() / "clip" / "symbols").string();
    DispatchRun run;
    setup.prepare(run);
    run.clipboard = clipped;
    run.run({});
    EXPECT_EQ(externalSymbols(run), clipped);
}

TEST(Launch, TheOutsideLibraryIsLoadedOnlyFromTheInstallFolder) {
    DbAndInstall setup;
    TempFolder own;
    fs::copy_file(TESSIV_STUB_PATH, own.path() / platform::sharedLibraryFileName("Tessiv"));
    fs::create_directories(setup.root.path() / "remote" / "symbols");
    setup.root.write("db/tessiv-answer.txt", (setup.root.path() / "remote" / "symbols").string());
    DispatchRun run;
    setup.prepare(run);
    run.ownFolder = own.str();
    run.run({});
    EXPECT_EQ(externalSymbols(run), "");
    EXPECT_EQ(platform::SharedLibrary::load(platform::sharedLibraryFileName("Tessiv")), nullptr);
}

}  // namespace
