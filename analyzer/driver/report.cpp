#include "analyzer/driver/report.h"

#include "analyzer/diagnosis/crash_verdict.h"
#include "analyzer/driver/android_version.h"
#include "analyzer/driver/module_services.h"
#include "analyzer/driver/report_writer.h"
#include "analyzer/driver/run_context.h"
#include "analyzer/process/core_dump.h"
#include "analyzer/process/thread_report.h"

namespace coresift {

namespace {

// The maker's on-line help path that leads to the report explanations.
constexpr const char* kManualPath = " Quandrel On-Line> Quick Start> ";

const char* buildTypeSuffix(unsigned type) {
    switch (type) {
        case build_type::kUser: return "/user build\n";
        case build_type::kUserdebug: return "/userdebug build\n";
        case build_type::kEng: return "/eng build\n";
        default: return "/??\n";
    }
}

bool reportsMissingFile(const ModuleSummary& module) {
    using namespace module_flag;
    if (!(module.flags & kMatchRan) || (module.flags & kSymbolTables)) return false;
    return module.name.substr(0, 1) != "[" && module.name != "libwebcore.so";
}

}  // namespace

void writeReportHeader(RunContext& context, ReportWriter& report) {
    report.print(Msg::ReportTitle);
    report.print(Msg::Manual);
    report.print(Msg::ReportExplanations, kManualPath);
    report.print(Msg::Detail);
    writeCrashVerdict(context, report);
    report.print(Msg::VersionLine, platformBranch(context));
    report.print(buildTypeSuffix(buildType(context)));
    if (!context.core) return;
    const CoreDump& core = *context.core;
    if (!core.exceptionTime.empty()) report.print(Msg::ExceptionTime, core.exceptionTime);
    report.print(Msg::CommandLine, core.commandLine);
    report.print("pid     : %d, ppid: %d", core.pid, core.ppid);
    if (!core.parentName.empty()) report.print(" (%s)", core.parentName);
    report.print("\n\n");
}

void writeMissingSymbolFiles(RunContext& context, ReportWriter& report) {
    if (!context.modules) return;
    bool first = true;
    context.modules->forEachModule([&](const ModuleSummary& module) {
        if (!reportsMissingFile(module)) return;
        if (first) report.print(Msg::MissingSymbolFilesTitle);
        first = false;
        // The fixed word "symbols", not the configured folder: the reader is told where the
        // files lie in the device build's output.
        if (module.path.substr(0, 1) == "/") report.print("symbols%s\n", module.path);
        else report.print("%s\n", module.path);
    });
}

void writeReport(RunContext& context, ReportWriter& report) {
    writeReportHeader(context, report);
    writeThreadInfo(context, report);
    // The C heap, mmap leak, file descriptor and log sections follow here in this order as they
    // are built; no Java heap section is written.
    writeMissingSymbolFiles(context, report);
}

}  // namespace coresift
