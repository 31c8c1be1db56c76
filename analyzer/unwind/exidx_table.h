// A module's `.ARM.exidx` index in the dump (the PT_ARM_EXIDX segment) and the `.ARM.extab`
// entries it points to: which function holds an address, how long it is, and the unwind
// instructions that undo its prologue. Entries are two words: a prel31 offset to the function
// start, then EXIDX_CANTUNWIND (1), inline compact instructions (bit 31 set), or a prel31
// offset to the function's `.ARM.extab` data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "analyzer/unwind/exidx_interpreter.h"
#include "analyzer/unwind/unwind_step.h"

namespace coresift::unwind {

struct FunctionExtent {
    TargetWord start = 0;
    TargetWord length = 0;  // to the next entry's function; 0 for the last entry
};

class ExidxTable {
public:
    static constexpr std::uint32_t kCantUnwind = 1;

    ExidxTable(std::string moduleName, TargetWord address, std::uint32_t count);

    struct Entry {
        std::uint32_t index = 0;
        TargetWord functionStart = 0;
        std::uint32_t data = 0;  // word 1
        TargetWord address = 0;  // of the entry
    };
    // The entry of the last function starting at or below `pc` (a runtime address without the
    // Thumb bit). The table is checked on the first call: when its bytes are missing from the
    // dump, message "<module> .ARM.exidx segment address(...) is corrupted" and no entries.
    std::optional<Entry> entryFor(const StepEnvironment& env, TargetWord pc);
    std::optional<FunctionExtent> functionAt(const StepEnvironment& env, TargetWord pc);

    // The unwind instructions of an entry; Refused for EXIDX_CANTUNWIND, Failed when its data is
    // unreadable or of a reserved form.
    ExidxRun program(const StepEnvironment& env, const Entry& entry, ExidxProgram& out) const;

    // One step for the frame in `registers` (pc = r15). Only CoreSift has these tables.
    StepResult step(const StepEnvironment& env, RegisterState& registers);

    std::uint32_t count(const StepEnvironment& env) {
        open(env);
        return count_;
    }

private:
    void open(const StepEnvironment& env);
    std::optional<Entry> entryAt(const StepEnvironment& env, std::uint32_t index) const;

    std::string name_;
    TargetWord address_;
    std::uint32_t declaredCount_;
    std::uint32_t count_ = 0;
    bool opened_ = false;
};

}  // namespace coresift::unwind
