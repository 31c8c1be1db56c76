// Backtraces as text: the analyzer's report (English AnalysisReport.txt), libunwindstack's
// output.txt and gdb's "bt", parsed into frames and normalized so that the three can be compared.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fixturekit {

struct TextFrame {
    std::string module;    // base name; empty when the text does not say
    std::string alternateModule;  // "a.apk!b.so": b.so (a.apk is `module`)
    std::string function;  // as printed (empty when none)
    std::optional<std::int64_t> offset;  // offset in the function, when printed
    std::string file;      // source file base name
    int line = 0;          // source line, 0 when none
    bool signalFrame = false;  // a signal-return trampoline
    bool unknown = false;      // "......" (ours) or "<unknown>" (Android)
    std::string text;          // the line as read, trimmed
};

struct TextThread {
    std::vector<std::uint32_t> tids;  // the report groups threads with identical stacks
    std::vector<TextFrame> frames;
};

// The thread blocks of an English report, the crashing thread first.
std::vector<TextThread> parseReportThreads(const std::string& report);
// The frames of a libunwindstack output.txt (one thread, no tid).
TextThread parseUnwinderOutput(const std::string& text);
// The threads of gdb's "thread apply all bt" (or a single "bt", as one thread without tid).
std::vector<TextThread> parseGdbBacktrace(const std::string& text);
bool looksLikeGdbText(const std::string& text);

// A function name without its argument lists, clone suffixes and trailing " const"; a lambda
// body's call operator becomes "operator()". Empty for "??" and for addresses ("0x...").
std::string normalizeFunction(const std::string& printed);

}  // namespace fixturekit
