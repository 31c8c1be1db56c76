#include "analyzer/unwind/debug_frame_table.h"

namespace coresift::unwind {

DebugFrameTable::DebugFrameTable(std::string fileName, common::ByteView bytes)
    : name_(std::move(fileName)), bytes_(0, bytes), size_(static_cast<TargetWord>(bytes.size())) {}

CfiSection DebugFrameTable::section(Console* console) const {
    CfiSection section;
    section.memory = &bytes_;
    section.format = CfiFormat::DebugFrame;
    section.start = 0;
    section.size = size_;
    section.names = {console, name_.c_str(), ".debug_frame"};
    return section;
}

void DebugFrameTable::build(Console* console) {
    built_ = true;
    index_.build(section(console));
}

std::size_t DebugFrameTable::fdeCount(Console* console) {
    if (!built_) build(console);
    return index_.size();
}

FdeLookup DebugFrameTable::find(Console* console, TargetWord filePc) {
    if (!built_) build(console);
    FdeLookup lookup;
    std::optional<TargetWord> offset = index_.find(filePc);
    if (!offset) return lookup;
    std::optional<Fde> fde = readFde(section(console), *offset);
    if (!fde) {
        lookup.kind = FdeLookup::Kind::Bad;
        return lookup;
    }
    if (filePc < fde->pcBegin || filePc >= fde->pcEnd) return lookup;
    lookup.kind = FdeLookup::Kind::Found;
    lookup.fde = *fde;
    return lookup;
}

}  // namespace coresift::unwind
