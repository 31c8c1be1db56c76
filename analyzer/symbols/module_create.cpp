// Creating a module: its load segments (from the ELF headers in the dump, else from the regions
// that follow its header region), the claim of those regions in the address space, and the
// bounds of its header and code stretches.
#include <algorithm>
#include <new>

#include "analyzer/driver/run_context.h"
#include "analyzer/process/address_space.h"
#include "analyzer/symbols/module_list.h"
#include "analyzer/symbols/module_regions.h"

namespace coresift {

namespace {

namespace rk = region_kind;

constexpr unsigned kMaxSegments = 8;
constexpr unsigned kMaxCollectedRegions = 64;  // regions looked at when the module's end is unknown
constexpr std::uint64_t kSegmentPage = 4096;

std::uint32_t segmentFlagsOf(const MapEntry& region) {
    std::uint32_t flags = 0;
    if (region.kind & rk::kExecute) flags |= 1;
    if (region.kind & rk::kWrite) flags |= 2;
    if (region.kind & rk::kRead) flags |= 4;
    return flags;
}

bool isNoAccessGap(const MapEntry& region) {
    return (region.kind & rk::kPermissions) == 0 && !region.hasName();
}

class ModuleBuilder {
public:
    ModuleBuilder(RunContext& context, const ModuleRequest& request)
        : context_(context), space_(*context.addressSpace), request_(request) {}

    Module* build() {
        MapEntry* head = space_.regionAt(request_.headerAddress);
        std::string name = baseNameOf(request_.path);
        if (!head) {
            context_.console.error(Msg::FailToFindInSegment, name, "RO", request_.headerAddress);
            return nullptr;
        }
        module_ = std::unique_ptr<Module>(new (std::nothrow) Module);
        if (!module_) {
            context_.console.warning(Msg::OutOfMemory);
            return nullptr;
        }
        module_->path = request_.path;
        module_->name = name;
        module_->soinfo = request_.soinfo;
        module_->loadBias = request_.loadBias;
        module_->biasKnown = !request_.learnBias;

        auto image = headerImage(*head);
        if (image && request_.learnBias) learnBiasFromHeaders(*image, head->start);
        if (image) segmentsFromHeaders(*image);
        else segmentsFromRegions(*head);

        Module& module = context_.moduleList->add(std::move(module_));
        for (const ModuleSegment& segment : module.segments) claimSegment(module, segment);
        markHead(module);
        findStretches(module);
        return &module;
    }

private:
    // The in-memory ELF image at the start of the header region, when the dump holds its bytes.
    std::unique_ptr<ElfImage> headerImage(MapEntry& head) {
        if (!holdsDumpBytes(head)) return nullptr;
        common::ByteView bytes = space_.regionView(head);
        if (bytes.empty()) return nullptr;
        return ElfImage::openMemory(bytes, module_->name);
    }

    // The bias of a module found in the memory map: its header region holds the load segment at
    // file offset 0.
    void learnBiasFromHeaders(const ElfImage& image, TargetWord regionStart) {
        if (auto vaddr = firstLoadAddress(image)) {
            module_->loadBias = regionStart - static_cast<TargetWord>(*vaddr & ~(kSegmentPage - 1));
            module_->biasKnown = true;
        }
    }

    bool addSegment(std::uint64_t start, std::uint64_t end, std::uint32_t flags) {
        if (module_->segments.size() == kMaxSegments) {
            context_.console.warning(Msg::SegmentCountOver, module_->name, static_cast<int>(kMaxSegments));
            return false;
        }
        module_->segments.push_back({static_cast<TargetWord>(start), static_cast<TargetWord>(end), flags});
        return true;
    }

    // Every PT_LOAD with memory, the last first, page-rounded at the load bias.
    void segmentsFromHeaders(const ElfImage& image) {
        for (std::uint32_t i = image.segmentCount(); i-- > 0;) {
            auto load = image.segment(i);
            if (!load || load->type != elf::kPtLoad || load->memsz == 0) continue;
            std::uint64_t start = (static_cast<std::uint64_t>(module_->loadBias) + load->vaddr) & kTargetMask;
            // A segment that runs past the top of the address space cannot be a loaded one.
            if (load->memsz - 1 > kTargetMask - start) continue;
            std::uint64_t last = start + load->memsz - 1;
            if (last > kTargetMask - (kSegmentPage - 1)) continue;
            std::uint64_t end = (last | (kSegmentPage - 1)) + 1;
            if (!addSegment(start & ~(kSegmentPage - 1), end, load->flags)) return;
        }
    }

    // Without headers in the dump: the regions from the header region up to the module's end,
    // those of the same name (passing over unnamed no-access gaps cut out of the mapping), or,
    // for an unnamed header region, regions of any kind up to a second writable or executable one.
    void segmentsFromRegions(MapEntry& head) {
        const bool endKnown = request_.endAddress != kUnknownEnd;
        const bool named = head.hasName();
        const std::string name = head.name;
        unsigned looked = 0, writable = 0, executable = 0;
        TargetWord reachedEnd = head.start;
        std::vector<MapEntry*> gaps;  // no-access gaps, kept once a region of the name follows
        space_.forEachRegion(head.start, endKnown ? request_.endAddress : kUnknownEnd, [&](MapEntry& region) {
            if (!endKnown && ++looked > kMaxCollectedRegions) return 1;
            if (region.module) return 1;  // another module's region ends this one
            if (named) {
                if (isNoAccessGap(region)) {
                    gaps.push_back(&region);
                    return 0;
                }
                if (region.name != name) return 1;
                for (MapEntry* gap : gaps)
                    if (!addSegment(gap->start, gap->end, 0)) return 1;
                gaps.clear();
            } else if (!endKnown) {
                if (region.hasName()) return 1;
                if ((region.kind & rk::kWrite) && writable++) return 1;
                if ((region.kind & rk::kExecute) && executable++) return 1;
            }
            reachedEnd = region.end;
            return addSegment(region.start, region.end, segmentFlagsOf(region)) ? 0 : 1;
        });
        if (!endKnown && !module_->segments.empty() && (module_->segments.back().flags & 2)) extendOverBss(reachedEnd, looked);
    }

    // The writable segment goes on over the anonymous or ".bss" regions right after it.
    void extendOverBss(TargetWord from, unsigned looked) {
        ModuleSegment& last = module_->segments.back();
        space_.forEachRegion(from, kUnknownEnd, [&](MapEntry& region) {
            if (++looked > kMaxCollectedRegions || region.start != last.end || region.module) return 1;
            if (region.hasName() && region.name.find(".bss") == std::string::npos) return 1;
            last.end = region.end;
            return 0;
        });
    }

    // Makes the module own the regions of a segment: one claim over the whole segment, or, where
    // the segment has pages without a region, one claim per region inside it.
    void claimSegment(Module& module, const ModuleSegment& segment) {
        auto attach = [&](MapEntry& region) { return attachRegion(module, region); };
        if (segment.end <= segment.start) return;
        if (space_.claimRange(segment.start, segment.end, attach) == 0) return;
        std::vector<std::pair<TargetWord, TargetWord>> parts;
        space_.forEachRegion(segment.start, segment.end, [&](MapEntry& region) {
            parts.emplace_back(std::max(region.start, segment.start), std::min(region.end, segment.end));
            return 0;
        });
        for (const auto& [start, end] : parts) space_.claimRange(start, end, attach);
    }

    int attachRegion(Module& module, MapEntry& region) {
        if (region.module && region.module != &module) return 0;  // another module's page stays its own
        if (!region.hasName()) {
            space_.nameRegion(region, module.path, rk::kOwnedName | rk::kElf);
        } else {
            region.kind = (region.kind & ~rk::kTypeMask) | rk::kElf;
        }
        RunContext* context = &context_;
        space_.attachModule(region, &module, [context](Module* owner, TargetWord start, TargetWord size) {
            return modulePageSource(*context, owner, start, size);
        });
        return 0;
    }

    // The region at the header address heads the module in the list of module regions.
    void markHead(Module& module) {
        MapEntry* head = space_.regionAt(request_.headerAddress);
        if (!head || head->module != &module) return;
        head->kind |= rk::kModuleHead;
        head->nextModule = context_.moduleList->head();
        context_.moduleList->setHead(head->start);
    }

    void findStretches(Module& module) {
        module.header = moduleStretchAt(space_, module, request_.headerAddress);
        module.code = module.header;
        const ModuleSegment* firstCode = nullptr;
        for (const ModuleSegment& segment : module.segments)
            if ((segment.flags & 1) && (!firstCode || segment.start < firstCode->start)) firstCode = &segment;
        if (firstCode) {
            ModuleExtent code = moduleStretchAt(space_, module, firstCode->start);
            if (code.size) module.code = code;
        }
        if (module.code.size && stretchInDump(space_, module.code)) module.flags |= module_flag::kCodeInDump;
        if (module.has(module_flag::kCodeInDump)) readModuleHeaders(context_, module);
        module.flags |= module_flag::kCreated;
    }

    static constexpr std::uint64_t kTargetMask = kIs64 ? ~std::uint64_t{0} : 0xFFFFFFFFull;

    RunContext& context_;
    AddressSpace& space_;
    const ModuleRequest& request_;
    std::unique_ptr<Module> module_;
};

}  // namespace

Module* createModule(RunContext& context, const ModuleRequest& request) {
    if (!context.addressSpace || !context.moduleList) return nullptr;
    try {
        return ModuleBuilder(context, request).build();
    } catch (const std::bad_alloc&) {
        context.console.warning(Msg::OutOfMemory);
        return nullptr;
    }
}

}  // namespace coresift
