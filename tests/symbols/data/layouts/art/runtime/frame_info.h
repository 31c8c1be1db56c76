#pragma once
#include "../../layout_fixture.h"

namespace art {
class QuickMethodFrameInfo {
public:
    uint32_t frame_size_in_bytes_;
    uint32_t core_spill_mask_;
    uint32_t fp_spill_mask_;
};
}  // namespace art
