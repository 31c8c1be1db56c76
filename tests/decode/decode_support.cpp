#include "tests/decode/decode_support.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace decodetest {

void FakeMemory::addWords(TargetWord address, std::initializer_list<std::uint32_t> words) {
    std::vector<std::uint8_t> bytes(words.size() * 4);
    std::size_t i = 0;
    for (std::uint32_t w : words) std::memcpy(&bytes[4 * i++], &w, 4);
    add(address, std::move(bytes));
}

void FakeMemory::addHalfwords(TargetWord address, std::initializer_list<std::uint16_t> halfwords) {
    std::vector<std::uint8_t> bytes(halfwords.size() * 2);
    std::size_t i = 0;
    for (std::uint16_t h : halfwords) std::memcpy(&bytes[2 * i++], &h, 2);
    add(address, std::move(bytes));
}

void FakeMemory::addWords64(TargetWord address, std::initializer_list<std::uint64_t> words) {
    std::vector<std::uint8_t> bytes(words.size() * 8);
    std::size_t i = 0;
    for (std::uint64_t w : words) std::memcpy(&bytes[8 * i++], &w, 8);
    add(address, std::move(bytes));
}

bool FakeMemory::read(TargetWord address, void* out, std::size_t size) const {
    auto it = regions_.upper_bound(address);
    if (it == regions_.begin()) return false;
    --it;
    const std::uint64_t offset = static_cast<std::uint64_t>(address) - it->first;
    if (offset > it->second.size() || size > it->second.size() - offset) return false;
    std::memcpy(out, it->second.data() + offset, size);
    return true;
}

bool FakeNamer::functionAt(TargetWord address, std::string_view& name, TargetWord& offset) const {
    for (const Function& f : functions_) {
        if (address >= f.start && address - f.start < f.size) {
            name = f.name;
            offset = address - f.start;
            return true;
        }
    }
    return false;
}

std::string decodeFixture(const char* name) {
    const std::string path = std::string(FERROVANE_TEST_DATA_DIR) + "/decode/" + name;
    std::ifstream probe(path, std::ios::binary);
    return probe ? path : std::string();
}

decodetools::ElfFile readElf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return decodetools::ElfFile(std::move(bytes));
}

bool loadSections(const decodetools::ElfFile& elf, FakeMemory& memory) {
    if (!elf.ok()) return false;
    for (const decodetools::Section& s : elf.sections()) {
        if (!(s.flags & 2) || s.address == 0) continue;  // SHF_ALLOC
        const common::ByteView bytes = elf.contents(s);
        if (bytes.empty()) continue;
        memory.add(static_cast<TargetWord>(s.address), std::vector<std::uint8_t>(bytes.data(), bytes.data() + bytes.size()));
    }
    return true;
}

std::string print(InstructionSet set, std::uint32_t word, TargetWord address, const coresift::decode::TargetMemory* memory,
                  const coresift::decode::SymbolNamer* symbols) {
    coresift::decode::TextSink out;
    coresift::decode::printInstruction(set, word, address, out, memory, symbols);
    return std::string(out.view());
}

}  // namespace decodetest
