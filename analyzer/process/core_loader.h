// Loading the exception db's coredump into the process model: the process record, the thread
// table and the address space's regions, then the module list.
#pragma once

#include <memory>

namespace coresift {

struct RunContext;
class MappedFile;

// Coredump file names, tried in this order in the working folder.
inline constexpr const char* kDumpFileNames[] = {"PROCESS_COREDUMP", "PROCESS_MINIDUMP", "PROCESS_NCOREDUMP"};

// Loads the first coredump that can be opened. Returns false after printing why (and releasing
// what was built) when there is none or it cannot be loaded.
bool loadCoreDump(RunContext& context);

// Loads an opened coredump (its path is the dump's name in messages). On failure prints the
// reason and "Error when parsing coredump", releases everything and returns false.
bool loadCoreFile(RunContext& context, std::shared_ptr<const MappedFile> file);

// Releases the process model built by loadCoreDump.
void teardownProcess(RunContext& context);

}  // namespace coresift
