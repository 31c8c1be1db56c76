#include <windows.h>

#include "platform/console_title.h"

namespace platform {

void setConsoleTitle(const std::string& title) { SetConsoleTitleA(title.c_str()); }

}  // namespace platform
