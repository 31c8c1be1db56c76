#include "platform/locale.h"

namespace platform {

unsigned languageFieldForLocaleId(unsigned localeId) {
    if (localeId == 1028 || localeId == 3076) return 2;
    if (localeId == 2052) return 0;
    return 1;
}

unsigned languageFieldForLocaleName(std::string_view name) {
    std::string_view territory = name.substr(0, name.find_first_of(".@"));
    if (territory == "zh_TW" || territory == "zh_HK") return 2;
    if (territory == "zh_CN" || territory == "zh_SG") return 0;
    return 1;
}

}  // namespace platform
