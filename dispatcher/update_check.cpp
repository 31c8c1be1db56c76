#include "dispatcher/update_check.h"

namespace dispatcher {

// The server query is not built yet: no check is made, as before the suite is installed.
void checkForUpdate(DispatchContext&) {}

}  // namespace dispatcher
