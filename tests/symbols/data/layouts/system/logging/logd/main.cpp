#include "log_buffers.h"

SerializedLogChunk g_chunk;

FACT_EXPECTED expected_logd_chunk[] = {
    sizeof(SerializedLogChunk),
    FACT_OFFSET(SerializedLogChunk, contents_.size_),
    FACT_OFFSET(SerializedLogChunk, write_offset_),
    FACT_OFFSET(SerializedLogChunk, compressed_log_),
};
