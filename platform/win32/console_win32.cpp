#include "platform/console.h"

#include <conio.h>
#include <io.h>
#include <windows.h>

namespace platform {

bool isTerminal(std::FILE* stream) { return stream && _isatty(_fileno(stream)) != 0; }

// The console has one attribute set for both output streams; the colour is set through standard
// error's handle. SetConsoleTextAttribute fails when the stream is redirected: then nothing changes.
ColourScope::ColourScope(std::FILE* stream, Colour colour) : stream_(stream) {
    HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(console, &info)) return;
    saved_ = info.wAttributes;
    std::fflush(stream_);
    active_ = SetConsoleTextAttribute(console, colour == Colour::Red ? 12 : 14) != 0;
}

ColourScope::~ColourScope() {
    if (!active_) return;
    std::fflush(stream_);
    SetConsoleTextAttribute(GetStdHandle(STD_ERROR_HANDLE), saved_);
}

int readKey() {
    if (!_isatty(_fileno(stdin))) return kKeyNone;
    int c = _getch();
    if (c == 0 || c == 0xE0) {  // function and arrow keys come as two codes
        _getch();
        return 0;
    }
    return c;
}

}  // namespace platform
