// Loading the exception db's coredump into the process model.
#pragma once

namespace coresift {

struct RunContext;

// Coredump file names, tried in this order in the working folder.
inline constexpr const char* kDumpFileNames[] = {"PROCESS_COREDUMP", "PROCESS_MINIDUMP", "PROCESS_NCOREDUMP"};

// Loads the first coredump found. Returns false after printing why (and releasing what was
// built) when there is none or it cannot be loaded.
bool loadCoreDump(RunContext& context);

// Releases the process model built by loadCoreDump.
void teardownProcess(RunContext& context);

}  // namespace coresift
