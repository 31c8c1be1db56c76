// Splitting regions and claiming page ranges: how the module list, the heap, stack and Java
// walkers carve the load segments into the regions they classify.
#include <cstring>
#include <new>

#include "analyzer/process/address_space.h"

namespace coresift {

namespace rk = region_kind;

// A copy of `lower` for [at, lower.end): same name, kind, module and byte source, with the dump
// offset or data pointer advanced. The copy does not head a module (the lower part still does).
std::unique_ptr<MapEntry> AddressSpace::makeUpperPart(const MapEntry& lower, TargetWord at) {
    auto upper = std::unique_ptr<MapEntry>(new (std::nothrow) MapEntry);
    if (!upper) return nullptr;
    TargetWord distance = at - lower.start;
    upper->start = at;
    upper->end = lower.end;
    upper->module = lower.module;
    upper->kind = lower.kind & ~rk::kModuleHead;
    upper->inDump = lower.inDump;
    upper->dumpOffset = lower.inDump ? lower.dumpOffset + distance : 0;
    try {
        upper->provider = lower.provider;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    try {
        upper->name = lower.name;
    } catch (const std::bad_alloc&) {
        upper->name.clear();  // the upper part goes without a name
    }
    if (lower.ownBytes) {
        OwnedBytes copy(static_cast<std::uint8_t*>(std::malloc(upper->size())));
        if (!copy) return nullptr;
        std::memcpy(copy.get(), lower.ownBytes.get() + distance, upper->size());
        upper->ownBytes = std::move(copy);
    } else if (lower.fromProvider() && lower.data) {
        upper->data = lower.data + distance;
    }
    return upper;
}

int AddressSpace::splitRegion(TargetWord address) {
    TargetWord at = untag(address);
    if (!aligned(at)) return 1;
    MapEntry* lower = regionAt(at);
    if (!lower || lower->start == at) return 0;
    auto upper = makeUpperPart(*lower, at);
    if (!upper) {
        reportOutOfMemory();
        return 1;
    }
    TargetWord end = lower->end;
    MapEntry* raw = upper.get();
    try {
        regions_.emplace(at, std::move(upper));
    } catch (const std::bad_alloc&) {
        reportOutOfMemory();
        return 1;
    }
    lower->end = at;
    if (!index_.assign(at, end, raw)) {
        reportOutOfMemory();
        return 1;
    }
    return 0;
}

// Whether `next` may be merged into the region `into` by claimRange.
bool AddressSpace::canAbsorb(const MapEntry& into, MapEntry& next, TargetWord previousEnd) {
    if (next.start != previousEnd || next.references != 0 || (next.kind & rk::kModuleHead)) return false;
    std::uint32_t a = into.kind, b = next.kind;
    if ((a & rk::kExecute) != (b & rk::kExecute)) return false;
    if ((a & rk::kRead) != (b & rk::kRead) && !(b & rk::kExecute)) return false;
    if ((a & rk::kWrite) != (b & rk::kWrite) && !(b & rk::kRead)) return false;
    if (next.fromProvider() && !ensureBytes(next)) return false;
    return true;
}

bool AddressSpace::copyRegionBytes(MapEntry& region, std::uint8_t* out) {
    if (region.readsAsZeros()) return true;  // the buffer is zero already
    const std::uint8_t* bytes = ensureBytes(region);
    if (!bytes) return false;
    std::memcpy(out, bytes, region.size());
    return true;
}

// Makes `first` cover itself and the `absorbed` regions that follow it. Their bytes stay in the
// dump when they form one stretch of it; otherwise the merged region gets memory of its own.
bool AddressSpace::mergeRun(MapEntry& first, const std::vector<MapEntry*>& absorbed) {
    TargetWord newEnd = absorbed.back()->end;
    bool oneDumpStretch = first.inDump;
    bool allZeros = first.readsAsZeros();
    std::uint32_t writeBit = first.kind & rk::kWrite;
    const MapEntry* previous = &first;
    for (const MapEntry* part : absorbed) {
        oneDumpStretch = oneDumpStretch && part->inDump && part->dumpOffset == previous->dumpOffset + previous->size();
        allZeros = allZeros && part->readsAsZeros();
        writeBit |= part->kind & rk::kWrite;
        previous = part;
    }

    if (!oneDumpStretch && !allZeros) {
        TargetWord size = newEnd - first.start;
        OwnedBytes merged(static_cast<std::uint8_t*>(std::calloc(1, size)));
        if (!merged) return false;
        if (!copyRegionBytes(first, merged.get())) return false;
        for (MapEntry* part : absorbed)
            if (!copyRegionBytes(*part, merged.get() + (part->start - first.start))) return false;
        first.ownBytes = std::move(merged);
        first.data = first.ownBytes.get();
        first.inDump = false;
        first.dumpOffset = 0;
        first.kind = (first.kind | rk::kNotInDump) & ~rk::kFromProvider;
    } else if (allZeros) {
        first.ownBytes.reset();  // zero memory made for the smaller region, if any
        first.data = nullptr;
    }
    first.end = newEnd;
    first.kind |= writeBit;
    if (!index_.assign(first.start, newEnd, &first)) return false;
    for (MapEntry* part : absorbed) {
        auto it = regions_.find(part->start);
        retire(std::move(it->second));
        regions_.erase(it);
    }
    return true;
}

int AddressSpace::claimRange(TargetWord start, TargetWord end, const std::function<int(MapEntry&)>& visit) {
    std::uint64_t page = pageSize_;
    std::uint64_t from = untag(start) & ~(page - 1);
    std::uint64_t to = (static_cast<std::uint64_t>(untag(end)) + page - 1) & ~(page - 1);
    if (from >= to) return 1;
    MapEntry* first = regionAt(static_cast<TargetWord>(from));
    MapEntry* last = to - page <= from ? first : regionAt(static_cast<TargetWord>(to - page));
    if (!first || !last) return 1;
    if (first->start < from && first->references) return 1;
    if (last->end > to && last->references) return 1;
    auto headsModule = [](MapEntry& region) { return (region.kind & rk::kModuleHead) ? 1 : 0; };
    // `to` is at most the last region's end here, so it fits a TargetWord.
    TargetWord rangeEnd = static_cast<TargetWord>(to);
    if (forEachRegion(static_cast<TargetWord>(from), rangeEnd, headsModule)) return 1;
    if (splitRegion(static_cast<TargetWord>(from)) || splitRegion(rangeEnd)) return 1;

    auto it = regions_.lower_bound(static_cast<TargetWord>(from));
    while (it != regions_.end() && it->first < rangeEnd) {
        MapEntry& current = *it->second;
        if (current.references == 0 && !(current.fromProvider() && !ensureBytes(current))) {
            std::vector<MapEntry*> absorbed;
            TargetWord reached = current.end;
            for (auto next = std::next(it); next != regions_.end() && next->first < rangeEnd; ++next) {
                if (!canAbsorb(current, *next->second, reached)) break;
                absorbed.push_back(next->second.get());
                reached = next->second->end;
            }
            if (!absorbed.empty() && !mergeRun(current, absorbed)) {
                reportOutOfMemory();
                return 1;
            }
        }
        TargetWord key = current.start;
        RegionRef held(&current);
        int result = visit(current);
        held.release();
        if (result) return result;
        it = regions_.upper_bound(key);
    }
    return 0;
}

}  // namespace coresift
