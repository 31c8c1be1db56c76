// Console services: colour around a write, terminal detection and the single-key read.
#pragma once

#include <cstdio>

namespace platform {

enum class Colour { Red, Yellow };

// True when `stream` is an interactive terminal (console).
bool isTerminal(std::FILE* stream);

// Sets a text colour for writes to `stream` while alive and restores the previous colour after.
// On Windows the console attributes of standard error are changed, as the console shares one
// attribute set; elsewhere ANSI escapes are written, and only when `stream` is a terminal.
class ColourScope {
public:
    ColourScope(std::FILE* stream, Colour colour);
    ~ColourScope();
    ColourScope(const ColourScope&) = delete;
    ColourScope& operator=(const ColourScope&) = delete;

private:
    std::FILE* stream_;
    bool active_ = false;
    unsigned short saved_ = 0;
};

// Key codes returned by readKey besides ordinary characters.
inline constexpr int kKeyEnter = '\r';
inline constexpr int kKeyNone = -1;  // not a terminal, or end of input: "another key"

// Reads one key press without echo and without waiting for Enter. Returns at once with kKeyNone
// when standard input is not a terminal or is at its end, so batch runs never block.
int readKey();

}  // namespace platform
