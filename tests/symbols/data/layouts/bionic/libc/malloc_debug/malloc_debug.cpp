#include "../../../layout_fixture.h"

class Config {
public:
    uint64_t options_;
    size_t front_guard_bytes_;
    size_t rear_guard_bytes_;
    size_t backtrace_frames_;
    size_t backtrace_dump_on_exit_;
    size_t fill_on_alloc_bytes_;
    size_t fill_on_free_bytes_;
    size_t expand_alloc_bytes_;
    size_t free_track_allocations_;
    size_t free_track_backtrace_num_frames_;
    uint8_t fill_alloc_value_;
    uint8_t fill_free_value_;
    uint8_t front_guard_value_;
    uint8_t rear_guard_value_;
};

class BacktraceData;
class GuardData;
class PointerData;

class DebugData {
public:
    BacktraceData* backtrace;
    GuardData* front_guard;
    PointerData* pointer;
    GuardData* rear_guard;
    size_t extra_bytes_;
    size_t pointer_offset_;
    Config config_;
};

DebugData* g_debug;
DebugData g_debug_storage;

FACT_EXPECTED expected_malloc_debug[] = {
    sizeof(DebugData),
    FACT_OFFSET(DebugData, backtrace),
    FACT_OFFSET(DebugData, pointer_offset_),
    FACT_OFFSET(DebugData, config_.options_),
    FACT_OFFSET(DebugData, config_.free_track_allocations_),
    FACT_OFFSET(DebugData, config_.rear_guard_value_),
};
