// The daily question to the tool server whether a newer version of the suite exists.
#pragma once

#include "dispatcher/context.h"

namespace dispatcher {

// Runs before the db is dispatched. It may end the process (a newer version to download).
void checkForUpdate(DispatchContext& context);

}  // namespace dispatcher
