#include "analyzer/driver/run_context.h"

#include "analyzer/process/address_space.h"
#include "analyzer/process/core_dump.h"

namespace coresift {

RunContext::RunContext(std::FILE* out, std::FILE* err) : console(out, err, catalog) {}

// Out of line: the process model's types are complete here.
RunContext::~RunContext() = default;

}  // namespace coresift
