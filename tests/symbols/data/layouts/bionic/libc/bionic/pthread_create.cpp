#include "../../../layout_fixture.h"

typedef struct {
    uint32_t flags;
    void* stack_base;
    size_t stack_size;
    size_t guard_size;
    int32_t sched_policy;
    int32_t sched_priority;
} pthread_attr_t;

struct bionic_tcb_slots {
    void* slots[9];
};

class pthread_internal_t {
public:
    class pthread_internal_t* next;
    class pthread_internal_t* prev;
    int tid;
    int cached_pid_;
    pthread_attr_t attr;
    int join_state;
    bionic_tcb_slots* bionic_tcb;
    void* (*start_routine)(void*);
    void* start_routine_arg;
    void* return_value;
    void* alternate_signal_stack;
    void* mmap_base;
    size_t mmap_size;
    void* bionic_tls;
};

pthread_internal_t g_main_thread;

FACT_EXPECTED expected_thread[] = {
    sizeof(pthread_internal_t),
    FACT_OFFSET(pthread_internal_t, next),
    FACT_OFFSET(pthread_internal_t, tid),
    FACT_OFFSET(pthread_internal_t, attr),
    FACT_OFFSET(pthread_internal_t, attr.stack_base),
    FACT_OFFSET(pthread_internal_t, attr.stack_size),
    FACT_OFFSET(pthread_internal_t, attr.guard_size),
    FACT_OFFSET(pthread_internal_t, attr.sched_policy),
    FACT_OFFSET(pthread_internal_t, attr.sched_priority),
    FACT_OFFSET(pthread_internal_t, start_routine),
    FACT_OFFSET(pthread_internal_t, alternate_signal_stack),
    FACT_OFFSET(pthread_internal_t, bionic_tls),
    FACT_OFFSET(pthread_internal_t, bionic_tcb),
};
