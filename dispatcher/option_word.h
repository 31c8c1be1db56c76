// Bits of the option word that the Dispatcher itself reads or changes. The word is shared with
// Setting through the settings store and handed to the analyzer unchanged with `-ext`.
#pragma once

#include <cstdint>

namespace dispatcher::opt {

inline constexpr std::uint32_t kBatch = 0x1;           // no final key wait
inline constexpr std::uint32_t kT32Script = 0x10;      // -cmm
inline constexpr std::uint32_t kGdbScript = 0x20;      // -gdb
inline constexpr std::uint32_t kAllThreads = 0x80;     // -t
inline constexpr std::uint32_t kLanguageMask = 0x300;  // 0 Chinese, 1 English, 2 traditional (shown in English)
inline constexpr unsigned kLanguageShift = 8;
inline constexpr std::uint32_t kPassSymcache = 0x1000; // hand the -c folder on to the analyzer

inline constexpr unsigned languageField(std::uint32_t word) { return (word & kLanguageMask) >> kLanguageShift; }
inline constexpr bool showsEnglish(std::uint32_t word) {
    return languageField(word) == 1 || languageField(word) == 2;
}

}  // namespace dispatcher::opt
