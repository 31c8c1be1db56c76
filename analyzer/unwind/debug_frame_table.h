// `.debug_frame` of a symbol file: the section's bytes (mapped, or decompressed by the ELF
// reader) are walked once into an index; its addresses are the file's link-time addresses.
#pragma once

#include <optional>
#include <string>

#include "analyzer/unwind/eh_frame_table.h"
#include "analyzer/unwind/fde_index.h"
#include "analyzer/unwind/unwind_memory.h"

namespace coresift::unwind {

class DebugFrameTable {
public:
    // `bytes` must outlive the table; `fileName` (the symbol file's path) names it in messages.
    DebugFrameTable(std::string fileName, common::ByteView bytes);
    DebugFrameTable(const DebugFrameTable&) = delete;
    DebugFrameTable& operator=(const DebugFrameTable&) = delete;

    // The FDE covering `filePc` (a link-time address). The section is walked on the first call.
    FdeLookup find(Console* console, TargetWord filePc);
    std::size_t fdeCount(Console* console);

    CfiSection section(Console* console) const;

private:
    void build(Console* console);

    std::string name_;
    SpanMemory bytes_;  // the section seen at offset 0
    TargetWord size_;
    bool built_ = false;
    FdeIndex index_;
};

}  // namespace coresift::unwind
