// ZZ_INTERNAL: the device's one-line record of the exception; the analyzer takes the exception
// time from it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace coresift {

struct RunContext;

inline constexpr const char* kInternalRecordFile = "ZZ_INTERNAL";

// The exception time of a record's first line: the ninth comma-separated field, where the
// seventh may be empty. Nothing when the line has no such field.
std::optional<std::string> exceptionTimeOf(std::string_view record);

// Reads ZZ_INTERNAL from the working folder into the process record's exception time; a missing
// file leaves the time unknown.
void readInternalRecord(RunContext& context);

}  // namespace coresift
