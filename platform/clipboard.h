// The desktop clipboard, as text. Windows uses its own clipboard; elsewhere the clipboard is
// reached through `wl-paste`/`wl-copy` (Wayland) or `xclip` (X11) when they are installed, and is
// simply absent otherwise.
#pragma once

#include <optional>
#include <string>

namespace platform {

// The clipboard's text, up to `maxBytes` bytes; empty when it holds no text or there is no
// clipboard to reach.
std::optional<std::string> clipboardText(std::size_t maxBytes = 4096);

// Empties the clipboard. Failures are ignored.
void clearClipboard();

}  // namespace platform
