// Finding a symbol file in the symbols folder (`-s`, default "symbols"), and in the external
// symbols folder (`-se`), by the path a module or DEX file had on the device.
//
// Paths come from the dump and are not trusted: a path with ".." components, a drive or stream
// separator (':'), a backslash, or one too long for the folder never makes the search read or
// write outside the symbols folder; only the search by base name is left for it.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "analyzer/symbols/elf_image.h"
#include "common/target_word.h"

namespace coresift {

struct RunContext;

// Says whether a candidate file (its path) is the one looked for.
using AcceptCandidate = std::function<bool(const std::string& candidatePath)>;

// The search, in order: the device path under the symbols folder (opened without asking
// `accept`); the folder tree depth-first (in each folder the file itself, then the subfolders by
// name), each candidate named exactly like the base name offered to `accept`; the device path
// under the external folder, copied into the symbols folder; the last rejected candidate.
// A successful open prints "Loading %s ...". Null when nothing was found.
std::shared_ptr<const MappedFile> findSymbolFile(RunContext& context, const std::string& path,
                                                 const AcceptCandidate& accept);

// The size-plausibility test for a module's symbol file: an ELF file of the target class whose
// first executable load segment (with memory) is, page- or alignment-rounded, within 16 KiB of
// `codeSize`.
bool plausibleSymbolFile(const std::string& candidatePath, TargetWord codeSize);

// True when `path` (a path from the dump) may be placed under a folder: no ".." component, no
// ':' or '\\', no NUL.
bool safeDevicePath(const std::string& path);

}  // namespace coresift
