// The encoding of the programs' Chinese output: GBK on Windows (the console and report code page
// of the product), UTF-8 elsewhere.
#pragma once

namespace platform {

#ifdef _WIN32
inline constexpr bool kGbkOutput = true;
#else
inline constexpr bool kGbkOutput = false;
#endif

}  // namespace platform
