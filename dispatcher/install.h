// Installing the suite per user and removing it again (-setup, -uninstall).
#pragma once

#include "dispatcher/context.h"

namespace dispatcher {

// Each returns the exit status of the Dispatcher.
int runInstall(DispatchContext& context);
int runUninstall(DispatchContext& context);

}  // namespace dispatcher
