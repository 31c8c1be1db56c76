#include "../../layout_fixture.h"

namespace art {
class ArtMethod;
class ShadowFrame;
class OatQuickMethodHeader;

enum class ThreadState : uint8_t {
    kTerminated = 66, kRunnable = 0, kObsoleteRunnable = 67, kTimedWaiting = 68, kSleeping = 69,
    kBlocked = 70, kWaiting = 71, kStarting = 72, kNative = 73, kSuspended = 74,
};

class ManagedStack {
public:
    static constexpr uintptr_t kTaggedJniSpMask = 3u;
    class TaggedTopQuickFrame {
    public:
        uintptr_t tagged_sp_;
    };
    TaggedTopQuickFrame tagged_top_quick_frame_;
    ManagedStack* link_;
    ShadowFrame* top_shadow_frame_;
};

class Thread {
public:
    struct tls_32bit_sized_values {
        uint32_t state_and_flags;
        int suspend_count;
        uint32_t thin_lock_thread_id;
        uint32_t tid;
    } tls32_;
    struct tls_64bit_sized_values {
        uint64_t trace_clock_base;
    } tls64_;
    struct tls_ptr_sized_values {
        uint8_t* card_table;
        void* exception;
        uint8_t* stack_end;
        ManagedStack managed_stack;
        uintptr_t* suspend_trigger;
        void* jni_env;
        Thread* self;
        void* opeer;
        void* stack_begin;
        size_t stack_size;
        void* long_jump_context;
        String* name;
    } tlsPtr_;
    const OatQuickMethodHeader* cached_header_;
};

Thread g_thread;
ThreadState g_main_state;
}  // namespace art

FACT_EXPECTED expected_thread_art[] = {
    FACT_OFFSET(art::Thread, tlsPtr_),
    FACT_OFFSET(art::Thread, tlsPtr_.managed_stack),
    FACT_OFFSET(art::Thread, tlsPtr_.managed_stack.tagged_top_quick_frame_),
    FACT_OFFSET(art::Thread, tlsPtr_.managed_stack.link_),
    FACT_OFFSET(art::Thread, tlsPtr_.managed_stack.top_shadow_frame_),
    FACT_OFFSET(art::Thread, tlsPtr_.name),
    static_cast<long long>(art::ThreadState::kSuspended),
};
