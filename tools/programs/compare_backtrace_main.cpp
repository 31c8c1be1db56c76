// compare-backtrace: compares the crashing thread's frames of an English AnalysisReport.txt (and,
// with a gdb text, every thread the report shows) with expected frames.
#include <cstdio>
#include <sstream>
#include <string>

#include "tools/fixturekit/backtrace_compare.h"
#include "tools/fixturekit/maps_text.h"

namespace {

void usage(FILE* out) {
    std::fprintf(out,
                 "usage: compare-backtrace [--modules A,B,...] [--symbols DIR] REPORT EXPECTED\n"
                 "REPORT is an English AnalysisReport.txt; EXPECTED is a libunwindstack output.txt or gdb's\n"
                 "'thread apply all bt' / 'bt' text. Prints one line per expected frame (agree / differ, both\n"
                 "sides normalized to module, function and offset or source line), then \"N/M frames agree\".\n"
                 "  --modules  compare only the leading expected frames in these modules (gdb frames without\n"
                 "             a module, such as \"?\?\" and frames with source lines, count as listed)\n"
                 "  --symbols  accept another symbol of the same module at the same address\n"
                 "Always exits 0 once both files were read.\n");
}

}  // namespace

int main(int argc, char** argv) {
    fixturekit::CompareOptions options;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            usage(stdout);
            return 0;
        }
        if ((arg == "--modules" || arg == "--symbols") && i + 1 < argc) {
            const std::string value = argv[++i];
            if (arg == "--symbols") {
                options.symbolsFolder = value;
                continue;
            }
            std::istringstream list(value);
            for (std::string m; std::getline(list, m, ',');)
                if (!m.empty()) options.modules.push_back(m);
        } else if (!arg.empty() && arg[0] == '-') {
            usage(stderr);
            return 2;
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.size() != 2) {
        usage(stderr);
        return 2;
    }
    bool okReport = false, okExpected = false;
    const std::string report = fixturekit::readTextFile(paths[0], &okReport);
    const std::string expected = fixturekit::readTextFile(paths[1], &okExpected);
    if (!okReport || !okExpected) {
        std::fprintf(stderr, "compare-backtrace: cannot read %s\n", (okReport ? paths[1] : paths[0]).c_str());
        return 2;
    }
    const bool gdb = fixturekit::looksLikeGdbText(expected);
    const auto ours = fixturekit::parseReportThreads(report);
    const auto theirs = gdb ? fixturekit::parseGdbBacktrace(expected)
                            : std::vector<fixturekit::TextThread>{fixturekit::parseUnwinderOutput(expected)};
    std::fputs(fixturekit::compareBacktraces(ours, theirs, gdb, options).text.c_str(), stdout);
    return 0;
}
