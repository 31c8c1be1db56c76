#include "analyzer/process/db_inputs.h"

#include "analyzer/driver/run_context.h"
#include "analyzer/logs/log_tables.h"
#include "analyzer/process/file_state.h"
#include "analyzer/process/internal_record.h"
#include "analyzer/process/process_maps.h"
#include "analyzer/process/process_table.h"
#include "analyzer/process/property_table.h"

namespace coresift {

PhaseTable dbInputSteps() {
    return {
        {0, initFileState, cleanupFileState},
        {0, initProcessTable, nullptr},
        {0, initProcessMaps, nullptr},
        {0, initProperties, cleanupProperties},
        {0, initKernelLog, cleanupKernelLog},
        {0, initAndroidLog, cleanupAndroidLog},
    };
}

void runDbInputs(RunContext& context) {
    readInternalRecord(context);
    runPhase(context.phase1, context);
}

}  // namespace coresift
