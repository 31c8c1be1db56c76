// The seam through which the unwinder reads the dead process: unwind tables that lie in the dump
// (`.eh_frame_hdr`, `.eh_frame`, `.ARM.exidx`, `.ARM.extab`) and the stack words that frames saved.
//
// An implementation hands out the bytes from an address to the end of the region that holds it
// (the process address space: a region of the dump, or a module's code filled in from its symbol
// file). Every read of the unwinder goes through those views with bounds checks, so a read never
// crosses a region's end. It is also the decoder's `TargetMemory`, so the same object serves
// forward emulation and prologue analysis.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "analyzer/decode/target_memory.h"
#include "common/byte_reader.h"
#include "common/target_word.h"

namespace coresift::unwind {

class UnwindMemory : public decode::TargetMemory {
public:
    // The bytes from `address` to the end of the region holding it; empty when no region holds
    // it or its bytes cannot be had. The view stays valid as long as the memory object.
    virtual common::ByteView bytesAt(TargetWord address) const = 0;

    bool read(TargetWord address, void* out, std::size_t size) const final {
        common::ByteView view = bytesAt(address);
        if (view.size() < size) return false;
        if (size) std::memcpy(out, view.data(), size);
        return true;
    }
    // True when some region holds `address`.
    bool contains(TargetWord address) const { return !bytesAt(address).empty(); }

protected:
    ~UnwindMemory() = default;
};

// Memory made of separate spans of bytes at given addresses: a section of a symbol file seen at
// its offsets, a test's stack snapshot and libraries, a fuzz input. Spans must not overlap; the
// bytes are borrowed.
class SpanMemory final : public UnwindMemory {
public:
    SpanMemory() = default;
    SpanMemory(TargetWord address, common::ByteView bytes) { add(address, bytes); }

    void add(TargetWord address, common::ByteView bytes) {
        if (!bytes.empty()) spans_.push_back({address, bytes});
    }
    common::ByteView bytesAt(TargetWord address) const override {
        for (const Span& span : spans_) {
            if (address >= span.address && address - span.address < span.bytes.size())
                return span.bytes.from(address - span.address);
        }
        return {};
    }

private:
    struct Span {
        TargetWord address;
        common::ByteView bytes;
    };
    std::vector<Span> spans_;
};

}  // namespace coresift::unwind
