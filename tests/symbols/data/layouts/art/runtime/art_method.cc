#include "../../layout_fixture.h"

namespace art {
class ArtMethod {
public:
    uint32_t declaring_class_;
    uint32_t access_flags_;
    uint32_t dex_method_index_;
    uint16_t method_index_;
    union {
        uint16_t hotness_count_;
        uint16_t imt_index_;
    };
    struct PtrSizedFields {
        void* data_;
        void* entry_point_from_quick_compiled_code_;
    } ptr_sized_fields_;
};

class ShadowFrame {
public:
    ShadowFrame* link_;
    ArtMethod* method_;
    void* result_register_;
    const uint16_t* dex_pc_ptr_;
    const uint16_t* dex_instructions_;
    void* lock_count_data_;
    const uint32_t number_of_vregs_;
    uint32_t dex_pc_;
    int16_t cached_hotness_countdown_;
    int16_t hotness_countdown_;
    uint32_t frame_flags_;
    uint32_t vregs_[0];
};

ArtMethod g_method;
uint32_t DexPcOf(const ShadowFrame& frame) { return frame.dex_pc_ + frame.vregs_[0]; }
}  // namespace art

FACT_EXPECTED expected_art_method[] = {
    FACT_OFFSET(art::ArtMethod, dex_method_index_),
    FACT_OFFSET(art::ArtMethod, ptr_sized_fields_.entry_point_from_quick_compiled_code_),
    FACT_OFFSET(art::ShadowFrame, dex_pc_),
    FACT_OFFSET(art::ShadowFrame, vregs_),
};
