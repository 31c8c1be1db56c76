// The Dispatcher's run as a user starts it: the option word and language, the command line,
// errors and the final key wait, and what each kind of db leads to.
#include <gtest/gtest.h>

#include <filesystem>

#include "dispatcher/messages.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/text_encoding.h"
#include "tests/dispatcher/dispatch_run.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using testsupport::DispatchRun;
using testsupport::TempFolder;
using testsupport::WorkingFolder;

const std::string kElf64 = std::string("\x7F" "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0", 16);
const std::string kPause = "Press any key to continue...";

// A db folder with a 64-bit process coredump, as the working folder.
struct NativeDb {
    NativeDb() { db.write("PROCESS_COREDUMP", kElf64); }
    TempFolder db;
    WorkingFolder inside{db.path()};
};

// The value the analyzer received with -ext.
std::string extArgument(const DispatchRun& run) {
    const auto& argv = run.started().at(0).argv;
    for (std::size_t i = 0; i + 1 < argv.size(); ++i)
        if (argv[i] == "-ext") return argv[i + 1];
    return "";
}

TEST(DispatcherRun, TheStoredWordGoesToTheAnalyzerAndEndsTheRunAtOnce) {
    NativeDb db;
    DispatchRun run;
    run.store().setWord("GlobalOpt", 0x1130);
    EXPECT_EQ(run.run({}), 0);
    ASSERT_EQ(run.started().size(), 1u);
    EXPECT_EQ(extArgument(run), "4400");
    EXPECT_EQ(run.keyReads(), 0);
    EXPECT_EQ(run.out(), "");
    EXPECT_EQ(run.err(), "");
}

TEST(DispatcherRun, WithoutAStoredWordTheSystemLanguageChoosesTheTable) {
    for (unsigned field : {0u, 1u, 2u}) {
        SCOPED_TRACE(field);
        TempFolder empty;
        WorkingFolder inside(empty.path());
        DispatchRun run;
        run.store().state().exists = false;
        run.systemLanguage = field;
        EXPECT_EQ(run.run({}), 1);
        if (field == 0) {
            if (!platform::kGbkOutput) {
                EXPECT_EQ(run.err(), "错误: 找不到NE/KE信息, 请在db解包后的文件夹上运行该工具\n");
            }
            EXPECT_EQ(run.context().catalog.language(), dispatcher::Language::Chinese);
        } else {
            EXPECT_EQ(run.err(), "Error: Fail to find NE/KE infomation, please run the tool on the folder db extracted\n");
            EXPECT_EQ(run.out(), kPause);
        }
        EXPECT_EQ(run.context().settings.word, field << 8);
        EXPECT_EQ(run.keyReads(), 1);
    }
}

TEST(DispatcherRun, LanguageOptions) {
    struct Case {
        std::uint32_t stored;
        std::vector<std::string> args;
        std::string ext;
        dispatcher::Language language;
    };
    const Case cases[] = {
        {0x0, {"-lang", "tw"}, "512", dispatcher::Language::English},        // no traditional table
        {0x0, {"-lang", "eng"}, "256", dispatcher::Language::English},
        {0x100, {"-lang", "fr"}, "256", dispatcher::Language::English},      // unknown value: unchanged
        {0x0, {"-ext", "256"}, "256", dispatcher::Language::English},
        {0x200, {"-ext", "16"}, "528", dispatcher::Language::English},       // keeps the language
        {0x0, {"-ext", "16"}, "16", dispatcher::Language::Chinese},
        {0x100, {"-ext", "768"}, "768", dispatcher::Language::English},      // field 3: table unchanged
        {0x301, {"-ext", "8"}, "777", dispatcher::Language::Chinese},   // field 3 is no language
        {0x0, {"-t", "-cmm", "-gdb"}, "176", dispatcher::Language::Chinese},
        {0x0, {"-ext", "-1"}, "-1", dispatcher::Language::Chinese},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.at(0) + " " + c.args.back());
        NativeDb db;
        DispatchRun run;
        run.store().setWord("GlobalOpt", c.stored);
        EXPECT_EQ(run.run(c.args), 0);
        EXPECT_EQ(extArgument(run), c.ext);
        EXPECT_EQ(run.context().catalog.language(), c.language);
    }
}

TEST(DispatcherRun, CommandLineErrorsEndWithStatusOneAfterThePause) {
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {{"-bogus"}, "Error: Unrecognized argument: -bogus\n"},
        {{"-S"}, "Error: Unrecognized argument: -S\n"},
        {{"-lang"}, "Error: Option -lang requires 1 argument(s)\n"},
        {{"-s", "x", "-c"}, "Error: Option -c requires 1 argument(s)\n"},
        {{"-ud", "1234"}, "Error: Option -ud requires 2 argument(s)\n"},
        {{"no/such/folder"}, "Error: Incorrect directory: no/such/folder\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.at(0));
        NativeDb db;
        DispatchRun run;
        run.store().setWord("GlobalOpt", 0x100);
        EXPECT_EQ(run.run(c.args), 1);
        EXPECT_EQ(run.err(), c.err);
        EXPECT_EQ(run.out(), kPause);
        EXPECT_EQ(run.keyReads(), 1);
        EXPECT_TRUE(run.started().empty());
        EXPECT_EQ(run.context().console.formatMismatches(), 0u);
    }
}

TEST(DispatcherRun, BatchBitLeavesThePauseOut) {
    TempFolder empty;
    WorkingFolder inside(empty.path());
    DispatchRun run;
    run.store().setWord("GlobalOpt", 0x101);
    EXPECT_EQ(run.run({"-bogus"}), 1);
    EXPECT_EQ(run.out(), "");
    EXPECT_EQ(run.keyReads(), 0);
}

TEST(DispatcherRun, HelpPrintsTheUsageWithTheProgramsNameAndPauses) {
    DispatchRun run;
    run.store().setWord("GlobalOpt", 0x100);
    EXPECT_EQ(run.run({"-h"}), 1);
    EXPECT_EQ(run.out(),
              "Usage: Dispatcher [ -s|-c|-setup|-uninstall|-h|<dir> ]\n"
              "    -s dir:     Specify symbol files directory, use current directory by default\n"
              "    -c dir:     Specify symcache directory, program auto download matched symbol files from this directory\n"
              "    -setup:     Install the program\n"
              "    -uninstall: Uninstall the program\n"
              "    -h:         Display this help\n"
              "    <dir>:      Directory waiting analyze, current directory by default" + kPause);
    EXPECT_EQ(run.err(), "");
}

TEST(DispatcherRun, FolderArgumentBecomesTheWorkingFolderAndTheTitle) {
    TempFolder root;
    root.write("db one/PROCESS_COREDUMP", kElf64);
    WorkingFolder inside(root.path());
    DispatchRun run;
    run.store().setWord("GlobalOpt", 0);
    EXPECT_EQ(run.run({"db one"}), 0);
    EXPECT_EQ(run.titles(), std::vector<std::string>{"db one"});
    ASSERT_EQ(run.started().size(), 1u);
    EXPECT_TRUE(fs::equivalent(run.started()[0].folder, root.path() / "db one"));
}

TEST(DispatcherRun, DbsThatAreNotNativeOrKernelExceptions) {
    {
        TempFolder db;
        db.write("ZZ_INTERNAL", "Java (JE)");
        WorkingFolder inside(db.path());
        DispatchRun run;
        run.store().setWord("GlobalOpt", 0x100);
        EXPECT_EQ(run.run({}), 1);
        EXPECT_EQ(run.err(), "Error: This tool can't analyze db which type is not NE/KE, suggest you choose other tool\n");
        EXPECT_TRUE(run.started().empty());
    }
    {
        TempFolder db;
        db.write("ZZ_INTERNAL", "Java (JE)");
        WorkingFolder inside(db.path());
        DispatchRun run;
        run.store().setWord("GlobalOpt", 0);
        EXPECT_EQ(run.run({}), 1);
        if (!platform::kGbkOutput) {
            EXPECT_EQ(run.err(), "错误: 该工具无法分析非NE/KE的db, 建议您用其他工具\n");
        }
    }
}

TEST(DispatcherRun, APackedDbIsUnpackedBeforeTheFolderIsClassified) {
    TempFolder db;
    std::string container(48 + 64, '\0');
    auto put32 = [&container](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) container[at + i] = static_cast<char>(v >> (8 * i));
    };
    put32(0, 0x7B40DEAD);
    put32(4, 17);
    put32(8, 48 + 64);
    put32(48 + 4, 1);
    put32(48 + 8, static_cast<std::uint32_t>(container.size()));
    put32(48 + 12, static_cast<std::uint32_t>(kElf64.size()));
    container.replace(48 + 32, 16, "PROCESS_COREDUMP");
    db.write("expdb", container + kElf64);
    WorkingFolder inside(db.path());
    DispatchRun run;
    run.store().setWord("GlobalOpt", 0x100);
    EXPECT_EQ(run.run({}), 0);
    ASSERT_EQ(run.started().size(), 1u);
    EXPECT_EQ(run.started()[0].argv.at(0), std::string("CoreSift64") + platform::kExecutableSuffix);
}

TEST(DispatcherRun, WaitingForAReplacedDispatcherRemovesItsFileAndGoesOn) {
    NativeDb db;
    db.db.write("old-dispatcher", "old");
    DispatchRun run;
    run.store().setWord("GlobalOpt", 0x100);
    EXPECT_EQ(run.run({"-ud", "4242", "old-dispatcher", "-t"}), 0);
    EXPECT_EQ(run.awaited(), std::vector<std::string>{"4242"});
    EXPECT_FALSE(fs::exists(db.db.path() / "old-dispatcher"));
    EXPECT_EQ(extArgument(run), "384");
}

TEST(DispatcherRun, TheCatalogsAgreeOnEveryPlaceholder) {
    for (unsigned id = 0; id < dispatcher::kMessageCount; ++id) {
        std::vector<common::Conversion> en, zh;
        auto msg = static_cast<dispatcher::Msg>(id);
        ASSERT_TRUE(common::parseConversions(dispatcher::catalogText(dispatcher::Language::English, msg), en));
        ASSERT_TRUE(common::parseConversions(dispatcher::catalogText(dispatcher::Language::Chinese, msg), zh));
        ASSERT_EQ(en.size(), zh.size()) << id;
        for (std::size_t i = 0; i < en.size(); ++i) EXPECT_EQ(en[i].letter, zh[i].letter) << id;
    }
    EXPECT_STREQ(dispatcher::catalogText(dispatcher::Language::English, static_cast<dispatcher::Msg>(27)), "");
}

}  // namespace
