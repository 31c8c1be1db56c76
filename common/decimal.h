// Decimal numbers from the command line, read the way the C library's atoi reads them.
#pragma once

#include <string>

namespace common {

// Leading blanks, an optional sign, digits up to the first non-digit (none gives 0); saturates at
// the int range instead of overflowing.
int readDecimal(const std::string& text);

}  // namespace common
