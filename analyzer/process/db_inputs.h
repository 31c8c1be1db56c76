// Phase 1 of a run: the exception db's text files, read after the coredump. Each file is
// optional; a missing one is silent.
#pragma once

#include "analyzer/driver/phases.h"

namespace coresift {

struct RunContext;

// The phase-1 table, in reading order: PROCESS_FILE_STATE, SYS_PROCESSES_AND_THREADS,
// PROCESS_MAPS, SYS_PROPERTIES, SYS_KERNEL_LOG, the Android log.
PhaseTable dbInputSteps();

// Phase 1: ZZ_INTERNAL first, then the phase table.
void runDbInputs(RunContext& context);

}  // namespace coresift
