#include "tests/symbols/module_test_support.h"

#include <sstream>

#include "analyzer/process/core_loader.h"

namespace testsupport {

ModuleDb::ModuleDb() : cwd_(db_.path()) { run_.context().catalog.selectEnglish(); }

bool ModuleDb::load(const ProcessCore& core) {
    core.write(db_.path());
    return coresift::loadCoreDump(run_.context());
}

std::vector<coresift::Module*> ModuleDb::modules() {
    std::vector<coresift::Module*> out;
    if (!run_.context().moduleList) return out;
    for (const auto& m : run_.context().moduleList->modules()) out.push_back(m.get());
    return out;
}

coresift::Module* ModuleDb::named(const std::string& name) { return coresift::moduleNamed(run_.context(), name); }

std::string ModuleDb::summary() {
    std::ostringstream text;
    for (coresift::Module* m : modules()) text << m->name << "@" << std::hex << m->loadBias << " ";
    return text.str();
}

}  // namespace testsupport
