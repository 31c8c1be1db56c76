#include "../frame_info.h"

namespace art {
class OatDexFile;

class OatFile {
public:
    virtual ~OatFile();
    String location_;
    void* vdex_;
    const uint8_t* begin_;
    const uint8_t* end_;
    const uint8_t* data_bimg_rel_ro_begin_;
    bool is_executable_;
    Vector<const OatDexFile*> oat_dex_files_storage_;
};
OatFile::~OatFile() {}

class OatDexFile {
public:
    const OatFile* oat_file_;
    String dex_file_location_;
    String canonical_dex_file_location_;
    uint32_t dex_file_location_checksum_;
    const uint8_t* const dex_file_pointer_;
};

class OatQuickMethodHeader {
public:
    uint32_t vmap_table_offset_;
    QuickMethodFrameInfo frame_info_;
    uint32_t code_size_;
    uint8_t code_[0];
};

const uint8_t* DexFileOf(const OatDexFile& file) { return file.dex_file_pointer_; }
OatQuickMethodHeader g_header;
}  // namespace art

FACT_EXPECTED expected_oat_file[] = {
    FACT_OFFSET(art::OatFile, begin_),
    FACT_OFFSET(art::OatFile, oat_dex_files_storage_),
    FACT_OFFSET(art::OatDexFile, dex_file_pointer_),
    sizeof(art::OatQuickMethodHeader),
    FACT_OFFSET(art::OatQuickMethodHeader, frame_info_.core_spill_mask_),
    FACT_OFFSET(art::OatQuickMethodHeader, code_size_),
};
