// The width of a target address or register. CoreSift (32-bit ARM dumps) and CoreSift64 (AArch64
// dumps) are the same sources compiled with CORESIFT_TARGET_BITS = 32 or 64.
#pragma once

#include <cstdint>

#if !defined(CORESIFT_TARGET_BITS) || (CORESIFT_TARGET_BITS != 32 && CORESIFT_TARGET_BITS != 64)
#error "CORESIFT_TARGET_BITS must be 32 or 64"
#endif

#if CORESIFT_TARGET_BITS == 64
using TargetWord = std::uint64_t;
#else
using TargetWord = std::uint32_t;
#endif

inline constexpr unsigned kTargetBits = CORESIFT_TARGET_BITS;
inline constexpr bool kIs64 = kTargetBits == 64;

// printf conversion for a target address in report and console lines.
inline constexpr const char* kAddressFormat = kIs64 ? "0x%016llX" : "0x%08X";
