// The report's header and its classifications: the Android release probed on the C library's
// symbols, the platform branch and the build type; the missing-symbol-files list; and the C
// library step that opens phase 2.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "analyzer/driver/android_version.h"
#include "analyzer/driver/c_library_phase.h"
#include "analyzer/driver/report.h"
#include "analyzer/driver/report_writer.h"
#include "analyzer/process/property_table.h"
#include "tests/driver/fake_modules.h"
#include "tests/process/process_fixture.h"

namespace {

using coresift::SymbolKind;
using drivertest::FakeModules;
namespace mf = coresift::module_flag;

class ReportTest : public processtest::ProcessTest {
protected:
    ReportTest() {
        auto fake = std::make_unique<FakeModules>();
        modules_ = fake.get();
        context().modules = std::move(fake);
    }
    void withCLibrary(std::uint32_t flags = mf::kMatchRan | mf::kSymbolTables) {
        modules_->library = coresift::ModuleSummary{"libc.so", "/apex/com.android.runtime/lib64/bionic/libc.so", flags};
    }
    void setProperties(const std::string& text) {
        context().properties = std::make_unique<coresift::PropertyTable>();
        coresift::readProperties(context(), text, *context().properties);
    }
    std::string header() {
        coresift::ReportWriter report(context().catalog);
        coresift::writeReportHeader(context(), report);
        EXPECT_EQ(report.formatMismatches(), 0u);
        return report.collected();
    }
    std::string missingList() {
        coresift::ReportWriter report(context().catalog);
        coresift::writeMissingSymbolFiles(context(), report);
        return report.collected();
    }
    std::string versionLine() {
        std::string text = header();
        auto at = text.find("Version : ");
        return text.substr(at, text.find('\n', at) - at);
    }

    FakeModules* modules_;
};

TEST_F(ReportTest, TheNewestReleaseSymbolDecidesInProbeOrder) {
    EXPECT_EQ(coresift::androidVersion(context()), 1u) << "no C library module";
    EXPECT_TRUE(modules_->lookups.empty());
    coresift::forgetPlatformFacts(context());

    withCLibrary();
    EXPECT_EQ(coresift::androidVersion(context()), 1u);
    EXPECT_EQ(modules_->lookups,
              (std::vector<std::string>{"epoll_pwait2", "close_range", "backtrace", "android_reset_stack_guards",
                                        "android_fdtrack_set_enabled", "timespec_get", "__malloc_hook(data)",
                                        "android_gethostbynamefornetcontext", "semctl", "fopen64", "sigqueue",
                                        "stdout(data)", "dup3", "getauxval", "fgetxattr", "ftruncate64",
                                        "__libc_android_log_vprint"}));

    struct Case {
        const char* symbol;
        SymbolKind kind;
        unsigned version;
        const char* name;
    };
    for (Case c : {Case{"close_range", SymbolKind::Function, 17, "U0"}, Case{"__malloc_hook", SymbolKind::Object, 12, "P0"},
                   Case{"stdout", SymbolKind::Object, 7, "L1"}, Case{"__libc_android_log_vprint", SymbolKind::Function, 2, "GB"},
                   Case{"epoll_pwait2", SymbolKind::Function, 18, "V0"}}) {
        coresift::forgetPlatformFacts(context());
        modules_->symbols.clear();
        modules_->addSymbol(c.symbol, c.kind);
        if (c.version > 3) modules_->addSymbol("ftruncate64");  // older releases' symbols are there too
        EXPECT_EQ(coresift::androidVersion(context()), c.version) << c.symbol;
        EXPECT_STREQ(coresift::androidVersionName(c.version), c.name);
    }

    // Data symbols are looked up as data only: a function named "__malloc_hook" is not it.
    coresift::forgetPlatformFacts(context());
    modules_->symbols.clear();
    modules_->addSymbol("__malloc_hook", SymbolKind::Function);
    modules_->addSymbol("semctl");
    EXPECT_EQ(coresift::androidVersion(context()), 10u);
}

TEST_F(ReportTest, ReleaseBranchAndBuildTypeAreCachedUntilForgotten) {
    withCLibrary();
    modules_->addSymbol("close_range");
    EXPECT_EQ(versionLine(), "Version : U0/??") << "no branch property, no build type";
    std::size_t probes = modules_->lookups.size();
    setProperties("[ro.build.type]: [user]\n[ro.quandrel.version.branch]: [alps-mp-u0.mp1]\n");
    EXPECT_EQ(versionLine(), "Version : U0/??") << "cached for the run";
    EXPECT_EQ(modules_->lookups.size(), probes);

    coresift::forgetCLibrary(context());
    EXPECT_EQ(modules_->forgotten, 1);
    EXPECT_EQ(versionLine(), "Version : alps-mp-u0.mp1/user build");
    coresift::forgetPlatformFacts(context());
    setProperties("[ro.build.type]: [userdebug]\n");
    EXPECT_EQ(versionLine(), "Version : U0/userdebug build");
    coresift::forgetPlatformFacts(context());
    setProperties("[ro.build.type]: [eng]\n");
    EXPECT_EQ(versionLine(), "Version : U0/eng build");
    coresift::forgetPlatformFacts(context());
    setProperties("[ro.build.type]: [Eng]\n");
    EXPECT_EQ(versionLine(), "Version : U0/??");

    // GB builds are always reported as eng builds.
    coresift::forgetPlatformFacts(context());
    modules_->symbols.clear();
    modules_->addSymbol("__libc_android_log_vprint");
    setProperties("[ro.build.type]: [user]\n");
    EXPECT_EQ(versionLine(), "Version : GB/eng build");
}

TEST_F(ReportTest, HeaderLinesInOrderLeavingOutWhatIsUnknown) {
    core().commandLine = "/system/bin/app --flag";
    core().pid = 538;
    core().ppid = 1;
    EXPECT_EQ(header(), "== Exception report v" + std::string(kIs64 ? "2.5" : "3.7") + "(For Reference) ==\n"
                        "Manual  : Quandrel On-Line> Quick Start> Explanations on NE/KE Analysis Reports> NE Analysis Report\n"
                        "Detail  : \n"
                        "Version : ?\?/??\n"
                        "Cmd line: /system/bin/app --flag\n"
                        "pid     : 538, ppid: 1\n\n");
    core().exceptionTime = "2024-05-06 07:08:09";
    core().parentName = "zygote64";
    std::string text = header();
    EXPECT_NE(text.find("Version : ?\?/??\nExp time: 2024-05-06 07:08:09\nCmd line: /system/bin/app --flag\n"
                        "pid     : 538, ppid: 1 (zygote64)\n\n"),
              std::string::npos)
        << text;
}

TEST_F(ReportTest, MissingSymbolFilesListsSoughtButUnmappedModules) {
    EXPECT_EQ(missingList(), "") << "no modules";
    modules_->modules = {
        {"libc.so", "/apex/com.android.runtime/lib64/bionic/libc.so", mf::kMatchRan | mf::kSymbolTables},
        {"libfoo.so", "/system/lib64/libfoo.so", mf::kMatchRan},
        {"libbar.so", "/system/lib64/libbar.so", 0},  // never looked for
        {"[vdso]", "[vdso]", mf::kMatchRan},
        {"libwebcore.so", "/system/lib/libwebcore.so", mf::kMatchRan},
        {"app_process", "app_process", mf::kMatchRan | mf::kDynamicSymbols},
    };
    EXPECT_EQ(missingList(), std::string(context().console.text(coresift::Msg::MissingSymbolFilesTitle)) +
                                 "symbols/system/lib64/libfoo.so\n"
                                 "app_process\n");
    context().options.symbolsDir = "elsewhere";
    EXPECT_NE(missingList().find("symbols/system/lib64/libfoo.so\n"), std::string::npos)
        << "the fixed word, not the configured folder";
}

TEST_F(ReportTest, CLibraryStepReportsWhatIsMissing) {
    // No C library at all: the release is unknown and the rest of phase 2 is skipped.
    EXPECT_FALSE(coresift::prepareCLibrary(context()));
    EXPECT_EQ(out(), "Error: Unwind native callstack need libc.so, plase put it to 'symbols' folder\n");
    EXPECT_EQ(err(), "Error: Unrecognized Android version, please contact owner to add\n");
    coresift::forgetCLibrary(context());

    // Only the dump's dynamic symbols: warned and marked, the phase goes on.
    withCLibrary(mf::kMatchRan | mf::kDynamicSymbols);
    modules_->addSymbol("close_range");
    modules_->addSymbol("__stack_chk_guard", SymbolKind::Object, 0x7f001234);
    EXPECT_TRUE(coresift::prepareCLibrary(context()));
    EXPECT_EQ(err(), "Error: Unrecognized Android version, please contact owner to add\n"
                     "Warning: Init pthread/malloc/fdleak/property need libc.so, plase put it to 'symbols' folder\n");
    EXPECT_TRUE(modules_->library->flags & mf::kMissingReported);
    EXPECT_EQ(context().stackGuardAddress, 0x7f001234u);
    coresift::forgetCLibrary(context());
    EXPECT_EQ(context().stackGuardAddress, 0u);

    // No symbols of any kind: the rest of the phase is skipped.
    withCLibrary(mf::kMatchRan);
    EXPECT_FALSE(coresift::prepareCLibrary(context()));
    coresift::forgetCLibrary(context());

    // Symbols from the symbol file: nothing to say.
    withCLibrary(mf::kMatchRan | mf::kSymbolTables);
    std::string before = err();
    EXPECT_TRUE(coresift::prepareCLibrary(context()));
    EXPECT_EQ(err(), before);
    EXPECT_EQ(out(), "Error: Unwind native callstack need libc.so, plase put it to 'symbols' folder\n");
}

}  // namespace
