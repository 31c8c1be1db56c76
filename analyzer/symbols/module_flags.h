// Bits of a module's flag word: what its symbol-file search found and what has been read or
// reported for it. Shared by the module list, the run driver and the report.
#pragma once

#include <cstdint>

namespace coresift {

namespace module_flag {
inline constexpr std::uint32_t kMatchRan = 0x1;
inline constexpr std::uint32_t kMatched = 0x2;
inline constexpr std::uint32_t kDynamicSymbols = 0x4;
inline constexpr std::uint32_t kSymbolTables = 0x8;
inline constexpr std::uint32_t kFunctionMatch = 0x20;
inline constexpr std::uint32_t kHeadersRead = 0x40;
inline constexpr std::uint32_t kCodeInDump = 0x80;
inline constexpr std::uint32_t kTextRelocations = 0x100;
inline constexpr std::uint32_t kUnrelocatedArrays = 0x200;  // `.init_array`/`.fini_array` hold file values
inline constexpr std::uint32_t kCreated = 0x400;
inline constexpr std::uint32_t kMissingReported = 0x1000;
inline constexpr std::uint32_t kJavaCode = 0x2000;
}  // namespace module_flag

}  // namespace coresift
