// Working folder, programs and the desktop.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Changes the process's working folder. Returns false on failure.
bool changeDirectory(const std::string& path);
std::string currentDirectory();

// Asks the desktop to open a file with its default program (ShellExecute "open"; xdg-open where
// present). Does not wait. Failures are ignored: opening is a convenience.
void openWithDesktop(const std::string& path);

struct ProcessResult {
    bool started = false;
    int exitCode = -1;
    std::string error;  // why it could not be started
};

// Starts `argv[0]` with the argument vector (no shell involved) in `workingFolder` (empty: the
// current one), in the same console, and waits for it to end.
ProcessResult runAndWait(const std::vector<std::string>& argv, const std::string& workingFolder = {});

// Starts the program file `program` with the argument vector `argv` (argv[0] is the name the
// program sees as its own) in `workingFolder` (empty: the current one), inheriting the console
// and the standard streams, and waits for it to end. No shell is involved: every argument
// arrives as it is, whatever characters it holds.
ProcessResult runProgramAndWait(const std::string& program, const std::vector<std::string>& argv,
                                const std::string& workingFolder = {});

// Waits without time-out until the process named by `reference` has ended: a process handle
// written as a hexadecimal pointer on Windows, a process id elsewhere. False when `reference`
// names no process that can be waited for.
bool waitForProcess(const std::string& reference);

// Full path of the running program, or empty when unknown.
std::string executablePath();

// The path of the program `name` found on the search path, or empty.
std::string findOnPath(const std::string& name);

// One argument quoted by the rules Windows programs use to split their command line, so that
// spaces, tabs, quotes and backslashes arrive unchanged. Portable so that it is tested everywhere.
std::string quoteWindowsArgument(const std::string& arg);

}  // namespace platform
