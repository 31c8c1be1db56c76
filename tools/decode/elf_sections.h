// A minimal ELF reader for the decoder's test tools: section bytes, addresses and symbols of a
// little-endian ELF32/ELF64 file held in memory. Every read is bounds-checked; a malformed file
// gives empty results, never a read outside the buffer. (The analyzer has its own ELF reader;
// this one only feeds the differential tests and benchmarks.)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/byte_reader.h"

namespace decodetools {

struct Section {
    std::string name;
    std::uint32_t type = 0;
    std::uint64_t flags = 0;
    std::uint64_t address = 0;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint32_t link = 0;
    std::uint64_t entrySize = 0;
};

struct Symbol {
    std::string name;
    std::uint64_t value = 0;
    std::uint64_t size = 0;
    std::uint8_t type = 0;  // STT_*
    std::uint16_t section = 0;
};

class ElfFile {
public:
    explicit ElfFile(std::vector<std::uint8_t> bytes);
    bool ok() const { return ok_; }
    bool is64() const { return is64_; }
    std::uint16_t machine() const { return machine_; }
    const std::vector<Section>& sections() const { return sections_; }
    const Section* find(const std::string& name) const;
    common::ByteView contents(const Section& s) const;
    // Symbols of .symtab, or of .dynsym when there is no .symtab.
    std::vector<Symbol> symbols() const;

private:
    std::vector<std::uint8_t> bytes_;
    std::vector<Section> sections_;
    bool ok_ = false;
    bool is64_ = false;
    std::uint16_t machine_ = 0;
};

// Reads a file, gunzipping it when its name ends in ".gz"; empty on failure (file_bytes.cpp).
std::vector<std::uint8_t> readFileBytes(const std::string& path);

}  // namespace decodetools
