// The backtrace driver's view of the run's dead process: the address space for memory and
// regions, the module list for modules (matched on first use), one unwinder and one symbol
// source per module, kept until the process is torn down.
#pragma once

#include <memory>
#include <unordered_map>

#include "analyzer/unwind/backtrace_process.h"
#include "analyzer/unwind/process_adapters.h"

namespace coresift {

struct Module;
struct RunContext;
class SymbolSource;

class RunProcess final : public unwind::BacktraceProcess {
public:
    explicit RunProcess(RunContext& context);
    ~RunProcess() override;
    RunProcess(const RunProcess&) = delete;
    RunProcess& operator=(const RunProcess&) = delete;

    const unwind::StepEnvironment& environment() const override { return env_; }
    std::optional<unwind::CodeRegion> regionAt(TargetWord address) override;
    void codeUnreadable(unwind::BacktraceModule& module) override;
    unwind::FrameHeuristics& heuristics() override { return *heuristics_; }

    // The symbols of the module whose code holds `address` (pointer-authentication bits and the
    // Thumb bit ignored); null outside modules and in compiled Java code.
    SymbolSource* symbolsAt(TargetWord address);

private:
    struct ModuleState;
    ModuleState& stateOf(Module& module);

    RunContext& context_;
    unwind::AddressSpaceMemory memory_;
    unwind::StepEnvironment env_;
    std::unique_ptr<unwind::FrameHeuristics> heuristics_;
    std::unordered_map<const Module*, std::unique_ptr<ModuleState>> modules_;
    std::unordered_map<const unwind::BacktraceModule*, Module*> owners_;
};

// The run's backtrace process, made on first use; null without a loaded process.
RunProcess* runProcessOf(RunContext& context);

}  // namespace coresift
