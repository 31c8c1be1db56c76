#include "platform/console.h"

#include <termios.h>
#include <unistd.h>

namespace platform {

bool isTerminal(std::FILE* stream) { return stream && isatty(fileno(stream)) == 1; }

ColourScope::ColourScope(std::FILE* stream, Colour colour) : stream_(stream) {
    if (!isTerminal(stream_)) return;
    std::fputs(colour == Colour::Red ? "\033[91m" : "\033[93m", stream_);
    active_ = true;
}

ColourScope::~ColourScope() {
    if (active_) std::fputs("\033[0m", stream_);
}

int readKey() {
    if (!isatty(STDIN_FILENO)) return kKeyNone;
    termios saved{};
    if (tcgetattr(STDIN_FILENO, &saved) != 0) return kKeyNone;
    termios raw = saved;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    unsigned char c = 0;
    ssize_t n = ::read(STDIN_FILENO, &c, 1);
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    if (n != 1) return kKeyNone;
    return c == '\n' ? kKeyEnter : c;
}

}  // namespace platform
