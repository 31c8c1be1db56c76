// The packed db container: the single-file form of an exception db ("expdb", or "RHX_EXP_RAW"),
// unpacked into the db folder before the folder is classified.
//
// Layout (little-endian): u32 magic 0x7B40DEAD, u32 version (16: entry table at 40; 17 and 18: at
// 48), u32 end offset of the entry table. Entries are 64 bytes: u32 at 4 present flag, u32 at 8
// data offset, u32 at 12 data length, u32 at 20 scrambled flag, 32 bytes at 32 the file name.
// Scrambled data is XORed with 0x3C5A7E91 word by word (little-endian words).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/byte_reader.h"

namespace dispatcher {

inline constexpr std::uint32_t kContainerMagic = 0x7B40DEAD;
inline constexpr std::uint32_t kScrambleMask = 0x3C5A7E91;
inline constexpr std::size_t kContainerEntrySize = 64;
inline constexpr std::size_t kEntryNameSize = 32;

// The container's file names, in the order they are looked for.
inline constexpr const char* kContainerFileNames[] = {"expdb", "RHX_EXP_RAW"};

struct ContainerEntry {
    std::string_view name;   // checked with isSafeEntryName
    common::ByteView data;   // inside the container, still scrambled when `scrambled`
    bool scrambled = false;
};

// Calls `visit` for every entry of the container `file` that can be unpacked, in table order.
// Entries that are absent, lie partly outside the file, or whose name is unsafe are skipped; a
// container with a wrong magic or an unknown version has no entries.
void forEachContainerEntry(common::ByteView file, const std::function<void(const ContainerEntry&)>& visit);

// The entry's bytes as they are to be written: unscrambled when they were scrambled.
std::vector<std::uint8_t> entryContents(const ContainerEntry& entry);

// True for a name that can only create a file directly inside the db folder: not empty, no
// folder separators, no "..", no drive letters or stream names (":"), no control characters and
// not a Windows device name such as "CON" or "COM1".
bool isSafeEntryName(std::string_view name);

// Unpacks the container of the current folder, if there is one: every entry becomes a file of the
// current folder (an existing file of that name is replaced). A file is either written whole or not
// at all. Returns the number of files written.
unsigned unpackContainer();

}  // namespace dispatcher
