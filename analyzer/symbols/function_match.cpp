// Function match mode: a symbol file that is not the build that ran still names its functions,
// once each function of the dump is paired with its twin in the file by comparing their code.
#include <algorithm>
#include <vector>

#include "analyzer/driver/run_context.h"
#include "analyzer/process/address_space.h"
#include "analyzer/symbols/function_tables.h"
#include "analyzer/symbols/module_list.h"
#include "analyzer/symbols/module_regions.h"

namespace coresift {

struct FunctionMatchTables {
    std::optional<FunctionIndex> dump;  // dump addresses
    std::optional<FunctionIndex> file;  // file addresses
};

namespace {

constexpr std::uint32_t kPtGnuEhFrame = 0x6474E550;
constexpr std::uint32_t kPtArmExidx = 0x70000001;
constexpr TargetWord kMinOpenLength = 40;        // a last function is trusted this long
constexpr TargetWord kMaxFunctionLength = 1u << 20;
constexpr TargetWord kSearchReach = 0x80000;
constexpr TargetWord kMaxTableBytes = 64u << 20;

}  // namespace

std::optional<FunctionIndex> dumpFunctionIndex(AddressSpace& space, const Module& module) {
    std::vector<std::uint8_t> bytes;
    const DumpUnwindTables& t = module.unwind;
    if (t.ehFrameHdr && t.ehFrameHdrSize && t.ehFrameHdrSize <= kMaxTableBytes) {
        bytes.resize(t.ehFrameHdrSize);
        if (readSpan(space, t.ehFrameHdr, bytes.data(), bytes.size()) == SpanRead::Ok) {
            auto index = FunctionIndex::fromEhFrameHdr(common::ByteView(bytes.data(), bytes.size()), t.ehFrameHdr);
            if (index && !index->empty()) return index;
        }
    }
    if (!kIs64 && t.exidx && t.exidxCount && std::uint64_t{t.exidxCount} * 8 <= kMaxTableBytes) {
        bytes.resize(std::size_t{t.exidxCount} * 8);
        if (readSpan(space, t.exidx, bytes.data(), bytes.size()) == SpanRead::Ok)
            return FunctionIndex::fromExidx(common::ByteView(bytes.data(), bytes.size()), t.exidx, t.exidxCount);
    }
    return std::nullopt;
}

namespace {

std::optional<FunctionIndex> fileIndex(const ElfImage& image) {
    if (auto segment = image.findSegment(kPtGnuEhFrame)) {
        if (auto bytes = image.segmentBytes(*segment)) {
            auto index = FunctionIndex::fromEhFrameHdr(*bytes, static_cast<TargetWord>(segment->vaddr));
            if (index && !index->empty()) return index;
        }
    }
    if (!kIs64) {
        if (auto segment = image.findSegment(kPtArmExidx)) {
            if (auto bytes = image.segmentBytes(*segment))
                return FunctionIndex::fromExidx(*bytes, static_cast<TargetWord>(segment->vaddr),
                                                static_cast<std::uint32_t>(std::min<std::uint64_t>(segment->filesz / 8, ~0u)));
        }
    }
    return std::nullopt;
}

// The file's bytes at file address `vaddr`, from the load segment holding them.
std::optional<common::ByteView> fileCode(const ElfImage& image, TargetWord vaddr, TargetWord length) {
    for (std::uint32_t i = 0; i < image.segmentCount(); ++i) {
        auto load = image.segment(i);
        if (!load || load->type != elf::kPtLoad || vaddr < load->vaddr || vaddr - load->vaddr >= load->filesz) continue;
        if (length > load->filesz - (vaddr - load->vaddr)) return std::nullopt;
        return image.view(load->offset + (vaddr - load->vaddr), length);
    }
    return std::nullopt;
}

CodeKind codeKindOf(TargetWord address) {
    if (kIs64) return CodeKind::A64;
    return (address & 1) ? CodeKind::Thumb : CodeKind::Arm;
}

FunctionMatchTables* tablesOf(RunContext& context, Module& module) {
    if (!module.symbolImage() || !module.has(module_flag::kFunctionMatch) || !context.addressSpace) return nullptr;
    if (!module.functionMatch) {
        auto tables = std::make_shared<FunctionMatchTables>();
        tables->dump = dumpFunctionIndex(*context.addressSpace, module);
        tables->file = fileIndex(*module.symbolImage());
        module.functionMatch = std::move(tables);
    }
    FunctionMatchTables* tables = module.functionMatch.get();
    if (!tables->dump || !tables->file || tables->dump->empty() || tables->file->empty()) return nullptr;
    return tables;
}

// A function of `index` holding `address`: its start and length. The last function is taken to
// reach the address when that is at least kMinOpenLength into it.
std::optional<std::pair<TargetWord, TargetWord>> functionHolding(const FunctionIndex& index, TargetWord address) {
    auto entry = index.containing(address & ~TargetWord{1});
    if (!entry) return std::nullopt;
    TargetWord start = index.start(*entry);
    TargetWord length = index.length(*entry).value_or(0);
    if (!length) {
        length = (address & ~TargetWord{1}) - start;
        if (length < kMinOpenLength) return std::nullopt;
    }
    if (length > kMaxFunctionLength) return std::nullopt;
    return std::make_pair(start, length);
}

// Visits the entries of `index` from the one nearest `target` outwards, alternating down and up,
// while their start is within `reach` of it; stops at the first one `visit` accepts.
std::optional<std::size_t> searchOutwards(const FunctionIndex& index, TargetWord target, TargetWord reach,
                                          const std::function<bool(std::size_t)>& visit) {
    auto near = [&](std::size_t i) {
        TargetWord s = index.start(i);
        return (s > target ? s - target : target - s) <= reach;
    };
    std::size_t centre = index.nearest(target);
    bool downOpen = true, upOpen = true;
    for (std::size_t step = 0; downOpen || upOpen; ++step) {
        if (downOpen) {
            if (step > centre || !near(centre - step)) downOpen = false;
            else if (visit(centre - step)) return centre - step;
        }
        if (upOpen && step > 0) {
            if (centre + step >= index.size() || !near(centre + step)) upOpen = false;
            else if (visit(centre + step)) return centre + step;
        }
        if (step == 0 && !near(centre)) break;
    }
    return std::nullopt;
}

}  // namespace

TargetWord toFileAddress(RunContext& context, Module& module, TargetWord address) {
    FunctionMatchTables* tables = tablesOf(context, module);
    if (!tables) return 0;
    auto function = functionHolding(*tables->dump, address);
    if (!function) return 0;
    const TargetWord start = function->first, length = function->second;
    std::vector<std::uint8_t> code(length);
    if (readSpan(*context.addressSpace, start, code.data(), code.size()) != SpanRead::Ok) return 0;
    const common::ByteView dumpCode(code.data(), code.size());
    const ElfImage& image = *module.symbolImage();
    const FunctionIndex& file = *tables->file;
    const CodeKind kind = codeKindOf(address);
    TargetWord twin = 0;
    searchOutwards(file, start - module.loadBias, length + kSearchReach, [&](std::size_t i) {
        auto fileLength = file.length(i);
        if (fileLength && *fileLength < length) return false;
        auto bytes = fileCode(image, file.start(i), length);
        if (!bytes || !sameFunctionBody(dumpCode, *bytes, kind)) return false;
        twin = file.start(i);
        return true;
    });
    return twin ? twin + (address - start) : 0;
}

TargetWord toDumpAddress(RunContext& context, Module& module, TargetWord fileAddress) {
    FunctionMatchTables* tables = tablesOf(context, module);
    if (!tables) return 0;
    const FunctionIndex& file = *tables->file;
    auto entry = file.containing(fileAddress & ~TargetWord{1});
    if (!entry) return 0;
    TargetWord start = file.start(*entry);
    TargetWord length = file.length(*entry).value_or(kMinOpenLength);
    if (length > kMaxFunctionLength) return 0;
    auto fileBytes = fileCode(*module.symbolImage(), start, length);
    if (!fileBytes) return 0;
    const FunctionIndex& dump = *tables->dump;
    const CodeKind kind = codeKindOf(fileAddress);
    std::vector<std::uint8_t> code(length);
    TargetWord twin = 0;
    searchOutwards(dump, start + module.loadBias, length + kSearchReach, [&](std::size_t i) {
        auto dumpLength = dump.length(i);
        if (dumpLength && *dumpLength < length) return false;
        if (readSpan(*context.addressSpace, dump.start(i), code.data(), code.size()) != SpanRead::Ok) return false;
        if (!sameFunctionBody(common::ByteView(code.data(), code.size()), *fileBytes, kind)) return false;
        twin = dump.start(i);
        return true;
    });
    return twin ? twin + ((fileAddress & ~TargetWord{1}) - start) : 0;
}

}  // namespace coresift
