// Decimal numbers from the command line and the db's text files, read the way the C library's
// atoi reads them.
#pragma once

#include <string_view>

namespace common {

// Leading blanks, an optional sign, digits up to the first non-digit (none gives 0); saturates at
// the int range instead of overflowing.
int readDecimal(std::string_view text);

}  // namespace common
