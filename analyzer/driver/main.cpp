// CoreSift / CoreSift64: offline analysis of a crashed Android native process.
#include <cstdio>
#include <string>
#include <vector>

#include "analyzer/driver/driver.h"
#include "analyzer/driver/run_context.h"
#include "platform/console.h"
#include "platform/process.h"

int main(int argc, char** argv) {
    coresift::RunContext context(stdout, stderr);
    context.readKey = platform::readKey;
    context.openWithDesktop = platform::openWithDesktop;
    std::vector<std::string> args(argv, argv + argc);
    return coresift::runProgram(context, args);
}
