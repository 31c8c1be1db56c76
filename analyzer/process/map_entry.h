// One region of the dead process's address space: its bounds, what it is (the kind word), its
// name, the module it belongs to and where its bytes come from.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "common/target_word.h"

namespace coresift {

struct Module;  // the module list's record

// Bits of a region's kind word.
namespace region_kind {
inline constexpr std::uint32_t kNotInDump = 0x1;     // the bytes are not in the dump
inline constexpr std::uint32_t kFromProvider = 0x2;  // the bytes come from the module's file
inline constexpr std::uint32_t kModuleHead = 0x4;    // heads a module in the module list
inline constexpr std::uint32_t kOwnedName = 0x8;     // the name is the region's own copy
inline constexpr std::uint32_t kExecute = 0x10;
inline constexpr std::uint32_t kWrite = 0x20;
inline constexpr std::uint32_t kRead = 0x40;
inline constexpr std::uint32_t kPermissions = 0x70;

inline constexpr std::uint32_t kTypeMask = 0x780;  // 0: not classified
inline constexpr std::uint32_t kElf = 0x80;
inline constexpr std::uint32_t kDex = 0x100;
inline constexpr std::uint32_t kFile = 0x180;
inline constexpr std::uint32_t kDev = 0x200;
inline constexpr std::uint32_t kHeap = 0x280;
inline constexpr std::uint32_t kStack = 0x300;
inline constexpr std::uint32_t kIgnore = 0x380;

inline constexpr std::uint32_t kManaged = 0x800;   // Java stack, or compiled Java code in ELF/DEX
inline constexpr std::uint32_t kMarked = 0x1000;   // with HEAP: printed as "@"
inline constexpr std::uint32_t kJavaHeap = 0x4000; // with HEAP

// The bits that naming a region replaces; the others (byte source, module head, permissions) stay.
inline constexpr std::uint32_t kNamingBits = 0x8 | kTypeMask | 0x800 | 0x1000 | 0x2000 | 0x4000;
}  // namespace region_kind

// Fetches a region's bytes from its module's file: (module, region start, region size) -> the
// bytes, valid until teardown, or null when the file cannot serve them.
using DataProvider = std::function<const std::uint8_t*(Module* module, TargetWord start, TargetWord size)>;

struct FreeDeleter {
    void operator()(std::uint8_t* p) const { std::free(p); }
};
using OwnedBytes = std::unique_ptr<std::uint8_t[], FreeDeleter>;

struct MapEntry {
    TargetWord start = 0;
    TargetWord end = 0;  // exclusive
    // For a region that heads a module: the start of the next module's head region.
    TargetWord nextModule = 0;
    std::string name;  // empty: no name
    Module* module = nullptr;
    std::uint32_t kind = 0;

    // Where the bytes are: in the dump at dumpOffset (inDump), in ownBytes (memory the region
    // holds itself), from the provider (kind kFromProvider), or nowhere (reads as zeros).
    bool inDump = false;
    std::uint64_t dumpOffset = 0;
    OwnedBytes ownBytes;
    DataProvider provider;
    // The region's bytes once made available (cached until teardown).
    const std::uint8_t* data = nullptr;

    std::uint32_t references = 0;

    TargetWord size() const { return end - start; }
    bool contains(TargetWord address) const { return address >= start && address < end; }
    std::uint32_t type() const { return kind & region_kind::kTypeMask; }
    bool hasName() const { return !name.empty(); }
    bool fromProvider() const { return kind & region_kind::kFromProvider; }
    // Writable regions without any source read as zeros.
    bool readsAsZeros() const { return !inDump && !ownBytes && !fromProvider(); }
};

// A region handed out by a look-up: holds a reference until it is released or destroyed.
class RegionRef {
public:
    RegionRef() = default;
    explicit RegionRef(MapEntry* entry) : entry_(entry) {
        if (entry_) ++entry_->references;
    }
    RegionRef(const RegionRef& other) : RegionRef(other.entry_) {}
    RegionRef(RegionRef&& other) noexcept : entry_(std::exchange(other.entry_, nullptr)) {}
    RegionRef& operator=(RegionRef other) noexcept {
        std::swap(entry_, other.entry_);
        return *this;
    }
    ~RegionRef() { release(); }

    void release() {
        if (entry_) --entry_->references;
        entry_ = nullptr;
    }
    MapEntry* get() const { return entry_; }
    MapEntry* operator->() const { return entry_; }
    MapEntry& operator*() const { return *entry_; }
    explicit operator bool() const { return entry_ != nullptr; }

private:
    MapEntry* entry_ = nullptr;
};

}  // namespace coresift
