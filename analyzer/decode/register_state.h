// The seam through which the unwinder hands register values to the decoder's clients (the
// forward emulation and the argument scanner) and takes them back: the general registers, SP and
// PC numbered as the decoder numbers them (operation.h), each with a known bit.
//
// CoreSift: r[0..15] = R0..R12, SP, LR, PC; valid bit n = register n (the unwinder's own mask).
// CoreSift64: r[0..32] = X0..X30, SP, PC; valid bit n = register n.
// A Thumb PC carries bit 0, as in the unwinder's frames.
#pragma once

#include <cstdint>

#include "analyzer/decode/operation.h"

namespace coresift::decode {

struct RegisterState {
    TargetWord r[kValueRegisterCount] = {};
    std::uint64_t valid = 0;

    static constexpr std::uint64_t kAll = (std::uint64_t{1} << kValueRegisterCount) - 1;

    bool known(unsigned n) const { return n < kValueRegisterCount && (valid >> n & 1); }
    void set(unsigned n, TargetWord value) {
        if (n >= kValueRegisterCount) return;
        r[n] = value;
        valid |= std::uint64_t{1} << n;
    }
    void forget(unsigned n) {
        if (n < kValueRegisterCount) valid &= ~(std::uint64_t{1} << n);
    }
    void forgetMask(std::uint64_t mask) { valid &= ~mask; }
};

}  // namespace coresift::decode
