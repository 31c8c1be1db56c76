#include <cstdlib>

#include "platform/locale.h"

namespace platform {

unsigned systemLanguageField() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value) return languageFieldForLocaleName(value);
    }
    return languageFieldForLocaleName("");
}

}  // namespace platform
