// The one object that owns an analysis run: options, language, console, and (as they are built)
// the process model, symbol state and check states. Nothing else in the analyzer is mutable
// global state; every part receives the run context or the pieces of it that it needs.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "analyzer/driver/console.h"
#include "analyzer/driver/messages.h"
#include "analyzer/driver/options.h"
#include "analyzer/driver/phases.h"
#include "common/target_word.h"

namespace coresift {

class AddressSpace;
class ModuleList;
struct CoreDump;
class FdTable;
class LayoutFactTable;
struct LogTables;
class CrashStack;
class CodeSymbols;
class ModuleServices;
class PropertyTable;
class RunProcess;
class ThreadStacks;

// The Android release, platform branch and build type, computed on first use (android_version.h)
// and forgotten in phase 2's clean-up. 0 / nothing: not computed yet.
struct PlatformFacts {
    unsigned androidVersion = 0;
    std::optional<std::string> branch;
    unsigned buildType = 0;
};

struct RunContext {
    RunContext(std::FILE* out, std::FILE* err);
    ~RunContext();
    RunContext(const RunContext&) = delete;
    RunContext& operator=(const RunContext&) = delete;

    Options options;
    MessageCatalog catalog;
    Console console;

    // File views are mapped at offsets aligned down with this mask; 0 outside a run.
    std::uint64_t granularityMask = 0;

    // The process model built from the coredump: the process record with its threads, and the
    // address space. Both live from the load to the teardown.
    std::unique_ptr<CoreDump> core;
    std::unique_ptr<AddressSpace> addressSpace;
    // The loaded modules (libraries, executable, linker) with their symbol files; built right
    // after the address space and released before it.
    std::unique_ptr<ModuleList> moduleList;

    // Start-up phases: the db files, the C library's state, the Java runtime, the log daemon.
    PhaseTable phase1, phase2, phase3, phase4;

    // Built by phase 1 from the db's text files, freed by its clean-up.
    std::unique_ptr<FdTable> fdTable;
    std::unique_ptr<PropertyTable> properties;
    // The kernel and Android log lines (phase 1), kept until its clean-up.
    std::unique_ptr<LogTables> logs;

    PlatformFacts platform;
    // The address of the C library's stack-protector guard (phase 2); 0 when unknown.
    TargetWord stackGuardAddress = 0;

    // Structure members, sizes and enumerators of the runtime libraries, resolved group by group
    // from their symbol files' debugging information by the parts that read those structures.
    std::unique_ptr<LayoutFactTable> layoutFacts;

    // The module list as the driver and the report see it.
    std::unique_ptr<ModuleServices> modules;
    // The threads' call stacks for the thread report; null until stacks can be unwound.
    std::unique_ptr<ThreadStacks> stacks;
    // The native backtrace's view of the process (per-module unwinders and symbols), made on
    // first use and released before the module list.
    std::unique_ptr<RunProcess> backtraceProcess;
    // What the crash diagnosis and the instruction listing read of the crashed thread's
    // backtrace and of the modules' symbols; null until the backtrace driver and the module list
    // provide them (the diagnosis then works from the registers and the memory alone).
    std::unique_ptr<CrashStack> crashStack;
    std::unique_ptr<CodeSymbols> codeSymbols;

    // Services that tests replace: the single-key read and opening a file with the desktop.
    std::function<int()> readKey;
    std::function<void(const std::string&)> openWithDesktop;
};

}  // namespace coresift
