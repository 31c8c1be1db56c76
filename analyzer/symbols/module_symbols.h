// A module's symbol source: what the symbol look-ups (symbol_lookup.h) and the unwinders take
// from a module once its symbol file has been matched.
//
// The source is made when matching ends, with the module's final load bias, and lives as long
// as the module. It holds:
//   - the kept symbol file (matched, or kept in function match mode), with its MiniDebugInfo
//     image when the file has no `.symtab` (`symbolFile()->miniDebugInfo()`);
//   - the dump's dynamic tables when the module has usable ones (flag 0x4), read through the
//     address space;
//   - the dump-side `.eh_frame_hdr` (else `.ARM.exidx`) table as the last-resort function finder;
//   - in function match mode, the translation between dump and file addresses.
#pragma once

#include "analyzer/symbols/module.h"

namespace coresift {

struct RunContext;

// The module's symbol source, matching the module first; null only when the run has no address
// space. The pointer stays valid as long as the module.
SymbolSource* moduleSymbols(RunContext& context, Module& module);

// Makes the module's source once matching has decided on `file` (null: no symbol file). Called
// by matching; `miniDebugInfo` is the file's `.gnu_debugdata` image when matching opened it.
void attachSymbolSource(RunContext& context, Module& module, std::unique_ptr<ElfImage> file,
                        std::unique_ptr<ElfImage> miniDebugInfo);

}  // namespace coresift
