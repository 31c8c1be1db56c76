// AArch64 pointer authentication: a return address signed with a PAC carries the signature in
// the bits above the process's virtual-address size. Look-ups (regions, modules, unwind tables,
// symbols) use the address with those bits removed; the value itself is kept as it was for
// printing and evaluation. In CoreSift (32-bit) addresses are never signed.
#pragma once

#include "common/target_word.h"

namespace coresift::unwind {

// `address` without pointer-authentication bits, for a process whose user addresses have
// `addressBits` bits (39 or 48 on Android). Bit 55 selects the half of the address space: user
// addresses get the upper bits cleared, kernel addresses set.
constexpr TargetWord stripPointerAuth(TargetWord address, unsigned addressBits) {
    if constexpr (!kIs64) {
        return address;
    } else {
        if (addressBits == 0 || addressBits >= 56) return address;
        const TargetWord low = (TargetWord{1} << addressBits) - 1;
        return (address >> 55 & 1) ? (address | ~low) : (address & low);
    }
}

}  // namespace coresift::unwind
