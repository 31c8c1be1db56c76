// The analyzer's command line: the option word and the folder settings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analyzer/driver/console.h"
#include "analyzer/driver/messages.h"

namespace coresift {

// Bits of the option word (shared with the Dispatcher and Setting through `-ext`).
namespace opt {
inline constexpr std::uint32_t kBatch = 0x1;             // no final key wait, no interactive prompt
inline constexpr std::uint32_t kNoShellOpen = 0x2;       // never open generated files with the desktop
inline constexpr std::uint32_t kT32Script = 0x10;        // write debug.cmm
inline constexpr std::uint32_t kGdbScript = 0x20;        // write gdb.bat
inline constexpr std::uint32_t kPrepareAllModules = 0x40;
inline constexpr std::uint32_t kAllThreads = 0x80;       // report every thread
inline constexpr std::uint32_t kLanguageMask = 0x300;    // 0 Chinese, 1 English, 2 traditional (English)
inline constexpr unsigned kLanguageShift = 8;
inline constexpr std::uint32_t kBatchListings = 0x10000; // batch run also writes map and property listings
}  // namespace opt

struct Options {
    std::uint32_t word = 0;
    std::string symbolsDir = "symbols";
    std::size_t symbolsDirLength = 0;  // set once after parsing
    std::optional<std::string> externalSymbolsDir;  // -se
    std::optional<std::string> installDir;          // -l
    std::optional<std::string> cValue;              // -c: stored, not acted on
    std::optional<std::string> eValue;              // -e: stored, not acted on
    int leakCount = 0;                               // -leak

    unsigned languageField() const { return (word & opt::kLanguageMask) >> opt::kLanguageShift; }
};

enum class CommandLine { Run, Help, Error };

// Examines `args` (args[0] is the invocation name) left to right: sets the option word and
// folders, switches the catalog to English when asked, changes into folder arguments, prints
// usage or errors. Stops at the first error or at "-h".
CommandLine parseCommandLine(const std::vector<std::string>& args, Options& options, MessageCatalog& catalog,
                             Console& console);


}  // namespace coresift
