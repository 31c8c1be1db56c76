// One unwind step in the code of one module: the interface the backtrace driver uses.
//
// The driver keeps one ModuleUnwinder per module (tables are opened and indexed on first use,
// with their messages printed once) and calls `step` with the frame's registers:
//   - registers: decode::RegisterState (CoreSift: r0-r15, bit n of `valid` = rn known, a Thumb
//     pc carries bit 0; CoreSift64: x0-x30, sp = 31, pc = 32). The pc is taken as it is: the
//     driver moves it back to the call site for every frame but the first before stepping.
//   - StepEnvironment: the process memory (AddressSpaceMemory of process_adapters.h), the
//     console, the virtual-address bits used to strip pointer authentication from the pc for
//     look-ups (AddressSpace::addressBits()). The first frame's registers come from
//     threadRegisters(RegisterSet).
// Sources are tried in the fixed order `.debug_frame` (symbol file, then its MiniDebugInfo),
// `.eh_frame` (through `.eh_frame_hdr`, or walked), `.ARM.exidx` (CoreSift); a source without
// an entry for the pc, or whose step fails, hands over to the next. The result says what
// happened: Stepped (registers hold the caller's), Outermost (the return address is undefined:
// the walk ends normally), CannotUnwind (EXIDX_CANTUNWIND: try prologue analysis), Failed or
// NoEntry (try the driver's heuristics). The caller's pc is the return address as saved; values
// keep their pointer-authentication bits.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analyzer/symbols/elf_image.h"
#include "analyzer/unwind/cfi_types.h"
#include "analyzer/unwind/debug_frame_table.h"
#include "analyzer/unwind/eh_frame_table.h"
#include "analyzer/unwind/exidx_table.h"
#include "analyzer/unwind/unwind_step.h"

namespace coresift::unwind {

namespace elf {
inline constexpr std::uint32_t kPtGnuEhFrame = 0x6474E550;
inline constexpr std::uint32_t kPtArmExidx = 0x70000001;
}  // namespace elf

// Where a module's unwind information lies. Runtime addresses are those of the dump.
struct ModuleTables {
    std::string name;         // the module's base name, for messages about dump-side tables
    TargetWord loadBias = 0;  // runtime address - link-time address
    TargetWord ehFrameHdr = 0, ehFrameHdrSize = 0;  // PT_GNU_EH_FRAME; 0: none
    TargetWord ehFrame = 0, ehFrameSize = 0;        // `.eh_frame` by the section headers; 0: unknown
    TargetWord exidx = 0;                           // PT_ARM_EXIDX; 0: none
    std::uint32_t exidxCount = 0;
    // Symbol files whose `.debug_frame` is searched, in order (the matched file, then its
    // MiniDebugInfo image). Borrowed: they must outlive the unwinder.
    std::vector<const ElfImage*> debugFrameFiles;
};

// The tables of a module whose image is `image` (its symbol file, or its headers in the dump),
// loaded with `loadBias`: the PT_GNU_EH_FRAME and PT_ARM_EXIDX segments, the `.eh_frame`
// section, and the image itself (and `miniDebugInfo`, when given) for `.debug_frame`.
ModuleTables tablesFromImage(const ElfImage& image, TargetWord loadBias, std::string name,
                             const ElfImage* miniDebugInfo = nullptr);

// The rule row that holds at a pc, with where it came from.
struct CfiRowAt {
    CfiRow row;
    Fde fde;
    StepSource source = StepSource::None;
};

class ModuleUnwinder {
public:
    explicit ModuleUnwinder(ModuleTables tables);
    ~ModuleUnwinder();
    ModuleUnwinder(const ModuleUnwinder&) = delete;
    ModuleUnwinder& operator=(const ModuleUnwinder&) = delete;

    const ModuleTables& tables() const { return tables_; }

    // One step: the sources in order, until one steps or says where the walk ends.
    StepResult step(const StepEnvironment& env, RegisterState& registers);

    // The single sources.
    StepResult stepDebugFrame(const StepEnvironment& env, RegisterState& registers);
    StepResult stepEhFrame(const StepEnvironment& env, RegisterState& registers);
    StepResult stepExidx(const StepEnvironment& env, RegisterState& registers);

    // The CFI row at runtime address `pc` from the first CFI source with an FDE for it, or from
    // `only` that source (StepSource::DebugFrame or EhFrame).
    std::optional<CfiRowAt> cfiRowAt(const StepEnvironment& env, TargetWord pc, StepSource only = StepSource::None);
    // The function holding `pc` by the exception index (CoreSift): start and length.
    std::optional<FunctionExtent> exidxFunctionAt(const StepEnvironment& env, TargetWord pc);

    // The tables, opened on first use (for checks and tools).
    EhFrameTable* ehFrameTable() { return ehFrame_.get(); }
    ExidxTable* exidxTable() { return exidx_.get(); }

private:
    struct DebugFrameSource;
    DebugFrameSource* debugFrame(const StepEnvironment& env, std::size_t index);
    // Runtime pc for look-ups: authentication and Thumb bits cleared.
    TargetWord lookupPc(const StepEnvironment& env, TargetWord pc) const;

    ModuleTables tables_;
    std::unique_ptr<EhFrameTable> ehFrame_;
    std::unique_ptr<ExidxTable> exidx_;
    std::vector<std::unique_ptr<DebugFrameSource>> debugFrames_;
    bool debugFramesOpened_ = false;
};

}  // namespace coresift::unwind
