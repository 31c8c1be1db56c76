// The real files the unwinder is checked against beyond the shared fixture sets: this project's
// own cross-compiled libraries (frame shapes and hand-written CFI), of the build's ELF class.
#pragma once

#include <vector>

#include "tests/symbols/elf_fixtures.h"

namespace testsupport {

// The libraries of test-data/unwind/arm (`arm` true) or arm64 (false, by default this build's
// width); empty when they were not built.
std::vector<FixtureFile> unwindFixtureFiles(bool arm = !kIs64);

}  // namespace testsupport
