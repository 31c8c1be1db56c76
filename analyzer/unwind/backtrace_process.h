// What the backtrace driver needs from the dead process: memory and messages for the steps, the
// region and module holding a pc, and the heuristics for frames no table describes. The run
// provides it over the address space and the module list (native_stacks.h); tests provide small
// hand-made processes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "analyzer/unwind/frame_heuristics.h"
#include "analyzer/unwind/module_unwinder.h"
#include "analyzer/unwind/unwind_step.h"

namespace coresift {
class SymbolSource;
}

namespace coresift::unwind {

// A module as the walk and the symbolizer see it.
struct BacktraceModule {
    std::string name;                      // base name
    ModuleUnwinder* unwinder = nullptr;    // null: no unwind tables
    SymbolSource* symbols = nullptr;       // null: no symbols at all
    bool managedCode = false;              // compiled Java code (module flag 0x2000)
};

// The region holding an address.
struct CodeRegion {
    TargetWord start = 0, end = 0;
    bool executable = false;
    bool managed = false;          // compiled Java code outside modules
    std::string name;              // the region's name (may be empty)
    BacktraceModule* module = nullptr;  // set for a module's regions (the module matched)
};

class BacktraceProcess {
public:
    virtual ~BacktraceProcess() = default;

    virtual const StepEnvironment& environment() const = 0;
    // The region holding `address` (pointer-authentication bits already stripped), or nothing.
    virtual std::optional<CodeRegion> regionAt(TargetWord address) = 0;
    // The code of `module` cannot be read at a frame's pc: its symbol file is missing. Says so
    // once per module.
    virtual void codeUnreadable(BacktraceModule& module) = 0;
    virtual FrameHeuristics& heuristics() = 0;
};

}  // namespace coresift::unwind
