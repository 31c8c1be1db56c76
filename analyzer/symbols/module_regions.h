// Reading a module's stretches of the address space: which regions form its header and code,
// whether the dump holds their bytes, and copies of target memory across region boundaries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "analyzer/symbols/module.h"
#include "common/byte_reader.h"

namespace coresift {

class AddressSpace;
struct MapEntry;

// True when the region's bytes come from the dump (not from a symbol file, not zeros).
bool holdsDumpBytes(const MapEntry& region);

// The region holding `address` and the regions right after it that belong to `module` and have
// the same permissions: one load segment of the module as the dump shows it. Empty when no
// region holds `address`.
ModuleExtent moduleStretchAt(const AddressSpace& space, const Module& module, TargetWord address);

// True when the dump holds the bytes of every region of the stretch.
bool stretchInDump(const AddressSpace& space, ModuleExtent stretch);

enum class SpanRead { Ok, NoRegion, NoBytes };
// Copies [address, address + length) from one region or several adjoining ones. NoRegion when a
// byte lies in no region; NoBytes when a region's bytes cannot be had (a module's page whose
// symbol file is not matched).
SpanRead readSpan(AddressSpace& space, TargetWord address, std::uint8_t* out, std::size_t length);

// The bytes of a stretch: a view of the region when one region holds it all, else a copy kept in
// `storage`. Empty when they cannot be read.
common::ByteView stretchBytes(AddressSpace& space, ModuleExtent stretch, std::vector<std::uint8_t>& storage);

// The p_vaddr of the image's load segment at file offset 0 (the one that maps the ELF header).
std::optional<std::uint64_t> firstLoadAddress(const ElfImage& image);

}  // namespace coresift
