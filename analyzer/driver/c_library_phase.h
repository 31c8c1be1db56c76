// Phase 2 of a run prepares the C library's state in the dump. Before its table runs, the C
// library's module and the Android release are resolved, and missing symbols are reported.
#pragma once

namespace coresift {

struct RunContext;

// Resolves the C library's module and the Android release and prints what is missing: error 3
// for an unknown release; error 166 (standard output) without a C library module; warning 171
// when the module has no symbols from a symbol file. Looks up the stack-protector guard. Returns
// false when the rest of phase 2 cannot run: no module, or no symbols of any kind.
bool prepareCLibrary(RunContext& context);

// Phase 2's clean-up besides its table: forgets the C library module and the cached release,
// branch and build type.
void forgetCLibrary(RunContext& context);

}  // namespace coresift
