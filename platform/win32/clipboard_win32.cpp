#include "platform/clipboard.h"

#include <windows.h>

#include <cstring>

namespace platform {

std::optional<std::string> clipboardText(std::size_t maxBytes) {
    if (!IsClipboardFormatAvailable(CF_TEXT) || !OpenClipboard(nullptr)) return std::nullopt;
    std::optional<std::string> text;
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
        if (const char* chars = static_cast<const char*>(GlobalLock(data))) {
            // The block may be larger than its text, never smaller: look for the end within it.
            SIZE_T capacity = GlobalSize(data);
            std::size_t limit = capacity < maxBytes ? static_cast<std::size_t>(capacity) : maxBytes;
            const void* end = std::memchr(chars, 0, limit);
            text = std::string(chars, end ? static_cast<const char*>(end) - chars : limit);
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

void clearClipboard() {
    if (!OpenClipboard(nullptr)) return;
    EmptyClipboard();
    CloseClipboard();
}

}  // namespace platform
