// A module's ELF header, program headers and dynamic section as they lie in the dump: build-id,
// the dynamic symbol tables with their hash table, text relocations, and where the unwind tables
// are.
#include <algorithm>

#include "analyzer/driver/run_context.h"
#include "analyzer/process/address_space.h"
#include "analyzer/symbols/module_list.h"
#include "analyzer/symbols/module_regions.h"

namespace coresift {

namespace {

namespace dt {
inline constexpr TargetWord kNull = 0, kHash = 4, kStrtab = 5, kSymtab = 6, kStrsz = 10, kRel = 17, kRelsz = 18,
                            kTextrel = 22, kGnuHash = 0x6FFFFEF5;
}  // namespace dt

inline constexpr std::uint32_t kPtGnuEhFrame = 0x6474E550;
inline constexpr std::uint32_t kPtArmExidx = 0x70000001;

// Bounds on what a damaged table can make the reader do.
inline constexpr std::uint32_t kMaxDynamicEntries = 4096;
inline constexpr std::uint32_t kMaxHashEntries = 1u << 22;  // buckets, chains, bloom words, symbols

class DynamicReader {
public:
    DynamicReader(RunContext& context, Module& module)
        : context_(context), space_(*context.addressSpace), module_(module) {}

    void read(TargetWord address) {
        if (!space_.regionAt(address)) {
            context_.console.error(Msg::SegmentAddressCorrupted, module_.name, ".dynamic", address);
            return;
        }
        TargetWord hash = 0, gnuHash = 0;
        for (std::uint32_t i = 0; i < kMaxDynamicEntries; ++i) {
            TargetWord entry = address + i * 2 * sizeof(TargetWord);
            auto tag = space_.read<TargetWord>(entry);
            auto value = space_.read<TargetWord>(entry + sizeof(TargetWord));
            if (!tag || !value || *tag == dt::kNull) break;
            switch (*tag) {
                case dt::kHash: hash = tableAddress(*value); break;
                case dt::kGnuHash: gnuHash = tableAddress(*value); break;
                case dt::kStrtab: tables().strings = tableAddress(*value); break;
                case dt::kStrsz: tables().stringsSize = *value; break;
                case dt::kSymtab: setSymbols(tableAddress(*value)); break;
                case dt::kRel: tables().relocations = tableAddress(*value); break;
                case dt::kRelsz: tables().relocationsSize = *value; break;
                case dt::kTextrel: module_.flags |= module_flag::kTextRelocations; break;
                default: break;
            }
        }
        // A GNU hash table wins over a SysV one, whatever their order.
        bool haveHash = gnuHash ? readGnuHash(gnuHash) : (hash && readSysvHash(hash));
        if (haveHash && tables().strings && tables().symbols) {
            module_.flags |= module_flag::kDynamicSymbols;
        } else {
            tables().symbolCount = 0;
        }
    }

private:
    DumpDynamicTables& tables() { return module_.dynamic; }

    bool ownedByModule(TargetWord address) const {
        MapEntry* region = space_.regionAt(address);
        return region && region->module == &module_;
    }

    // A table address of the dynamic section: the file address plus the load bias. A C library
    // that relocates its dynamic section in place (glibc) leaves the address itself there.
    TargetWord tableAddress(TargetWord value) const {
        TargetWord relocated = value + module_.loadBias;
        if (!ownedByModule(relocated) && ownedByModule(value)) return value;
        return relocated;
    }

    void setSymbols(TargetWord address) {
        tables().symbols = address;
        if (module_.header.contains(address)) module_.headersSize = address - module_.header.start;
    }

    std::optional<std::uint32_t> word(TargetWord address) const { return space_.read<std::uint32_t>(address); }

    // True when `count` 32-bit words from `address` can be read.
    bool readable(TargetWord address, std::uint64_t bytes) const {
        if (bytes == 0) return true;
        if (bytes - 1 > static_cast<TargetWord>(~TargetWord{0} - address)) return false;
        std::uint8_t last[1];
        return readSpan(space_, address + static_cast<TargetWord>(bytes - 1), last, 1) == SpanRead::Ok;
    }

    bool readSysvHash(TargetWord address) {
        auto buckets = word(address), chains = word(address + 4);
        if (!buckets || !chains || *buckets > kMaxHashEntries || *chains > kMaxHashEntries) return false;
        TargetWord bucketArray = address + 8;
        if (!readable(bucketArray, (std::uint64_t{*buckets} + *chains) * 4)) return false;
        tables().sysvBucketCount = *buckets;
        tables().sysvChainCount = *chains;
        tables().sysvBuckets = bucketArray;
        tables().sysvChains = bucketArray + *buckets * 4;
        tables().symbolCount = *chains;
        return true;
    }

    bool readGnuHash(TargetWord address) {
        auto buckets = word(address), symbolOffset = word(address + 4);
        auto bloomCount = word(address + 8), bloomShift = word(address + 12);
        if (!buckets || !symbolOffset || !bloomCount || !bloomShift) return false;
        if (*buckets > kMaxHashEntries || *bloomCount == 0 || *bloomCount > kMaxHashEntries ||
            *symbolOffset > kMaxHashEntries)
            return false;
        TargetWord bloom = address + 16;
        TargetWord bucketArray = bloom + *bloomCount * static_cast<TargetWord>(sizeof(TargetWord));
        if (!readable(bloom, std::uint64_t{*bloomCount} * sizeof(TargetWord) + std::uint64_t{*buckets} * 4))
            return false;
        DumpDynamicTables& t = tables();
        t.gnu = true;
        t.gnuBucketCount = *buckets;
        t.gnuSymbolOffset = *symbolOffset;
        t.gnuBloomCount = *bloomCount;
        t.gnuBloomMask = *bloomCount - 1;
        t.gnuBloomShift = *bloomShift;
        t.gnuBloom = bloom;
        t.gnuBuckets = bucketArray;
        t.gnuChains = bucketArray + *buckets * 4;
        t.symbolCount = gnuSymbolCount();
        return true;
    }

    // One more than the largest symbol index any bucket's chain reaches (a chain ends at the
    // entry with bit 0 set). Chains are read while they can be, for a bounded number of steps.
    std::uint32_t gnuSymbolCount() const {
        const DumpDynamicTables& t = module_.dynamic;
        std::uint32_t count = t.gnuSymbolOffset, steps = 0;
        for (std::uint32_t b = 0; b < t.gnuBucketCount && steps < kMaxHashEntries; ++b) {
            auto first = word(t.gnuBuckets + b * 4);
            if (!first || *first == 0 || *first < t.gnuSymbolOffset) continue;
            // The last index whose chain entry could be read.
            std::optional<std::uint32_t> last;
            for (std::uint32_t index = *first; steps < kMaxHashEntries && index < kMaxHashEntries; ++index, ++steps) {
                auto chain = word(t.gnuChains + (index - t.gnuSymbolOffset) * 4);
                if (!chain) break;
                last = index;
                if (*chain & 1) break;
            }
            if (last) count = std::max(count, *last + 1);
        }
        return std::min(count, kMaxHashEntries);
    }

    RunContext& context_;
    AddressSpace& space_;
    Module& module_;
};

}  // namespace

void readModuleHeaders(RunContext& context, Module& module) {
    if (module.has(module_flag::kHeadersRead) || !context.addressSpace) return;
    module.flags |= module_flag::kHeadersRead;
    AddressSpace& space = *context.addressSpace;
    MapEntry* head = space.regionAt(module.header.start);
    if (!head) return;
    common::ByteView bytes = space.regionView(*head);
    auto image = bytes.empty() ? nullptr : ElfImage::openMemory(bytes, module.name);
    if (!image) return;
    module.buildId = image->buildId(context.console);
    module.headersSize = static_cast<TargetWord>(image->headersSize());

    if (auto dynamic = image->findSegment(elf::kPtDynamic)) {
        TargetWord address = module.loadBias + static_cast<TargetWord>(dynamic->vaddr);
        if (!module.dynamicAddress) module.dynamicAddress = address;
        DynamicReader(context, module).read(address);
    }
    if (auto ehFrameHdr = image->findSegment(kPtGnuEhFrame)) {
        module.unwind.ehFrameHdr = module.loadBias + static_cast<TargetWord>(ehFrameHdr->vaddr);
        module.unwind.ehFrameHdrSize = static_cast<TargetWord>(ehFrameHdr->memsz);
    }
    if constexpr (!kIs64) {
        if (auto exidx = image->findSegment(kPtArmExidx)) {
            module.unwind.exidx = module.loadBias + static_cast<TargetWord>(exidx->vaddr);
            module.unwind.exidxCount = static_cast<std::uint32_t>(std::min<std::uint64_t>(exidx->filesz / 8, kMaxHashEntries));
        }
    }
}

}  // namespace coresift
