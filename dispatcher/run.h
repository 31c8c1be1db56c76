// One Dispatcher run: the option word from the settings store, the command line, the update
// check, unpacking a packed db, classifying the folder and starting its analyzer.
#pragma once

#include <string>
#include <vector>

#include "dispatcher/context.h"

namespace dispatcher {

// The option word stored by Setting; without one, only the language field, from the system's
// locale. Selects the message table.
void loadOptionWord(DispatchContext& context);

// Runs the whole program with `args` (args[0] is its own name) and returns the exit status: 0
// once the analyzer has run, else 1 after the key wait (left out with option bit 0x1).
int runDispatcher(DispatchContext& context, const std::vector<std::string>& args);

}  // namespace dispatcher
