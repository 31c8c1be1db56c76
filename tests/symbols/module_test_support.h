// Running the coredump loader on a hand-built process in a fresh db folder, and looking at the
// module list it built.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "analyzer/driver/run_context.h"
#include "analyzer/symbols/module_list.h"
#include "tests/support/run_capture.h"
#include "tests/support/temp_folder.h"
#include "tests/symbols/module_core.h"

namespace testsupport {

class ModuleDb {
public:
    ModuleDb();

    const std::filesystem::path& path() const { return db_.path(); }
    coresift::RunContext& context() { return run_.context(); }
    std::string out() const { return run_.out(); }
    std::string err() const { return run_.err(); }

    // Writes the core and loads it; true when the load succeeded.
    bool load(const ProcessCore& core);
    // The modules in list order (empty before a load).
    std::vector<coresift::Module*> modules();
    // The module with this base name, matched.
    coresift::Module* named(const std::string& name);
    // "name@bias" for every module, for messages.
    std::string summary();

private:
    TempFolder db_;
    WorkingFolder cwd_;
    RunCapture run_;
};

// The device folder of libraries for this width.
inline std::string libraryFolder() { return kIs64 ? "/system/lib64/" : "/system/lib/"; }

}  // namespace testsupport
