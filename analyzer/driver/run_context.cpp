#include "analyzer/driver/run_context.h"

#include "analyzer/diagnosis/code_symbols.h"
#include "analyzer/diagnosis/crash_stack.h"
#include "analyzer/driver/module_services.h"
#include "analyzer/logs/log_tables.h"
#include "analyzer/process/address_space.h"
#include "analyzer/process/core_dump.h"
#include "analyzer/process/db_inputs.h"
#include "analyzer/process/file_state.h"
#include "analyzer/process/property_table.h"
#include "analyzer/process/thread_stacks.h"
#include "analyzer/symbols/layout_fact_table.h"
#include "analyzer/symbols/module_list.h"
#include "analyzer/unwind/run_process.h"

namespace coresift {

RunContext::RunContext(std::FILE* out, std::FILE* err)
    : console(out, err, catalog),
      phase1(dbInputSteps()),
      layoutFacts(std::make_unique<LayoutFactTable>()),
      modules(makeModuleServices(*this)) {}

// Out of line: the process model's types are complete here.
RunContext::~RunContext() = default;

}  // namespace coresift
