// The analyzer's command line as a user types it: options, languages, folders, errors and the
// final key wait, run in-process for both widths.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

#include "analyzer/driver/driver.h"
#include "analyzer/driver/options.h"
#include "common/decimal.h"
#include "common/target_word.h"
#include "platform/text_encoding.h"
#include "tests/support/run_capture.h"
#include "tests/support/temp_folder.h"

namespace {

using coresift::opt::kAllThreads;
using coresift::opt::kBatch;
using testsupport::RunCapture;
using testsupport::TempFolder;
using testsupport::WorkingFolder;

const std::string kBanner = kIs64 ? "== CoreSift64 v2.5 ==\n" : "== CoreSift v3.7 ==\n";

TEST(CommandLine, HelpPrintsUsageThenWaitsForAKeyInChinese) {
    RunCapture run;
    EXPECT_EQ(run.run({"-h"}), 0);
    std::string out = run.out();
    EXPECT_EQ(out.rfind(kBanner, 0), 0u);
    if (!platform::kGbkOutput) {
        EXPECT_NE(out.find("用法: CoreSift ["), std::string::npos);
        EXPECT_EQ(out.substr(out.size() - std::string("按任意键继续...").size()), "按任意键继续...");
    }
    EXPECT_EQ(run.keyReads(), 1);
    EXPECT_EQ(run.err(), "");
    EXPECT_EQ(run.context().console.formatMismatches(), 0u);
}

TEST(CommandLine, EnglishHelp) {
    RunCapture run;
    EXPECT_EQ(run.run({"-lang", "eng", "-h"}), 0);
    EXPECT_EQ(run.out(), kBanner + "Usage: CoreSift [ -s|-lang|-t|-cmm|-gdb|-c|-l|-h|<path> ]\n"
                                   "\t-s dir:  Specify symbol files directory, use current directory by default\n"
                                   "\t-lang l: Specify english while l is 'eng', traditional while l is 'tw', simplified by default\n"
                                   "\t-t:      Display all threads info\n"
                                   "\t-cmm:    Generate cmm script\n"
                                   "\t-gdb:    Generate gdb script\n"
                                   "\t-c dir:  Specify symcache directory, program auto download matched symbol files from it\n"
                                   "\t-l dir:  Specify install directory, use to find script\n"
                                   "\t-h:      Display this help\n"
                                   "\t<dir>:   Directory waiting analyze, current directory by default\n"
                                   "Press any key to continue...");
}

TEST(CommandLine, BatchBitSkipsThePause) {
    RunCapture run;
    EXPECT_EQ(run.run({"-ext", "1", "-h"}), 0);
    EXPECT_EQ(run.keyReads(), 0);
    EXPECT_EQ(run.out().find("Press any key"), std::string::npos);
}

TEST(CommandLine, ErrorsGoToStandardErrorWithPrefixAndExitOne) {
    {
        RunCapture run;
        EXPECT_EQ(run.run({"-ext", "257", "-bogus"}), 1);
        EXPECT_EQ(run.err(), "Error: Unrecognized argument: -bogus\n");
        EXPECT_EQ(run.out(), kBanner);
    }
    {
        RunCapture run;
        EXPECT_EQ(run.run({"-ext", "1", "-lang", "eng", "/nonexistent/folder"}), 1);
        EXPECT_EQ(run.err(), "Error: Incorrect directory: /nonexistent/folder\n");
    }
    {
        RunCapture run;
        EXPECT_EQ(run.run({"-ext", "257", "-leak"}), 1);
        EXPECT_EQ(run.err(), "Error: Option -leak requires 1 argument(s)\n");
    }
}

TEST(CommandLine, BatchBitOnlyHelpsLaterErrors) {
    {
        RunCapture run;  // -ext 1 first: no pause even though a later argument is wrong
        EXPECT_EQ(run.run({"-ext", "1", "-zz"}), 1);
        EXPECT_EQ(run.keyReads(), 0);
    }
    {
        RunCapture run;  // given after the error it is never read
        EXPECT_EQ(run.run({"-zz", "-ext", "1"}), 1);
        EXPECT_EQ(run.keyReads(), 1);
    }
}

TEST(CommandLine, MessagesBeforeTheLanguageOptionUseTheTextsOfThatMoment) {
    RunCapture run;
    EXPECT_EQ(run.run({"-zz", "-lang", "eng"}), 1);
    if (!platform::kGbkOutput) {
        EXPECT_EQ(run.err(), "错误: 无法识别的参数: -zz\n");
    }
}

struct LanguageCase {
    std::vector<std::string> args;
    unsigned field;
    coresift::Language language;
};

TEST(CommandLine, LanguageField) {
    using coresift::Language;
    const LanguageCase cases[] = {
        {{"-lang", "tw"}, 2, Language::English},
        {{"-lang", "eng"}, 1, Language::English},
        {{"-lang", "fr"}, 0, Language::Chinese},
        {{"-ext", "256"}, 1, Language::English},
        {{"-ext", "768"}, 3, Language::Chinese},
        {{"-lang", "eng", "-ext", "768"}, 3, Language::English},  // never switched back
        {{"-ext", "512", "-ext", "1"}, 2, Language::English},
        {{"-ext", "-1"}, 3, Language::Chinese},
    };
    for (const auto& c : cases) {
        RunCapture run;
        auto args = c.args;
        args.push_back("-h");
        run.run(args);
        EXPECT_EQ(run.context().options.languageField(), c.field) << args[0] << " " << args[1];
        EXPECT_EQ(run.context().catalog.language(), c.language) << args[0] << " " << args[1];
    }
}

TEST(CommandLine, OptionsAndOperands) {
    RunCapture run;
    run.run({"-t", "-cmm", "-gdb", "-s", "", "-se", "ext", "-l", "inst", "-c", "cc", "-e", "ee", "-leak", " -12x",
             "-ext", "65536", "-h"});
    const auto& o = run.context().options;
    EXPECT_EQ(o.word, kAllThreads | 0x10u | 0x20u | 0x10000u);
    EXPECT_EQ(o.symbolsDir, "symbols");  // an empty -s keeps the default
    EXPECT_EQ(o.externalSymbolsDir.value_or(""), "ext");
    EXPECT_EQ(o.installDir.value_or(""), "inst");
    EXPECT_EQ(o.cValue.value_or(""), "cc");
    EXPECT_EQ(o.eValue.value_or(""), "ee");
    EXPECT_EQ(o.leakCount, -12);
}

TEST(CommandLine, DecimalReadingSaturatesInsteadOfOverflowing) {
    using common::readDecimal;
    EXPECT_EQ(readDecimal(""), 0);
    EXPECT_EQ(readDecimal("abc"), 0);
    EXPECT_EQ(readDecimal("  +42z"), 42);
    EXPECT_EQ(readDecimal("-7"), -7);
    EXPECT_EQ(readDecimal("99999999999999999999999"), INT_MAX);
    EXPECT_EQ(readDecimal("-99999999999999999999999"), INT_MIN);
    EXPECT_EQ(readDecimal("-2147483648"), INT_MIN);
}

TEST(CommandLine, FolderArgumentsApplyOneAfterTheOther) {
    TempFolder root;
    std::filesystem::create_directories(root.path() / "outer" / "inner");
    WorkingFolder cwd(root.path());
    RunCapture run;
    EXPECT_EQ(run.run({"-ext", "257", "outer", "inner"}), 1);  // no coredump there
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::canonical(root.path() / "outer" / "inner"));
}

TEST(CommandLine, FolderWithoutCoredump) {
    TempFolder root;
    WorkingFolder cwd(root.path());
    RunCapture run;
    EXPECT_EQ(run.run({"-ext", "257"}), 1);
    EXPECT_EQ(run.out(), kBanner + "Error: Don't support analysis without coredump\n");
    EXPECT_EQ(run.err(), "");
    EXPECT_FALSE(std::filesystem::exists(root.path() / "AnalysisReport.txt"));
}

}  // namespace
