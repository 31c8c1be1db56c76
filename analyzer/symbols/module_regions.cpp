#include "analyzer/symbols/module_regions.h"

#include <algorithm>
#include <cstring>

#include "analyzer/process/address_space.h"

namespace coresift {

namespace rk = region_kind;

bool holdsDumpBytes(const MapEntry& region) {
    return region.inDump || (region.ownBytes && !region.fromProvider());
}

ModuleExtent moduleStretchAt(const AddressSpace& space, const Module& module, TargetWord address) {
    MapEntry* region = space.regionAt(address);
    if (!region) return {};
    const std::uint32_t permissions = region->kind & rk::kPermissions;
    TargetWord start = region->start, end = region->end;
    for (;;) {
        MapEntry* next = space.regionAt(end);
        if (!next || next->start != end || next->module != &module || (next->kind & rk::kPermissions) != permissions)
            break;
        end = next->end;
    }
    return {start, end - start};
}

bool stretchInDump(const AddressSpace& space, ModuleExtent stretch) {
    int missing = space.forEachRegion(stretch.start, stretch.end(), [](MapEntry& region) {
        return holdsDumpBytes(region) ? 0 : 1;
    });
    return missing == 0;
}

SpanRead readSpan(AddressSpace& space, TargetWord address, std::uint8_t* out, std::size_t length) {
    while (length > 0) {
        MapEntry* region = space.regionAt(address);
        if (!region) return SpanRead::NoRegion;
        TargetWord at = AddressSpace::untag(address);
        std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(length, region->end - at));
        if (region->readsAsZeros()) {
            std::memset(out, 0, chunk);
        } else {
            const std::uint8_t* bytes = space.regionBytes(*region, at, static_cast<TargetWord>(chunk));
            if (!bytes) return SpanRead::NoBytes;
            std::memcpy(out, bytes, chunk);
        }
        out += chunk;
        length -= chunk;
        address = region->end;
        if (length && address == 0) return SpanRead::NoRegion;  // the top of the address space
    }
    return SpanRead::Ok;
}

common::ByteView stretchBytes(AddressSpace& space, ModuleExtent stretch, std::vector<std::uint8_t>& storage) {
    MapEntry* region = space.regionAt(stretch.start);
    if (!region || stretch.size == 0) return {};
    if (region->start == stretch.start && region->end == stretch.end()) {
        common::ByteView view = space.regionView(*region);
        if (!view.empty()) return view;
    }
    try {
        storage.assign(stretch.size, 0);
    } catch (const std::bad_alloc&) {
        return {};
    }
    if (readSpan(space, stretch.start, storage.data(), storage.size()) != SpanRead::Ok) return {};
    return common::ByteView(storage.data(), storage.size());
}

std::optional<std::uint64_t> firstLoadAddress(const ElfImage& image) {
    for (std::uint32_t i = 0; i < image.segmentCount(); ++i) {
        auto load = image.segment(i);
        if (load && load->type == elf::kPtLoad && load->offset == 0) return load->vaddr;
    }
    return std::nullopt;
}

}  // namespace coresift
