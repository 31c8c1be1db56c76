// Physical page information for one target address, from the db's page-map captures: the
// kernel's page flags summary (text) when it lists the page, else the raw page map (binary).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/target_word.h"

namespace coresift {

struct RunContext;

inline constexpr const char* kPageMapFile = "PROCESS_PAGEMAP";
inline constexpr const char* kPageFlagsSummaryFormat = "PROCESS_PAGEMAP.SUMMARY_KPAGEFLAGS-%d";

// One page-map entry as text: "PA: 0x..." for a present page, "SWAP: type: T, off: O" for a
// swapped one, "PA: N/A" otherwise. `pageShift` is 12 on ARM; the AArch64 build passes the
// dump's page shift and masks the frame number.
std::string pageMapEntryText(std::uint64_t entry, unsigned pageShift);

// What the page-flags summary's text says about the page at `key` (the address with the bits
// below the page size cleared): the entry and the flag names, ending in "\n". Nothing when no
// line lists the page, or the first line that does fails to scan.
std::optional<std::string> summaryInfo(std::string_view summary, TargetWord key, unsigned pageShift);

// The line printed for `address`: the entry, then the page's flag names when the summary lists
// it, then "\n".
std::string pageInfo(const RunContext& context, TargetWord address);

}  // namespace coresift
