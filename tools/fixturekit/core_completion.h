// Completes a qemu-user guest core into the core a device would have written for the same crash:
//   - the code and read-only pages of the fixture's own files (those under the run root) are
//     written into the core from the files themselves (p_filesz = p_memsz), as a full device dump
//     holds them;
//   - NT_SIGINFO is added from the raw siginfo the program recorded, NT_FILE from its maps file;
//   - paths are turned into device paths: the run root prefix is removed, other prefixes (the
//     cross C library's folder) are replaced; NT_PRPSINFO's argument text follows, and AT_EXECFN
//     is pointed at the device-path tail of the executable's run path (its bytes are not changed).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tools/corekit/core_reader.h"
#include "tools/fixturekit/maps_text.h"

namespace fixturekit {

struct CompletionInput {
    corekit::CoreFile core;
    std::vector<MapsEntry> maps;                                    // the program's maps, run paths
    std::string runRoot;                                            // e.g. /tmp/x/root (no trailing '/')
    std::vector<std::pair<std::string, std::string>> prefixMap;     // other host prefix -> device prefix
    std::vector<std::uint8_t> sigInfo;                              // raw siginfo (128 bytes), may be empty
};

struct CompletionResult {
    corekit::CoreBuilder core{corekit::CoreArch::Arm64};
    std::vector<MapsEntry> deviceMaps;  // the maps with device paths
    std::vector<std::string> notes;     // what was done, one line each
};

// The device path of a run path.
std::string devicePath(const std::string& runPath, const std::string& runRoot,
                       const std::vector<std::pair<std::string, std::string>>& prefixMap);

// Fails (with the reason in `error`) when a page of the fixture's own code cannot be filled or
// the recorded siginfo does not fit.
bool completeCore(const CompletionInput& input, CompletionResult& result, std::string& error);

}  // namespace fixturekit
