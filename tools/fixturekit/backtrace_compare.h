// Compares the analyzer's frames with expected ones (libunwindstack's output.txt or gdb's bt),
// frame by frame, and writes one line per expected frame and the count of agreeing frames.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "tools/fixturekit/backtrace_text.h"

namespace fixturekit {

// Symbols of the modules in a symbols folder, to accept a frame named by another symbol at the same
// address (bodies folded by the linker, weak aliases such as gsignal/raise).
class SymbolAliases {
public:
    explicit SymbolAliases(std::string folder = {}) : folder_(std::move(folder)) {}
    // Whether `a` and `b` (normalized names) name a common address in `module`.
    bool sameAddress(const std::string& module, const std::string& a, const std::string& b);

private:
    const std::map<std::string, std::set<std::uint64_t>>& table(const std::string& module);
    std::string folder_;
    std::map<std::string, std::map<std::string, std::set<std::uint64_t>>> tables_;
};

struct CompareOptions {
    // When set: only the leading expected frames whose module is in the list (or unknown) count.
    std::vector<std::string> modules;
    std::string symbolsFolder;
};

struct CompareResult {
    int agree = 0;
    int total = 0;
    std::string text;  // the lines to print, ending with "N/M frames agree"
};

CompareResult compareBacktraces(const std::vector<TextThread>& ours, const std::vector<TextThread>& expected,
                                bool expectedIsGdb, const CompareOptions& options);

}  // namespace fixturekit
