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

// Full path of the running program, or empty when unknown.
std::string executablePath();

}  // namespace platform
