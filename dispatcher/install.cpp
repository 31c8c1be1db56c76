#include "dispatcher/install.h"

namespace dispatcher {

// Copying the distribution, the settings store's entries, the folder verb and the shortcuts are
// not built yet: both entry points say so and end with status 1, so that a script that installs
// the suite does not take the missing install for a finished one.
int runInstall(DispatchContext& context) {
    context.console.print(Msg::SetupStarted);
    std::fputs("-setup is not available in this version\n", context.console.err());
    return 1;
}

int runUninstall(DispatchContext& context) {
    context.console.print(Msg::UninstallStarted);
    std::fputs("-uninstall is not available in this version\n", context.console.err());
    return 1;
}

}  // namespace dispatcher
