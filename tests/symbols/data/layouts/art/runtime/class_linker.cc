#include "../../layout_fixture.h"

namespace art {
class DexFile;
enum class PointerSize : size_t { k32 = 4, k64 = 8 };

class ClassLinker {
public:
    virtual ~ClassLinker();
    Vector<const DexFile*> boot_class_path_;
    Vector<DexFile*> boot_dex_files_;
    void* dex_lock_;
    Vector<void*> dex_caches_;
    Vector<void*> oat_files_;
    bool init_done_;
    PointerSize image_pointer_size_;
};
ClassLinker::~ClassLinker() {}
}  // namespace art

FACT_EXPECTED expected_class_linker[] = {
    sizeof(art::ClassLinker),
    FACT_OFFSET(art::ClassLinker, dex_caches_),
    FACT_OFFSET(art::ClassLinker, image_pointer_size_),
};
