// The title of the console window the program runs in.
#pragma once

#include <string>

namespace platform {

// Sets the console window's title. Elsewhere than on Windows the terminal is asked with an
// escape sequence, only when standard output is a terminal, and control characters of `title`
// are left out so that a folder name cannot smuggle escape sequences to the terminal.
void setConsoleTitle(const std::string& title);

}  // namespace platform
