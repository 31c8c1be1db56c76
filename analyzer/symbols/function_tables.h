// Function starts from a module's unwind index tables, for function match mode: the search
// table of `.eh_frame_hdr` and the `.ARM.exidx` index. Only the positions are read here; the
// unwinders read the entries themselves.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "common/byte_reader.h"
#include "common/target_word.h"

namespace coresift {

// Sorted function starts (Thumb bit clear) of one table.
class FunctionIndex {
public:
    // The `.eh_frame_hdr` at `address` (its bytes `bytes`): version 1 with a data-relative
    // signed 4-byte search table. Nothing when the header is malformed or the table is not all
    // in `bytes`.
    static std::optional<FunctionIndex> fromEhFrameHdr(common::ByteView bytes, TargetWord address);
    // `count` index entries of 8 bytes at `address`, each starting with a place-relative 31-bit
    // offset to its function.
    static std::optional<FunctionIndex> fromExidx(common::ByteView bytes, TargetWord address, std::uint32_t count);

    bool empty() const { return starts_.empty(); }
    std::size_t size() const { return starts_.size(); }
    TargetWord start(std::size_t index) const { return starts_[index]; }
    // The entry whose function holds `address` (the last start at or below it).
    std::optional<std::size_t> containing(TargetWord address) const;
    // The entry whose start is nearest to `address`.
    std::size_t nearest(TargetWord address) const;
    // The distance to the next entry's start; nothing for the last entry.
    std::optional<TargetWord> length(std::size_t index) const;

private:
    std::vector<TargetWord> starts_;
};

class AddressSpace;
struct Module;

// The function starts of a module's unwind index as the dump holds it (dump addresses): its
// `.eh_frame_hdr` search table, else (CoreSift) its `.ARM.exidx`; nothing when neither is readable.
std::optional<FunctionIndex> dumpFunctionIndex(AddressSpace& space, const Module& module);

// How code of two builds is compared when looking for a function's twin.
enum class CodeKind { Arm, Thumb, A64 };

// True when `file` holds the same function as `dump` (at least as long), ignoring what linking
// changes: branch targets and literal offsets.
bool sameFunctionBody(common::ByteView dump, common::ByteView file, CodeKind kind);

}  // namespace coresift
