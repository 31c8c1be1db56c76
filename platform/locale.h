// The system's language, as the language field of the option word: 0 simplified Chinese,
// 1 English, 2 traditional Chinese.
#pragma once

#include <string_view>

namespace platform {

// The field for the system default locale (Windows: the system default locale id; elsewhere the
// first set of LC_ALL, LC_MESSAGES and LANG).
unsigned systemLanguageField();

// Windows locale ids: 1028 (Taiwan) and 3076 (Hong Kong) give 2, 2052 (PRC) gives 0, others 1.
unsigned languageFieldForLocaleId(unsigned localeId);

// POSIX locale names: zh_TW and zh_HK give 2, zh_CN and zh_SG give 0, others 1
// ("zh_CN.UTF-8" and "zh_TW@euro" count by their language and territory).
unsigned languageFieldForLocaleName(std::string_view name);

}  // namespace platform
