#include <windows.h>

#include "platform/locale.h"

namespace platform {

unsigned systemLanguageField() { return languageFieldForLocaleId(GetSystemDefaultLCID()); }

}  // namespace platform
