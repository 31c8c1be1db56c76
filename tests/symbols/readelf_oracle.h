// binutils' readelf as an independent oracle for the ELF reader: runs it and parses its -W output.
// Available only where readelf is installed (the Linux test build).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// The readelf program found when the tests were configured; empty when there is none.
std::string readelfProgram();

// Runs a shell command; its standard output, or nothing when it exits non-zero.
std::optional<std::string> runCommand(const std::string& command);
// Runs a shell command with its standard output written to `output`; false when it fails.
bool runCommandInto(const std::string& command, const std::string& output);
std::string shellQuote(const std::string& text);

struct RefSection {
    std::uint32_t index = 0;
    std::string name, type, flags;
    std::uint64_t addr = 0, offset = 0, size = 0;
};

struct RefSegment {
    std::string type, flags;  // flags as letters R, W, E
    std::uint64_t offset = 0, vaddr = 0, paddr = 0, filesz = 0, memsz = 0, align = 0;
};

struct RefNote {
    std::string owner;
    std::uint64_t descsz = 0;
};

// The notes readelf shows under one heading: a note section (by name) or, for cores, a note
// segment (by file offset).
struct RefNoteGroup {
    std::string section;
    std::optional<std::uint64_t> segmentOffset;
    std::vector<RefNote> notes;
};

struct RefSymbol {
    std::uint64_t value = 0, size = 0;
    std::string type, bind, name;  // name without a version suffix ("@LIBC (2)")
};

struct RefSymbolTable {
    std::string section;
    std::uint64_t declaredCount = 0;
    std::vector<RefSymbol> symbols;
};

// Parsers of `readelf -W` output (-S, -l, -n, -s). `addressDigits` is 8 for ELF32, 16 for ELF64.
std::vector<RefSection> parseSections(const std::string& text, unsigned addressDigits);
std::vector<RefSegment> parseSegments(const std::string& text);
std::vector<RefNoteGroup> parseNotes(const std::string& text, std::string* firstBuildId);
std::vector<RefSymbolTable> parseSymbols(const std::string& text);

// Numeric values of readelf's type names (nothing for names it prints that this table lacks).
std::optional<std::uint32_t> sectionTypeValue(const std::string& name);
std::optional<std::uint32_t> segmentTypeValue(const std::string& name);

}  // namespace testsupport
