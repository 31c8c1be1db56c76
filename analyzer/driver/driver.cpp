#include "analyzer/driver/driver.h"

#include <cstdio>

#include "analyzer/diagnosis/code_symbols.h"
#include "analyzer/diagnosis/crash_stack.h"
#include "analyzer/driver/c_library_phase.h"
#include "analyzer/driver/report.h"
#include "analyzer/driver/report_writer.h"
#include "analyzer/driver/run_context.h"
#include "analyzer/process/core_loader.h"
#include "analyzer/process/db_inputs.h"
#include "analyzer/process/thread_stacks.h"
#include "analyzer/unwind/native_backtrace.h"
#include "common/target_word.h"
#include "platform/console.h"
#include "platform/file_map.h"

namespace coresift {

const char* bannerText() { return kIs64 ? "== CoreSift64 v2.5 ==\n" : "== CoreSift v3.7 ==\n"; }

namespace {

// Hands over to the console or the batch outputs after the report.
void consoleOrBatch(RunContext& context) {
    if (context.options.word & opt::kBatch) return;
    context.console.print(Msg::StartDebuggerPrompt);
    std::fflush(context.console.out());
    context.readKey();
    context.console.print("\n");
    context.options.word |= opt::kBatch;  // the prompt replaces the final key wait
}

// Phase 2's clean-up also forgets the C library module and the release facts cached with it.
void cleanupPhases(RunContext& context) {
    cleanupPhase(context.phase4, context);
    cleanupPhase(context.phase3, context);
    cleanupPhase(context.phase2, context);
    forgetCLibrary(context);
    cleanupPhase(context.phase1, context);
}

// The analysis driver. Returns false when the report could not be created.
bool analyze(RunContext& context) {
    const char* reportName = context.console.text(Msg::ReportFileName);
    std::FILE* file = std::fopen(reportName, "w");  // text mode: the platform's line ends
    if (!file) {
        context.console.error(Msg::FailToCreate, reportName);
        return false;
    }
    context.console.print(Msg::InitModule);
    runDbInputs(context);
    if (prepareCLibrary(context)) runPhase(context.phase2, context);
    runPhase(context.phase3, context);
    runPhase(context.phase4, context);
    context.console.print(Msg::CollectExceptionInfo);
    // Tests may bring stacks and diagnosis services of their own.
    if (!context.stacks) context.stacks = makeNativeStacks(context);
    if (!context.crashStack) context.crashStack = makeCrashStack(context);
    if (!context.codeSymbols) context.codeSymbols = makeCodeSymbols(context);
    {
        ReportWriter report(file, context.catalog);
        writeReport(context, report);
    }
    std::fclose(file);
    if (!(context.options.word & opt::kNoShellOpen)) context.openWithDesktop(reportName);
    // The debugger scripts are written here when asked for, once their writers exist.
    context.console.print(Msg::AnalysisCompleted);
    consoleOrBatch(context);
    cleanupPhases(context);
    return true;
}

}  // namespace

int runProgram(RunContext& context, const std::vector<std::string>& args) {
    context.console.print(bannerText());
    context.granularityMask = platform::allocationGranularity() - 1;

    int status = 1;
    switch (parseCommandLine(args, context.options, context.catalog, context.console)) {
        case CommandLine::Help:
            status = 0;
            break;
        case CommandLine::Error:
            break;
        case CommandLine::Run:
            if (loadCoreDump(context)) {
                status = analyze(context) ? 0 : 1;
                teardownProcess(context);
            }
            break;
    }

    context.granularityMask = 0;
    if (!(context.options.word & opt::kBatch)) {
        context.console.print(Msg::PressAnyKey);
        std::fflush(context.console.out());
        context.readKey();
    }
    std::fflush(context.console.out());
    return status;
}

}  // namespace coresift
