// Another unit of the same library whose types share the runtime's names but not its layout:
// its name is not one of the runtime's source files, so nothing may be taken from it.
#include "frame_info.h"

namespace art {
class Runtime {
public:
    void* padding_[40];
    uint64_t callee_save_methods_[6];
    QuickMethodFrameInfo callee_save_method_frame_infos_[6];
    void* compiler_callbacks_;
    void* class_linker_;
    void* oat_file_manager_;
};
class OatQuickMethodHeader {
public:
    uint32_t padding_[9];
    uint32_t code_size_;
};
Runtime g_decoy_runtime;
OatQuickMethodHeader g_decoy_header;
}  // namespace art
