#include "log_buffers.h"

LogBuffer::~LogBuffer() {}
SerializedLogBuffer::~SerializedLogBuffer() {}
int SerializedLogBuffer::Log(log_id_t id) { return static_cast<int>(max_size_[id]); }

FACT_EXPECTED expected_logd_buffer[] = {
    sizeof(SerializedLogBuffer),
    FACT_OFFSET(SerializedLogBuffer, logs_),
    LOG_ID_SECURITY,
    LOG_ID_MAX,
};
