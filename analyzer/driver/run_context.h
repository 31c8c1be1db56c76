// The one object that owns an analysis run: options, language, console, and (as they are built)
// the process model, symbol state and check states. Nothing else in the analyzer is mutable
// global state; every part receives the run context or the pieces of it that it needs.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "analyzer/driver/console.h"
#include "analyzer/driver/messages.h"
#include "analyzer/driver/options.h"
#include "analyzer/driver/phases.h"

namespace coresift {

class AddressSpace;
struct CoreDump;

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

    // Start-up phases: the db files, the C library's state, the Java runtime, the log daemon.
    PhaseTable phase1, phase2, phase3, phase4;

    // Services that tests replace: the single-key read and opening a file with the desktop.
    std::function<int()> readKey;
    std::function<void(const std::string&)> openWithDesktop;
};

}  // namespace coresift
