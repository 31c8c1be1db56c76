#include <unistd.h>

#include <cstdio>

#include "platform/console_title.h"

namespace platform {

void setConsoleTitle(const std::string& title) {
    if (!isatty(STDOUT_FILENO)) return;
    std::string text = "\033]0;";
    for (char c : title) {
        auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7F) text += c;
    }
    text += '\007';
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

}  // namespace platform
