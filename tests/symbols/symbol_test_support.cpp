#include "tests/symbols/symbol_test_support.h"

#include <algorithm>
#include <cstring>

#include "analyzer/driver/run_context.h"
#include "analyzer/symbols/elf_image.h"

namespace testsupport {
namespace fs = std::filesystem;
using coresift::DumpDynamicTables;

bool FakeMemory::read(TargetWord address, void* out, std::size_t size) const {
    auto* bytes = static_cast<std::uint8_t*>(out);
    while (size > 0) {
        auto after = ranges_.upper_bound(address);
        if (after == ranges_.begin()) return false;
        const auto& [start, range] = *std::prev(after);
        std::uint64_t offset = static_cast<std::uint64_t>(address) - start;
        if (offset >= range.size()) return false;
        std::size_t take = std::min<std::uint64_t>(size, range.size() - offset);
        std::memcpy(bytes, range.data() + offset, take);
        bytes += take, size -= take, address += static_cast<TargetWord>(take);
    }
    return true;
}

void FakeMemory::place(TargetWord address, const Bytes& bytes) { ranges_[address] = bytes; }

void FakeMemory::put32(TargetWord address, std::uint32_t value) {
    Bytes bytes;
    testsupport::put32(bytes, 0, value);
    place(address, bytes);
}

void FakeMemory::putWord(TargetWord address, TargetWord value) {
    Bytes bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    place(address, bytes);
}

fs::path ownSymbolFixtures() {
    fs::path path = fs::path(FERROVANE_TEST_DATA_DIR) / "symbols";
    return fs::exists(path / "stamp") ? path : fs::path();
}

std::vector<fs::path> ownSymbolFixtureFolders() {
    fs::path root = ownSymbolFixtures();
    if (root.empty()) return {};
    if (kIs64) return {root / "arm64"};
    return {root / "arm", root / "thumb"};
}

std::unique_ptr<coresift::SymbolSource> openSource(coresift::Console& console, const fs::path& path, TargetWord loadBias) {
    auto image = coresift::ElfImage::open(console, coresift::MappedFile::open(path.string()),
                                          coresift::elf::kSymbolFileTypes);
    if (!image) return nullptr;
    auto source = std::make_unique<coresift::SymbolSource>(console, path.filename().string(), loadBias);
    source->setSymbolFile(std::make_unique<coresift::SymbolFile>(console, std::move(image)), true);
    return source;
}

namespace {

constexpr std::uint32_t kPtLoad = 1, kPtDynamic = 2;
constexpr std::uint64_t kDtHash = 4, kDtStrtab = 5, kDtSymtab = 6, kDtGnuHash = 0x6FFFFEF5;

std::uint32_t read32(const FakeMemory& memory, TargetWord at) {
    std::uint32_t v = 0;
    memory.read32(at, v);
    return v;
}

// The number of dynamic symbols a GNU hash table implies: one past the last chain entry reached.
std::uint32_t gnuSymbolCount(const FakeMemory& memory, const DumpDynamicTables& t) {
    std::uint32_t last = 0;
    for (std::uint32_t b = 0; b < t.gnuBucketCount; ++b) {
        std::uint32_t index = read32(memory, t.gnuBuckets + 4 * b);
        if (index < t.gnuSymbolOffset) continue;
        for (std::uint32_t guard = 0; guard < (1u << 20); ++guard, ++index) {
            if (read32(memory, t.gnuChains + 4 * (index - t.gnuSymbolOffset)) & 1) break;
        }
        last = std::max(last, index);
    }
    return last == 0 ? t.gnuSymbolOffset : last + 1;
}

}  // namespace

std::optional<DumpDynamicTables> loadIntoMemory(const fs::path& path, TargetWord loadBias, FakeMemory& memory) {
    auto file = coresift::MappedFile::open(path.string());
    if (!file) return std::nullopt;
    coresift::RunContext context(stdout, stderr);
    auto image = coresift::ElfImage::open(context.console, file, coresift::elf::kSymbolFileTypes);
    if (!image) return std::nullopt;
    DumpDynamicTables tables;
    bool codeFound = false;
    for (std::uint32_t i = 0; i < image->segmentCount(); ++i) {
        auto segment = image->segment(i);
        if (!segment || segment->type != kPtLoad) continue;
        Bytes bytes(segment->memsz, 0);
        if (auto data = image->segmentBytes(*segment)) std::memcpy(bytes.data(), data->data(), data->size());
        memory.place(static_cast<TargetWord>(loadBias + segment->vaddr), bytes);
        if ((segment->flags & 1) && !codeFound) {
            codeFound = true;
            tables.codeStart = static_cast<TargetWord>((loadBias + segment->vaddr) & ~std::uint64_t{0xFFF});
            tables.codeEnd = static_cast<TargetWord>((loadBias + segment->vaddr + segment->memsz + 0xFFF) & ~std::uint64_t{0xFFF});
            tables.codeIsHeaderRegion = segment->offset == 0;
        }
    }
    auto dynamic = image->findSegment(kPtDynamic);
    if (!dynamic) return std::nullopt;
    tables.dynamicSection = static_cast<TargetWord>(loadBias + dynamic->vaddr);
    for (TargetWord at = tables.dynamicSection;; at += 2 * sizeof(TargetWord)) {
        TargetWord tag = 0, value = 0;
        if (!memory.readWord(at, tag) || !memory.readWord(at + sizeof(TargetWord), value) || tag == 0) break;
        TargetWord address = loadBias + value;
        if (tag == kDtStrtab) tables.strings = address;
        else if (tag == kDtSymtab) tables.symbols = address;
        else if (tag == kDtHash) {
            tables.sysvBucketCount = read32(memory, address);
            tables.sysvChainCount = read32(memory, address + 4);
            tables.sysvBuckets = address + 8;
            tables.sysvChains = address + 8 + 4 * tables.sysvBucketCount;
        } else if (tag == kDtGnuHash) {
            tables.gnu = true;
            tables.gnuBucketCount = read32(memory, address);
            tables.gnuSymbolOffset = read32(memory, address + 4);
            tables.gnuBloomCount = read32(memory, address + 8);
            tables.gnuBloomShift = read32(memory, address + 12);
            tables.gnuBloom = address + 16;
            tables.gnuBuckets = tables.gnuBloom + tables.gnuBloomCount * sizeof(TargetWord);
            tables.gnuChains = tables.gnuBuckets + 4 * tables.gnuBucketCount;
        }
    }
    tables.symbolCount = tables.gnu ? gnuSymbolCount(memory, tables) : tables.sysvChainCount;
    if (!tables.symbols || !tables.strings) return std::nullopt;
    return tables;
}

}  // namespace testsupport
