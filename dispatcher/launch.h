// Starting the analyzer that a db needs: the install folder, the command line built from the
// option word and the folders, the external symbols folder, and the child process itself.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "dispatcher/context.h"

namespace dispatcher {

// The longest command line an analyzer is started with; a longer one is refused, never cut.
inline constexpr std::size_t kMaxCommandLine = 1299;
// The longest install folder taken from the settings store.
inline constexpr std::size_t kMaxInstallFolder = 259;
// Buffer capacity handed to the outside library's `Tessiv` export.
inline constexpr int kTessivBufferSize = 260;

// The install folder: the cached one; else the store's `InstallDir` (up to 259 characters); else
// the default per-user folder. Cached.
const std::string& installFolder(DispatchContext& context);

struct AnalyzerCommand {
    std::string programFile;        // the file that is started
    std::vector<std::string> argv;  // argv[0] is the program's name
    std::string commandLine;        // the same as one line, each folder in double quotes
};

// Builds the command for the analyzer `name` ("CoreSift", ...): "-l" with the install folder's
// short form, "-ext" with the option word in decimal, then "-s", "-se", "-c" (with option bit
// 0x1000 only) and "-e" when they have a value. `externalSymbols` is the "-se" folder.
AnalyzerCommand buildAnalyzerCommand(DispatchContext& context, const std::string& name,
                                     const std::optional<std::string>& externalSymbols);

// The external symbols folder: from the clipboard when it holds a readable path ending in
// "symbols" (announced, and the clipboard is emptied); else from the outside library Tessiv in the
// install folder; else none.
std::optional<std::string> externalSymbolsFolder(DispatchContext& context);

// Starts the analyzer `name` in the current folder and waits for it. False, with message 17, when
// it could not be started (or its command line would be too long).
bool launchAnalyzer(DispatchContext& context, const std::string& name);

}  // namespace dispatcher
