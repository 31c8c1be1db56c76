// Shared pieces of the unwinder tests: a byte emitter for hand-built CFI and exception tables,
// target memory owning its bytes, register sets, and an English console whose errors are kept.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "analyzer/symbols/elf_image.h"
#include "analyzer/unwind/cfi_entries.h"
#include "analyzer/unwind/unwind_memory.h"
#include "analyzer/unwind/unwind_step.h"
#include "tests/support/run_capture.h"

namespace testsupport {

using ByteVector = std::vector<std::uint8_t>;

// Little-endian byte emitter.
class Emitter {
public:
    Emitter& u8(unsigned v) { bytes_.push_back(static_cast<std::uint8_t>(v)); return *this; }
    Emitter& u16(unsigned v) { return raw(v, 2); }
    Emitter& u32(std::uint64_t v) { return raw(v, 4); }
    Emitter& u64(std::uint64_t v) { return raw(v, 8); }
    Emitter& word(std::uint64_t v) { return raw(v, sizeof(TargetWord)); }
    Emitter& uleb(std::uint64_t v);
    Emitter& sleb(std::int64_t v);
    Emitter& bytes(const ByteVector& v) { bytes_.insert(bytes_.end(), v.begin(), v.end()); return *this; }
    Emitter& text(const std::string& s) { bytes_.insert(bytes_.end(), s.begin(), s.end()); bytes_.push_back(0); return *this; }
    Emitter& raw(std::uint64_t v, unsigned size) {
        for (unsigned i = 0; i < size; ++i) bytes_.push_back(i < 8 ? static_cast<std::uint8_t>(v >> (8 * i)) : 0);
        return *this;
    }
    void patch32(std::size_t at, std::uint32_t v) {
        for (unsigned i = 0; i < 4; ++i) bytes_[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    std::size_t size() const { return bytes_.size(); }
    const ByteVector& data() const { return bytes_; }
    ByteVector& data() { return bytes_; }

private:
    ByteVector bytes_;
};

// Instruction bytes: ULEB/SLEB helpers for building CFI and expressions inline.
ByteVector uleb(std::uint64_t v);
ByteVector sleb(std::int64_t v);
ByteVector cat(std::initializer_list<ByteVector> parts);

// A CFI section built entry by entry at `address` (target address of its first byte; 0 for a
// `.debug_frame` seen at offsets).
class CfiBuilder {
public:
    CfiBuilder(coresift::unwind::CfiFormat format, TargetWord address) : format_(format), address_(address) {}

    struct CieFields {
        std::string augmentation = "zR";
        unsigned version = 1;
        std::uint64_t codeAlignment = kIs64 ? 4 : 2;
        std::int64_t dataAlignment = kIs64 ? -8 : -4;
        unsigned returnRegister = kIs64 ? 30 : 14;
        ByteVector augmentationData = {0x1B};  // FDE encoding: pc-relative sdata4
        ByteVector instructions;
    };
    // Adds a CIE; returns its offset in the section.
    std::size_t cie(const CieFields& fields);
    // Adds an FDE for [begin, begin + range) with `cieOffset`'s CIE, the initial location in
    // `encoding` (absptr, udata4 or pc-relative sdata4 in .eh_frame; an address in .debug_frame).
    std::size_t fde(std::size_t cieOffset, TargetWord begin, TargetWord range, const ByteVector& instructions,
                    std::uint8_t encoding = 0x1B, bool augmented = true);
    // A zero terminator.
    void terminate() { out_.u32(0); }

    TargetWord address() const { return address_; }
    TargetWord addressOf(std::size_t offset) const { return address_ + static_cast<TargetWord>(offset); }
    const ByteVector& bytes() const { return out_.data(); }
    ByteVector& bytes() { return out_.data(); }

private:
    coresift::unwind::CfiFormat format_;
    TargetWord address_;
    Emitter out_;
};

// An `.eh_frame_hdr` at `address` for the FDEs (initial location, FDE address), sorted here.
ByteVector ehFrameHeader(TargetWord address, TargetWord ehFrame,
                         std::vector<std::pair<TargetWord, TargetWord>> entries, std::uint8_t tableEncoding = 0x3B);

// Target memory made of spans it owns or borrows (a file's bytes at the address its mapping or
// its load segments give them).
class OwnedMemory final : public coresift::unwind::UnwindMemory {
public:
    void add(TargetWord address, ByteVector bytes);
    void addView(TargetWord address, common::ByteView bytes) { spans_[address] = bytes; }
    // The PT_LOAD segments of `image` (their file bytes) at p_vaddr + bias.
    void addImage(const coresift::ElfImage& image, TargetWord bias);
    // A span of `count` words, word i holding `first + i * step`.
    void addWords(TargetWord address, std::size_t count, TargetWord first, TargetWord step);
    // Overwrites bytes inside an existing span.
    void poke(TargetWord address, const ByteVector& bytes);
    void pokeWord(TargetWord address, TargetWord value);
    common::ByteView bytesAt(TargetWord address) const override;
    void clear() {
        spans_.clear();
        owned_.clear();
    }

private:
    std::map<TargetWord, common::ByteView> spans_;
    std::vector<std::unique_ptr<ByteVector>> owned_;
};

coresift::decode::RegisterState registers(std::initializer_list<std::pair<unsigned, TargetWord>> values);

// An English console whose output is captured, and an environment over `memory`.
class UnwindTest : public testing::Test {
protected:
    UnwindTest() { run.context().catalog.selectEnglish(); }
    coresift::Console& console() { return run.context().console; }
    coresift::unwind::StepEnvironment environment() { return {&console(), &memory, 39}; }
    coresift::unwind::TableNames names(const char* section = ".eh_frame") { return {&console(), "libfoo.so", section}; }
    std::string errors() const { return run.err(); }

    RunCapture run;
    OwnedMemory memory;
};

}  // namespace testsupport
