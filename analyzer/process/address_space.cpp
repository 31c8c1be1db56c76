#include "analyzer/process/address_space.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "analyzer/driver/console.h"

namespace coresift {

namespace rk = region_kind;

AddressSpace::AddressSpace(Console& console, std::string dumpName, common::ByteView dump,
                           std::shared_ptr<const void> dumpOwner, unsigned addressBits, unsigned pageShift)
    : console_(console),
      dumpName_(std::move(dumpName)),
      dump_(dump),
      dumpOwner_(std::move(dumpOwner)),
      addressBits_(addressBits),
      pageSize_(TargetWord{1} << pageShift),
      index_(addressBits, pageShift) {}

AddressSpace::~AddressSpace() = default;

TargetWord AddressSpace::untag(TargetWord address) {
    if constexpr (kIs64) return address & 0x00FFFFFFFFFFFFFFull;
    return address;
}

void AddressSpace::reportOutOfMemory() const { console_.warning(Msg::OutOfMemory); }

void AddressSpace::reportTruncatedDump() {
    if (truncationReported_) return;
    truncationReported_ = true;
    console_.warning(Msg::FileDamaged, dumpName_);
}

MapEntry* AddressSpace::regionAt(TargetWord address) const {
    std::uint64_t a = untag(address);
    if (addressBits_ < 64 && (a >> addressBits_) != 0) return nullptr;
    MapEntry* region = index_.find(a);
    // The index and the region list agree; the check keeps a stale page harmless all the same.
    return region && region->contains(static_cast<TargetWord>(a)) ? region : nullptr;
}

void AddressSpace::retire(std::unique_ptr<MapEntry> entry) {
    if (entry && entry->references) retired_.push_back(std::move(entry));
}

bool AddressSpace::enterRegion(std::unique_ptr<MapEntry> entry) {
    MapEntry* raw = entry.get();
    try {
        regions_.emplace(raw->start, std::move(entry));
    } catch (const std::bad_alloc&) {
        reportOutOfMemory();
        return false;
    }
    if (!index_.assign(raw->start, raw->end, raw)) {
        reportOutOfMemory();
        return false;
    }
    return true;
}

// Takes [start, end) away from the regions already there: regions reaching over either bound
// are cut there, the parts inside are removed. The caller then enters the new owner.
bool AddressSpace::clearRange(TargetWord start, TargetWord end) {
    for (TargetWord bound : {start, end}) {
        MapEntry* straddling = regionAt(bound);
        if (!straddling || straddling->start == bound) continue;
        if (splitRegion(bound) != 0) return false;
    }
    auto it = regions_.lower_bound(start);
    while (it != regions_.end() && it->first < end) {
        retire(std::move(it->second));
        it = regions_.erase(it);
    }
    return true;
}

bool AddressSpace::addRegion(TargetWord start, TargetWord size, std::uint32_t permissions, DumpRange bytes) {
    TargetWord end = start + size;
    bool valid = size != 0 && aligned(start) && aligned(size) && end > start;
    if (valid && addressBits_ < 64) valid = (static_cast<std::uint64_t>(end - 1) >> addressBits_) == 0;
    if (!valid) {
        console_.error(Msg::IncorrectAddress, dumpName_, "PT_LOAD", start);
        return false;
    }

    // The dump holds at most the first `bytes.length` bytes of the region, and only what lies
    // before the end of the dump file.
    std::uint64_t wanted = std::min<std::uint64_t>(bytes.length, size);
    std::uint64_t available = 0;
    if (wanted && bytes.offset < dump_.size()) available = std::min<std::uint64_t>(wanted, dump_.size() - bytes.offset);
    if (available < wanted) reportTruncatedDump();

    std::uint32_t perms = permissions & rk::kPermissions;
    TargetWord whole = static_cast<TargetWord>(available) & ~(pageSize_ - 1);
    TargetWord partial = static_cast<TargetWord>(available) - whole;

    auto makePiece = [&](TargetWord from, TargetWord to) -> std::unique_ptr<MapEntry> {
        auto entry = std::unique_ptr<MapEntry>(new (std::nothrow) MapEntry);
        if (!entry) return nullptr;
        entry->start = from;
        entry->end = to;
        entry->kind = perms;
        return entry;
    };

    std::vector<std::unique_ptr<MapEntry>> pieces;
    try {
        if (whole) {
            auto entry = makePiece(start, start + whole);
            if (!entry) throw std::bad_alloc();
            entry->inDump = true;
            entry->dumpOffset = bytes.offset;
            pieces.push_back(std::move(entry));
        }
        if (partial) {
            // The page holding the dump's last bytes: a copy, zero after them.
            auto entry = makePiece(start + whole, start + whole + pageSize_);
            OwnedBytes page(static_cast<std::uint8_t*>(std::calloc(1, pageSize_)));
            if (!entry || !page) throw std::bad_alloc();
            std::memcpy(page.get(), dump_.data() + bytes.offset + whole, partial);
            entry->ownBytes = std::move(page);
            entry->kind |= rk::kNotInDump;
            pieces.push_back(std::move(entry));
        }
        TargetWord covered = whole + (partial ? pageSize_ : 0);
        if (covered < size) {
            // No bytes in the dump: read-only parts come from the module's file, writable ones
            // read as zeros.
            auto entry = makePiece(start + covered, end);
            if (!entry) throw std::bad_alloc();
            if (!(perms & rk::kWrite)) entry->kind |= rk::kNotInDump | rk::kFromProvider;
            pieces.push_back(std::move(entry));
        }
    } catch (const std::bad_alloc&) {
        reportOutOfMemory();
        return false;
    }

    if (!clearRange(start, end)) return false;
    for (auto& piece : pieces)
        if (!enterRegion(std::move(piece))) return false;
    return true;
}

void AddressSpace::nameRegion(MapEntry& region, std::string_view name, std::uint32_t kind) {
    try {
        region.name.assign(name);
    } catch (const std::bad_alloc&) {
        reportOutOfMemory();
        return;
    }
    region.kind = (region.kind & ~rk::kNamingBits) | (kind & rk::kNamingBits);
}

void AddressSpace::nameFromMapsLine(TargetWord start, TargetWord end, std::string_view path) {
    MapEntry* region = regionAt(start);
    if (!region || region->type() != 0 || region->start != start || region->end != end) return;
    std::uint32_t kind = rk::kOwnedName;
    if (path.substr(0, 5) == "/dev/") kind |= rk::kDev;
    else if (path.substr(0, 1) == "/") kind |= rk::kFile;
    nameRegion(*region, path, kind);
}

void AddressSpace::attachModule(MapEntry& region, Module* module, DataProvider provider) {
    region.module = module;
    region.provider = std::move(provider);
}

const std::uint8_t* AddressSpace::ensureBytes(MapEntry& region) {
    if (region.data) return region.data;
    if (region.fromProvider()) {
        if (region.provider) region.data = region.provider(region.module, region.start, region.size());
    } else if (region.inDump) {
        region.data = dump_.data() + region.dumpOffset;  // checked against the file size when added
    } else if (region.ownBytes) {
        region.data = region.ownBytes.get();
    } else {
        region.ownBytes.reset(static_cast<std::uint8_t*>(std::calloc(1, region.size())));
        if (!region.ownBytes) reportOutOfMemory();
        region.data = region.ownBytes.get();
    }
    return region.data;
}

const std::uint8_t* AddressSpace::regionBytes(MapEntry& region, TargetWord address, TargetWord length) {
    TargetWord a = untag(address);
    if (a < region.start || a > region.end || length > region.end - a) return nullptr;
    const std::uint8_t* bytes = ensureBytes(region);
    return bytes ? bytes + (a - region.start) : nullptr;
}

common::ByteView AddressSpace::regionView(MapEntry& region) {
    const std::uint8_t* bytes = ensureBytes(region);
    return bytes ? common::ByteView(bytes, region.size()) : common::ByteView();
}

bool AddressSpace::readMemory(TargetWord address, void* buffer, std::size_t length) {
    MapEntry* region = regionAt(address);
    if (!region) return false;
    TargetWord a = untag(address);
    if (length > static_cast<std::uint64_t>(region->end - a)) return false;
    if (length == 0) return true;
    if (region->readsAsZeros()) {
        std::memset(buffer, 0, length);
        return true;
    }
    const std::uint8_t* bytes = ensureBytes(*region);
    if (!bytes) return false;
    std::memcpy(buffer, bytes + (a - region->start), length);
    return true;
}

std::optional<std::string> AddressSpace::readString(TargetWord address) {
    MapEntry* region = regionAt(address);
    if (!region) return std::nullopt;
    if (region->readsAsZeros()) return std::string();
    const std::uint8_t* bytes = ensureBytes(*region);
    if (!bytes) return std::nullopt;
    TargetWord a = untag(address);
    const char* text = reinterpret_cast<const char*>(bytes + (a - region->start));
    std::size_t room = static_cast<std::size_t>(region->end - a);
    const void* nul = std::memchr(text, 0, room);
    std::size_t length = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : room;
    try {
        return std::string(text, length);
    } catch (const std::bad_alloc&) {
        reportOutOfMemory();
        return std::nullopt;
    }
}

int AddressSpace::forEachRegion(TargetWord from, TargetWord to, const std::function<int(MapEntry&)>& visit) const {
    TargetWord start = untag(from);
    auto it = regions_.begin();
    if (start != 0) {
        it = regions_.upper_bound(start);
        if (it != regions_.begin() && std::prev(it)->second->end > start) --it;
    }
    while (it != regions_.end() && it->first < to) {
        TargetWord key = it->first;
        if (int r = visit(*it->second)) return r;
        it = regions_.upper_bound(key);  // the visitor may have split the region
    }
    return 0;
}

int AddressSpace::walkRegions(TargetWord from, TargetWord to, const RegionVisitor& visit) const {
    return forEachRegion(from, to, [&](MapEntry& region) { return visit(region.start, region.end, region.kind); });
}

}  // namespace coresift
