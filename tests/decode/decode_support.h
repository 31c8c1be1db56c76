// Helpers of the decoder tests: fake dump memory, fixture files, printing one instruction.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "analyzer/decode/printer.h"
#include "analyzer/decode/target_memory.h"
#include "tools/decode/elf_sections.h"

namespace decodetest {

using coresift::decode::InstructionSet;

// Byte regions at target addresses; a read must lie inside one region.
class FakeMemory final : public coresift::decode::TargetMemory {
public:
    void add(TargetWord address, std::vector<std::uint8_t> bytes) { regions_[address] = std::move(bytes); }
    void addWords(TargetWord address, std::initializer_list<std::uint32_t> words);
    void addHalfwords(TargetWord address, std::initializer_list<std::uint16_t> halfwords);
    void addWords64(TargetWord address, std::initializer_list<std::uint64_t> words);
    bool read(TargetWord address, void* out, std::size_t size) const override;

private:
    std::map<TargetWord, std::vector<std::uint8_t>> regions_;
};

// A namer over a fixed table of functions.
class FakeNamer final : public coresift::decode::SymbolNamer {
public:
    void add(TargetWord start, TargetWord size, std::string name) { functions_.push_back({start, size, std::move(name)}); }
    bool functionAt(TargetWord address, std::string_view& name, TargetWord& offset) const override;

private:
    struct Function {
        TargetWord start, size;
        std::string name;
    };
    std::vector<Function> functions_;
};

// The path of a fixture built into the test data folder, or "" when it was not built.
std::string decodeFixture(const char* name);
// Reads an ELF fixture (an unreadable file gives an ElfFile that is not ok()).
decodetools::ElfFile readElf(const std::string& path);
// Loads every allocated section of an ELF fixture at its address.
bool loadSections(const decodetools::ElfFile& elf, FakeMemory& memory);

std::string print(InstructionSet set, std::uint32_t word, TargetWord address = 0x1000,
                  const coresift::decode::TargetMemory* memory = nullptr,
                  const coresift::decode::SymbolNamer* symbols = nullptr);

}  // namespace decodetest
