// Dispatcher: classifies an exception db folder and starts the analyzer it needs.
#include <cstdio>
#include <string>
#include <vector>

#include "dispatcher/context.h"
#include "dispatcher/run.h"

int main(int argc, char** argv) {
    dispatcher::DispatchContext context(stdout, stderr);
    context.services = dispatcher::systemServices();
    std::vector<std::string> args(argv, argv + argc);
    return dispatcher::runDispatcher(context, args);
}
