// The Dispatcher's command line: options in a fixed order of tests, and the folder to analyze.
#pragma once

#include <string>
#include <vector>

#include "dispatcher/context.h"

namespace dispatcher {

enum class CommandLine {
    Dispatch,   // go on with the folder
    Setup,      // -setup: install, then exit
    Uninstall,  // -uninstall: uninstall, then exit
    Stop        // -h or an error: the run ends with status 1
};

// Examines `args` (args[0] is the program's own name) left to right, changing the option word,
// the message table and the folders of `context`, and the current folder for a folder argument.
// Stops at -setup, -uninstall, -h and the first error (printed).
CommandLine parseCommandLine(const std::vector<std::string>& args, DispatchContext& context);


}  // namespace dispatcher
