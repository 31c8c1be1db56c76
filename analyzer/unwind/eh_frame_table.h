// `.eh_frame` of a module in the dump, searched through the binary-search table of its
// `.eh_frame_hdr` (the PT_GNU_EH_FRAME segment). A header that cannot be used (unreadable, a
// version other than 1, no FDEs, a table encoding other than data-relative sdata4) gives way to
// a walk of `.eh_frame` itself, from the header's eh_frame_ptr or, when even that is unknown,
// from the section the symbol file names, as Android's unwinder does. A pc the table has no FDE
// for is also looked up in the walked section, once the table has missed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "analyzer/unwind/cfi_entries.h"
#include "analyzer/unwind/fde_index.h"
#include "analyzer/unwind/unwind_step.h"

namespace coresift::unwind {

// The answer of a table for one pc.
struct FdeLookup {
    enum class Kind : std::uint8_t { None, Found, Bad } kind = Kind::None;
    Fde fde;
};

class EhFrameTable {
public:
    // `header`/`headerSize`: the PT_GNU_EH_FRAME segment (runtime address; 0 when the module
    // has none). `section`/`sectionSize`: `.eh_frame` as the symbol file's section headers place
    // it (runtime address; 0 when unknown).
    EhFrameTable(std::string moduleName, TargetWord header, TargetWord headerSize, TargetWord section,
                 TargetWord sectionSize);

    // The FDE covering `pc` (a runtime address without Thumb or authentication bits). The header
    // is read on the first call, with its messages.
    FdeLookup find(const StepEnvironment& env, TargetWord pc);

    // How the table is searched once opened.
    enum class Mode : std::uint8_t { Unopened, Search, Linear, Unusable };
    Mode mode() const { return mode_; }
    std::size_t fdeCount() const { return mode_ == Mode::Search ? tableCount_ : index_.size(); }

    // The section for reading entries (messages name the module and ".eh_frame").
    CfiSection section(const StepEnvironment& env) const;

private:
    void open(const StepEnvironment& env);
    bool readHeader(const StepEnvironment& env);
    void walkSection(const StepEnvironment& env, TargetWord start, TargetWord size);
    FdeLookup searchTable(const StepEnvironment& env, TargetWord pc) const;
    FdeLookup readCovering(const StepEnvironment& env, TargetWord fde, TargetWord pc) const;

    std::string name_;
    TargetWord header_, headerSize_, sectionAddress_, sectionSize_;
    Mode mode_ = Mode::Unopened;
    TargetWord ehFrame_ = 0, ehFrameSize_ = 0;
    TargetWord table_ = 0;
    std::size_t tableCount_ = 0;
    FdeIndex index_;
    bool walkedBehindTable_ = false;  // the index also backs a table that misses a pc
};

}  // namespace coresift::unwind
