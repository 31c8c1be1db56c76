// The seam through which the instruction printer names call targets: the function that covers an
// address and the offset into it. The symbol look-up supplies the implementation.
#pragma once

#include <string_view>

#include "common/target_word.h"

namespace coresift::decode {

class SymbolNamer {
public:
    // The function covering `address` (its display name, borrowed until teardown) and
    // `address` minus its start; false when no function covers it.
    virtual bool functionAt(TargetWord address, std::string_view& name, TargetWord& offset) const = 0;

protected:
    ~SymbolNamer() = default;
};

}  // namespace coresift::decode
