#include "frame_info.h"

namespace art {
class ClassLinker;
class CompilerCallbacks;
class OatFileManager;
class OatQuickMethodHeader;  // only declared here: its definition is in another unit

class Runtime {
public:
    static Runtime* instance_;
    uint64_t callee_save_methods_[6];
    QuickMethodFrameInfo callee_save_method_frame_infos_[6];
    void* resolution_method_;
    CompilerCallbacks* compiler_callbacks_;
    bool is_zygote_;
    ClassLinker* class_linker_;
    void* signal_catcher_;
    OatFileManager* oat_file_manager_;
    const OatQuickMethodHeader* nterp_header_;
};
Runtime* Runtime::instance_;
Runtime g_runtime;
}  // namespace art

FACT_EXPECTED expected_runtime[] = {
    FACT_OFFSET(art::Runtime, callee_save_method_frame_infos_),
    FACT_OFFSET(art::Runtime, class_linker_),
    FACT_OFFSET(art::Runtime, oat_file_manager_),
};
