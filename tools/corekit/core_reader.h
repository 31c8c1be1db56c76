// Reads an ELF core file of a 32-bit ARM or AArch64 process: its load segments, its notes and the
// memory the segments hold. Every offset and count in the file is checked against the file's size;
// a file that does not hold together gives an error text, never a read outside the file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/corekit/core_builder.h"
#include "tools/corekit/core_notes.h"

namespace corekit {

struct LoadSegment {
    std::uint64_t vaddr = 0;
    std::uint64_t memsz = 0;
    std::uint64_t filesz = 0;
    std::uint64_t offset = 0;
    std::uint32_t flags = 0;
};

class CoreFile {
public:
    // Parses a whole core; nothing (and the reason in `error`) when it is not a well-formed
    // little-endian ARM/AArch64 ET_CORE file.
    static std::optional<CoreFile> parse(std::vector<std::uint8_t> data, std::string* error = nullptr);
    static std::optional<CoreFile> load(const std::string& path, std::string* error = nullptr);

    CoreArch arch() const { return arch_; }
    const std::vector<LoadSegment>& segments() const { return segments_; }
    const std::vector<CoreNote>& notes() const { return notes_; }
    const std::vector<std::uint8_t>& data() const { return data_; }

    // The n-th note of a type, or null.
    const CoreNote* findNote(std::uint32_t type, std::size_t index = 0) const;
    std::size_t countNotes(std::uint32_t type) const;

    // Typed views of the process notes (empty / nothing when absent or malformed).
    std::vector<PrStatus> threads() const;
    std::optional<PrPsInfo> processInfo() const;
    std::optional<Auxv> auxv() const;
    std::optional<FileNote> fileNote() const;
    std::optional<SigInfo> sigInfo() const;

    // The segment containing `vaddr`, or null.
    const LoadSegment* segmentAt(std::uint64_t vaddr) const;
    // `size` bytes at `vaddr`, when they all lie in the dumped part of one segment.
    std::optional<std::vector<std::uint8_t>> read(std::uint64_t vaddr, std::uint64_t size) const;
    // The NUL-terminated text at `vaddr` (at most `limit` characters).
    std::optional<std::string> readString(std::uint64_t vaddr, std::size_t limit = 4096) const;

    // A builder holding the same segments (with their dumped bytes) and notes, to change and write
    // back. Segments whose file size is neither 0 nor their memory size keep their dumped part
    // zero-padded to the memory size.
    CoreBuilder toBuilder() const;

private:
    CoreArch arch_ = CoreArch::Arm64;
    std::vector<std::uint8_t> data_;
    std::vector<LoadSegment> segments_;
    std::vector<CoreNote> notes_;
};

// Walks the notes in `bytes` (a PT_NOTE segment); false when a note runs past the end.
bool parseNotes(common::ByteView bytes, std::vector<CoreNote>& notes, std::string* error = nullptr);

}  // namespace corekit
