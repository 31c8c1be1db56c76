// Shared pieces of the symbol look-up tests: a fake dump memory, the project's cross-compiled
// symbol fixtures, symbol sources over real files, and the dump-side dynamic tables that a
// loaded library would show (read here from the file itself, laid out at a load bias).
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analyzer/decode/target_memory.h"
#include "analyzer/symbols/symbol_source.h"
#include "tests/symbols/elf_builder.h"

namespace testsupport {

// Dump memory made of byte ranges placed at addresses.
class FakeMemory final : public coresift::decode::TargetMemory {
public:
    bool read(TargetWord address, void* out, std::size_t size) const override;
    void place(TargetWord address, const Bytes& bytes);
    void put32(TargetWord address, std::uint32_t value);
    void putWord(TargetWord address, TargetWord value);

private:
    std::map<TargetWord, Bytes> ranges_;  // by start; ranges do not overlap
};

// The cross-compiled symbol fixtures of this test build (OUT/{arm,thumb,arm64}); empty when absent.
std::filesystem::path ownSymbolFixtures();
// The fixture folders of this build's width: arm and thumb for CoreSift, arm64 for CoreSift64.
std::vector<std::filesystem::path> ownSymbolFixtureFolders();

// A source over the symbol file at `path` (opened as EXEC or DYN of this build's class).
std::unique_ptr<coresift::SymbolSource> openSource(coresift::Console& console, const std::filesystem::path& path,
                                                   TargetWord loadBias = 0);

// What the dump would hold for the library at `path` loaded at `loadBias`: its load segments
// placed in `memory`, and its dynamic tables as the module list finds them through .dynamic.
std::optional<coresift::DumpDynamicTables> loadIntoMemory(const std::filesystem::path& path, TargetWord loadBias,
                                                          FakeMemory& memory);

}  // namespace testsupport
