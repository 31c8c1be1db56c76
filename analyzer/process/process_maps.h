// PROCESS_MAPS: the process's memory map as the device listed it (Linux maps format). Its paths
// name the regions that the coredump's notes left unnamed.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "common/target_word.h"

namespace coresift {

struct RunContext;

inline constexpr const char* kProcessMapsFile = "PROCESS_MAPS";

struct MapsLine {
    TargetWord start = 0;
    TargetWord end = 0;
    std::string_view permissions;  // at most four characters
    std::string_view path;         // empty when the line names nothing
};

// Scans one maps line: "start-end perms offset dev:dev inode path", the numbers hexadecimal but
// the inode decimal, blanks between. Nothing when the line does not give at least the bounds and
// the permissions, or a bound does not fit a target address.
std::optional<MapsLine> scanMapsLine(std::string_view line);

// Names regions from the listing's text: every line with page-aligned bounds (`pageSize`),
// start below end and a path goes to the address space's naming rule. Other lines are skipped.
void readProcessMaps(RunContext& context, std::string_view text, TargetWord pageSize);

// Phase-1 step: reads the file when it exists. Returns 1 also when the file is missing.
std::uint32_t initProcessMaps(RunContext& context);

}  // namespace coresift
