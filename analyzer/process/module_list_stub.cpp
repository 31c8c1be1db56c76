// Stand-in for the module list until it is built from the dynamic linker's records: every
// process has an empty module list, and executable-only mode finds no symbols.
#include "analyzer/process/module_list_hook.h"

namespace coresift {

ModuleListResult buildModuleList(RunContext&) { return ModuleListResult::Built; }

bool loadExecutableModule(RunContext&, TargetWord) { return false; }

}  // namespace coresift
