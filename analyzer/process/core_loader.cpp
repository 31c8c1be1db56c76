#include "analyzer/process/core_loader.h"

#include "analyzer/driver/run_context.h"
#include "analyzer/process/address_space.h"
#include "analyzer/process/core_dump.h"
#include "platform/file_map.h"

namespace coresift {

bool loadCoreDump(RunContext& context) {
    const char* dumpName = nullptr;
    for (const char* name : kDumpFileNames) {
        if (platform::pathExists(name)) {
            dumpName = name;
            break;
        }
    }
    if (!dumpName) {
        context.console.printMessage(kToStdout, static_cast<int>(Msg::ErrorPrefix), Msg::NoCoredump);
        return false;
    }
    context.console.print(Msg::Loading, dumpName);
    // The ELF core reader is not wired in yet: every dump fails to load.
    context.console.printMessage(kToStdout, kNoPrefix, "Error when parsing coredump\n");
    return false;
}

void teardownProcess(RunContext& context) {
    context.core.reset();
    context.addressSpace.reset();
}

}  // namespace coresift
