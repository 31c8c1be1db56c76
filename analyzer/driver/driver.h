// The analyzer's program start and analysis driver.
#pragma once

#include <string>
#include <vector>

namespace coresift {

struct RunContext;

// Runs the whole program for `args` (args[0] is the invocation name) and returns the exit status:
// 0 when the analysis completed or help was asked, 1 when the command line was wrong, no coredump
// was found or it failed to load, or the report could not be created.
int runProgram(RunContext& context, const std::vector<std::string>& args);

// The banner printed before the command line is examined.
const char* bannerText();

}  // namespace coresift
