// Hand-built processes for the module tests: a dynamic linker, libraries mapped from real
// cross-compiled files (with or without their code in the dump), the linker's library records
// laid out as each linker version writes them, and a db folder with a symbols tree.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/target_word.h"
#include "tools/corekit/core_builder.h"
#include "tools/corekit/elf_file.h"

namespace testsupport {

constexpr std::uint64_t kLinkerBase = kIs64 ? 0x7f00000000ull : 0xb0000000ull;
constexpr std::uint64_t kRecordsBase = kIs64 ? 0x7f00100000ull : 0xb0100000ull;
constexpr std::uint64_t kStackBase = kIs64 ? 0x7ff0000000ull : 0xbe000000ull;
constexpr std::uint64_t kFirstBias = kIs64 ? 0x7e00000000ull : 0xa0000000ull;
constexpr std::uint64_t kSecondBias = kIs64 ? 0x7e00400000ull : 0xa0400000ull;

// The cross-compiled libraries of the module tests for this width; empty when not built.
std::filesystem::path moduleFixtures();
#define REQUIRE_MODULE_FIXTURES()                                                                    \
    if (testsupport::moduleFixtures().empty()) GTEST_SKIP() << "module test libraries not built"

struct LibraryPlacement {
    std::string devicePath;          // e.g. "/system/lib64/libmodfix.so"
    std::filesystem::path file;      // the ELF file that "ran"
    std::uint64_t bias = kFirstBias;
    bool codeInDump = true;          // read-only and executable segments with their bytes
    bool writableBytes = true;       // the writable segment with its bytes, arrays relocated
    bool writableAsReadOnly = false; // the writable segment read-only without bytes
    bool textRelocated = false;      // apply the file's text relocations to the dumped code
    bool writableMapped = true;      // false: no region at all for the writable segment
    std::uint64_t codeRounding = 4096;  // read-only segments' regions end at this multiple
};

struct MappedLibrary {
    LibraryPlacement placement;
    corekit::ElfFile elf;
    std::uint64_t phdrAddress = 0, dynamicAddress = 0, end = 0;
    std::uint32_t exidxCount = 0;
};

// How the linker's records are written.
struct RecordLayout {
    std::uint32_t version = 3;
    bool newLayoutFlag = true;      // CoreSift: flags bit 0x40000000
    bool linkerRealpath = false;    // the linker's record names the linker in its realpath
    bool extraLeadingWord = false;  // CoreSift64: the window at 24 instead of 16
};

struct LibraryRecordPlan {
    std::size_t library = 0;  // index into the mapped libraries
    std::uint32_t flags = 0x40000001;
    bool linked = true;       // l_name set
    std::uint64_t legacyWord = 0;  // CoreSift: the word at 156
    std::uint64_t linkAddress = 0, loadBias = ~0ull;  // ~0: the library's bias
    std::uint64_t dynamic = ~0ull;                     // ~0: the library's dynamic section
    std::uint64_t programHeaders = ~0ull;              // ~0: the library's program headers
    std::uint64_t next = ~0ull;                        // ~0: the following record (or 0)
};

class ProcessCore {
public:
    ProcessCore();

    // A linker page (no bytes) and a data page, both named `path`, at kLinkerBase.
    void addLinker(const std::string& path = kIs64 ? "/system/bin/linker64" : "/system/bin/linker");
    const MappedLibrary& addLibrary(const LibraryPlacement& placement);
    // The linker's own record in its data page and one record per plan in "[anon:linker_alloc]".
    void addLinkerRecords(const std::vector<LibraryRecordPlan>& records, const RecordLayout& layout = {});
    // Address of the n-th library record written by addLinkerRecords.
    std::uint64_t recordAddress(std::size_t n) const;
    // An extra mapping (bytes, or none), named in NT_FILE when `name` is not empty.
    void addRegion(std::uint64_t start, std::vector<std::uint8_t> bytes, std::uint32_t flags, const std::string& name = {});
    void addEmptyRegion(std::uint64_t start, std::uint64_t size, std::uint32_t flags, const std::string& name = {});
    void setExecutable(const std::string& path, std::uint64_t entry);
    void setAtBase(std::uint64_t base) { atBase_ = base; }

    // Overwrites dumped bytes at `address` (which must lie in a segment with bytes).
    void patch(std::uint64_t address, const std::vector<std::uint8_t>& bytes);
    void patchWord(std::uint64_t address, std::uint64_t value, unsigned size = sizeof(TargetWord));
    std::vector<std::uint8_t> read(std::uint64_t address, std::size_t size) const;

    const std::vector<MappedLibrary>& libraries() const { return libraries_; }

    // Writes PROCESS_COREDUMP into `db`.
    void write(const std::filesystem::path& db) const;

private:
    corekit::CoreSegment* segmentAt(std::uint64_t address);
    const corekit::CoreSegment* segmentAt(std::uint64_t address) const;

    std::vector<corekit::CoreSegment> segments_;
    std::vector<corekit::FileMapping> names_;
    std::vector<MappedLibrary> libraries_;
    std::vector<std::uint64_t> records_;
    std::uint64_t atBase_ = 0;
    std::string executable_;
    std::uint64_t entry_ = 0;
};

// Copies a file into the db's symbols tree at `relative` (e.g. "system/lib/libmodfix.so").
void placeSymbolFile(const std::filesystem::path& db, const std::string& relative, const std::filesystem::path& file);

// A little-endian word into a byte vector.
void putWord(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint64_t value, unsigned size);

}  // namespace testsupport
